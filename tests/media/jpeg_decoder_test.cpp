#include "media/jpeg_decoder.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>
#include <fstream>
#include <string>
#include <thread>

#include "jpeg_maker.h"
#include "test_support/log_capture.h"

namespace orrin {
namespace {

using test::CompressJpeg;
using test::LogCapture;
using test::MakeTestImage;
using test::RgbImage;

// The picture's colour at (x, y) as RGB, whatever its layout; I420 is turned back to RGB
// with JPEG's full-range equations, the way the window's texture shows it.
std::array<int, 3> RgbAt(const Picture& picture, int x, int y) {
  if (picture.format == PixelFormat::RGB24) {
    const uint8_t* p = picture.Plane(0) + static_cast<size_t>(y) * picture.pitch[0] + x * 3;
    return {p[0], p[1], p[2]};
  }
  double luma = picture.Plane(0)[static_cast<size_t>(y) * picture.pitch[0] + x];
  double u = picture.Plane(1)[static_cast<size_t>(y / 2) * picture.pitch[1] + x / 2] - 128.0;
  double v = picture.Plane(2)[static_cast<size_t>(y / 2) * picture.pitch[2] + x / 2] - 128.0;
  auto clamp = [](double c) { return static_cast<int>(std::clamp(std::lround(c), 0L, 255L)); };
  return {clamp(luma + 1.402 * v), clamp(luma - 0.344136 * u - 0.714136 * v), clamp(luma + 1.772 * u)};
}

struct DecodeCase {
  int subsampling;
  int width;
  int height;
  PixelFormat format;
};

class DecodeRealPicture : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeRealPicture, SizeLayoutAndPixelsMatchTheSource) {
  const DecodeCase c = GetParam();
  RgbImage source = MakeTestImage(c.width, c.height, 7);
  ByteBuffer jpeg = CompressJpeg(source, c.subsampling, 92);
  LogCapture log;

  std::unique_ptr<Picture> picture = CreateBitmapFromJPEG(jpeg);

  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->width, c.width);
  EXPECT_EQ(picture->height, c.height);
  ASSERT_EQ(picture->format, c.format);
  if (c.format == PixelFormat::I420) {
    // Rows may be padded (TurboJPEG rounds a 4:2:0 luma plane up to even sizes); planes
    // must not overlap and must fit in the buffer.
    size_t chromaWidth = (c.width + 1) / 2, chromaHeight = (c.height + 1) / 2;
    EXPECT_GE(picture->pitch[0], c.width);
    EXPECT_GE(static_cast<size_t>(picture->pitch[1]), chromaWidth);
    EXPECT_EQ(picture->pitch[2], picture->pitch[1]);
    EXPECT_EQ(picture->planeOffset[0], 0u);
    EXPECT_GE(picture->planeOffset[1], static_cast<size_t>(picture->pitch[0]) * c.height);
    EXPECT_GE(picture->planeOffset[2], picture->planeOffset[1] + picture->pitch[1] * chromaHeight);
    EXPECT_GE(picture->data.size(), picture->planeOffset[2] + picture->pitch[2] * chromaHeight);
  } else {
    EXPECT_GE(picture->pitch[0], c.width * 3);
    EXPECT_GE(picture->data.size(), static_cast<size_t>(picture->pitch[0]) * c.height);
  }

  const bool grey = c.subsampling == TJSAMP_GRAY;
  double totalError = 0;
  int worst = 0;
  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) {
      auto got = RgbAt(*picture, x, y);
      const uint8_t* want = source.At(x, y);
      for (int k = 0; k < 3; ++k) {
        int expected = grey ? test::Luma(want) : want[k];
        int error = std::abs(got[static_cast<size_t>(k)] - expected);
        totalError += error;
        worst = std::max(worst, error);
      }
    }
  }
  double meanError = totalError / (3.0 * c.width * c.height);
  EXPECT_LT(meanError, 6.0) << "worst " << worst;
  // The hard-edged blocks land where they were drawn, in their colour.
  auto red = RgbAt(*picture, c.width * 22 / 100, c.height * 22 / 100);
  auto blue = RgbAt(*picture, c.width * 75 / 100, c.height * 75 / 100);
  if (!grey) {
    EXPECT_GT(red[0], 180);
    EXPECT_LT(red[2], 90);
    EXPECT_GT(blue[2], 170);
    EXPECT_LT(blue[0], 70);
  }

  // A picture that decodes writes nothing here: its progress line is the cast session's.
  EXPECT_TRUE(log.Lines().empty());
}

std::string CaseName(const ::testing::TestParamInfo<DecodeCase>& info) {
  static const std::array<std::string, 6> names = {"s444", "s422", "s420", "grey", "s440", "s411"};
  return names.at(static_cast<size_t>(info.param.subsampling)) + "_" + std::to_string(info.param.width) +
         "x" + std::to_string(info.param.height);
}

