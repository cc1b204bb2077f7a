#include "media/decode_scale.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "jpeg_maker.h"
#include "media/jpeg_decoder.h"

namespace orrin {
namespace {

// What the window draws: the letterbox, or the whole area in full screen.
std::pair<int, int> Drawn(int w, int h, DrawArea area) {
  if (area.stretch) return {area.width, area.height};
  const double scale = std::min(static_cast<double>(area.width) / w, static_cast<double>(area.height) / h);
  return {static_cast<int>(w * scale), static_cast<int>(h * scale)};
}

TEST(DecodeScale, PicksTheSmallestScaleThatStillCoversTheDrawnPicture) {
  // A phone picture in the receiver's default 1200x800 window is drawn 360x800.
  EXPECT_EQ(ChooseScaleDenominator(1080, 2400, {1200, 800, false}), 2);
  EXPECT_EQ(ChooseScaleDenominator(1080, 2400, {600, 400, false}), 4);
  EXPECT_EQ(ChooseScaleDenominator(1080, 2400, {300, 200, false}), 4);  // 1/4 at most
  // Drawn exactly at half size, and one pixel more.
  EXPECT_EQ(ChooseScaleDenominator(1920, 1080, {960, 540, false}), 2);
  EXPECT_EQ(ChooseScaleDenominator(1920, 1080, {961, 541, false}), 1);
  // Bigger windows and full screen on a large monitor: full size.
  EXPECT_EQ(ChooseScaleDenominator(1920, 1080, {2560, 1440, false}), 1);
  EXPECT_EQ(ChooseScaleDenominator(1080, 2400, {1920, 1080, true}), 1);  // stretched: 1080 tall
  // Full screen fills the area whatever the shape: the wide side decides.
  EXPECT_EQ(ChooseScaleDenominator(1920, 1080, {480, 1080, true}), 1);
  EXPECT_EQ(ChooseScaleDenominator(1920, 1080, {480, 270, true}), 4);
  // Odd sides round up as TurboJPEG does: 1081/2 gives 541 rows.
  EXPECT_EQ(ChooseScaleDenominator(1921, 1081, {960, 541, true}), 2);
  // Nothing known about the window, or a minimised one: full size.
  EXPECT_EQ(ChooseScaleDenominator(1920, 1080, {}), 1);
  EXPECT_EQ(ChooseScaleDenominator(1920, 1080, {0, 600, false}), 1);
}

TEST(DecodeScale, TheChosenScaleCoversAndTheNextOneWouldNot) {
  std::srand(7);
  for (int i = 0; i < 2000; ++i) {
    const int w = 16 + std::rand() % 4000, h = 16 + std::rand() % 4000;
    const DrawArea area{1 + std::rand() % 3000, 1 + std::rand() % 3000, std::rand() % 2 == 0};
    const int d = ChooseScaleDenominator(w, h, area);
    const auto [dw, dh] = Drawn(w, h, area);
    ASSERT_TRUE(d == 1 || d == 2 || d == 4);
    if (d > 1) {
      EXPECT_GE((w + d - 1) / d, dw) << w << "x" << h << " in " << area.width << "x" << area.height;
      EXPECT_GE((h + d - 1) / d, dh) << w << "x" << h << " in " << area.width << "x" << area.height;
    }
    if (d < 4) {
      const int next = d * 2;
      EXPECT_TRUE((w + next - 1) / next < dw || (h + next - 1) / next < dh)
          << w << "x" << h << " in " << area.width << "x" << area.height << " could use 1/" << next;
    }
  }
}

TEST(DecodeScale, TheWindowsAreaCrossesThreadsWhole) {
  // Packed into one word, the area crosses from the window to the decoder in one atomic.
  std::atomic<uint32_t> published{PackDrawArea({1200, 800, false})};
  DrawArea a = UnpackDrawArea(published.load());
  EXPECT_EQ(a.width, 1200);
  EXPECT_EQ(a.height, 800);
  EXPECT_FALSE(a.stretch);
  published.store(PackDrawArea({7680, 4320, true}));
  a = UnpackDrawArea(published.load());
  EXPECT_EQ(a.width, 7680);
  EXPECT_EQ(a.height, 4320);
  EXPECT_TRUE(a.stretch);
  published.store(PackDrawArea({}));
  EXPECT_EQ(UnpackDrawArea(published.load()).width, 0);
  EXPECT_EQ(PackDrawArea({}), 0u);  // the word a session starts with: nothing known, full size
}

// The mean of a plane's samples, to compare a scaled decode with the full-size one.
double Mean(const Picture& p, int plane, int width, int height) {
  double sum = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) sum += p.Plane(plane)[static_cast<size_t>(y) * p.pitch[plane] + x];
  return sum / (static_cast<double>(width) * height);
}

TEST(DecodeScale, ScaledDecodesKeepTheirPlanesAndContent) {
  const test::RgbImage image = test::MakeTestImage(1081, 2401, 5);  // odd sides on purpose
  const ByteBuffer yuv = test::CompressJpeg(image, TJSAMP_420, 85);
  const auto full = CreateBitmapFromJPEG(yuv);
  ASSERT_NE(full, nullptr);
  for (const auto& [area, d] : {std::pair{DrawArea{1200, 800, false}, 2}, std::pair{DrawArea{600, 400, false}, 4}}) {
    int used = 0;
    const auto scaled = CreateBitmapFromJPEG(yuv, area, &used);
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(used, d);
    ASSERT_EQ(scaled->format, PixelFormat::I420);
    EXPECT_EQ(scaled->width, (1081 + d - 1) / d);
    EXPECT_EQ(scaled->height, (2401 + d - 1) / d);
    const int cw = (scaled->width + 1) / 2, ch = (scaled->height + 1) / 2;
    EXPECT_EQ(scaled->pitch[1], cw);
    // TurboJPEG pads the luma plane of a 4:2:0 picture to even sides.
    const int lumaRows = (scaled->height + 1) / 2 * 2;
    EXPECT_EQ(scaled->pitch[0], (scaled->width + 1) / 2 * 2);
    EXPECT_EQ(scaled->data.size(), static_cast<size_t>(scaled->pitch[0]) * lumaRows + 2u * cw * ch);
    // The same picture, only smaller: average brightness and colour agree closely.
    EXPECT_NEAR(Mean(*scaled, 0, scaled->width, scaled->height), Mean(*full, 0, full->width, full->height), 1.5);
    EXPECT_NEAR(Mean(*scaled, 1, cw, ch), Mean(*full, 1, (full->width + 1) / 2, (full->height + 1) / 2), 1.5);
  }
  // Packed RGB (4:4:4 here) scales the same way.
  const ByteBuffer rgb = test::CompressJpeg(test::MakeTestImage(800, 600, 6), TJSAMP_444, 85);
  const auto small = CreateBitmapFromJPEG(rgb, DrawArea{200, 150, false});
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(small->format, PixelFormat::RGB24);
  EXPECT_EQ(small->width, 200);
  EXPECT_EQ(small->height, 150);
  EXPECT_EQ(small->pitch[0], 600);
}

}  // namespace
}  // namespace orrin
