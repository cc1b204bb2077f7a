#include "app/painter.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "app/display_scale.h"
#include "media/cast_stats.h"
#include "app/fixed_texts.h"
#include "support/log.h"

namespace orrin {

namespace {

constexpr SDL_Color BLACK{0, 0, 0, 255};
constexpr SDL_Color SCREEN_OFF_BACKGROUND{32, 32, 32, 255};
constexpr SDL_Color SCREEN_OFF_TITLE{255, 165, 0, 255};
constexpr SDL_Color CONNECTION_TITLE{0, 255, 0, 255};
constexpr SDL_Color WHITE{255, 255, 255, 255};
constexpr SDL_Color GREY{192, 192, 192, 255};
constexpr SDL_Color WEBSITE{128, 128, 255, 255};

constexpr int PAINT_LOG_EVERY = 30;
const char* const WEBSITES = "www.example.com 和 www.example.org";

void Fill(SDL_Renderer* renderer, SDL_Color colour, const SDL_Rect* rect) {
  SDL_SetRenderDrawColor(renderer, colour.r, colour.g, colour.b, colour.a);
  if (rect == nullptr) {
    SDL_RenderClear(renderer);
  } else {
    SDL_RenderFillRect(renderer, rect);
  }
}

}  // namespace

SDL_Rect LetterboxRect(int pictureWidth, int pictureHeight, int areaWidth, int areaHeight) {
  if (pictureWidth <= 0 || pictureHeight <= 0) return SDL_Rect{0, 0, 0, 0};
  const double scaleX = static_cast<double>(areaWidth) / pictureWidth;
  const double scaleY = static_cast<double>(areaHeight) / pictureHeight;
  const double scale = scaleX <= scaleY ? scaleX : scaleY;
  const int drawnWidth = static_cast<int>(pictureWidth * scale);
  const int drawnHeight = static_cast<int>(pictureHeight * scale);
  return SDL_Rect{(areaWidth - drawnWidth) / 2, (areaHeight - drawnHeight) / 2, drawnWidth, drawnHeight};
}

Painter::Painter(SDL_Renderer* renderer, const FontSet* fonts)
    : renderer_(renderer), fonts_(fonts), text_(renderer) {
  // Decoded JPEGs carry full-range YUV; the default (limited-range) conversion would wash
  // the colours out.
  SDL_SetYUVConversionMode(SDL_YUV_CONVERSION_JPEG);
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
}

void Painter::SetScale(double scale) {
  if (scale == scale_) return;
  scale_ = scale;
  text_.Clear();  // rendered with the fonts of the old scale
}

int Painter::S(int value) const { return Scaled(value, scale_); }

void Painter::Paint(const PaintInput& input) {
  int width = 0;
  int height = 0;
  SDL_GetRendererOutputSize(renderer_, &width, &height);
  drawArea_ = DrawArea{width, height, input.fullscreen && !keepAspect_};
  if (input.host != nullptr) host_ = input.host;
  const bool hasPicture = main_.Update(renderer_, input.picture, input.timed);
  const bool connected = input.connected;
  const bool screenActive = input.screenActive;
  const bool fullscreen = input.fullscreen;

  ++paintCount_;
  if (paintCount_ % PAINT_LOG_EVERY == 0) {
    LogProgress("WM_PAINT called #" + std::to_string(paintCount_) +
            ", currentFrame=" + (hasPicture ? "valid" : "null") + ", connected=" + (connected ? "true" : "false"));
  }

  const DisplayMode mode = ChooseDisplayMode(hasPicture, connected, screenActive);
  showedPicture_ = mode == DisplayMode::Picture && main_.get() != nullptr;
  if (mode == DisplayMode::Picture) {
    DrawPicture(main_, width, height, fullscreen);
  } else {
    DrawTextScreen(mode, SDL_Rect{0, 0, width, height});
  }
}

void Painter::DrawPicture(const PictureTexture& picture, int width, int height, bool fullscreen) {
  Fill(renderer_, BLACK, nullptr);
  if (!picture.get()) return;  // the upload failed; its line is in the log
  if (fullscreen) {
    if (keepAspect_) {
      const SDL_Rect target = LetterboxRect(picture.width(), picture.height(), width, height);
      SDL_RenderCopy(renderer_, picture.get(), nullptr, &target);
    } else {
      // Full screen fills every pixel; the picture's shape gives way to the screen's.
      SDL_RenderCopy(renderer_, picture.get(), nullptr, nullptr);
    }
    TTF_Font* textFont = fonts_ != nullptr ? fonts_->text.get() : nullptr;
    const TextImage* hint = text_.Get(textFont, WHITE, "按ESC或F11退出全屏");
    if (hint != nullptr) {
      // Confined to the strip 10..width-10, 10..50 at the top left.
      const int w = std::min(hint->width, std::max(0, width - S(20)));
      const int h = std::min(hint->height, S(40));
      const SDL_Rect source{0, 0, w, h};
      const SDL_Rect target{S(10), S(10), w, h};
      SDL_RenderCopy(renderer_, hint->texture.get(), &source, &target);
    }
    return;
  }
  const SDL_Rect target = LetterboxRect(picture.width(), picture.height(), width, height);
  SDL_RenderCopy(renderer_, picture.get(), nullptr, &target);
}

void Painter::DrawCentredLine(TTF_Font* font, SDL_Color colour, const std::string& text, const SDL_Rect& area,
                              int top, int bottom) {
  const TextImage* image = text_.Get(font, colour, text);
  if (image == nullptr) return;
  const SDL_Rect target{area.x + (area.w - image->width) / 2, area.y + top + (bottom - top - image->height) / 2,
                        image->width, image->height};
  SDL_RenderCopy(renderer_, image->texture.get(), nullptr, &target);
}

void Painter::DrawTextScreen(DisplayMode mode, const SDL_Rect& area) {
  const int height = area.h;
  const bool whole = area.x == 0 && area.y == 0;
  const SDL_Rect* fill = whole ? nullptr : &area;
  TTF_Font* titleFont = fonts_ != nullptr ? fonts_->title.get() : nullptr;
  TTF_Font* textFont = fonts_ != nullptr ? fonts_->text.get() : nullptr;
  switch (mode) {
    case DisplayMode::ScreenOff:
      Fill(renderer_, SCREEN_OFF_BACKGROUND, fill);
      DrawCentredLine(titleFont, SCREEN_OFF_TITLE, "设备息屏中...", area, S(50), S(150));
      DrawCentredLine(textFont, WHITE, "投屏设备屏幕已关闭，等待点亮...", area, S(180), S(220));
      DrawCentredLine(textFont, GREY, "点亮投屏设备屏幕即可恢复显示", area, S(250), S(290));
      break;
    case DisplayMode::ConnectedWaiting:
      Fill(renderer_, BLACK, fill);
      DrawCentredLine(titleFont, CONNECTION_TITLE, CLIENT_NAME, area, S(50), S(150));
      DrawCentredLine(textFont, WHITE, "已连接，等待画面...", area, S(180), S(220));
      break;
    case DisplayMode::WaitingForConnection:
    case DisplayMode::Picture: {
      Fill(renderer_, BLACK, fill);
      DrawCentredLine(titleFont, CONNECTION_TITLE, BASE_TITLE, area, S(50), S(150));
      DrawCentredLine(textFont, WHITE, "等待投屏连接...", area, S(180), S(220));
      // The window's watch reads it every second, so a renamed host or a new DHCP lease
      // shows without a restart. From the interfaces only: a resolver waiting for DNS would
      // freeze the window.
      const HostIdentity identity = host_ != nullptr ? *host_ : ReadHostIdentity();
      DrawCentredLine(textFont, GREY, "设备: " + DeviceName(identity.computerName), area, S(280), S(320));
      DrawCentredLine(textFont, GREY, "IP: " + identity.address, area, S(330), S(370));
      DrawCentredLine(textFont, WEBSITE, std::string("Tavoli官网地址: ") + WEBSITES, area, height - S(80),
                      height - S(40));
      break;
    }
  }
}

void Painter::DrawOverlay(const std::vector<std::string>& lines) {
  constexpr SDL_Color SHADE{0, 0, 0, 180};
  constexpr SDL_Color TEXT{230, 230, 230, 255};
  const int MARGIN = S(10);
  const int PADDING = S(8);
  int width = 0;
  int height = 0;
  SDL_GetRendererOutputSize(renderer_, &width, &height);
  TTF_Font* font = fonts_ != nullptr ? fonts_->text.get() : nullptr;
  std::vector<const TextImage*> images;
  int boxWidth = 0;
  int lineHeight = font != nullptr ? TTF_FontLineSkip(font) : S(24);
  for (const std::string& line : lines) {
    images.push_back(text_.Get(font, TEXT, line));
    if (images.back() != nullptr) boxWidth = std::max(boxWidth, images.back()->width);
  }
  boxWidth += 2 * PADDING;
  const int boxHeight = static_cast<int>(lines.size()) * lineHeight + 2 * PADDING;
  // Top right: the full-screen hint holds the top left.
  const SDL_Rect box{std::max(0, width - MARGIN - boxWidth), MARGIN, std::min(boxWidth, width), boxHeight};
  SDL_SetRenderDrawBlendMode(renderer_, SDL_BLENDMODE_BLEND);
  Fill(renderer_, SHADE, &box);
  SDL_SetRenderDrawBlendMode(renderer_, SDL_BLENDMODE_NONE);
  DrawLines(images, box.x + PADDING, box.y + PADDING, lineHeight, box.w - PADDING);
}

void Painter::DrawLines(const std::vector<const TextImage*>& images, int x, int y, int lineHeight, int maxWidth) {
  for (const TextImage* image : images) {
    if (image != nullptr) {
      const int w = std::min(image->width, maxWidth);
      const SDL_Rect source{0, 0, w, image->height};
      const SDL_Rect at{x, y + (lineHeight - image->height) / 2, w, image->height};
      SDL_RenderCopy(renderer_, image->texture.get(), &source, &at);
    }
    y += lineHeight;
  }
}

SDL_Rect Painter::DrawPanel(const MessagePanel& panel) {
  constexpr SDL_Color PANEL{240, 240, 240, 255};
  constexpr SDL_Color CAPTION_BAR{60, 90, 150, 255};
  constexpr SDL_Color ERROR_BAR{170, 40, 40, 255};
  constexpr SDL_Color TEXT{20, 20, 20, 255};
  constexpr SDL_Color BUTTON{210, 210, 210, 255};
  const int PADDING = S(24);
  const int LINE = S(32);
  const int CAPTION_HEIGHT = S(44);
  const int BUTTON_WIDTH = S(120);
  const int BUTTON_HEIGHT = S(40);

  int width = 0;
  int height = 0;
  SDL_GetRendererOutputSize(renderer_, &width, &height);
  TTF_Font* font = fonts_ != nullptr ? fonts_->text.get() : nullptr;

  std::vector<std::string> lines;
  size_t start = 0;
  while (true) {
    const size_t end = panel.text.find('\n', start);
    lines.push_back(panel.text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  int textWidth = BUTTON_WIDTH;
  std::vector<const TextImage*> images;
  for (const auto& line : lines) {
    images.push_back(text_.Get(font, TEXT, line));
    if (images.back() != nullptr) textWidth = std::max(textWidth, images.back()->width);
  }
  const TextImage* caption = text_.Get(font, WHITE, panel.caption);
  if (caption != nullptr) textWidth = std::max(textWidth, caption->width);

  const int boxWidth = std::min(width, textWidth + 2 * PADDING);
  const int boxHeight =
      std::min(height, CAPTION_HEIGHT + PADDING + static_cast<int>(lines.size()) * LINE + PADDING + BUTTON_HEIGHT + PADDING);
  const SDL_Rect box{(width - boxWidth) / 2, (height - boxHeight) / 2, boxWidth, boxHeight};
  Fill(renderer_, PANEL, &box);
  const SDL_Rect bar{box.x, box.y, box.w, CAPTION_HEIGHT};
  Fill(renderer_, panel.isError ? ERROR_BAR : CAPTION_BAR, &bar);
  if (caption != nullptr) {
    const SDL_Rect at{box.x + PADDING, box.y + (CAPTION_HEIGHT - caption->height) / 2, caption->width,
                      caption->height};
    SDL_RenderCopy(renderer_, caption->texture.get(), nullptr, &at);
  }
  DrawLines(images, box.x + PADDING, box.y + CAPTION_HEIGHT + PADDING, LINE, box.w - PADDING);
  const SDL_Rect button{box.x + (box.w - BUTTON_WIDTH) / 2, box.y + box.h - PADDING - BUTTON_HEIGHT, BUTTON_WIDTH,
                        BUTTON_HEIGHT};
  Fill(renderer_, BUTTON, &button);
  if (const TextImage* ok = text_.Get(font, TEXT, "确定"); ok != nullptr) {
    const SDL_Rect at{button.x + (button.w - ok->width) / 2, button.y + (button.h - ok->height) / 2, ok->width,
                      ok->height};
    SDL_RenderCopy(renderer_, ok->texture.get(), nullptr, &at);
  }
  return button;
}

}  // namespace orrin
