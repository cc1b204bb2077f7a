// Decodes arbitrary files with the picture decoder and its limits. A file is either
// refused (null) or gives a picture inside the limits whose every byte can be read and
// whose planes are laid out as the window uploads them. Whatever the file did, the
// thread's decoder (kept from picture to picture) still decodes a sound picture after it.
#include <turbojpeg.h>

#include <cstdint>
#include <cstdlib>

#include "media/jpeg_decoder.h"

namespace {

uint64_t Touch(const orrin::Picture& picture) {
  uint64_t sum = 0;
  for (uint8_t byte : picture.data) sum += byte;
  return sum;
}

// What the window's upload reads: each plane's rows of at least the plane's width, one
// after another, inside the buffer. (TurboJPEG pads the 4:2:0 luma plane to whole
// macroblock columns and rows, so its pitch may be one more than the width.)
bool PlanesFit(const orrin::Picture& picture) {
  const size_t w = static_cast<size_t>(picture.width);
  const size_t h = static_cast<size_t>(picture.height);
  const int count = picture.format == orrin::PixelFormat::I420 ? 3 : 1;
  for (int i = 0; i < count; ++i) {
    const size_t index = static_cast<size_t>(i);
    const bool chroma = picture.format == orrin::PixelFormat::I420 && i > 0;
    const size_t rowBytes = picture.format == orrin::PixelFormat::RGB24 ? w * 3 : chroma ? (w + 1) / 2 : w;
    const size_t rows = chroma ? (h + 1) / 2 : h;
    if (picture.pitch[index] < 0 || static_cast<size_t>(picture.pitch[index]) < rowBytes) return false;
    const size_t end = picture.planeOffset[index] + static_cast<size_t>(picture.pitch[index]) * rows;
    const size_t limit = i + 1 < count ? picture.planeOffset[index + 1] : picture.data.size();
    if (end > limit) return false;
  }
  return picture.planeOffset[0] == 0;
}

// A sound 16x16 4:2:0 picture, made once.
const orrin::ByteBuffer& SoundPicture() {
  static const orrin::ByteBuffer jpeg = [] {
    std::vector<uint8_t> pixels(16 * 16 * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 5);
    tjhandle compressor = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (tjCompress2(compressor, pixels.data(), 16, 0, 16, TJPF_RGB, &out, &size, TJSAMP_420, 80, 0) != 0) std::abort();
    orrin::ByteBuffer result(out, out + size);
    tjFree(out);
    tjDestroy(compressor);
    return result;
  }();
  return jpeg;
}

void CheckPicture(const orrin::Picture& picture) {
  if (!orrin::JpegSizeAllowed(picture.width, picture.height)) std::abort();
  if (!PlanesFit(picture)) std::abort();
  volatile uint64_t sink = Touch(picture);
  (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orrin::ByteBuffer file(data, data + size);
  std::unique_ptr<orrin::Picture> picture = orrin::CreateBitmapFromJPEG(file);
  if (picture) CheckPicture(*picture);
  std::unique_ptr<orrin::Picture> after = orrin::CreateBitmapFromJPEG(SoundPicture());
  if (!after || after->width != 16 || after->height != 16) std::abort();
  return 0;
}
