#include "app/picture_texture.h"

#include <string>

#include "support/log.h"
#include "media/cast_stats.h"

namespace orrin {

void PictureTexture::Release() {
  texture_.reset();
  jpeg_.reset();
  uploadedSlot_ = nullptr;
  uploadedGeneration_ = UINT64_MAX;
}

bool PictureTexture::HasUndrawn(const PictureSlot* slot) const {
  if (slot == nullptr) return false;
  return slot->Read([&](const Picture* picture, uint64_t generation) {
    return picture != nullptr && (slot != uploadedSlot_ || generation != uploadedGeneration_);
  });
}

bool PictureTexture::Update(SDL_Renderer* renderer, const PictureSlot* slot, bool timed) {
  lastUpload_ = Upload{};
  auto release = [this] {
    Release();  // the sender is gone: give the texture's memory back
    return false;
  };
  if (slot == nullptr) return release();
  // The lock covers only the copy into the texture; drawing uses the texture afterwards,
  // so a sender's next picture never waits for a paint.
  return slot->Read([&](const Picture* picture, uint64_t generation) {
    if (picture == nullptr) return release();
    if (slot == uploadedSlot_ && generation == uploadedGeneration_) return true;
    uploadedSlot_ = slot;
    uploadedGeneration_ = generation;
    UploadLocked(renderer, *picture, timed);
    return true;
  });
}

void PictureTexture::UploadLocked(SDL_Renderer* renderer, const Picture& picture, bool timed) {
  jpeg_ = picture.jpeg;
  const int64_t start = timed ? NowNs() : 0;
  if (!texture_ || width_ != picture.width || height_ != picture.height || format_ != picture.format) {
    const Uint32 format = picture.format == PixelFormat::I420 ? SDL_PIXELFORMAT_IYUV : SDL_PIXELFORMAT_RGB24;
    texture_.reset(SDL_CreateTexture(renderer, format, SDL_TEXTUREACCESS_STREAMING, picture.width, picture.height));
    if (!texture_) {
      LogError("Failed to create picture texture " + std::to_string(picture.width) + "x" +
               std::to_string(picture.height) + ": " + SDL_GetError());
      return;
    }
    SDL_SetTextureScaleMode(texture_.get(), SDL_ScaleModeLinear);
    width_ = picture.width;
    height_ = picture.height;
    format_ = picture.format;
  }
  const int result = picture.format == PixelFormat::I420
                         ? SDL_UpdateYUVTexture(texture_.get(), nullptr, picture.Plane(0), picture.pitch[0],
                                                picture.Plane(1), picture.pitch[1], picture.Plane(2), picture.pitch[2])
                         : SDL_UpdateTexture(texture_.get(), nullptr, picture.Plane(0), picture.pitch[0]);
  if (result != 0) {
    LogError(std::string("Failed to upload picture: ") + SDL_GetError());
    texture_.reset();
  } else if (start != 0) {
    lastUpload_ = Upload{true, static_cast<double>(NowNs() - start) / 1e6, picture.receivedNs};
  }
}

}  // namespace orrin
