#include "app/painter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "app/font_set.h"
#include "sdl_test_env.h"
#include "test_support/log_capture.h"

namespace orrin {
namespace {

using test::SolidI420Picture;
using test::SolidRgbPicture;

// Paints into a software renderer on a plain surface and reads the pixels back.
class PainterTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::StartOffscreenSdl();
    fonts_ = std::make_unique<FontSet>(FontSet::Open());
  }
  static void TearDownTestSuite() {
    fonts_.reset();
    test::StopOffscreenSdl();
  }
  void TearDown() override {
    painter_.reset();
    renderer_.reset();
    surface_.reset();
  }
  // As a sender's session stores a new picture.
  void StorePicture(std::unique_ptr<Picture> picture) { slot_.Replace(std::move(picture)); }

  void Paint(int width, int height) {
    if (!surface_ || surface_->w != width || surface_->h != height) {
      painter_.reset();
      renderer_.reset();
      surface_.reset(SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_RGBA32));
      ASSERT_TRUE(surface_);
      renderer_.reset(SDL_CreateSoftwareRenderer(surface_.get()));
      ASSERT_TRUE(renderer_);
      painter_ = std::make_unique<Painter>(renderer_.get(), fonts_.get());
    }
    PaintInput input;
    input.picture = &slot_;
    input.connected = isConnected;
    input.screenActive = isScreenActive;
    input.fullscreen = isFullscreen;
    input.host = host_.address.empty() ? nullptr : &host_;
    painter_->Paint(input);
    painter_->EndFrame();
    SDL_RenderFlush(renderer_.get());
  }

  // What the painter is shown: one sender's slot and the flags of the moment.
  PictureSlot slot_;
  bool isConnected = false;
  bool isScreenActive = true;
  bool isFullscreen = false;
  HostIdentity host_;  // read from this machine while empty

  SDL_Color Pixel(int x, int y) const {
    const auto* p = static_cast<const uint8_t*>(surface_->pixels) + y * surface_->pitch + x * 4;
    return SDL_Color{p[0], p[1], p[2], p[3]};
  }
  // Pixels of exactly `colour` inside the rectangle.
  int CountColour(SDL_Color colour, int left, int top, int right, int bottom) const {
    int n = 0;
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) {
        const SDL_Color c = Pixel(x, y);
        if (c.r == colour.r && c.g == colour.g && c.b == colour.b) ++n;
      }
    }
    return n;
  }

  static std::unique_ptr<FontSet> fonts_;
  SurfacePtr surface_;
  RendererPtr renderer_;
  std::unique_ptr<Painter> painter_;
};
std::unique_ptr<FontSet> PainterTest::fonts_;

MATCHER_P3(IsColour, r, g, b, "") {
  *result_listener << "is " << int(arg.r) << "," << int(arg.g) << "," << int(arg.b);
  return arg.r == r && arg.g == g && arg.b == b;
}
MATCHER_P4(IsNearColour, r, g, b, tolerance, "") {
  return std::abs(arg.r - r) <= tolerance && std::abs(arg.g - g) <= tolerance && std::abs(arg.b - b) <= tolerance;
}

TEST(Letterbox, WholePixelArithmetic) {
  const SDL_Rect wide = LetterboxRect(1920, 1080, 1184, 761);
  EXPECT_EQ(wide.x, 0);
  EXPECT_EQ(wide.y, 47);
  EXPECT_EQ(wide.w, 1184);
  EXPECT_EQ(wide.h, 666);
  const SDL_Rect tall = LetterboxRect(1080, 2400, 800, 600);
  EXPECT_EQ(tall.x, 265);
  EXPECT_EQ(tall.y, 0);
  EXPECT_EQ(tall.w, 270);
  EXPECT_EQ(tall.h, 600);
  const SDL_Rect exact = LetterboxRect(400, 300, 800, 600);  // equal ratios: fills the area
  EXPECT_EQ(exact.w, 800);
  EXPECT_EQ(exact.h, 600);
  EXPECT_EQ(LetterboxRect(0, 0, 800, 600).w, 0);  // nothing to draw, no division by zero
}

