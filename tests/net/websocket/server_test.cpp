// The server's connection handling over real loopback sockets: handshake, notifications,
// replacement of the current sender, and the lifecycle.
#include <gtest/gtest.h>

#include <memory>

#include "net/websocket/handshake.h"
#include "net/websocket/websocket_server.h"
#include "test_support/log_capture.h"
#include "test_support/sender_callbacks.h"
#include "ws_test_support.h"

namespace orrin {
namespace {

using namespace std::chrono_literals;
using test::ConnectionLog;
using test::RawClient;

struct Running {
  test::LogCapture log;
  ConnectionLog connections;
  std::vector<std::string> errors;
  std::unique_ptr<WebSocketServer> server;
  int port = 0;

  explicit Running(int timeoutMs = 30000, int listenPort = 0) {
    server = std::make_unique<WebSocketServer>(listenPort);
    server->SetConnectionTimeout(timeoutMs);
    server->SetSenderOpener(test::OpenerFor({.connection = [this](bool c, const std::string& info) { connections(c, info); }}));
    server->SetErrorCallback([this](const std::string& text) { errors.push_back(text); });
    EXPECT_TRUE(server->Start());
    port = server->ListeningPort();
    EXPECT_GT(port, 0);
  }
};

std::string Local(const RawClient& client) { return "127.0.0.1:" + std::to_string(client.LocalPort()); }

TEST(ServerHandshake, AnswersWithTheExactResponse) {
  Running r;
  RawClient client(r.port);
  ASSERT_TRUE(client.Send(test::UpgradeRequest()));
  EXPECT_EQ(client.ReadResponseHead(), BuildHandshakeResponse(test::SAMPLE_ACCEPT));
  EXPECT_TRUE(r.log.WaitFor("WebSocket握手成功"));
  EXPECT_TRUE(r.log.Contains("Extracted WebSocket-Key: " + test::SAMPLE_KEY));
  EXPECT_TRUE(r.log.Contains("WebSocket handshake completed successfully"));
  // Our own response is one log line too: its line ends are written escaped.
  EXPECT_TRUE(r.log.Contains("Sending handshake response: HTTP/1.1 101 Switching Protocols\\r\\nUpgrade: websocket\\r\\n"));
  for (const auto& line : r.log.Lines()) EXPECT_EQ(line.text.find('\n'), std::string::npos) << line.text;
}

TEST(ServerHandshake, RequestSplitOverSeveralSegmentsIsReadWhole) {
  Running r;
  RawClient client(r.port);
  std::string request = test::UpgradeRequest();
  size_t keyAt = request.find("Sec-WebSocket-Key");
  // The key line itself arrives in two pieces, after the start of the request.
  for (auto [from, to] : {std::pair<size_t, size_t>{0, keyAt}, {keyAt, keyAt + 22}, {keyAt + 22, request.size()}}) {
    ASSERT_TRUE(client.Send(request.substr(from, to - from)));
    std::this_thread::sleep_for(50ms);  // let each piece arrive as its own segment
  }
  EXPECT_EQ(client.ReadResponseHead(), BuildHandshakeResponse(test::SAMPLE_ACCEPT));
}

TEST(ServerHandshake, RefusesBadRequestsWithTheirLines) {
  struct Case {
    std::string bytes;
    std::string line;
  } cases[] = {
      {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", "WebSocket-Key not found in request"},
      {"GET / HTTP/1.1\r\nsec-websocket-key: " + test::SAMPLE_KEY + "\r\n\r\n", "WebSocket-Key not found in request"},
      {std::string("GET / HTTP/1.1\r\n\0Sec-WebSocket-Key: abc\r\n\r\n", 42), "WebSocket-Key not found in request"},
      {"GET / HTTP/1.1\r\nSec-WebSocket-Key: abc", "Invalid WebSocket-Key format"},  // then the sender stops writing
  };
  for (const Case& c : cases) {
    Running r;  // a server of its own: each refusal from this address is thinned otherwise
    RawClient client(r.port);
    ASSERT_TRUE(client.Send(c.bytes));
    client.ShutdownWrite();
    EXPECT_TRUE(client.WaitClosed()) << c.line;
    EXPECT_TRUE(r.log.WaitFor("WebSocket握手失败"));
    EXPECT_TRUE(r.log.Contains(c.line)) << c.bytes;
    EXPECT_LT(r.log.IndexOf(c.line), r.log.IndexOf("WebSocket握手失败"));
  }
}

TEST(ServerHandshake, WhitespaceBeforeTheKeyIsSkippedAndAfterItKept) {
  Running r;
  {
    RawClient client(r.port);
    ASSERT_TRUE(client.Send(test::UpgradeRequest("Sec-WebSocket-Key:\t  " + test::SAMPLE_KEY + "\r\n")));
    EXPECT_NE(client.ReadResponseHead().find(test::SAMPLE_ACCEPT), std::string::npos);
  }
  RawClient client(r.port);
  ASSERT_TRUE(client.Send(test::UpgradeRequest("Sec-WebSocket-Key: " + test::SAMPLE_KEY + "  \r\n")));
  std::string head = client.ReadResponseHead();
  EXPECT_NE(head.find(AcceptKeyFor(test::SAMPLE_KEY + "  ")), std::string::npos);
  EXPECT_EQ(head.find(test::SAMPLE_ACCEPT), std::string::npos);
}

TEST(ServerHandshake, OneDeadlineForTheWholeRequestCutsATrickleOff) {
  Running r(/*timeoutMs=*/400);
  RawClient client(r.port);
  std::string request = test::UpgradeRequest();
  auto start = std::chrono::steady_clock::now();
  // One byte every 50 ms: each receive would be well within a per-receive time-out.
  for (size_t i = 0; i < request.size() && !r.log.Contains("Failed to receive handshake request"); ++i) {
    if (!client.Send(request.substr(i, 1))) break;
    std::this_thread::sleep_for(50ms);
  }
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(r.log.WaitFor("Failed to receive handshake request, error: " + std::to_string(SOCKET_TIMEOUT_ERROR)));
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_GE(elapsed, 350ms);
  EXPECT_LT(elapsed, 1500ms);
  // It never became the current sender, so nobody was told of it.
  EXPECT_TRUE(r.connections.Events().empty());
}

TEST(ServerConnections, OnlyAHandshakenSenderIsReportedOneTrueThenOneFalse) {
  Running r;
  std::string first, second;
  {
    RawClient client(r.port);  // never handshakes
    first = Local(client);
    ASSERT_TRUE(r.log.WaitFor("客户端处理线程已启动"));
  }
  ASSERT_TRUE(r.log.WaitFor("WebSocket握手失败"));
  {
    RawClient client(r.port);
    second = Local(client);
    ASSERT_TRUE(client.Handshake());
  }
  ASSERT_TRUE(r.connections.WaitForCount(2));
  using Event = std::pair<bool, std::string>;
  EXPECT_EQ(r.connections.Events(), (std::vector<Event>{{true, second}, {false, ""}}));
  EXPECT_TRUE(r.log.Contains("客户端连接: " + first));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(r.connections.Events().size(), 2u);
}

// A port scan, a browser's pre-connect, an HTTP GET or a half-sent request while a sender
// casts: handled beside it, and the cast goes on. A sender that completes its handshake
// still takes over.
TEST(ServerConnections, NewcomersReplaceTheSenderOnlyOnceTheirHandshakeSucceeds) {
  Running r;
  test::FrameLog video;
  r.server->Stop();
  r.server->SetSenderOpener(test::OpenerFor({.connection = [&](bool c, const std::string& info) { r.connections(c, info); },
                                             .video = [&](const ByteBuffer& frame) { video(frame); }}));
  ASSERT_TRUE(r.server->Start());
  const int port = r.server->ListeningPort();
  const ByteBuffer picture = test::ClientFrame(0x2, true, test::CastMessage(0, 1, test::Pattern(100)));

  RawClient a(port);
  ASSERT_TRUE(a.Handshake());
  std::vector<std::unique_ptr<RawClient>> strangers;
  for (const std::string& knock : {std::string(), std::string("GET / HTTP/1.1\r\nHost: x\r\n\r\n"),
                                    test::UpgradeRequest().substr(0, 40)}) {
    strangers.push_back(std::make_unique<RawClient>(port));
    if (!knock.empty()) {
      ASSERT_TRUE(strangers.back()->Send(knock));
    }
    ASSERT_TRUE(a.Send(picture));
  }
  strangers.clear();
  ASSERT_TRUE(a.Send(picture));
  ASSERT_TRUE(video.WaitForCount(4));
  // Three failures from one address: the first is written, the rest thinned.
  EXPECT_TRUE(r.log.WaitFor("WebSocket握手失败", 1));
  EXPECT_EQ(r.connections.Events().size(), 1u);

  RawClient b(port);
  EXPECT_FALSE(a.WaitClosed(200ms));  // b has not spoken yet
  ASSERT_TRUE(b.Handshake());
  EXPECT_TRUE(a.WaitClosed());
  ASSERT_TRUE(r.connections.WaitForCount(3));
  using Event = std::pair<bool, std::string>;
  EXPECT_EQ(r.connections.Events(), (std::vector<Event>{{true, Local(a)}, {false, ""}, {true, Local(b)}}));
  ASSERT_TRUE(b.Send(picture));
  EXPECT_TRUE(video.WaitForCount(5));
  r.server->Stop();
  EXPECT_TRUE(b.WaitClosed());
  EXPECT_EQ(r.connections.Events().size(), 4u);
}

TEST(ServerConnections, PastFourPendingHandshakesTheOldestIsClosed) {
  Running r;
  RawClient sender(r.port);
  ASSERT_TRUE(sender.Handshake());
  // The answer leaves before the server makes the sender current: until then it still
  // counts as pending, and on a busy machine it would be the oldest to go.
  ASSERT_TRUE(r.connections.WaitForCount(1));
  std::vector<std::unique_ptr<RawClient>> silent;
  for (int i = 0; i < 6; ++i) {
    silent.push_back(std::make_unique<RawClient>(r.port));
    ASSERT_TRUE(r.log.WaitFor("客户端处理线程已启动", i + 2));
  }
  EXPECT_TRUE(silent[0]->WaitClosed());
  EXPECT_TRUE(silent[1]->WaitClosed());
  for (int i = 2; i < 6; ++i) EXPECT_FALSE(silent[static_cast<size_t>(i)]->WaitClosed(100ms)) << i;
  EXPECT_EQ(r.log.Count("Too many connections in their handshake, oldest closed: " + Local(*silent[0])), 1);
  EXPECT_FALSE(sender.WaitClosed(100ms));
  EXPECT_EQ(r.connections.Events().size(), 1u);
}

TEST(ServerConnections, HoldRefusesANewcomerWithTryAgainLater) {
  Running r;
  r.server->Stop();
  r.server->SetHoldCurrentSender(true);
  ASSERT_TRUE(r.server->Start());
  const int port = r.server->ListeningPort();
  RawClient a(port);
  ASSERT_TRUE(a.Handshake());
  // The answer leaves before the server makes `a` current: wait for that, or `b` may be first.
  ASSERT_TRUE(r.connections.WaitForCount(1));
  for (int i = 0; i < 2; ++i) {
    RawClient b(port);
    ASSERT_TRUE(b.Handshake());
    const ByteBuffer expected = {0x88, 17, 0x03, 0xF5, 't', 'r', 'y', ' ', 'a', 'g', 'a', 'i', 'n', ' ',
                                 'l', 'a', 't', 'e', 'r'};
    EXPECT_EQ(b.Read(expected.size()), expected);
    EXPECT_TRUE(b.WaitClosed());
  }
  EXPECT_FALSE(a.WaitClosed(100ms));
  EXPECT_EQ(r.connections.Events().size(), 1u);
  EXPECT_EQ(r.log.Count("Sender refused, another one is casting: 127.0.0.1:"), 1);  // thinned per source
  a.Reset();
  ASSERT_TRUE(r.connections.WaitForCount(2));
  RawClient c(port);  // nobody casts any more: taken as usual
  ASSERT_TRUE(c.Handshake());
  EXPECT_TRUE(r.connections.WaitForCount(3));
}

TEST(ServerConnections, ConnectionsFromOutsideTheAllowedNetworksAreClosedAtOnce) {
  Running r;
  r.server->Stop();
  std::string error;
  r.server->SetAllowedNetworks(*ParseNetworkList("10.0.0.0/8", error));
  ASSERT_TRUE(r.server->Start());
  for (int i = 0; i < 3; ++i) {
    RawClient outsider(r.server->ListeningPort());
    outsider.Send(test::UpgradeRequest());
    EXPECT_TRUE(outsider.WaitClosed());
  }
  EXPECT_EQ(r.log.Count("Connection from outside the allowed networks closed: 127.0.0.1:"), 1);
  EXPECT_FALSE(r.log.Contains("客户端连接"));
  EXPECT_TRUE(r.connections.Events().empty());
}

TEST(ServerLifecycle, StartAndStopAreIdempotentAndTheServerRestartsOnItsPort) {
  int port;
  {
    Running probe;
    port = probe.port;
  }
  Running r(30000, port);
  EXPECT_TRUE(r.server->Start());
  EXPECT_EQ(r.log.Count("WebSocket服务器启动成功，端口: " + std::to_string(port)), 1);
  EXPECT_TRUE(r.log.WaitFor("WebSocket服务器线程已启动"));
  r.server->Stop();
  r.server->Stop();
  EXPECT_EQ(r.log.Count("WebSocket服务器已停止"), 1);
  EXPECT_EQ(r.server->ListeningPort(), 0);

  ASSERT_TRUE(r.server->Start());
  EXPECT_EQ(r.server->ListeningPort(), port);
  RawClient client(port);
  EXPECT_TRUE(client.Handshake());

  WebSocketServer never(0);
  never.Stop();  // never started: nothing happens
}

// A second server must never bind a port one listens on (Windows would let it with
// SO_REUSEADDR), and its failure is reported once, through the error callback only.
TEST(ServerLifecycle, BindFailureIsReportedOnce) {
  Running holder;
  std::vector<std::string> errors;
  {
    WebSocketServer second(holder.port);
    second.SetErrorCallback([&](const std::string& text) { errors.push_back(text); });
    EXPECT_FALSE(second.Start());
    EXPECT_EQ(second.ListeningPort(), 0);
  }
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("Failed to bind socket: ", 0), 0u) << errors[0];
  EXPECT_EQ(holder.log.Count("WebSocket服务器已停止"), 0);
  // The first one still serves.
  RawClient client(holder.port);
  EXPECT_TRUE(client.Handshake());
}

}  // namespace
}  // namespace orrin
