#include "net/websocket/cast_message.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "test_support/log_capture.h"
#include "ws_test_support.h"

namespace orrin {
namespace {

using test::CastMessage;
using test::Pattern;

struct Dispatch {
  test::LogCapture log;
  std::vector<ByteBuffer> video, audio;
  CastMessageNotes notes;
  void operator()(const ByteBuffer& message, bool withAudio = true) {
    DispatchCastMessage(
        notes, message, [this](const ByteBuffer& b) { video.push_back(b); },
        withAudio ? FrameCallback([this](const ByteBuffer& b) { audio.push_back(b); }) : FrameCallback());
  }
};

TEST(CastMessage, TooSmallIsOneErrorLineAndNothingElse) {
  Dispatch d;
  d({0, 0, 0, 1});
  auto lines = d.log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].isError);
  EXPECT_EQ(lines[0].text, "Frame data too small: 4 bytes");
  EXPECT_TRUE(d.video.empty());
}

TEST(CastMessage, VideoContentIsHandedOnWithoutItsHeader) {
  Dispatch d;
  ByteBuffer content = Pattern(995);
  d(CastMessage(0, 256, content));
  ASSERT_EQ(d.video.size(), 1u);
  EXPECT_EQ(d.video[0], content);
  EXPECT_TRUE(d.log.Contains("Processing frame: type=0, timestamp=256, data_size=995"));
  EXPECT_TRUE(d.log.Contains("Calling video frame callback with 995 bytes"));

  d(CastMessage(0, 0xFFFFFFFF, {}));  // header only: logged, not handed on
  EXPECT_TRUE(d.log.Contains("Processing frame: type=0, timestamp=4294967295, data_size=0"));
  EXPECT_EQ(d.video.size(), 1u);
}

TEST(CastMessage, AudioConfigAndStatus) {
  Dispatch d;
  d(CastMessage(1, 5, {1, 2, 3}));
  ASSERT_EQ(d.audio.size(), 1u);
  EXPECT_EQ(d.audio[0], (ByteBuffer{1, 2, 3}));
  EXPECT_FALSE(d.log.Contains("收到音频帧"));
  d(CastMessage(1, 5, {1, 2, 3}), /*withAudio=*/false);
  EXPECT_TRUE(d.log.Contains("收到音频帧，大小: 3"));
  d(CastMessage(2, 0, Pattern(7)));
  d(CastMessage(3, 0, {}));
  EXPECT_TRUE(d.log.Contains("收到配置帧，大小: 7"));
  EXPECT_TRUE(d.log.Contains("收到状态帧，大小: 0"));
  EXPECT_EQ(d.video.size(), 0u);
}

TEST(CastMessage, UnknownTypesAreDumpedInHex) {
  Dispatch d;
  d({0x07, 0x00, 0x00, 0x00, 0x01});
  auto lines = d.log.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[1].isError);
  EXPECT_EQ(lines[1].text, "收到未知类型帧: 7, 数据大小: 5");
  EXPECT_FALSE(lines[2].isError);
  EXPECT_EQ(lines[2].text, "数据前5字节: 07 00 00 00 01 ");

  d.log.Clear();
  d.notes.unknownTypes.Reset();  // the next one would be thinned
  ByteBuffer big = CastMessage(200, 0xABCDEF12, Pattern(995));
  d(big);
  EXPECT_TRUE(d.log.Contains("收到未知类型帧: 200, 数据大小: 1000"));
  EXPECT_TRUE(d.log.Contains("数据前20字节: C8 AB CD EF 12 " + CastHexDump(Pattern(15))));
  EXPECT_EQ(CastHexDump(big).size(), 60u);
}

TEST(CastMessage, CallbackExceptionsPassThrough) {
  auto throwing = [](const ByteBuffer&) { throw std::runtime_error("decoder broke"); };
  CastMessageNotes notes;
  EXPECT_THROW(DispatchCastMessage(notes, CastMessage(0, 0, {1}), throwing, {}), std::runtime_error);
}

}  // namespace
}  // namespace orrin