TEST_F(PainterTest, WidePictureIsLetterboxedWithBarsAboveAndBelow) {
  StorePicture(SolidRgbPicture(1920, 1080, 200, 40, 40));
  isConnected = true;
  Paint(1184, 761);
  // Drawn 1184x666 at 0,47: bars of 47 rows above and 48 below.
  EXPECT_THAT(Pixel(592, 46), IsColour(0, 0, 0));
  EXPECT_THAT(Pixel(592, 47), IsColour(200, 40, 40));
  EXPECT_THAT(Pixel(0, 380), IsColour(200, 40, 40));
  EXPECT_THAT(Pixel(1183, 380), IsColour(200, 40, 40));
  EXPECT_THAT(Pixel(592, 712), IsColour(200, 40, 40));
  EXPECT_THAT(Pixel(592, 713), IsColour(0, 0, 0));
  EXPECT_THAT(Pixel(592, 760), IsColour(0, 0, 0));
}

TEST_F(PainterTest, TallI420PictureIsPillarboxedInFullRangeColour) {
  // Y 200 with neutral chroma is grey 200 in full-range (JPEG) YUV; the limited-range
  // conversion would give about 214.
  StorePicture(SolidI420Picture(1080, 2400, 200, 128, 128));
  isConnected = true;
  Paint(800, 600);
  EXPECT_THAT(Pixel(264, 300), IsColour(0, 0, 0));
  EXPECT_THAT(Pixel(265, 300), IsNearColour(200, 200, 200, 2));
  EXPECT_THAT(Pixel(534, 0), IsNearColour(200, 200, 200, 2));
  EXPECT_THAT(Pixel(534, 599), IsNearColour(200, 200, 200, 2));
  EXPECT_THAT(Pixel(535, 300), IsColour(0, 0, 0));
}

TEST_F(PainterTest, FullScreenStretchesOverEveryPixelWithTheWhiteHint) {
  StorePicture(SolidRgbPicture(1080, 2400, 200, 40, 40));
  isConnected = true;
  isFullscreen = true;
  Paint(800, 600);
  EXPECT_THAT(Pixel(0, 599), IsColour(200, 40, 40));
  EXPECT_THAT(Pixel(799, 599), IsColour(200, 40, 40));
  EXPECT_THAT(Pixel(799, 0), IsColour(200, 40, 40));
  EXPECT_THAT(Pixel(5, 5), IsColour(200, 40, 40));  // the hint starts 10 in
  EXPECT_GT(CountColour({255, 255, 255, 255}, 10, 10, 790, 50), 50);
  EXPECT_EQ(CountColour({255, 255, 255, 255}, 0, 0, 800, 10), 0);
  EXPECT_EQ(CountColour({255, 255, 255, 255}, 0, 50, 800, 600), 0);
  EXPECT_EQ(CountColour({200, 40, 40, 255}, 0, 50, 800, 600), 800 * 550);
}

TEST_F(PainterTest, NewPictureIsUploadedOnceAndDrawnFromItsTexture) {
  Paint(640, 480);
  EXPECT_FALSE(painter_->HasUndrawnPicture(&slot_));
  StorePicture(SolidRgbPicture(64, 48, 10, 200, 10));
  EXPECT_TRUE(painter_->HasUndrawnPicture(&slot_));  // the window's timer repaints for this
  Paint(640, 480);
  EXPECT_FALSE(painter_->HasUndrawnPicture(&slot_));
  EXPECT_THAT(Pixel(320, 240), IsColour(10, 200, 10));
  // Changing the pixels without a new generation is not seen: paints draw the texture.
  slot_.Read([](const Picture* picture, uint64_t) {
    auto& data = const_cast<Picture*>(picture)->data;
    std::fill(data.begin(), data.end(), uint8_t{90});
  });
  Paint(640, 480);
  EXPECT_THAT(Pixel(320, 240), IsColour(10, 200, 10));
  StorePicture(SolidRgbPicture(64, 48, 90, 90, 90));  // a new generation
  Paint(640, 480);
  EXPECT_THAT(Pixel(320, 240), IsColour(90, 90, 90));
  // A picture of another size and layout replaces the texture.
  StorePicture(SolidI420Picture(33, 17, 128, 128, 128));
  Paint(640, 480);
  EXPECT_THAT(Pixel(320, 240), IsNearColour(128, 128, 128, 2));
}

