#include "net/websocket/frame_parser.h"

#include <gtest/gtest.h>

#include "net/websocket/frame_writer.h"
#include "ws_test_support.h"

namespace orrin {
namespace {

using test::ClientFrame;
using test::Pattern;

std::vector<FrameEvent> ParseAll(const ByteBuffer& bytes, FrameParser& parser) {
  std::vector<FrameEvent> events;
  parser.Feed(bytes.data(), bytes.size(), [&](FrameEvent& e) { events.push_back(std::move(e)); });
  return events;
}

std::vector<FrameEvent> ParseAll(const ByteBuffer& bytes) {
  FrameParser parser;
  return ParseAll(bytes, parser);
}

ByteBuffer Join(std::initializer_list<ByteBuffer> parts) {
  ByteBuffer all;
  for (const ByteBuffer& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(FrameParser, ReadsEachLengthFormMaskedAndUnmasked) {
  for (size_t size : {0u, 1u, 125u, 126u, 1000u, 65535u, 65536u, 70000u}) {
    ByteBuffer payload = Pattern(size);
    for (bool masked : {false, true}) {
      ByteBuffer frame = masked ? ClientFrame(WS_OPCODE_BINARY, true, payload)
                                : EncodeFrame(WS_OPCODE_BINARY, true, payload);
      size_t expectedHeader = (size < 126 ? 2 : size < 65536 ? 4 : 10) + (masked ? 4 : 0);
      ASSERT_EQ(frame.size(), expectedHeader + size);
      auto events = ParseAll(frame);
      ASSERT_EQ(events.size(), 1u) << size;
      EXPECT_EQ(events[0].kind, FrameEventKind::Message);
      EXPECT_EQ(events[0].payload, payload) << "size " << size << " masked " << masked;
    }
  }
}

TEST(FrameParser, LimitIsExactlyFiveMebibytesAndCheckedBeforeThePayload) {
  ByteBuffer atLimit = Pattern(MAX_FRAME_PAYLOAD);
  auto events = ParseAll(ClientFrame(WS_OPCODE_BINARY, true, atLimit));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].payload.size(), 5242880u);

  // Only the header of an oversized frame is needed to refuse it.
  for (uint64_t announced : {5242881ull, 0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull}) {
    FrameParser parser;
    auto refused = ParseAll(EncodeFrameHeader(WS_OPCODE_BINARY, true, announced, std::array<uint8_t, 4>{}), parser);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].kind, FrameEventKind::TooLarge);
    EXPECT_EQ(refused[0].size, announced);
    EXPECT_TRUE(parser.Failed());
    EXPECT_TRUE(parser.Space().empty());
  }
  // Control frames obey the same limit.
  auto bigPing = ParseAll(EncodeFrameHeader(WS_OPCODE_PING, true, 5242881));
  ASSERT_EQ(bigPing.size(), 1u);
  EXPECT_EQ(bigPing[0].kind, FrameEventKind::TooLarge);
}

TEST(FrameParser, AnySplitGivesTheSameFrames) {
  ByteBuffer stream = Join({ClientFrame(WS_OPCODE_BINARY, true, Pattern(300)),
                            ClientFrame(WS_OPCODE_PING, true, {'a', 'b', 'c'}),
                            EncodeFrame(WS_OPCODE_BINARY, true, Pattern(70000))});
  // Cut at every byte of the first two frames (headers included) and in the third's header.
  for (size_t cut = 1; cut < 320 + 20; ++cut) {
    FrameParser parser;
    std::vector<FrameEvent> events;
    auto record = [&](FrameEvent& e) { events.push_back(std::move(e)); };
    parser.Feed(stream.data(), cut, record);
    parser.Feed(stream.data() + cut, stream.size() - cut, record);
    ASSERT_EQ(events.size(), 3u) << cut;
    EXPECT_EQ(events[0].payload, Pattern(300));
    EXPECT_EQ(events[1].kind, FrameEventKind::Ping);
    EXPECT_EQ(events[2].payload, Pattern(70000));
  }
}

TEST(FrameParser, SpaceNeverReachesIntoTheNextFrame) {
  FrameParser parser;
  EXPECT_EQ(parser.Space().size(), 2u);
  ByteBuffer frame = ClientFrame(WS_OPCODE_BINARY, true, Pattern(1000));  // 2 + 2 + 4 + 1000
  size_t at = 0;
  std::vector<size_t> steps;
  while (at < frame.size()) {
    auto space = parser.Space();
    steps.push_back(space.size());
    std::copy_n(frame.begin() + static_cast<long>(at), space.size(), space.begin());
    at += space.size();
    FrameEvent event = parser.Advance(space.size());
    if (at == frame.size()) {
      EXPECT_EQ(event.kind, FrameEventKind::Message);
    }
  }
  EXPECT_EQ(steps, (std::vector<size_t>{2, 2, 4, 1000}));
  EXPECT_EQ(parser.Step(), FrameStep::Header);
}

TEST(FrameParser, FragmentsAreReassembledWithControlFramesBetween) {
  ByteBuffer whole = Pattern(3000);
  ByteBuffer part1(whole.begin(), whole.begin() + 1000), part2(whole.begin() + 1000, whole.begin() + 2500),
      part3(whole.begin() + 2500, whole.end());
  auto events = ParseAll(Join({ClientFrame(WS_OPCODE_BINARY, false, part1),
                               ClientFrame(WS_OPCODE_PING, true, {'h', 'i'}),
                               ClientFrame(WS_OPCODE_CONTINUATION, false, part2),
                               ClientFrame(WS_OPCODE_CLOSE, true, {}),
                               ClientFrame(WS_OPCODE_CONTINUATION, true, part3)}));
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].kind, FrameEventKind::Ping);
  EXPECT_EQ(events[0].payload, (ByteBuffer{'h', 'i'}));
  EXPECT_EQ(events[1].kind, FrameEventKind::Close);
  EXPECT_EQ(events[2].kind, FrameEventKind::Message);
  EXPECT_EQ(events[2].payload, whole);
}

