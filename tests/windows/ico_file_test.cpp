#include "ico_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/icon_art.h"

namespace {

uint32_t Read16(const std::vector<uint8_t>& b, size_t at) { return b.at(at) | b.at(at + 1) << 8; }
uint32_t Read32(const std::vector<uint8_t>& b, size_t at) { return Read16(b, at) | Read16(b, at + 2) << 16; }

// A picture whose every pixel differs, so a flipped, mirrored or swapped layout shows.
orrin::IcoImage Gradient(int size) {
  orrin::IcoImage image{size, {}};
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      image.rgba.push_back(static_cast<uint8_t>(x));
      image.rgba.push_back(static_cast<uint8_t>(y));
      image.rgba.push_back(static_cast<uint8_t>(x + y));
      image.rgba.push_back(x < y ? 0 : 255);  // the lower left triangle is transparent
    }
  }
  return image;
}

TEST(IcoFileTest, DirectoryDescribesEveryPictureWhereItLies) {
  const std::vector<uint8_t> ico = orrin::EncodeIco({Gradient(16), Gradient(40), Gradient(256)});
  ASSERT_FALSE(ico.empty());
  EXPECT_EQ(Read16(ico, 0), 0u);
  EXPECT_EQ(Read16(ico, 2), 1u);
  ASSERT_EQ(Read16(ico, 4), 3u);
  size_t expected_offset = 6 + 3 * 16;
  const int sizes[] = {16, 40, 256};
  for (size_t i = 0; i < 3; ++i) {
    const size_t entry = 6 + i * 16;
    const uint32_t n = static_cast<uint32_t>(sizes[i]);
    EXPECT_EQ(ico[entry], n == 256 ? 0 : n);
    EXPECT_EQ(ico[entry + 1], n == 256 ? 0 : n);
    EXPECT_EQ(Read16(ico, entry + 4), 1u);
    EXPECT_EQ(Read16(ico, entry + 6), 32u);
    const uint32_t bytes = Read32(ico, entry + 8);
    const uint32_t mask_row = (n + 31) / 32 * 4;  // 4 bytes for 16, 8 for 40
    EXPECT_EQ(bytes, 40 + n * n * 4 + mask_row * n);
    EXPECT_EQ(Read32(ico, entry + 12), expected_offset);
    // Each picture's own header: twice the height (colour and mask), 32 bits, uncompressed.
    EXPECT_EQ(Read32(ico, expected_offset), 40u);
    EXPECT_EQ(Read32(ico, expected_offset + 4), n);
    EXPECT_EQ(Read32(ico, expected_offset + 8), 2 * n);
    EXPECT_EQ(Read16(ico, expected_offset + 14), 32u);
    EXPECT_EQ(Read32(ico, expected_offset + 16), 0u);
    expected_offset += bytes;
  }
  EXPECT_EQ(ico.size(), expected_offset);
}

TEST(IcoFileTest, PixelsAreStoredBottomUpAsBgraWithAMatchingMask) {
  const int n = 40;
  const orrin::IcoImage image = Gradient(n);
  const std::vector<uint8_t> ico = orrin::EncodeIco({image});
  ASSERT_FALSE(ico.empty());
  const size_t pixels = 6 + 16 + 40;
  const size_t mask = pixels + n * n * 4;
  const size_t mask_row = 8;
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      const size_t stored = pixels + (static_cast<size_t>(n - 1 - y) * n + x) * 4;
      const uint8_t* want = &image.rgba[(static_cast<size_t>(y) * n + x) * 4];
      ASSERT_EQ(ico[stored], want[2]) << x << "," << y;
      ASSERT_EQ(ico[stored + 1], want[1]) << x << "," << y;
      ASSERT_EQ(ico[stored + 2], want[0]) << x << "," << y;
      ASSERT_EQ(ico[stored + 3], want[3]) << x << "," << y;
      const bool masked = ico[mask + (n - 1 - y) * mask_row + x / 8] & (0x80 >> (x % 8));
      ASSERT_EQ(masked, x < y) << x << "," << y;
    }
  }
  // The padding past the 40th pixel of each mask row stays clear.
  for (int row = 0; row < n; ++row) {
    EXPECT_EQ(ico[mask + row * mask_row + 5], 0);
    EXPECT_EQ(ico[mask + row * mask_row + 7], 0);
  }
}

TEST(IcoFileTest, ThePictureIsTheWindowIcons) {
  const std::vector<uint8_t> rgba = orrin::RenderIconRgba(32);
  const std::vector<uint8_t> ico = orrin::EncodeIco({{32, rgba}});
  ASSERT_EQ(ico.size(), 6 + 16 + 40 + 32 * 32 * 4 + 4 * 32u);
  // Top left pixel of the picture: the last stored row.
  const size_t top_left = 6 + 16 + 40 + 31 * 32 * 4;
  EXPECT_EQ(ico[top_left + 2], rgba[0]);
  EXPECT_EQ(ico[top_left + 3], rgba[3]);
}

TEST(IcoFileTest, RefusesPicturesItCannotStore) {
  EXPECT_TRUE(orrin::EncodeIco({}).empty());
  EXPECT_TRUE(orrin::EncodeIco({{0, {}}}).empty());
  EXPECT_TRUE(orrin::EncodeIco({{257, std::vector<uint8_t>(257 * 257 * 4)}}).empty());
  EXPECT_TRUE(orrin::EncodeIco({{-4, {}}}).empty());
  // Fewer pixels than the size says must not be read past their end.
  EXPECT_TRUE(orrin::EncodeIco({{16, std::vector<uint8_t>(16 * 16 * 4 - 1)}}).empty());
  EXPECT_TRUE(orrin::EncodeIco({Gradient(16), {16, std::vector<uint8_t>(16 * 15 * 4)}}).empty());
}

}  // namespace