struct TextScreenCase {
  const char* name;
  bool connected;
  bool screenActive;
  SDL_Color background;
  SDL_Color title;
};

TEST_F(PainterTest, TextScreensHaveTheirBackgroundTitleAndLineColours) {
  const TextScreenCase cases[] = {
      {"waiting", false, true, {0, 0, 0, 255}, {0, 255, 0, 255}},
      {"connected", true, true, {0, 0, 0, 255}, {0, 255, 0, 255}},
      {"screen off", true, false, {32, 32, 32, 255}, {255, 165, 0, 255}},
  };
  const SDL_Color white{255, 255, 255, 255};
  const SDL_Color grey{192, 192, 192, 255};
  const SDL_Color website{128, 128, 255, 255};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    isConnected = c.connected;
    isScreenActive = c.screenActive;
    Paint(1000, 700);
    EXPECT_THAT(Pixel(3, 3), IsColour(c.background.r, c.background.g, c.background.b));
    EXPECT_THAT(Pixel(996, 696), IsColour(c.background.r, c.background.g, c.background.b));
    // Each line sits in its own band, centred across the width.
    EXPECT_GT(CountColour(c.title, 300, 50, 700, 150), 200);
    EXPECT_EQ(CountColour(c.title, 0, 0, 1000, 50), 0);
    EXPECT_EQ(CountColour(c.title, 0, 50, 200, 150), 0);
    EXPECT_GT(CountColour(white, 350, 180, 650, 220), 50);
    const bool waiting = !c.connected;
    const bool screenOff = c.connected && !c.screenActive;
    EXPECT_EQ(CountColour(grey, 0, 250, 1000, 290) > 0, screenOff);
    EXPECT_EQ(CountColour(grey, 0, 280, 1000, 320) > 0, waiting);
    EXPECT_EQ(CountColour(grey, 0, 330, 1000, 370) > 0, waiting);
    EXPECT_EQ(CountColour(website, 0, 620, 1000, 660) > 0, waiting);
    EXPECT_EQ(CountColour(website, 0, 0, 1000, 620), 0);
  }
}

TEST_F(PainterTest, TheWaitingScreenNamesTheAddressItIsGiven) {
  const auto band = [&](int top) {  // the pixels of one 40-pixel line band
    const auto* row = static_cast<const uint8_t*>(surface_->pixels) + top * surface_->pitch;
    return std::vector<uint8_t>(row, row + 40 * surface_->pitch);
  };
  host_ = HostIdentity{"desk", "192.168.1.20"};
  Paint(1000, 700);
  const std::vector<uint8_t> device = band(280);
  const std::vector<uint8_t> ip = band(330);
  host_.address = "10.0.0.5";
  Paint(1000, 700);
  EXPECT_EQ(band(280), device);
  EXPECT_NE(band(330), ip);
}

