#include "support/log_escape.h"

#include <cstdint>

#include "support/utf8.h"

namespace orrin {
namespace {

void AppendHexByte(std::string& out, uint8_t byte) {
  static const char digits[] = "0123456789ABCDEF";
  out += "\\x";
  out.push_back(digits[byte >> 4]);
  out.push_back(digits[byte & 0x0F]);
}

void AppendAscii(std::string& out, uint8_t byte) {
  switch (byte) {
    case '\r':
      out += "\\r";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\\':
      out += "\\\\";
      return;
    default:
      break;
  }
  if (byte < 0x20 || byte == 0x7F) {
    AppendHexByte(out, byte);
  } else {
    out.push_back(static_cast<char>(byte));
  }
}

}  // namespace

std::string EscapeForLog(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const uint8_t lead = static_cast<uint8_t>(bytes[i]);
    if (lead < 0x80) {
      AppendAscii(out, lead);
      ++i;
      continue;
    }
    const int n = Utf8SequenceLength(bytes, i);
    // U+0080 to U+009F are C2 80 to C2 9F: terminals act on them as on ESC sequences.
    const bool c1 = n == 2 && lead == 0xC2 && static_cast<uint8_t>(bytes[i + 1]) <= 0x9F;
    if (n > 0 && !c1) {
      out.append(bytes.substr(i, static_cast<size_t>(n)));
      i += static_cast<size_t>(n);
      continue;
    }
    const size_t count = n > 0 ? static_cast<size_t>(n) : static_cast<size_t>(-n);
    for (size_t k = 0; k < count; ++k) AppendHexByte(out, static_cast<uint8_t>(bytes[i + k]));
    i += count;
  }
  return out;
}

std::string EscapeForLogCut(std::string_view bytes, size_t maxBytes) {
  if (bytes.size() <= maxBytes) return EscapeForLog(bytes);
  return EscapeForLog(bytes.substr(0, maxBytes)) + "...";
}

}  // namespace orrin
