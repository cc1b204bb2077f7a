#include "support/utf8.h"

#include <cstdint>

namespace orrin {
namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";

}  // namespace

int Utf8SequenceLength(std::string_view text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  uint8_t lead = byte(i);
  if (lead < 0x80) return 1;
  int need;
  uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the first continuation byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) lo = 0xA0;   // no overlong forms
    if (lead == 0xED) hi = 0x9F;   // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) lo = 0x90;   // no overlong forms
    if (lead == 0xF4) hi = 0x8F;   // nothing past U+10FFFF
  } else {
    return -1;
  }
  for (int k = 1; k <= need; ++k) {
    if (i + k >= text.size()) return -k;
    uint8_t c = byte(i + k);
    uint8_t min = k == 1 ? lo : 0x80;
    uint8_t max = k == 1 ? hi : 0xBF;
    if (c < min || c > max) return -k;
  }
  return need + 1;
}

std::string SanitizeUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    int n = Utf8SequenceLength(text, i);
    if (n > 0) {
      out.append(text.substr(i, static_cast<size_t>(n)));
      i += static_cast<size_t>(n);
    } else {
      out.append(REPLACEMENT);
      i += static_cast<size_t>(-n);
    }
  }
  return out;
}

}  // namespace orrin
