#pragma once

#include <SDL.h>

#include <cstdint>
#include <memory>

#include "app/sdl_handles.h"
#include "media/picture_slot.h"
#include "support/bytes.h"

namespace orrin {

// One sender's picture as a texture: uploaded once per new picture of its slot and reused
// while the picture's size and format stay.
class PictureTexture {
 public:
  // What the last Update did with a new picture, for statistics (timed only while they are
  // on): whether one was uploaded, how long the upload took, when its last byte came in.
  struct Upload {
    bool newPicture = false;
    double uploadMs = 0;
    int64_t receivedNs = 0;
  };

  // Uploads the slot's picture unless this texture holds it already. False while the slot
  // (or `slot` itself) holds none: the texture's memory is given back then.
  bool Update(SDL_Renderer* renderer, const PictureSlot* slot, bool timed);
  // True when `slot` holds a picture this texture does not.
  bool HasUndrawn(const PictureSlot* slot) const;
  // Another sender is shown from now on: its slot may sit where a gone one's was, so the
  // next Update uploads whatever it holds.
  void Forget() { uploadedSlot_ = nullptr; }
  void Release();

  SDL_Texture* get() const { return texture_.get(); }
  int width() const { return width_; }
  int height() const { return height_; }
  const Upload& lastUpload() const { return lastUpload_; }
  // The JPEG bytes of the picture held (null when none, or for a picture made here).
  const std::shared_ptr<const ByteBuffer>& jpeg() const { return jpeg_; }

 private:
  void UploadLocked(SDL_Renderer* renderer, const Picture& picture, bool timed);

  TexturePtr texture_;
  int width_ = 0;
  int height_ = 0;
  PixelFormat format_ = PixelFormat::RGB24;
  // Which picture the texture holds: the slot it came from and its generation there.
  const PictureSlot* uploadedSlot_ = nullptr;
  uint64_t uploadedGeneration_ = UINT64_MAX;
  std::shared_ptr<const ByteBuffer> jpeg_;
  Upload lastUpload_;
};

}  // namespace orrin
