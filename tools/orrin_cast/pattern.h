#pragma once

#include <memory>
#include <string>

#include "support/bytes.h"

namespace orrin::cast {

// A moving test picture: colour gradients that drift, a bar that sweeps across, and the
// frame number in large digits, so a person sees at a glance that pictures flow and none
// are repeated. Encoded as a 4:2:0 JPEG with TurboJPEG.
class PatternEncoder {
 public:
  PatternEncoder(int width, int height, int quality);
  ~PatternEncoder();
  PatternEncoder(const PatternEncoder&) = delete;
  PatternEncoder& operator=(const PatternEncoder&) = delete;

  // The JPEG of frame `index`; empty with `error` set if TurboJPEG failed.
  ByteBuffer Encode(long index, std::string& error);

 private:
  void Draw(long index);

  int width_;
  int height_;
  int quality_;
  int yPitch_;  // bytes per row of the Y plane
  int cPitch_;  // bytes per row of the U and V planes
  ByteBuffer y_, u_, v_;
  void* compressor_;  // tjhandle
};

}  // namespace orrin::cast