TEST(FrameParser, LimitCoversTheWholeFragmentedMessage) {
  const size_t half = MAX_FRAME_PAYLOAD / 2;
  auto fits = ParseAll(Join({ClientFrame(WS_OPCODE_BINARY, false, Pattern(half)),
                             ClientFrame(WS_OPCODE_CONTINUATION, true, Pattern(half))}));
  ASSERT_EQ(fits.size(), 1u);
  EXPECT_EQ(fits[0].payload.size(), MAX_FRAME_PAYLOAD);

  auto over = ParseAll(Join({ClientFrame(WS_OPCODE_BINARY, false, Pattern(half)),
                             EncodeFrameHeader(WS_OPCODE_CONTINUATION, true, half + 1)}));
  ASSERT_EQ(over.size(), 1u);
  EXPECT_EQ(over[0].kind, FrameEventKind::TooLarge);
  EXPECT_EQ(over[0].size, MAX_FRAME_PAYLOAD + 1);
}

TEST(FrameParser, TextStrayContinuationAndUnknownOpcodesAreIgnored) {
  auto events = ParseAll(Join({ClientFrame(WS_OPCODE_CONTINUATION, true, Pattern(10)),  // continues nothing
                               ClientFrame(WS_OPCODE_TEXT, false, {'a'}),
                               ClientFrame(WS_OPCODE_CONTINUATION, true, {'b'}),  // text's: dropped
                               ClientFrame(WS_OPCODE_PONG, true, {}), ClientFrame(0x3, true, Pattern(200000)),
                               ClientFrame(WS_OPCODE_BINARY, true, {7})}));
  ASSERT_EQ(events.size(), 6u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(events[i].kind, FrameEventKind::Ignored) << i;
  EXPECT_EQ(events[5].kind, FrameEventKind::Message);
  EXPECT_EQ(events[5].payload, ByteBuffer{7});
}

TEST(FrameParser, AnUnfinishedMessageIsReportedWhenANewOneStarts) {
  auto events = ParseAll(Join({ClientFrame(WS_OPCODE_BINARY, false, Pattern(40)),
                               ClientFrame(WS_OPCODE_BINARY, true, {1, 2})}));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].abandonedBytes, 40u);  // reported as soon as the new frame's length is read
  EXPECT_EQ(events[1].payload, (ByteBuffer{1, 2}));
}

TEST(FrameWriter, PongFormsFollowThePayloadLength) {
  EXPECT_EQ(EncodeFrame(WS_OPCODE_PONG, true, ByteBuffer{'a', 'b', 'c'}), (ByteBuffer{0x8A, 0x03, 'a', 'b', 'c'}));
  ByteBuffer pong126 = EncodeFrame(WS_OPCODE_PONG, true, Pattern(126));
  ASSERT_EQ(pong126.size(), 4u + 126u);
  EXPECT_EQ(ByteBuffer(pong126.begin(), pong126.begin() + 4), (ByteBuffer{0x8A, 126, 0x00, 126}));
  ByteBuffer header64 = EncodeFrameHeader(WS_OPCODE_PONG, true, 65536);
  EXPECT_EQ(header64, (ByteBuffer{0x8A, 127, 0, 0, 0, 0, 0, 1, 0, 0}));
}

TEST(FrameWriter, CloseReplyEchoesSendableCodesOnly) {
  EXPECT_EQ(CloseReplyPayload({}), (ByteBuffer{0x03, 0xE8}));                      // none: 1000
  EXPECT_EQ(CloseReplyPayload({0x03, 0xE9, 'b', 'y', 'e'}), (ByteBuffer{0x03, 0xE9}));  // 1001, reason dropped
  EXPECT_EQ(CloseReplyPayload({0x0F, 0xA0}), (ByteBuffer{0x0F, 0xA0}));            // 4000, private use
  for (ByteBuffer bad : {ByteBuffer{0x03}, ByteBuffer{0x03, 0xED}, ByteBuffer{0x03, 0xEE}, ByteBuffer{0x03, 0xF7},
                         ByteBuffer{0x00, 0x00}, ByteBuffer{0x07, 0xD0}, ByteBuffer{0x13, 0x88}}) {
    EXPECT_EQ(CloseReplyPayload(bad), (ByteBuffer{0x03, 0xEA}));  // 1002
  }
}

TEST(Unmask, WordWiseMatchesBytewiseAtEveryAlignmentAndLength) {
  const std::array<uint8_t, 4> key{0xA1, 0xB2, 0xC3, 0xD4};
  ByteBuffer storage = Pattern(128);
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t length = 0; length + offset <= 64; ++length) {
      ByteBuffer data = storage;
      UnmaskInPlace(data.data() + offset, length, key);
      for (size_t i = 0; i < data.size(); ++i) {
        bool inside = i >= offset && i < offset + length;
        uint8_t expected = inside ? storage[i] ^ key[(i - offset) % 4] : storage[i];
        ASSERT_EQ(data[i], expected) << "offset " << offset << " length " << length << " at " << i;
      }
    }
  }
}

}  // namespace
}  // namespace orrin