TEST_F(PainterTest, AtScale2EveryBandAndBoxIsTwiceAsLargeAndFar) {
  const FontSet large = FontSet::Open(2.0);
  surface_.reset(SDL_CreateRGBSurfaceWithFormat(0, 2000, 1400, 32, SDL_PIXELFORMAT_RGBA32));
  renderer_.reset(SDL_CreateSoftwareRenderer(surface_.get()));
  painter_ = std::make_unique<Painter>(renderer_.get(), &large);
  painter_->SetScale(2.0);
  painter_->Paint(PaintInput{});
  const SDL_Color green{0, 255, 0, 255};
  const SDL_Color website{128, 128, 255, 255};
  // The bands of a 1000x700 window at 96 dpi, doubled.
  EXPECT_GT(CountColour(green, 600, 100, 1400, 300), 800);
  EXPECT_EQ(CountColour(green, 0, 0, 2000, 100), 0);
  EXPECT_EQ(CountColour(green, 0, 300, 2000, 1400), 0);
  EXPECT_GT(CountColour(website, 0, 1240, 2000, 1320), 100);
  EXPECT_EQ(CountColour(website, 0, 0, 2000, 1240), 0);
  // The box's button and the overlay's margin.
  const SDL_Rect button = painter_->DrawPanel(MessagePanel{"Caption", "one line", false, {}});
  EXPECT_EQ(button.w, 240);
  EXPECT_EQ(button.h, 80);
  SDL_SetRenderDrawColor(renderer_.get(), 255, 255, 255, 255);
  SDL_RenderClear(renderer_.get());
  painter_->DrawOverlay({"x"});
  SDL_RenderFlush(renderer_.get());
  EXPECT_THAT(Pixel(2000 - 19, 19), IsColour(255, 255, 255));  // the 20 px margin stays clear
  EXPECT_THAT(Pixel(2000 - 21, 21), IsNearColour(75, 75, 75, 2));  // the dimmed box
  painter_.reset();
}

TEST_F(PainterTest, ScreenOffWinsOverAHeldPicture) {
  StorePicture(SolidRgbPicture(640, 480, 200, 40, 40));
  isConnected = true;
  isScreenActive = false;
  Paint(800, 600);
  EXPECT_THAT(Pixel(3, 3), IsColour(32, 32, 32));
  EXPECT_EQ(CountColour({200, 40, 40, 255}, 0, 0, 800, 600), 0);
  EXPECT_GT(CountColour({255, 165, 0, 255}, 0, 50, 800, 150), 200);
  // Without a sender the held picture shows again: the picture test ignores the connection.
  isConnected = false;
  isScreenActive = true;
  Paint(800, 600);
  EXPECT_THAT(Pixel(400, 300), IsColour(200, 40, 40));
}

TEST_F(PainterTest, NoFullScreenHintOnTextScreens) {
  isFullscreen = true;
  for (const bool screenActive : {true, false}) {
    isConnected = true;
    isScreenActive = screenActive;
    Paint(800, 600);
    EXPECT_EQ(CountColour({255, 255, 255, 255}, 0, 0, 800, 50), 0);
  }
}

TEST_F(PainterTest, EveryThirtiethPaintIsLoggedAndTextIsRenderedOnlyWhenItChanges) {
  test::LogCapture log;
  for (int i = 0; i < 29; ++i) Paint(800, 600);
  EXPECT_EQ(log.Count("WM_PAINT called"), 0);
  const size_t waitingLines = painter_->cachedTextCount();
  EXPECT_EQ(waitingLines, 5u);  // title, status, device, IP and website, nothing stale
  Paint(800, 600);
  EXPECT_EQ(log.Count("WM_PAINT called #30, currentFrame=null, connected=false"), 1);
  isConnected = true;
  Paint(800, 600);
  EXPECT_EQ(painter_->cachedTextCount(), 2u);  // the waiting screen's lines were released
  for (int i = 0; i < 29; ++i) Paint(800, 600);
  EXPECT_EQ(log.Count("WM_PAINT called #60, currentFrame=null, connected=true"), 1);
}

