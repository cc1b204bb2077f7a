// The Painter's screens for several senders: tiles, their labels and focus frame, and the
// prompt for a sender that waits to be let in.
#include <algorithm>
#include <string>

#include "app/painter.h"
#include "app/tile_layout.h"
#include "media/display_state.h"
#include "support/log.h"

namespace orrin {

namespace {

constexpr SDL_Color BLACK{0, 0, 0, 255};
constexpr SDL_Color WHITE{255, 255, 255, 255};
// A blue no other screen uses, so the frame is told apart from any text.
constexpr SDL_Color FOCUS_FRAME{0, 160, 255, 255};
constexpr int FOCUS_FRAME_THICKNESS = 4;
constexpr int PAINT_LOG_EVERY = 30;

void FillRect(SDL_Renderer* renderer, SDL_Color colour, const SDL_Rect& rect) {
  SDL_SetRenderDrawColor(renderer, colour.r, colour.g, colour.b, colour.a);
  SDL_RenderFillRect(renderer, &rect);
}

}  // namespace

PictureTexture& Painter::tile(size_t place) {
  if (tiles_.size() <= place) tiles_.resize(place + 1);
  return tiles_[place];
}

std::optional<size_t> Painter::TileAt(int x, int y) const {
  const SDL_Point point{x, y};
  for (size_t i = 0; i < tileRects_.size(); ++i) {
    if (SDL_PointInRect(&point, &tileRects_[i])) return i;
  }
  return std::nullopt;
}

void Painter::PaintTiles(const std::vector<TileInput>& tiles, size_t focused, bool fullscreen) {
  int width = 0;
  int height = 0;
  SDL_GetRendererOutputSize(renderer_, &width, &height);
  tileRects_ = TileRects(tiles.size(), width, height);
  tileAreas_.assign(tiles.size(), DrawArea{});
  showedPicture_ = false;
  ++paintCount_;
  if (paintCount_ % PAINT_LOG_EVERY == 0) {
    LogProgress("WM_PAINT called #" + std::to_string(paintCount_) + ", tiles=" + std::to_string(tiles.size()));
  }
  SDL_SetRenderDrawColor(renderer_, BLACK.r, BLACK.g, BLACK.b, BLACK.a);
  SDL_RenderClear(renderer_);
  for (size_t i = 0; i < tiles.size(); ++i) {
    const TileInput& input = tiles[i];
    PictureTexture& texture = tile(input.place);
    const bool hasPicture = texture.Update(renderer_, input.picture, input.timed);
    const DisplayMode mode = ChooseDisplayMode(hasPicture, input.connected, input.screenActive);
    if (tiles.size() == 1) {
      // Alone it is drawn as one sender is: stretched in full screen unless the aspect is kept.
      tileAreas_[i] = DrawArea{width, height, fullscreen && !keepAspect_};
      if (mode == DisplayMode::Picture) {
        DrawPicture(texture, width, height, fullscreen);
      } else {
        DrawTextScreen(mode, tileRects_[i]);
      }
    } else {
      const SDL_Rect& area = tileRects_[i];
      tileAreas_[i] = DrawArea{area.w, area.h, false};
      SDL_RenderSetClipRect(renderer_, &area);
      if (mode == DisplayMode::Picture) {
        if (texture.get() != nullptr) {
          SDL_Rect target = LetterboxRect(texture.width(), texture.height(), area.w, area.h);
          target.x += area.x;
          target.y += area.y;
          SDL_RenderCopy(renderer_, texture.get(), nullptr, &target);
        }
      } else {
        DrawTextScreen(mode, area);
      }
      SDL_RenderSetClipRect(renderer_, nullptr);
    }
    showedPicture_ = showedPicture_ || (mode == DisplayMode::Picture && texture.get() != nullptr);
    DrawLabel(input, tileRects_[i]);
  }
  if (tiles.size() > 1 && focused < tileRects_.size()) {
    DrawFrame(tileRects_[focused], FOCUS_FRAME, S(FOCUS_FRAME_THICKNESS));
  }
}

void Painter::DrawLabel(const TileInput& tile, const SDL_Rect& area) {
  if (tile.labelAlpha == 0 || tile.label.empty()) return;
  TTF_Font* font = fonts_ != nullptr ? fonts_->text.get() : nullptr;
  const TextImage* text = text_.Get(font, WHITE, tile.label);
  if (text == nullptr) return;
  const int MARGIN = S(8);
  const int PADDING = S(6);
  const SDL_Rect strip{area.x + MARGIN, area.y + area.h - MARGIN - text->height - 2 * PADDING,
                       std::min(text->width + 2 * PADDING, std::max(0, area.w - 2 * MARGIN)),
                       text->height + 2 * PADDING};
  SDL_SetRenderDrawBlendMode(renderer_, SDL_BLENDMODE_BLEND);
  FillRect(renderer_, SDL_Color{0, 0, 0, static_cast<Uint8>(tile.labelAlpha * 3 / 4)}, strip);
  SDL_SetRenderDrawBlendMode(renderer_, SDL_BLENDMODE_NONE);
  SDL_SetTextureAlphaMod(text->texture.get(), tile.labelAlpha);
  const SDL_Rect source{0, 0, std::min(text->width, std::max(0, strip.w - 2 * PADDING)), text->height};
  const SDL_Rect at{strip.x + PADDING, strip.y + PADDING, source.w, source.h};
  SDL_RenderCopy(renderer_, text->texture.get(), &source, &at);
  SDL_SetTextureAlphaMod(text->texture.get(), 255);
}

void Painter::DrawFrame(const SDL_Rect& area, SDL_Color colour, int thickness) {
  const SDL_Rect edges[] = {{area.x, area.y, area.w, thickness},
                            {area.x, area.y + area.h - thickness, area.w, thickness},
                            {area.x, area.y, thickness, area.h},
                            {area.x + area.w - thickness, area.y, thickness, area.h}};
  for (const SDL_Rect& edge : edges) FillRect(renderer_, colour, edge);
}

void Painter::DrawApproval(const ApprovalView& view) {
  constexpr SDL_Color PANEL{240, 240, 240, 255};
  constexpr SDL_Color CAPTION_BAR{200, 120, 0, 255};
  constexpr SDL_Color TEXT{20, 20, 20, 255};
  const int PADDING = S(20);
  const int CAPTION_HEIGHT = S(44);
  const int LINE = S(32);
  const int PREVIEW = S(320);  // the preview's square, at most
  int width = 0;
  int height = 0;
  SDL_GetRendererOutputSize(renderer_, &width, &height);
  TTF_Font* font = fonts_ != nullptr ? fonts_->text.get() : nullptr;

  const int preview = std::max(0, std::min(PREVIEW, height - CAPTION_HEIGHT - 3 * LINE - 4 * PADDING));
  std::vector<const TextImage*> lines = {
      text_.Get(font, TEXT, "设备: " + view.address),
      text_.Get(font, TEXT, "按Y允许，按N拒绝 (" + std::to_string(view.secondsLeft) + "秒)"),
  };
  if (view.waiting > 0) lines.push_back(text_.Get(font, TEXT, "还有" + std::to_string(view.waiting) + "台设备等待"));
  int textWidth = preview;
  for (const TextImage* line : lines) {
    if (line != nullptr) textWidth = std::max(textWidth, line->width);
  }
  const TextImage* caption = text_.Get(font, WHITE, "新设备请求投屏");
  const int boxWidth = std::min(width, textWidth + 2 * PADDING);
  const int boxHeight =
      std::min(height, CAPTION_HEIGHT + PADDING + preview + PADDING + static_cast<int>(lines.size()) * LINE + PADDING);
  const SDL_Rect box{(width - boxWidth) / 2, (height - boxHeight) / 2, boxWidth, boxHeight};
  FillRect(renderer_, PANEL, box);
  FillRect(renderer_, CAPTION_BAR, SDL_Rect{box.x, box.y, box.w, CAPTION_HEIGHT});
  if (caption != nullptr) {
    const SDL_Rect at{box.x + PADDING, box.y + (CAPTION_HEIGHT - caption->height) / 2, caption->width, caption->height};
    SDL_RenderCopy(renderer_, caption->texture.get(), nullptr, &at);
  }
  // The preview: what the sender would show, letterboxed on black in a square.
  const SDL_Rect well{box.x + (box.w - preview) / 2, box.y + CAPTION_HEIGHT + PADDING, preview, preview};
  FillRect(renderer_, BLACK, well);
  previewArea_ = DrawArea{preview, preview, false};
  if (preview_.Update(renderer_, view.preview, false) && preview_.get() != nullptr) {
    SDL_Rect target = LetterboxRect(preview_.width(), preview_.height(), well.w, well.h);
    target.x += well.x;
    target.y += well.y;
    SDL_RenderCopy(renderer_, preview_.get(), nullptr, &target);
  }
  DrawLines(lines, box.x + PADDING, well.y + well.h + PADDING, LINE, box.w - PADDING);
}

}  // namespace orrin
