#pragma once

#include <SDL.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/font_set.h"
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

// Draws one frame of the window into a renderer, in the renderer's output pixels. Owns the
// picture texture and the rendered text; the caller presents.
class Painter {
 public:
  Painter(SDL_Renderer* renderer, const FontSet* fonts);

  // One paint pass: picks the screen from `input`, uploading a new picture first, and draws
  // it over the whole output.
  void Paint(const PaintInput& input);
  // The area the last pass drew a picture into: the decoder sizes the next one for it.
  DrawArea drawArea() const { return drawArea_; }
  // Draws `panel` centred over what is there; returns its OK button in output pixels.
  SDL_Rect DrawPanel(const MessagePanel& panel);
  // Draws `lines` in a dimmed box in the top right corner, over what is there.
  void DrawOverlay(const std::vector<std::string>& lines);
  // Ends a frame: text no longer drawn is released.
  void EndFrame() { text_.EndPass(); }

  // What the last Paint did with a new picture, for statistics (timed only while they are
  // on): whether one was uploaded, how long the upload took, when its last byte came in.
  struct Upload {
    bool newPicture = false;
    double uploadMs = 0;
    int64_t receivedNs = 0;
  };
  const Upload& lastUpload() const { return lastUpload_; }
  // Another sender is shown from now on: its slot may sit where a gone one's was, so the
  // next paint uploads whatever it holds.
  void ForgetUpload() { uploadedSlot_ = nullptr; }
  // True when `slot` holds a picture this painter has not drawn yet.
  bool HasUndrawnPicture(const PictureSlot* slot) const;

  // The JPEG bytes of the picture on screen (null when none, or for a picture made here).
  const std::shared_ptr<const ByteBuffer>& shownJpeg() const { return shownJpeg_; }

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
  bool UploadNewPicture(const PictureSlot* slot, bool timed);  // true while a picture is held
  void UploadLocked(const Picture& picture, bool timed);
  void DrawPicture(int width, int height, bool fullscreen);
  void DrawTextScreen(DisplayMode mode, int width, int height, const HostIdentity* host);
  // One image per line from (x, y) down, each centred in its line and cut at `maxWidth`.
  void DrawLines(const std::vector<const TextImage*>& images, int x, int y, int lineHeight, int maxWidth);
  void DrawCentredLine(TTF_Font* font, SDL_Color colour, const std::string& text, int width, int top,
                       int bottom);

  SDL_Renderer* renderer_;
  const FontSet* fonts_;
  TextCache text_;
  TexturePtr picture_;
  int pictureWidth_ = 0;
  int pictureHeight_ = 0;
  PixelFormat pictureFormat_ = PixelFormat::RGB24;
  // Which picture the texture holds: the slot it came from and its generation there.
  const PictureSlot* uploadedSlot_ = nullptr;
  uint64_t uploadedGeneration_ = UINT64_MAX;
  std::shared_ptr<const ByteBuffer> shownJpeg_;
  int paintCount_ = 0;
  int S(int value) const;  // a 96 dpi size at this painter's scale
  double scale_ = 1.0;
  bool keepAspect_ = false;
  bool showedPicture_ = false;
  Upload lastUpload_;
  DrawArea drawArea_;
};

}  // namespace orrin