INSTANTIATE_TEST_SUITE_P(
    Subsamplings, DecodeRealPicture,
    ::testing::Values(DecodeCase{TJSAMP_420, 640, 480, PixelFormat::I420},
                      DecodeCase{TJSAMP_420, 101, 77, PixelFormat::I420},  // odd: chroma rounds up
                      DecodeCase{TJSAMP_444, 320, 240, PixelFormat::RGB24},
                      DecodeCase{TJSAMP_444, 99, 51, PixelFormat::RGB24},
                      DecodeCase{TJSAMP_422, 130, 90, PixelFormat::RGB24},
                      DecodeCase{TJSAMP_GRAY, 64, 33, PixelFormat::RGB24}),
    CaseName);

struct RejectCase {
  ByteBuffer data;
  std::string line;
};

TEST(DecodeRejects, TooSmallAndForeignDataWithTheirLines) {
  const RejectCase cases[] = {
      {{}, "JPEG data too small: 0 bytes"},
      {ByteBuffer(9, 0xFF), "JPEG data too small: 9 bytes"},
      {{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0x0D}, "Invalid JPEG header: 137 80"},
      {{0xFF, 0xD9, 0, 0, 0, 0, 0, 0, 0, 0}, "Invalid JPEG header: 255 217"},
  };
  for (const RejectCase& c : cases) {
    LogCapture log;
    EXPECT_EQ(CreateBitmapFromJPEG(c.data), nullptr) << c.line;
    ASSERT_EQ(log.Lines().size(), 1u) << c.line;
    EXPECT_TRUE(log.Lines()[0].isError);
    EXPECT_EQ(log.Lines()[0].text, c.line);
  }
}

// One of the two status lines, with a non-zero number right after the prefix.
void ExpectOneStatusLine(const LogCapture& log) {
  auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].isError);
  const std::string& text = lines[0].text;
  std::string number;
  for (const std::string prefix : {"Bitmap creation failed with status: ", "Failed to convert to HBITMAP, status: "}) {
    if (text.rfind(prefix, 0) == 0) number = text.substr(prefix.size(), text.find(' ', prefix.size()) - prefix.size());
  }
  ASSERT_FALSE(number.empty()) << text;
  EXPECT_NE(std::stoi(number), 0) << text;
}

TEST(DecodeRejects, BrokenJpegDataGivesAStatusLine) {
  ByteBuffer startOnly = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0, 0, 0, 0, 0};
  ByteBuffer zeros = {0xFF, 0xD8, 0, 0, 0, 0, 0, 0, 0, 0};
  ByteBuffer whole = CompressJpeg(MakeTestImage(96, 64, 3), TJSAMP_420, 85);
  // Cut inside the picture data: a decoder would fill the rest with grey, which must not
  // replace a good picture on screen.
  ByteBuffer truncated(whole.begin(), whole.begin() + static_cast<long>(whole.size() * 2 / 3));
  ByteBuffer truncated444(CompressJpeg(MakeTestImage(96, 64, 3), TJSAMP_444, 85));
  truncated444.resize(truncated444.size() * 2 / 3);
  for (const ByteBuffer* data : {&startOnly, &zeros, &truncated, &truncated444}) {
    LogCapture log;
    EXPECT_EQ(CreateBitmapFromJPEG(*data), nullptr);
    ExpectOneStatusLine(log);
  }
  // A failure leaves the thread's decoder fit for the next picture.
  LogCapture log;
  EXPECT_NE(CreateBitmapFromJPEG(whole), nullptr);
}

// A file whose headers are refused must not spoil the thread's decoder: the sender's
// next, sound picture decodes. Each kind of header fault stops TurboJPEG at another point.
TEST(DecodeRejects, HeaderFaultLeavesTheDecoderFitForTheNextPicture) {
  ByteBuffer sound = CompressJpeg(MakeTestImage(64, 48, 4), TJSAMP_420, 85);
  ByteBuffer notJpeg = {0xFF, 0xD8, 0, 0, 0, 0, 0, 0, 0, 0};
  ByteBuffer startOnly = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0, 0, 0, 0, 0};
  ByteBuffer bogusTable = sound;
  for (size_t i = 2; i + 5 < bogusTable.size(); ++i) {
    if (bogusTable[i] == 0xFF && bogusTable[i + 1] == 0xC4) {
      bogusTable[i + 5] = 0xFF;  // the count of 1-bit codes: far more codes than exist
      break;
    }
  }
  ByteBuffer cutInHeader(sound.begin(), sound.begin() + 100);
  // Found by fuzzing: ten bytes, a quantisation table with index 9.
  ByteBuffer badTableIndex = {0xFF, 0xD8, 0xE0, 0x0B, 0x0B, 0x26, 0x96, 0xFF, 0xDB, 0x00};
  for (const ByteBuffer* bad : {&notJpeg, &startOnly, &bogusTable, &cutInHeader, &badTableIndex}) {
    LogCapture log;
    EXPECT_EQ(CreateBitmapFromJPEG(*bad), nullptr);
    ExpectOneStatusLine(log);
    log.Clear();
    auto picture = CreateBitmapFromJPEG(sound);
    ASSERT_NE(picture, nullptr) << (log.Lines().empty() ? "" : log.Lines()[0].text);
    EXPECT_EQ(picture->width, 64);
  }
}