TEST(FontSet, FaceCoversChineseAndLinesHaveTheirPixelHeights) {
  test::LogCapture log;
  ASSERT_EQ(TTF_Init(), 0);
  const auto face = FindFontFace("sans-serif:lang=zh-cn");
  ASSERT_TRUE(face.has_value());
  {
    FontSet fonts = FontSet::Open();
    ASSERT_TRUE(fonts.title && fonts.text);
    EXPECT_NEAR(TTF_FontHeight(fonts.title.get()), 48, 1);
    EXPECT_NEAR(TTF_FontHeight(fonts.text.get()), 24, 1);
    EXPECT_TRUE(TTF_GlyphIsProvided32(fonts.text.get(), U'屏'));
    EXPECT_TRUE(TTF_GlyphIsProvided32(fonts.title.get(), U'端'));
  }
  EXPECT_EQ(log.Count("No installed font covers the Chinese texts"), 0);
  // A machine with DejaVu alone: one line that names the package, and the best face used.
  const std::string conf = testing::TempDir() + "dejavu-only.conf";
  std::ofstream(conf) << "<?xml version=\"1.0\"?><fontconfig><dir>/usr/share/fonts/truetype/dejavu</dir>"
                     << "<cachedir>" << testing::TempDir() << "fc-cache</cachedir></fontconfig>";
  setenv("FONTCONFIG_FILE", conf.c_str(), 1);
  {
    FontSet fonts = FontSet::Open();
    EXPECT_TRUE(fonts.text && fonts.title);
  }
  unsetenv("FONTCONFIG_FILE");
  EXPECT_EQ(log.Count("No installed font covers the Chinese texts"), 1);
  EXPECT_EQ(log.Count("Install fonts-noto-cjk"), 1);
  TTF_Quit();
}

TEST_F(PainterTest, TilesLetterboxEachSenderFrameTheFocusAndThePromptShowsItsPreview) {
  Paint(1200, 800);  // the renderer and a first pass
  PictureSlot red;
  PictureSlot blue;
  red.Replace(SolidRgbPicture(100, 200, 200, 40, 40));
  blue.Replace(SolidRgbPicture(100, 200, 40, 40, 200));
  std::vector<TileInput> tiles(2);
  tiles[0] = TileInput{0, &red, true, true, false, "10.0.0.1:1", 255};
  tiles[1] = TileInput{3, &blue, true, true, false, "", 0};
  painter_->PaintTiles(tiles, 1, false);
  painter_->EndFrame();
  SDL_RenderFlush(renderer_.get());
  // Two 600x800 tiles, each picture 400x800 in the middle of its own.
  EXPECT_EQ(CountColour({200, 40, 40, 255}, 100, 0, 500, 700), 400 * 700);
  EXPECT_EQ(CountColour({40, 40, 200, 255}, 704, 4, 1096, 796), 392 * 792);
  EXPECT_EQ(CountColour({0, 0, 0, 255}, 0, 0, 100, 700), 100 * 700);  // bars
  EXPECT_EQ(CountColour({200, 40, 40, 255}, 600, 0, 1200, 800), 0);
  // The frame is around the focused (second) tile only.
  EXPECT_EQ(CountColour({0, 160, 255, 255}, 600, 0, 1200, 4), 600 * 4);
  EXPECT_EQ(CountColour({0, 160, 255, 255}, 0, 0, 600, 800), 0);
  EXPECT_EQ(painter_->tileArea(1).width, 600);
  EXPECT_EQ(painter_->TileAt(700, 10), std::optional<size_t>(1));
  // The label over the first tile's bottom left.
  EXPECT_GT(CountColour({255, 255, 255, 255}, 0, 700, 600, 800), 20);
  EXPECT_TRUE(painter_->showedPicture());

  // A sender alone in its screen-off state shows the screen-off screen in its tile.
  tiles[0].screenActive = false;
  painter_->PaintTiles(tiles, 0, false);
  painter_->DrawApproval(ApprovalView{"10.0.0.9:1", &blue, 30, 0});
  painter_->EndFrame();
  SDL_RenderFlush(renderer_.get());
  EXPECT_GT(CountColour({255, 165, 0, 255}, 0, 0, 600, 150), 200);
  // The preview: the blue picture letterboxed in the prompt's square at the middle.
  EXPECT_GT(CountColour({40, 40, 200, 255}, 520, 200, 680, 600), 150 * 300);
  EXPECT_EQ(painter_->previewArea().width, 320);
}

}  // namespace
}  // namespace orrin
