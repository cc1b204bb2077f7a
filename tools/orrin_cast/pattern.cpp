#include "pattern.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>

namespace orrin::cast {
namespace {

// 3x5 digit shapes, one row per 3 bits.
constexpr uint8_t DIGITS[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

}  // namespace

// TurboJPEG reads 4:2:0 planes padded to whole chroma samples: the Y plane of a 321x241
// picture is 322x242. The drawing covers only the picture; the padding stays mid-grey.
PatternEncoder::PatternEncoder(int width, int height, int quality, std::optional<uint32_t> solid)
    : width_(width),
      height_(height),
      quality_(quality),
      yPitch_(tjPlaneWidth(0, width, TJSAMP_420)),
      cPitch_(tjPlaneWidth(1, width, TJSAMP_420)),
      y_(static_cast<size_t>(yPitch_) * tjPlaneHeight(0, height, TJSAMP_420), 128),
      u_(static_cast<size_t>(cPitch_) * tjPlaneHeight(1, height, TJSAMP_420), 128),
      v_(u_.size(), 128),
      compressor_(tjInitCompress()),
      solid_(solid) {}

PatternEncoder::~PatternEncoder() {
  if (compressor_ != nullptr) tjDestroy(compressor_);
}

void PatternEncoder::Fill(uint32_t rgb) {
  // JPEG's full-range BT.601 colours.
  const double r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  auto clamp = [](double value) { return static_cast<uint8_t>(std::clamp(value + 0.5, 0.0, 255.0)); };
  std::fill(y_.begin(), y_.end(), clamp(0.299 * r + 0.587 * g + 0.114 * b));
  std::fill(u_.begin(), u_.end(), clamp(128 - 0.168736 * r - 0.331264 * g + 0.5 * b));
  std::fill(v_.begin(), v_.end(), clamp(128 + 0.5 * r - 0.418688 * g - 0.081312 * b));
}

void PatternEncoder::Draw(long index) {
  if (solid_) {
    Fill(*solid_);
    return;
  }
  const int cw = cPitch_, ch = static_cast<int>(u_.size() / static_cast<size_t>(cPitch_));
  const int shift = static_cast<int>(index * 4);
  for (int y = 0; y < height_; ++y) {
    uint8_t* row = y_.data() + static_cast<size_t>(y) * yPitch_;
    for (int x = 0; x < width_; ++x) {
      // Diagonal bands plus a little pixel-level texture so the JPEG has real detail.
      int value = ((x + y + shift) & 255) / 2 + 40 + (((x * 7) ^ (y * 13)) & 15);
      row[x] = static_cast<uint8_t>(std::min(value, 235));
    }
  }
  for (int y = 0; y < ch; ++y) {
    for (int x = 0; x < cw; ++x) {
      size_t i = static_cast<size_t>(y) * cw + x;
      u_[i] = static_cast<uint8_t>(64 + ((x * 128 / cw + shift / 2) & 127));
      v_[i] = static_cast<uint8_t>(64 + ((y * 128 / ch + shift / 3) & 127));
    }
  }
  // A white bar sweeping from left to right, once every 2 seconds at 30 fps.
  int barWidth = std::max(4, width_ / 40);
  int barX = static_cast<int>((index % 60) * (width_ - barWidth) / 59);
  for (int y = 0; y < height_; ++y) std::memset(y_.data() + static_cast<size_t>(y) * yPitch_ + barX, 235, barWidth);

  // The frame number, black on white, at the top left.
  std::string digits = std::to_string(index);
  int scale = std::max(4, std::min(width_, height_) / 40);
  int boxW = static_cast<int>(digits.size()) * 4 * scale + scale;
  int boxH = 7 * scale;
  for (int y = 0; y < std::min(boxH, height_); ++y)
    std::memset(y_.data() + static_cast<size_t>(y) * yPitch_, 235, std::min(boxW, width_));
  for (size_t d = 0; d < digits.size(); ++d) {
    const uint8_t* shape = DIGITS[digits[d] - '0'];
    for (int r = 0; r < 5; ++r) {
      for (int c = 0; c < 3; ++c) {
        if (!(shape[r] & (4 >> c))) continue;
        int x0 = scale + static_cast<int>(d) * 4 * scale + c * scale, y0 = scale + r * scale;
        for (int y = y0; y < std::min(y0 + scale, height_); ++y)
          for (int x = x0; x < std::min(x0 + scale, width_); ++x) y_[static_cast<size_t>(y) * yPitch_ + x] = 16;
      }
    }
  }
}

ByteBuffer PatternEncoder::Encode(long index, std::string& error) {
  if (compressor_ == nullptr) {
    error = "TurboJPEG compressor could not be created";
    return {};
  }
  Draw(index);
  const unsigned char* planes[3] = {y_.data(), u_.data(), v_.data()};
  int strides[3] = {yPitch_, cPitch_, cPitch_};
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  if (tjCompressFromYUVPlanes(compressor_, planes, width_, strides, height_, TJSAMP_420, &jpeg, &size, quality_,
                              0) != 0) {
    error = std::string("JPEG encoding failed: ") + tjGetErrorStr2(compressor_);
    if (jpeg != nullptr) tjFree(jpeg);
    return {};
  }
  ByteBuffer out(jpeg, jpeg + size);
  tjFree(jpeg);
  return out;
}

}  // namespace orrin::cast
