#include "wav.h"

#include <cstdint>
#include <cstring>

namespace orrin::cast {
namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

constexpr uint16_t FORMAT_PCM = 1;
constexpr uint16_t FORMAT_EXTENSIBLE = 0xFFFE;

}  // namespace

WavResult ParseWav(const ByteBuffer& file) {
  WavResult result;
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 || std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
    result.error = "not a WAV file (no RIFF/WAVE header)";
    return result;
  }
  bool haveFormat = false;
  size_t pos = 12;
  while (pos + 8 <= file.size()) {
    const uint8_t* chunk = file.data() + pos;
    uint32_t size = Le32(chunk + 4);
    size_t bodyStart = pos + 8;
    size_t available = file.size() - bodyStart;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16 || available < 16) {
        result.error = "WAV format chunk is too short";
        return result;
      }
      const uint8_t* f = chunk + 8;
      uint16_t format = Le16(f);
      uint16_t channels = Le16(f + 2);
      uint32_t rate = Le32(f + 4);
      uint16_t bits = Le16(f + 14);
      if (format == FORMAT_EXTENSIBLE && size >= 40 && available >= 40) format = Le16(f + 24);
      if (format != FORMAT_PCM || channels != 1 || rate != 16000 || bits != 16) {
        result.error = "WAV must be 16000 Hz mono 16-bit PCM, this one is " +
                       (format == FORMAT_PCM ? std::string("PCM") : "format " + std::to_string(format)) + ", " +
                       std::to_string(rate) + " Hz, " + std::to_string(channels) + " channel(s), " +
                       std::to_string(bits) + "-bit";
        return result;
      }
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) {
        result.error = "WAV data comes before its format chunk";
        return result;
      }
      size_t take = std::min<size_t>(size, available) & ~size_t{1};  // whole samples only
      result.samples.assign(file.begin() + static_cast<long>(bodyStart),
                            file.begin() + static_cast<long>(bodyStart + take));
      return result;
    }
    pos = bodyStart + size + (size & 1);  // chunks are padded to even sizes
    if (pos < bodyStart) break;           // size overflowed
  }
  result.error = haveFormat ? "WAV file has no data chunk" : "WAV file has no format chunk";
  return result;
}

}  // namespace orrin::cast
