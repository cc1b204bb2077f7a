// Makes a real JPEG with TurboJPEG from input-chosen size, subsampling, quality and
// progressive mode, then damages it as the input says (byte changes, a frame header that
// announces another size, a cut) and decodes it. The plain mutations of the seed files in
// jpeg_decoder_fuzz rarely get past the headers; this target reaches every decoding path
// with well-formed headers and bad data, and pictures near and past the size limits.
// An undamaged file must decode to its own size, whatever the decoder (one per thread,
// reused) went through before.
#include <turbojpeg.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "media/jpeg_decoder.h"

namespace {

class Compressor {
 public:
  Compressor() : handle_(tjInitCompress()) {}
  ~Compressor() { tjDestroy(handle_); }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;
  tjhandle get() const { return handle_; }

 private:
  tjhandle handle_;
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }
  bool Empty() const { return at_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

constexpr int SUBSAMPLINGS[] = {TJSAMP_444, TJSAMP_422, TJSAMP_420, TJSAMP_GRAY, TJSAMP_440, TJSAMP_411};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A new compressor for every file: TurboJPEG 2.1.5 writes corrupt Huffman data with a
  // handle that made a progressive file before. The decoder under test keeps its handle.
  Compressor compressor;
  Reader in(data, size);
  const int width = 1 + in.Byte() % 160;
  const int height = 1 + in.Byte() % 160;
  const int subsampling = SUBSAMPLINGS[in.Byte() % 6];
  const uint8_t mode = in.Byte();
  const int quality = 1 + in.Byte() % 100;
  const int pixelFormat = subsampling == TJSAMP_GRAY ? TJPF_GRAY : TJPF_RGB;
  const int channels = tjPixelSize[pixelFormat];

  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * channels);
  const uint8_t seed = in.Byte();
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>((i * seed) ^ (i >> 5));

  unsigned char* jpeg = nullptr;
  unsigned long jpegSize = 0;
  const int flags = (mode & 1) ? TJFLAG_PROGRESSIVE : 0;
  if (tjCompress2(compressor.get(), pixels.data(), width, 0, height, pixelFormat, &jpeg, &jpegSize, subsampling,
                  quality, flags) != 0) {
    std::abort();  // every size and kind chosen here can be written
  }
  orrin::ByteBuffer file(jpeg, jpeg + jpegSize);
  tjFree(jpeg);

  bool damaged = false;
  if (mode & 2) {  // the frame header announces another size
    for (size_t i = 2; i + 8 < file.size(); ++i) {
      if (file[i] == 0xFF && (file[i + 1] == 0xC0 || file[i + 1] == 0xC2)) {
        const uint16_t newHeight = in.Word(), newWidth = in.Word();
        file[i + 5] = static_cast<uint8_t>(newHeight >> 8), file[i + 6] = static_cast<uint8_t>(newHeight);
        file[i + 7] = static_cast<uint8_t>(newWidth >> 8), file[i + 8] = static_cast<uint8_t>(newWidth);
        damaged = newWidth != width || newHeight != height;
        break;
      }
    }
  }
  if (mode & 4) {  // cut short
    file.resize(in.Word() % file.size());
    damaged = true;
  }
  while (!in.Empty() && !file.empty()) {  // byte changes anywhere, headers included
    const size_t at = in.Word() % file.size();
    file[at] ^= in.Byte() | 1;
    damaged = true;
  }

  std::unique_ptr<orrin::Picture> picture = orrin::CreateBitmapFromJPEG(file);
  if (!picture) {
    if (!damaged) std::abort();
    return 0;
  }
  if (!orrin::JpegSizeAllowed(picture->width, picture->height)) std::abort();
  if (!damaged && (picture->width != width || picture->height != height)) std::abort();
  const size_t expected = picture->format == orrin::PixelFormat::RGB24
                              ? static_cast<size_t>(picture->pitch[0]) * static_cast<size_t>(picture->height)
                              : picture->planeOffset[2] + static_cast<size_t>(picture->pitch[2]) *
                                                              ((static_cast<size_t>(picture->height) + 1) / 2);
  if (picture->data.size() < expected) std::abort();
  volatile uint8_t last = picture->data.back();
  (void)last;
  return 0;
}
