#include "media/jpeg_decoder.h"

#include <turbojpeg.h>

#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "support/log.h"

namespace orrin {
namespace {

// The two status lines carry a number derived from TurboJPEG, never 0 (0 reads as
// success):
//   1  TurboJPEG reported a warning (TJERR_WARNING): damaged or truncated data. TurboJPEG
//      fails such a decode; a half-grey picture must not replace a good one on screen.
//   2  TurboJPEG reported a fatal error (TJERR_FATAL), a header that announces no
//      picture, or no decoder handle could be made.
// TurboJPEG's own text follows the number in parentheses.
constexpr int STATUS_WARNING = 1;
constexpr int STATUS_FATAL = 2;

// Flags for every decode: accurate IDCT and fancy upsampling (TurboJPEG's defaults, so
// picture quality is not traded), a cap on progressive scans so a hostile file cannot
// burn seconds of CPU, and a stop at the first warning rather than decoding the rest of
// a picture that will be thrown away.
constexpr int DECODE_FLAGS = TJFLAG_LIMITSCANS | TJFLAG_STOPONWARNING;

// Decompressors made once and reused, one decode at a time each; a handle is never used by
// two threads at once. Not thread_local: the threads that decode come and go with senders,
// and on Windows (mingw) a thread_local's destructor runs after its storage is gone, so
// ending a sender's thread would crash the process.
class DecoderPool {
 public:
  DecoderPool() = default;
  DecoderPool(const DecoderPool&) = delete;
  DecoderPool& operator=(const DecoderPool&) = delete;
  ~DecoderPool() {
    for (tjhandle handle : idle_) tjDestroy(handle);
  }
  tjhandle Take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!idle_.empty()) {
        tjhandle handle = idle_.back();
        idle_.pop_back();
        return handle;
      }
    }
    return tjInitDecompress();
  }
  void Give(tjhandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(handle);
  }

 private:
  std::mutex mutex_;
  std::vector<tjhandle> idle_;
};

DecoderPool& Decoders() {
  static DecoderPool pool;
  return pool;
}

// The decompressor of one decode, taken from the pool on first use and given back after.
class PooledDecoder {
 public:
  PooledDecoder() = default;
  PooledDecoder(const PooledDecoder&) = delete;
  PooledDecoder& operator=(const PooledDecoder&) = delete;
  ~PooledDecoder() {
    if (handle_ != nullptr) Decoders().Give(handle_);
  }
  // Null when TurboJPEG could not make one; the next call tries again.
  tjhandle Get() {
    if (handle_ == nullptr) handle_ = Decoders().Take();
    return handle_;
  }
  // TurboJPEG (2.1) leaves a handle half-way through the file's headers when it fails
  // there, for example on a bad Huffman table, and then fails every later file with the
  // same error: one hostile picture would stop the sender's good pictures for good. A
  // handle that failed is therefore thrown away; the next picture gets a fresh one.
  void Discard() {
    if (handle_ != nullptr) tjDestroy(handle_);
    handle_ = nullptr;
  }

 private:
  tjhandle handle_ = nullptr;
};

std::string TurboStatus(tjhandle handle) {
  int status = tjGetErrorCode(handle) == TJERR_WARNING ? STATUS_WARNING : STATUS_FATAL;
  return std::to_string(status) + " (" + tjGetErrorStr2(handle) + ")";
}

std::unique_ptr<Picture> AllocateI420(int width, int height) {
  auto picture = std::make_unique<Picture>();
  picture->width = width;
  picture->height = height;
  picture->format = PixelFormat::I420;
  size_t offset = 0;
  for (int i = 0; i < 3; ++i) {
    int planeWidth = tjPlaneWidth(i, width, TJSAMP_420);
    int planeHeight = tjPlaneHeight(i, height, TJSAMP_420);
    picture->pitch[static_cast<size_t>(i)] = planeWidth;
    picture->planeOffset[static_cast<size_t>(i)] = offset;
    offset += static_cast<size_t>(planeWidth) * static_cast<size_t>(planeHeight);
  }
  picture->data.resize(offset);
  return picture;
}

