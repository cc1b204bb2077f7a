#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "service_fixture.h"

namespace orrin::test {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using DiscoveryTcpTest = DiscoveryServiceTest;

const std::string SENT_LINE = "发送TCP发现响应到: 127.0.0.1:";

TEST_F(DiscoveryTcpTest, ProbeGetsTheResponseThenTheClose) {
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(WaitForTcpService());

  for (const std::string& probe :
       {"MIRALUX_DISCOVERY"s, "ANDROID_TV_CAST_DISCOVERY"s, "MIRALUX_DISCOVERY\0junk"s}) {
    TcpOutcome outcome = TcpExchange(DISCOVERY_TCP_PORT, probe);
    EXPECT_TRUE(outcome.closedByPeer) << probe;
    EXPECT_EQ(outcome.received, ExpectedResponse()) << probe;
  }
  EXPECT_EQ(log.Count(SENT_LINE), 1);  // thinned per source: the start-up check's answer has it
}

TEST_F(DiscoveryTcpTest, NearMissIsClosedWithoutReplyOrLogLine) {
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(WaitForTcpService());
  log.Clear();  // the readiness probe's line is complete once its connection closed

  for (const std::string& nearMiss : {"MIRALUX_DISCOVERY\n"s, "GET / HTTP/1.1\r\n\r\n"s, "MIRALUX"s}) {
    TcpOutcome outcome = TcpExchange(DISCOVERY_TCP_PORT, nearMiss);
    EXPECT_TRUE(outcome.closedByPeer) << nearMiss;
    EXPECT_EQ(outcome.received, "") << nearMiss;
  }
  EXPECT_EQ(log.Count("TCP发现响应"), 0);
  EXPECT_EQ(ErrorLines(), 0);
}

TEST_F(DiscoveryTcpTest, SilentClientIsClosedAfterAboutASecond) {
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(WaitForTcpService());

  auto start = std::chrono::steady_clock::now();
  Socket silent = ConnectTcp(DISCOVERY_TCP_PORT);
  ASSERT_TRUE(silent.Valid());
  TcpOutcome outcome = ReadUntilClosed(silent, 5s);
  auto elapsed = std::chrono::steady_clock::now() - start;

  EXPECT_TRUE(outcome.closedByPeer);
  EXPECT_EQ(outcome.received, "");
  EXPECT_GE(elapsed, 800ms);
  EXPECT_LE(elapsed, 2500ms);
}

TEST_F(DiscoveryTcpTest, ConnectionFloodKeepsThreadsBoundedAndEveryProbeAnsweredOrClosed) {
  const int base = BaselineThreadCount();
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(WaitForTcpService());
  ASSERT_TRUE(WaitUntil([&] { return ThreadCount() == base + 2; }));

  std::atomic<bool> done{false};
  std::atomic<int> mostThreads{0};
  std::thread sampler([&] {
    while (!done) {
      int now = ThreadCount();
      int seen = mostThreads.load();
      while (now > seen && !mostThreads.compare_exchange_weak(seen, now)) {
      }
      std::this_thread::yield();
    }
  });

  // Silent clients first, so that replies are still waiting when the probes arrive: an
  // unbounded service would hold a thread for each of them.
  std::vector<Socket> silent;
  for (int i = 0; i < 50; ++i) {
    silent.push_back(ConnectTcp(DISCOVERY_TCP_PORT));
    ASSERT_TRUE(silent.back().Valid());
  }
  std::vector<Socket> probing;
  for (int i = 0; i < 150; ++i) {
    probing.push_back(ConnectTcp(DISCOVERY_TCP_PORT));
    ASSERT_TRUE(probing.back().Valid());
    SendOnce(probing.back().Fd(), DISCOVERY_REQUEST.data(), DISCOVERY_REQUEST.size());
  }

  const std::string expected = ExpectedResponse();
  int answered = 0;
  for (const Socket& s : probing) {
    TcpOutcome outcome = ReadUntilClosed(s, 10s);
    EXPECT_TRUE(outcome.closedByPeer);
    EXPECT_TRUE(outcome.received.empty() || outcome.received == expected) << outcome.received;
    answered += outcome.received == expected ? 1 : 0;
  }
  for (const Socket& s : silent) {
    TcpOutcome outcome = ReadUntilClosed(s, 10s);
    EXPECT_TRUE(outcome.closedByPeer);
    EXPECT_EQ(outcome.received, "");
  }
  done = true;
  sampler.join();

  // Main thread and whatever else was there, the two listeners, the sampler, the replies.
  EXPECT_LE(mostThreads.load(), base + 2 + 1 + static_cast<int>(DiscoveryService::MAX_TCP_REPLIES));
  EXPECT_GT(mostThreads.load(), base + 2 + 1) << "no reply thread was ever seen";
  RecordProperty("answered", answered);
  EXPECT_TRUE(log.Contains("Too many TCP discovery clients, connection closed: 127.0.0.1:"));

  // Once the flood is over the service answers as before, and its reply threads are gone.
  TcpOutcome after = TcpExchange(DISCOVERY_TCP_PORT, std::string(DISCOVERY_REQUEST));
  EXPECT_EQ(after.received, expected);
  service.Stop();
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == base; }));
}

TEST_F(DiscoveryTcpTest, StopEndsWaitingRepliesAtOnce) {
  const int base = BaselineThreadCount();
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(WaitForTcpService());
  ASSERT_TRUE(WaitUntil([&] { return ThreadCount() == base + 2; }));
  Socket silent = ConnectTcp(DISCOVERY_TCP_PORT);
  ASSERT_TRUE(WaitUntil([&] { return ThreadCount() == base + 3; })) << "the reply never started";

  auto start = std::chrono::steady_clock::now();
  service.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  EXPECT_TRUE(ReadUntilClosed(silent, 1s).closedByPeer);
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == base; }));
}

}  // namespace
}  // namespace orrin::test
