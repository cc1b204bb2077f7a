#pragma once

#include <cstddef>

namespace orrin {

// The one format senders use: signed 16-bit little-endian mono PCM at 16 kHz. The payload
// carries no format of its own, so whoever plays or stores it assumes exactly this.
constexpr int AUDIO_SAMPLE_RATE = 16000;
constexpr int AUDIO_CHANNELS = 1;
constexpr int AUDIO_BYTES_PER_SAMPLE = 2;
constexpr size_t AUDIO_BYTES_PER_SECOND = 32000;

}  // namespace orrin
