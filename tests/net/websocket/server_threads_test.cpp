// Threads and descriptors of the server under churn and shut-down; meant for ThreadSanitizer
// as much as for the plain build.
#include <gtest/gtest.h>

#include <future>
#include <memory>

#include "net/websocket/websocket_server.h"
#include "test_support/log_capture.h"
#include "test_support/sender_callbacks.h"
#include "ws_test_support.h"

namespace orrin {
namespace {

using namespace std::chrono_literals;
using test::RawClient;

// Every connection that became current was told `true`, then `false` (Stop ended the last).
void ExpectTrueFalsePairs(const test::ConnectionLog& connections) {
  auto events = connections.Events();
  ASSERT_FALSE(events.empty());
  ASSERT_EQ(events.size() % 2, 0u);  // Stop has ended the last one
  for (size_t i = 0; i < events.size(); ++i) ASSERT_EQ(events[i].first, i % 2 == 0) << i;
}

bool LastSenderIsCurrent(const test::ConnectionLog& connections) {
  return test::Eventually([&] {
    auto events = connections.Events();
    return !events.empty() && events.back().first;
  }, 30s);
}

TEST(ServerThreads, RapidReplacementsLeaveNothingBehind) {
  const int descriptors = test::OpenDescriptorCount();
  const int threads = test::BaselineThreadCount();
  test::ConnectionLog connections;
  {
    WebSocketServer server(0);
    server.SetSenderOpener(test::OpenerFor({.connection = [&](bool c, const std::string& i) { connections(c, i); },
                                            .video = [](const ByteBuffer&) {}}));
    ASSERT_TRUE(server.Start());
    std::unique_ptr<RawClient> current;
    for (int i = 0; i < 200; ++i) {
      auto next = std::make_unique<RawClient>(server.ListeningPort());
      ASSERT_TRUE(next->Connected());
      // Some senders get as far as sending a frame, some half a request, some nothing.
      if (i % 3 == 0) next->Send(test::UpgradeRequest() + std::string("\x82\x86\x01\x02\x03\x04", 6));
      if (i % 3 == 1) next->Send(std::string("GET / HTTP/1.1\r\n"));
      current = std::move(next);
    }
    current.reset();
    // The last sender comes once all of them are handled: a handshake the server took in
    // late (a busy machine) would replace it, as any handshake that succeeds later does.
    // Connections are accepted in order, so once a marker's handshake is answered every
    // earlier one has a thread; once those are gone, none is left in the accept queue.
    {
      RawClient marker(server.ListeningPort());
      ASSERT_TRUE(marker.Handshake());
    }
    ASSERT_TRUE(test::Eventually([&] { return test::ThreadCount() == threads + 1; }, 30s));
    RawClient last(server.ListeningPort());
    ASSERT_TRUE(last.Handshake());
    ASSERT_TRUE(LastSenderIsCurrent(connections));
    server.Stop();
  }
  ExpectTrueFalsePairs(connections);
  EXPECT_TRUE(test::Eventually([&] { return test::ThreadCount() == threads; }));
  EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
}

// Senders that connect and reset at once, before, during or after their request: none of
// them disturbs the server, which still serves the next sender.
TEST(ServerThreads, ConnectAndResetCyclesLeaveNothingBehind) {
  const int descriptors = test::OpenDescriptorCount();
  const int threads = test::BaselineThreadCount();
  test::ConnectionLog connections;
  {
    WebSocketServer server(0);
    server.SetSenderOpener(test::OpenerFor({.connection = [&](bool c, const std::string& i) { connections(c, i); }}));
    ASSERT_TRUE(server.Start());
    const std::string request = test::UpgradeRequest();
    for (int i = 0; i < 1000; ++i) {
      RawClient client(server.ListeningPort());
      ASSERT_TRUE(client.Connected());
      if (i % 3 == 1) client.Send(request.substr(0, static_cast<size_t>(i) % request.size()));
      if (i % 3 == 2) client.Send(request);
      client.Reset();
    }
    ASSERT_TRUE(test::Eventually([&] { return test::ThreadCount() == threads + 1; }, 30s));  // as above
    RawClient last(server.ListeningPort());
    ASSERT_TRUE(last.Handshake());
    ASSERT_TRUE(LastSenderIsCurrent(connections));
    server.Stop();
  }
  ExpectTrueFalsePairs(connections);
  EXPECT_TRUE(test::Eventually([&] { return test::ThreadCount() == threads; }));
  EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
}

TEST(ServerThreads, StopEndsBlockedReceivesPromptly) {
  const int descriptors = test::OpenDescriptorCount();
  const int threads = test::BaselineThreadCount();
  test::LogCapture log;
  test::ConnectionLog connections;
  for (bool handshake : {true, false}) {
    auto server = std::make_unique<WebSocketServer>(0);
    server->SetSenderOpener(test::OpenerFor({.connection = [&](bool c, const std::string& i) { connections(c, i); }}));
    ASSERT_TRUE(server->Start());
    RawClient client(server->ListeningPort());
    if (handshake) {
      ASSERT_TRUE(client.Handshake());
      ASSERT_TRUE(log.WaitFor("WebSocket握手成功"));
    } else {
      ASSERT_TRUE(log.WaitFor("客户端处理线程已启动", 2));  // blocked in the handshake's receive
    }
    std::this_thread::sleep_for(50ms);
    auto start = std::chrono::steady_clock::now();
    auto stopped = std::async(std::launch::async, [&] { server.reset(); });  // Stop, then destroy
    ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_TRUE(client.WaitClosed(1s));
  }
  EXPECT_EQ(connections.Events().size(), 2u);  // the one in its handshake was never current
  EXPECT_TRUE(test::Eventually([&] { return test::ThreadCount() == threads; }));
  EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
}

TEST(ServerThreads, ConnectionsArrivingDuringStopAreClosed) {
  const int descriptors = test::OpenDescriptorCount();
  test::ConnectionLog connections;
  for (int round = 0; round < 20; ++round) {
    WebSocketServer server(0);
    server.SetSenderOpener(test::OpenerFor({.connection = [&](bool c, const std::string& i) { connections(c, i); }}));
    ASSERT_TRUE(server.Start());
    int port = server.ListeningPort();
    std::atomic<bool> done{false};
    std::thread connector([&] {
      while (!done) RawClient client(port);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(round % 5));
    server.Stop();
    done = true;
    connector.join();
  }
  auto events = connections.Events();
  ASSERT_EQ(events.size() % 2, 0u);
  for (size_t i = 0; i < events.size(); ++i) ASSERT_EQ(events[i].first, i % 2 == 0) << i;
  EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
}

}  // namespace
}  // namespace orrin
