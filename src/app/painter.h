#pragma once

#include <SDL.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/font_set.h"
#include "app/picture_texture.h"
#include "app/text_cache.h"
#include "media/decode_scale.h"
#include "media/display_state.h"
#include "media/picture_slot.h"
#include "support/host_watch.h"

namespace orrin {

// Where a picture lands in a window of the given size: scaled by the smaller of the two
// ratios, truncated to whole pixels and centred, so the bars around it are black.
SDL_Rect LetterboxRect(int pictureWidth, int pictureHeight, int areaWidth, int areaHeight);

// A box shown over the window (the start-up information and error boxes): a caption, text
// with line breaks and an OK button.
struct MessagePanel {
  std::string caption;
  std::string text;
  bool isError = false;
  // Set when the text names this machine: it is written again when the name or address changes.
  std::function<std::string(const HostIdentity&)> compose;
};

// What one paint pass shows: the sender's picture slot (null while nobody casts) and its
// state, and the window's.
struct PaintInput {
  const PictureSlot* picture = nullptr;
  bool connected = false;
  bool screenActive = true;
  bool fullscreen = false;  // stretches the picture over the screen unless the aspect is kept
  bool timed = false;       // statistics are on: time the upload
  const HostIdentity* host = nullptr;  // the waiting screen's name and address; read anew when null
};

// One tile of several senders: its place (which texture it uses), its sender's state and
// the label over its top left corner (none while `labelAlpha` is 0).
struct TileInput {
  size_t place = 0;
  const PictureSlot* picture = nullptr;
  bool connected = false;
  bool screenActive = true;
  bool timed = false;
  std::string label;
  uint8_t labelAlpha = 0;
};

// The prompt for a sender that waits to be let in: who, what it would show, time left.
struct ApprovalView {
  std::string address;
  const PictureSlot* preview = nullptr;
  int secondsLeft = 0;
  size_t waiting = 0;  // prompts queued behind this one
};

// Draws one frame of the window into a renderer, in the renderer's output pixels. Owns the
// picture texture and the rendered text; the caller presents.
class Painter {
 public:
  Painter(SDL_Renderer* renderer, const FontSet* fonts);

  // One paint pass: picks the screen from `input`, uploading a new picture first, and draws
  // it over the whole output.
  void Paint(const PaintInput& input);
  // The waiting screen's name and address from now on (null: read anew on each paint).
  void SetHost(const HostIdentity* host) { host_ = host; }
  // The area the last pass drew a picture into: the decoder sizes the next one for it.
  DrawArea drawArea() const { return drawArea_; }
  // Draws `panel` centred over what is there; returns its OK button in output pixels.
  SDL_Rect DrawPanel(const MessagePanel& panel);
  // Draws `lines` in a dimmed box in the top right corner, over what is there.
  void DrawOverlay(const std::vector<std::string>& lines);
  // Ends a frame: text no longer drawn is released.
  void EndFrame() { text_.EndPass(); }

  using Upload = PictureTexture::Upload;
  const Upload& lastUpload() const { return main_.lastUpload(); }
  // Another sender is shown from now on: its slot may sit where a gone one's was, so the
  // next paint uploads whatever it holds.
  void ForgetUpload() { main_.Forget(); }
  // True when `slot` holds a picture this painter has not drawn yet.
  bool HasUndrawnPicture(const PictureSlot* slot) const { return main_.HasUndrawn(slot); }

  // Several senders: each tile of `tiles` in its part of the window (one alone fills it as
  // a single sender does), the focus frame around `tiles[focused]` when there are several.
  void PaintTiles(const std::vector<TileInput>& tiles, size_t focused, bool fullscreen);
  // The area tile `index` of the last PaintTiles drew its picture into.
  DrawArea tileArea(size_t index) const { return index < tileAreas_.size() ? tileAreas_[index] : DrawArea{}; }
  // The tile at output pixel (x, y) of the last PaintTiles, if any.
  std::optional<size_t> TileAt(int x, int y) const;
  // The texture of a place: its picture, its upload, a new sender there.
  PictureTexture& tile(size_t place);
  // Draws the approval prompt over what is there; the preview is decoded for previewArea().
  void DrawApproval(const ApprovalView& view);
  DrawArea previewArea() const { return previewArea_; }
  // Another sender waits in the prompt from now on.
  void ForgetPreview() { preview_.Forget(); }

  // The JPEG bytes of the picture on screen (null when none, or for a picture made here).
  const std::shared_ptr<const ByteBuffer>& shownJpeg() const { return main_.jpeg(); }

  // Every size and place at `scale` times its 96 dpi value (display_scale.h); the fonts
  // are the caller's and must be opened for the same scale.
  void SetScale(double scale);
  double scale() const { return scale_; }

  // Full screen letterboxed, as in a window, instead of stretched over the screen.
  void SetKeepAspect(bool keep) { keepAspect_ = keep; }
  // Whether the last Paint drew the picture screen.
  bool showedPicture() const { return showedPicture_; }

  int paintCount() const { return paintCount_; }
  size_t cachedTextCount() const { return text_.size(); }

 private:
  void DrawPicture(const PictureTexture& picture, int width, int height, bool fullscreen);
  // `area` is the whole output, or one tile.
  void DrawTextScreen(DisplayMode mode, const SDL_Rect& area);
  void DrawTile(const TileInput& tile, const SDL_Rect& area);
  void DrawLabel(const TileInput& tile, const SDL_Rect& area);
  void DrawFrame(const SDL_Rect& area, SDL_Color colour, int thickness);
  // One image per line from (x, y) down, each centred in its line and cut at `maxWidth`.
  void DrawLines(const std::vector<const TextImage*>& images, int x, int y, int lineHeight, int maxWidth);
  void DrawCentredLine(TTF_Font* font, SDL_Color colour, const std::string& text, const SDL_Rect& area, int top,
                       int bottom);

  SDL_Renderer* renderer_;
  const FontSet* fonts_;
  TextCache text_;
  PictureTexture main_;
  std::vector<PictureTexture> tiles_;  // by place, with several senders
  PictureTexture preview_;
  std::vector<SDL_Rect> tileRects_;
  std::vector<DrawArea> tileAreas_;
  int paintCount_ = 0;
  int S(int value) const;  // a 96 dpi size at this painter's scale
  double scale_ = 1.0;
  bool keepAspect_ = false;
  bool showedPicture_ = false;
  DrawArea drawArea_;
  const HostIdentity* host_ = nullptr;
  DrawArea previewArea_;
};

}  // namespace orrin