// Rewrites the size in the baseline frame header (SOF0) of a real JPEG.
ByteBuffer WithAnnouncedSize(ByteBuffer jpeg, int width, int height) {
  for (size_t i = 2; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = static_cast<uint8_t>(height >> 8);
      jpeg[i + 6] = static_cast<uint8_t>(height & 0xFF);
      jpeg[i + 7] = static_cast<uint8_t>(width >> 8);
      jpeg[i + 8] = static_cast<uint8_t>(width & 0xFF);
      return jpeg;
    }
  }
  ADD_FAILURE() << "no SOF0 marker";
  return jpeg;
}

long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

TEST(DecodeLimits, HugeAnnouncedPictureIsRefusedBeforeAllocating) {
  ByteBuffer small = CompressJpeg(MakeTestImage(64, 48, 5), TJSAMP_420, 85);
  ByteBuffer huge = WithAnnouncedSize(small, 60000, 60000);
  long peakBefore = PeakResidentKiB();
  ASSERT_GT(peakBefore, 0);
  LogCapture log;

  EXPECT_EQ(CreateBitmapFromJPEG(huge), nullptr);

  // 60000 x 60000 I420 would be 5.4 GB; allow the test's own noise only.
  EXPECT_LT(PeakResidentKiB() - peakBefore, 16 * 1024);
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_TRUE(log.Lines()[0].isError);
  EXPECT_EQ(log.Lines()[0].text, "JPEG too large: 60000x60000");

  log.Clear();
  EXPECT_EQ(CreateBitmapFromJPEG(WithAnnouncedSize(small, 8193, 16)), nullptr);
  EXPECT_EQ(log.Count("JPEG too large: 8193x16"), 1);
  // At the side limit the header passes; the short data then fails to decode.
  log.Clear();
  EXPECT_EQ(CreateBitmapFromJPEG(WithAnnouncedSize(small, 8192, 16)), nullptr);
  EXPECT_EQ(log.Count("JPEG too large"), 0);
  ExpectOneStatusLine(log);
}

TEST(DecodeLimits, SideAndPixelCountBoundaries) {
  EXPECT_TRUE(JpegSizeAllowed(8192, 4882));   // 39,993,344 pixels
  EXPECT_TRUE(JpegSizeAllowed(6400, 6250));   // exactly 40 megapixels
  EXPECT_FALSE(JpegSizeAllowed(6401, 6250));
  EXPECT_FALSE(JpegSizeAllowed(8192, 4883));  // 40,001,536
  EXPECT_FALSE(JpegSizeAllowed(8193, 1));
  EXPECT_FALSE(JpegSizeAllowed(1, 8193));
  EXPECT_TRUE(JpegSizeAllowed(1, 1));
  EXPECT_FALSE(JpegSizeAllowed(0, 10));
}

TEST(DecodeLimits, ProgressiveFileWithHundredsOfScansIsRefused) {
  ByteBuffer jpeg = test::CompressWithManyScans(MakeTestImage(64, 48, 9));
  // The file is sound: without a scan limit TurboJPEG decodes it.
  tjhandle handle = tjInitDecompress();
  std::vector<uint8_t> grey(64 * 48);
  EXPECT_EQ(tjDecompress2(handle, jpeg.data(), jpeg.size(), grey.data(), 64, 0, 48, TJPF_GRAY, 0), 0)
      << tjGetErrorStr2(handle);
  tjDestroy(handle);

  LogCapture log;
  EXPECT_EQ(CreateBitmapFromJPEG(jpeg), nullptr);
  ExpectOneStatusLine(log);
}

TEST(DecodeThreads, EachThreadDecodesWithItsOwnDecoder) {
  ByteBuffer a = CompressJpeg(MakeTestImage(200, 120, 1), TJSAMP_420, 85);
  ByteBuffer b = CompressJpeg(MakeTestImage(120, 200, 2), TJSAMP_444, 85);
  LogCapture log;
  auto decodeMany = [](const ByteBuffer& jpeg, int width, int* ok) {
    for (int i = 0; i < 40; ++i) {
      auto picture = CreateBitmapFromJPEG(jpeg);
      if (picture != nullptr && picture->width == width) ++*ok;
    }
  };
  int okA = 0, okB = 0;
  std::thread other(decodeMany, std::cref(b), 120, &okB);
  decodeMany(a, 200, &okA);
  other.join();
  EXPECT_EQ(okA, 40);
  EXPECT_EQ(okB, 40);
}

}  // namespace
}  // namespace orrin
