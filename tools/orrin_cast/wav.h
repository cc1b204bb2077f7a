#pragma once

#include <string>

#include "support/bytes.h"

namespace orrin::cast {

// The PCM samples of a WAV file that holds exactly what the receiver plays: 16000 Hz,
// one channel, 16-bit signed little-endian PCM. Anything else is refused with a message
// that says what the file holds instead.
struct WavResult {
  ByteBuffer samples;
  std::string error;  // empty on success
};

WavResult ParseWav(const ByteBuffer& file);

}  // namespace orrin::cast
