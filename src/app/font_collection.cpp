#include "app/font_collection.h"

#include <algorithm>
#include <optional>

namespace orrin {
namespace {

// Big-endian reads that fail, rather than read past the end, on a short or broken file.
struct Reader {
  std::span<const uint8_t> bytes;

  std::optional<uint32_t> U16(size_t at) const {
    if (at > bytes.size() || bytes.size() - at < 2) return std::nullopt;
    return static_cast<uint32_t>(bytes[at] << 8 | bytes[at + 1]);
  }
  std::optional<uint32_t> U32(size_t at) const {
    if (at > bytes.size() || bytes.size() - at < 4) return std::nullopt;
    return static_cast<uint32_t>(bytes[at]) << 24 | static_cast<uint32_t>(bytes[at + 1]) << 16 |
           static_cast<uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
  }
};

constexpr uint32_t Tag(const char (&text)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 8 | static_cast<uint8_t>(text[3]);
}

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | c >> 6));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | c >> 12));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | c >> 18));
    out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// A name record's text in UTF-8: UTF-16BE for the Unicode and Windows platforms, bytes
// taken as they are (ASCII for the names that matter) for the Macintosh one.
std::string NameText(std::span<const uint8_t> text, uint32_t platform) {
  std::string out;
  if (platform == 1) {
    out.assign(text.begin(), text.end());
    return out;
  }
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    uint32_t unit = static_cast<uint32_t>(text[i] << 8 | text[i + 1]);
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < text.size()) {
      const uint32_t low = static_cast<uint32_t>(text[i + 2] << 8 | text[i + 3]);
      if (low >= 0xDC00 && low < 0xE000) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(out, unit);
  }
  return out;
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

// Whether the face whose table directory starts at `face` carries `name` as its family
// (1), full (4) or typographic family (16) name.
bool FaceHasName(const Reader& file, size_t face, const std::string& name) {
  const auto tables = file.U16(face + 4);
  if (!tables) return false;
  for (uint32_t t = 0; t < *tables; ++t) {
    const size_t record = face + 12 + 16 * static_cast<size_t>(t);
    const auto tag = file.U32(record);
    const auto offset = file.U32(record + 8);
    const auto length = file.U32(record + 12);
    if (!tag || !offset || !length) return false;
    if (*tag != Tag("name")) continue;
    if (*offset > file.bytes.size() || file.bytes.size() - *offset < *length) return false;
    const Reader table{file.bytes.subspan(*offset, *length)};
    const auto count = table.U16(2);
    const auto strings = table.U16(4);
    if (!count || !strings) return false;
    for (uint32_t n = 0; n < *count; ++n) {
      const size_t entry = 6 + 12 * static_cast<size_t>(n);
      const auto platform = table.U16(entry);
      const auto nameId = table.U16(entry + 6);
      const auto size = table.U16(entry + 8);
      const auto at = table.U16(entry + 10);
      if (!platform || !nameId || !size || !at) return false;
      if (*nameId != 1 && *nameId != 4 && *nameId != 16) continue;
      if (*platform != 0 && *platform != 1 && *platform != 3) continue;
      const size_t start = static_cast<size_t>(*strings) + *at;
      if (start > table.bytes.size() || table.bytes.size() - start < *size) continue;
      if (SameName(NameText(table.bytes.subspan(start, *size), *platform), name)) return true;
    }
    return false;
  }
  return false;
}

}  // namespace

int CollectionFaceIndex(std::span<const uint8_t> collection, const std::string& name) {
  const Reader file{collection};
  const auto tag = file.U32(0);
  const auto faces = file.U32(8);
  if (!tag || *tag != Tag("ttcf") || !faces) return -1;
  for (uint32_t i = 0; i < *faces && i < 0x10000; ++i) {
    const auto offset = file.U32(12 + 4 * static_cast<size_t>(i));
    if (!offset) return -1;
    if (FaceHasName(file, *offset, name)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace orrin
