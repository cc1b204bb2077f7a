#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "support/bytes.h"

namespace orrin::cast {

// A moving test picture: colour gradients that drift, a bar that sweeps across, and the
// frame number in large digits, so a person sees at a glance that pictures flow and none
// are repeated. Encoded as a 4:2:0 JPEG with TurboJPEG.
class PatternEncoder {
 public:
  // With `solid` (0xRRGGBB) every picture is that colour alone, for tests that look for it
  // on the receiver's screen.
  PatternEncoder(int width, int height, int quality, std::optional<uint32_t> solid = std::nullopt);
  ~PatternEncoder();
  PatternEncoder(const PatternEncoder&) = delete;
  PatternEncoder& operator=(const PatternEncoder&) = delete;

  // The JPEG of frame `index`; empty with `error` set if TurboJPEG failed.
  ByteBuffer Encode(long index, std::string& error);

 private:
  void Draw(long index);
  void Fill(uint32_t rgb);

  int width_;
  int height_;
  int quality_;
  int yPitch_;  // bytes per row of the Y plane
  int cPitch_;  // bytes per row of the U and V planes
  ByteBuffer y_, u_, v_;
  void* compressor_;  // tjhandle
  std::optional<uint32_t> solid_;  // 0xRRGGBB: every picture that one colour
};

}  // namespace orrin::cast
