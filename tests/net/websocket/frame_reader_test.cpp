// Frames on a running server: what reaches the callbacks, what goes back, and how time-outs
// inside a frame leave the stream intact.
#include <gtest/gtest.h>

#include <cstdlib>

#include <memory>
#include <stdexcept>

#include "net/websocket/frame_parser.h"
#include "net/websocket/frame_writer.h"
#include "net/websocket/websocket_server.h"
#include "test_support/log_capture.h"
#include "test_support/sender_callbacks.h"
#include "ws_test_support.h"

namespace orrin {
namespace {

using namespace std::chrono_literals;
using test::CastMessage;
using test::ClientFrame;
using test::Pattern;
using test::RawClient;

struct Connected {
  test::LogCapture log;
  test::FrameLog video;
  test::FrameLog audio;
  test::ConnectionLog connections;
  std::unique_ptr<WebSocketServer> server;
  std::unique_ptr<RawClient> client;

  explicit Connected(int timeoutMs = 30000, FrameCallback videoCallback = {}, SenderLiveness::Settings liveness = {}) {
    server = std::make_unique<WebSocketServer>(0);
    server->SetConnectionTimeout(timeoutMs);
    server->SetSenderLiveness(liveness);
    if (!videoCallback) videoCallback = [this](const ByteBuffer& b) { video(b); };
    server->SetSenderOpener(test::OpenerFor({.connection = [this](bool c, const std::string& i) { connections(c, i); },
                                             .video = std::move(videoCallback),
                                             .audio = [this](const ByteBuffer& b) { audio(b); }}));
    EXPECT_TRUE(server->Start());
    client = std::make_unique<RawClient>(server->ListeningPort());
    EXPECT_TRUE(client->Handshake());
  }
};

TEST(FrameReader, MaskedVideoArrivesUnmaskedAndWhole) {
  Connected c;
  ByteBuffer content = Pattern(995);
  ASSERT_TRUE(c.client->Send(ClientFrame(WS_OPCODE_BINARY, true, CastMessage(0, 0x100, content))));
  ASSERT_TRUE(c.client->Send(EncodeFrame(WS_OPCODE_BINARY, true, CastMessage(1, 0xFFFFFFFF, {9, 8}))));
  ASSERT_TRUE(c.video.WaitForCount(1));
  ASSERT_TRUE(c.audio.WaitForCount(1));
  EXPECT_EQ(c.video.Frames()[0], content);
  EXPECT_EQ(c.audio.Frames()[0], (ByteBuffer{9, 8}));
  EXPECT_TRUE(c.log.Contains("Processing frame: type=0, timestamp=256, data_size=995"));
  EXPECT_TRUE(c.log.Contains("Processing frame: type=1, timestamp=4294967295, data_size=2"));
}

TEST(FrameReader, LargestMessageIsAcceptedAndOneByteMoreEndsTheConnection) {
  Connected c;
  ByteBuffer message = CastMessage(0, 1, Pattern(MAX_FRAME_PAYLOAD - 5));
  ASSERT_TRUE(c.client->Send(ClientFrame(WS_OPCODE_BINARY, true, message)));
  ASSERT_TRUE(c.video.WaitForCount(1, 30s));
  EXPECT_EQ(c.video.Frames()[0].size(), MAX_FRAME_PAYLOAD - 5);

  // Refused from its header alone: no payload byte is ever sent.
  ASSERT_TRUE(c.client->Send(EncodeFrameHeader(WS_OPCODE_BINARY, true, 5242881, std::array<uint8_t, 4>{1, 2, 3, 4})));
  EXPECT_TRUE(c.client->WaitClosed());
  EXPECT_TRUE(c.log.WaitFor("Frame too large: 5242881"));
  EXPECT_TRUE(c.connections.WaitForCount(2));
}

TEST(FrameReader, PingsAreAnsweredAndOtherFramesDropped) {
  Connected c;
  ASSERT_TRUE(c.client->Send(ClientFrame(WS_OPCODE_TEXT, true, {'h', 'i'})));
  ASSERT_TRUE(c.client->Send(ClientFrame(WS_OPCODE_PONG, true, {})));
  ASSERT_TRUE(c.client->Send(ClientFrame(WS_OPCODE_PING, true, {'a', 'b', 'c'})));
  EXPECT_EQ(c.client->Read(5), (ByteBuffer{0x8A, 0x03, 'a', 'b', 'c'}));
  ByteBuffer ping = Pattern(126);
  ASSERT_TRUE(c.client->Send(ClientFrame(WS_OPCODE_PING, true, ping)));
  ByteBuffer pong = c.client->Read(4 + 126);
  ASSERT_EQ(pong.size(), 130u);
  EXPECT_EQ(ByteBuffer(pong.begin(), pong.begin() + 4), (ByteBuffer{0x8A, 126, 0, 126}));
  EXPECT_EQ(ByteBuffer(pong.begin() + 4, pong.end()), ping);
  EXPECT_TRUE(c.video.Frames().empty());
}

TEST(FrameReader, FragmentedMessageArrivesOnceWithAPingBetween) {
  Connected c;
  ByteBuffer message = CastMessage(0, 7, Pattern(2000));
  ByteBuffer first(message.begin(), message.begin() + 700), rest(message.begin() + 700, message.end());
  ASSERT_TRUE(c.client->Send(ClientFrame(WS_OPCODE_BINARY, false, first)));
  ASSERT_TRUE(c.client->Send(ClientFrame(WS_OPCODE_PING, true, {'x'})));
  EXPECT_EQ(c.client->Read(3), (ByteBuffer{0x8A, 0x01, 'x'}));
  ASSERT_TRUE(c.client->Send(ClientFrame(WS_OPCODE_CONTINUATION, true, rest)));
  ASSERT_TRUE(c.video.WaitForCount(1));
  EXPECT_EQ(c.video.Frames()[0], Pattern(2000));
  EXPECT_EQ(c.log.Count("Processing frame:"), 1);
}

TEST(FrameReader, TimeOutsInsideAFrameKeepTheFrame) {
  Connected c(/*timeoutMs=*/150);
  ByteBuffer frame = ClientFrame(WS_OPCODE_BINARY, true, CastMessage(0, 1, Pattern(995)));
  // Header, one byte of it first; then the 16-bit length, the mask and the payload in halves,
  // each followed by a pause longer than the receive time-out.
  struct Piece {
    size_t from, to;
    const char* line;
  } pieces[] = {
      {0, 1, "WebSocket接收超时，可能设备息屏，继续等待..."},
      {1, 2, "WebSocket扩展长度接收超时，继续等待..."},
      {2, 4, "WebSocket掩码接收超时，继续等待..."},
      {4, 8, "WebSocket负载数据接收超时，继续等待..."},
      {8, 500, "WebSocket负载数据接收超时，继续等待..."},
  };
  for (const Piece& p : pieces) {
    int before = c.log.Count(p.line);
    ASSERT_TRUE(c.client->Send(ByteBuffer(frame.begin() + static_cast<long>(p.from), frame.begin() + static_cast<long>(p.to))));
    ASSERT_TRUE(c.log.WaitFor(p.line, before + 1)) << p.line;
  }
  ASSERT_TRUE(c.client->Send(ByteBuffer(frame.begin() + 500, frame.end())));
  ASSERT_TRUE(c.video.WaitForCount(1));
  EXPECT_EQ(c.video.Frames()[0], Pattern(995));
  EXPECT_EQ(c.connections.Events().size(), 1u);  // still connected
  for (const auto& line : c.log.Lines()) EXPECT_FALSE(line.isError) << line.text;
}

TEST(FrameReader, CloseFrameIsAnsweredWithItsStatusBeforeTheConnectionEnds) {
  for (const auto& [sent, echoed] : {std::pair<ByteBuffer, ByteBuffer>{{0x0F, 0xA0, 'o', 'k'}, {0x0F, 0xA0}},
                                     std::pair<ByteBuffer, ByteBuffer>{{}, {0x03, 0xE8}}}) {
    Connected c;
    ASSERT_TRUE(c.client->Send(ClientFrame(WS_OPCODE_CLOSE, true, sent)));
    EXPECT_TRUE(c.log.WaitFor("收到关闭帧"));
    ByteBuffer reply = c.client->Read(4, 2s);
    EXPECT_EQ(reply, (ByteBuffer{0x88, 0x02, echoed[0], echoed[1]}));
    EXPECT_TRUE(c.client->WaitClosed());
    EXPECT_TRUE(c.log.WaitFor("客户端处理线程已退出"));
  }
}

TEST(FrameReader, SenderClosingIsAnOrdinaryEndAndAResetAnError) {
  Connected closing;
  closing.client.reset();
  EXPECT_TRUE(closing.log.WaitFor("Sender closed the connection"));
  EXPECT_TRUE(closing.connections.WaitForCount(2));
  for (const auto& line : closing.log.Lines()) EXPECT_FALSE(line.isError) << line.text;

#ifdef _WIN32
  // Wine closes a socket with a zero linger in order, without a reset: nothing to tell apart.
  if (std::getenv("WINELOADER") != nullptr || std::getenv("WINEPREFIX") != nullptr) return;
#endif
  Connected reset;
  reset.client->Reset();
  EXPECT_TRUE(reset.log.WaitFor("Failed to receive frame header, error: "));
  EXPECT_TRUE(reset.connections.WaitForCount(2));
  EXPECT_FALSE(reset.log.Contains("Sender closed the connection"));
}

// Pings of 5 bytes ("orrin") from the server, answered with a masked pong when `answer`.
// Returns how many arrived in `time`.
int ServePings(RawClient& client, std::chrono::milliseconds time, bool answer) {
  const ByteBuffer ping = {0x89, 0x05, 'o', 'r', 'r', 'i', 'n'};
  int pings = 0;
  for (auto end = std::chrono::steady_clock::now() + time; std::chrono::steady_clock::now() < end;) {
    ByteBuffer got = client.Read(ping.size(), 50ms);
    if (got.empty()) continue;
    EXPECT_EQ(got, ping);
    if (got != ping) return pings;
    ++pings;
    if (answer) {
      EXPECT_TRUE(client.Send(ClientFrame(WS_OPCODE_PONG, true, {'o', 'r', 'r', 'i', 'n'})));
    }
  }
  return pings;
}

TEST(FrameReader, AnIdleSenderThatAnswersPingsStaysAndASilentOneIsLetGo) {
  // Shortened: pings after 200 ms of silence, 100 ms apart, let go after 1 s unanswered.
  Connected c(30000, {}, {200, 100, 1000, 30000});
  ASSERT_TRUE(c.client->Send(ClientFrame(WS_OPCODE_BINARY, true, CastMessage(0, 1, {1}))));
  ASSERT_TRUE(c.video.WaitForCount(1));
  // Three times the limit with nothing but pongs: still connected, never a quiet line.
  EXPECT_GE(ServePings(*c.client, 3s, true), 8);  // one each 200 ms of silence
  EXPECT_EQ(c.connections.Events().size(), 1u);
  EXPECT_FALSE(c.log.Contains("Sender gone"));
  // Then nothing answers: pinged on, let go a second after the last pong, told `false`.
  const auto silentFrom = std::chrono::steady_clock::now();
  EXPECT_GE(ServePings(*c.client, 600ms, false), 3);
  EXPECT_TRUE(c.log.WaitFor("Sender gone, connection closed: nothing heard from it for 1 s, pings unanswered"));
  ASSERT_TRUE(c.connections.WaitForCount(2));
  EXPECT_FALSE(c.connections.Events()[1].first);
  EXPECT_LT(std::chrono::steady_clock::now() - silentFrom, 3s);
  EXPECT_TRUE(c.client->WaitClosed());
}

TEST(FrameReader, ThrowingCallbackEndsTheConnectionAndTheNextSenderIsServed) {
  std::atomic<int> calls{0};
  Connected c(30000, [&calls](const ByteBuffer&) {
    if (calls++ == 0) throw std::runtime_error("cannot decode");
  });
  ASSERT_TRUE(c.client->Send(ClientFrame(WS_OPCODE_BINARY, true, CastMessage(0, 0, {1}))));
  EXPECT_TRUE(c.log.WaitFor("Exception in ProcessWebSocketFrame: cannot decode"));
  EXPECT_TRUE(c.client->WaitClosed());
  ASSERT_TRUE(c.connections.WaitForCount(2));
  EXPECT_FALSE(c.connections.Events()[1].first);

  RawClient next(c.server->ListeningPort());
  ASSERT_TRUE(next.Handshake());
  ASSERT_TRUE(next.Send(ClientFrame(WS_OPCODE_BINARY, true, CastMessage(0, 0, {2}))));
  EXPECT_TRUE(test::Eventually([&] { return calls == 2; }));
}

}  // namespace
}  // namespace orrin
