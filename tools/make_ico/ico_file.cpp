#include "ico_file.h"

#include <cstddef>

namespace orrin {

namespace {

constexpr size_t DIR_HEADER = 6;
constexpr size_t DIR_ENTRY = 16;
constexpr size_t BITMAP_HEADER = 40;

void Put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
  Put16(out, value & 0xffff);
  Put16(out, value >> 16);
}

// Mask rows are padded to whole 32-bit words.
size_t MaskRowBytes(int size) { return (static_cast<size_t>(size) + 31) / 32 * 4; }

size_t ImageBytes(int size) {
  const size_t n = static_cast<size_t>(size);
  return BITMAP_HEADER + n * n * 4 + MaskRowBytes(size) * n;
}

void PutImage(std::vector<uint8_t>& out, const IcoImage& image) {
  const int size = image.size;
  const size_t n = static_cast<size_t>(size);
  Put32(out, BITMAP_HEADER);
  Put32(out, static_cast<uint32_t>(size));
  Put32(out, static_cast<uint32_t>(size) * 2);  // the colour rows and the mask rows
  Put16(out, 1);                                // planes
  Put16(out, 32);                               // bits per pixel
  Put32(out, 0);                                // BI_RGB
  Put32(out, static_cast<uint32_t>(ImageBytes(size) - BITMAP_HEADER));
  for (int i = 0; i < 4; ++i) Put32(out, 0);  // resolution, palette
  // DIB rows run bottom to top, pixels as B, G, R, A.
  for (size_t row = n; row-- > 0;) {
    const uint8_t* p = &image.rgba[row * n * 4];
    for (size_t x = 0; x < n; ++x, p += 4) {
      out.push_back(p[2]);
      out.push_back(p[1]);
      out.push_back(p[0]);
      out.push_back(p[3]);
    }
  }
  for (size_t row = n; row-- > 0;) {
    std::vector<uint8_t> mask(MaskRowBytes(size), 0);
    for (size_t x = 0; x < n; ++x) {
      if (image.rgba[(row * n + x) * 4 + 3] < 128) mask[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    out.insert(out.end(), mask.begin(), mask.end());
  }
}

}  // namespace

std::vector<uint8_t> EncodeIco(const std::vector<IcoImage>& images) {
  if (images.empty() || images.size() > 0xffff) return {};
  for (const IcoImage& image : images) {
    if (image.size < 1 || image.size > 256) return {};
    if (image.rgba.size() != static_cast<size_t>(image.size) * static_cast<size_t>(image.size) * 4) return {};
  }
  std::vector<uint8_t> out;
  Put16(out, 0);  // reserved
  Put16(out, 1);  // an icon, not a cursor
  Put16(out, static_cast<uint32_t>(images.size()));
  size_t offset = DIR_HEADER + DIR_ENTRY * images.size();
  for (const IcoImage& image : images) {
    out.push_back(static_cast<uint8_t>(image.size == 256 ? 0 : image.size));  // 0 stands for 256
    out.push_back(static_cast<uint8_t>(image.size == 256 ? 0 : image.size));
    out.push_back(0);  // no palette
    out.push_back(0);
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, static_cast<uint32_t>(ImageBytes(image.size)));
    Put32(out, static_cast<uint32_t>(offset));
    offset += ImageBytes(image.size);
  }
  for (const IcoImage& image : images) PutImage(out, image);
  return out;
}

}  // namespace orrin