std::unique_ptr<Picture> AllocateRGB24(int width, int height) {
  auto picture = std::make_unique<Picture>();
  picture->width = width;
  picture->height = height;
  picture->format = PixelFormat::RGB24;
  picture->pitch[0] = width * 3;
  picture->data.resize(static_cast<size_t>(width) * 3 * static_cast<size_t>(height));
  return picture;
}

std::unique_ptr<Picture> Decode(const ByteBuffer& data, DrawArea area, int* scaleDenominator) {
  if (data.size() < 10) {
    LogError("JPEG data too small: " + std::to_string(data.size()) + " bytes");
    return nullptr;
  }
  if (data[0] != 0xFF || data[1] != 0xD8) {
    LogError("Invalid JPEG header: " + std::to_string(data[0]) + " " + std::to_string(data[1]));
    return nullptr;
  }

  PooledDecoder decoder;
  tjhandle handle = decoder.Get();
  if (handle == nullptr) {
    LogError("Bitmap creation failed with status: " + std::to_string(STATUS_FATAL) + " (" +
             tjGetErrorStr2(nullptr) + ")");
    return nullptr;
  }

  const auto size = static_cast<unsigned long>(data.size());
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(handle, data.data(), size, &width, &height, &subsampling, &colorspace) != 0) {
    LogError("Bitmap creation failed with status: " + TurboStatus(handle));
    decoder.Discard();
    return nullptr;
  }
  // A file that ends right after its start marker passes the header read with no size.
  if (width <= 0 || height <= 0) {
    LogError("Bitmap creation failed with status: " + std::to_string(STATUS_FATAL) +
             " (JPEG header announces no picture)");
    return nullptr;
  }
  if (!JpegSizeAllowed(width, height)) {
    LogError("JPEG too large: " + std::to_string(width) + "x" + std::to_string(height));
    return nullptr;
  }

  // A picture drawn much smaller than it is comes out of the IDCT smaller: TurboJPEG skips
  // the work for the pixels the window would throw away.
  const int denominator = ChooseScaleDenominator(width, height, area);
  if (scaleDenominator != nullptr) *scaleDenominator = denominator;
  const int outWidth = (width + denominator - 1) / denominator;
  const int outHeight = (height + denominator - 1) / denominator;

  std::unique_ptr<Picture> picture;
  int result = 0;
  if (subsampling == TJSAMP_420 && colorspace == TJCS_YCbCr) {
    // Straight into the planes the window uploads: no colour conversion on the CPU.
    picture = AllocateI420(outWidth, outHeight);
    unsigned char* planes[3] = {picture->Plane(0), picture->Plane(1), picture->Plane(2)};
    result = tjDecompressToYUVPlanes(handle, data.data(), size, planes, outWidth, picture->pitch.data(),
                                     outHeight, DECODE_FLAGS);
  } else {
    picture = AllocateRGB24(outWidth, outHeight);
    result = tjDecompress2(handle, data.data(), size, picture->Plane(0), outWidth, picture->pitch[0],
                           outHeight, TJPF_RGB, DECODE_FLAGS);
  }
  if (result != 0) {
    LogError("Failed to convert to HBITMAP, status: " + TurboStatus(handle));
    decoder.Discard();
    return nullptr;
  }

  return picture;
}

}  // namespace

bool JpegSizeAllowed(int width, int height) {
  if (width <= 0 || height <= 0) return false;
  if (width > MAX_JPEG_SIDE || height > MAX_JPEG_SIDE) return false;
  return static_cast<long long>(width) * height <= MAX_JPEG_PIXELS;
}

std::unique_ptr<Picture> CreateBitmapFromJPEG(const ByteBuffer& data) {
  return CreateBitmapFromJPEG(data, DrawArea{});
}

std::unique_ptr<Picture> CreateBitmapFromJPEG(const ByteBuffer& data, DrawArea area, int* scaleDenominator) {
  try {
    return Decode(data, area, scaleDenominator);
  } catch (const std::exception& e) {
    LogError(std::string("Exception in CreateBitmapFromJPEG: ") + e.what());
  } catch (...) {
    LogError("Unknown exception in CreateBitmapFromJPEG");
  }
  return nullptr;
}

}  // namespace orrin
