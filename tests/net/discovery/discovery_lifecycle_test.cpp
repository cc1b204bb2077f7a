#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>

#include "service_fixture.h"

namespace orrin::test {
namespace {

using namespace std::chrono_literals;
using DiscoveryLifecycleTest = DiscoveryServiceTest;

const std::string START_LINE = "设备发现服务已启动: Test-PC (Windows)";
const std::string STOP_LINE = "设备发现服务已停止";
const std::string UDP_START_LINE = "UDP广播监听线程已启动，端口: 8888";
const std::string TCP_START_LINE = "TCP发现服务线程已启动，端口: 8889";
const std::string UDP_EXIT_LINE = "UDP广播监听线程已退出";
const std::string TCP_EXIT_LINE = "TCP发现服务线程已退出";

TEST_F(DiscoveryLifecycleTest, SecondStartAndSecondStopChangeNothing) {
  const int base = BaselineThreadCount();
  EXPECT_TRUE(service.Start());
  ASSERT_TRUE(WaitForUdpService());
  ASSERT_TRUE(WaitForTcpService());
  ASSERT_TRUE(WaitUntil([&] { return ThreadCount() == base + 2; }));

  EXPECT_TRUE(service.Start());
  EXPECT_EQ(ThreadCount(), base + 2);
  EXPECT_EQ(ExactLines(START_LINE), 1);
  EXPECT_EQ(ExactLines(UDP_START_LINE), 1);
  EXPECT_EQ(ExactLines(TCP_START_LINE), 1);

  service.Stop();
  service.Stop();
  EXPECT_EQ(ExactLines(STOP_LINE), 1);
  EXPECT_EQ(ExactLines(UDP_EXIT_LINE), 1);
  EXPECT_EQ(ExactLines(TCP_EXIT_LINE), 1);
  EXPECT_GT(log.IndexOf(STOP_LINE), log.IndexOf(UDP_EXIT_LINE));
  EXPECT_GT(log.IndexOf(STOP_LINE), log.IndexOf(TCP_EXIT_LINE));
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == base; }));
  EXPECT_EQ(ErrorLines(), 0);
}

TEST_F(DiscoveryLifecycleTest, StopIsPromptAndFreesBothPortsAndStartServesAgain) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(service.Start());
    ASSERT_TRUE(WaitForUdpService());
    ASSERT_TRUE(WaitForTcpService());
    EXPECT_EQ(TcpExchange(DISCOVERY_TCP_PORT, std::string(DISCOVERY_REQUEST)).received, ExpectedResponse());

    // Both listeners sit in a blocking call with a one-second time-out; the wake-up must
    // end them long before it.
    auto start = std::chrono::steady_clock::now();
    service.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 300ms);

    // No SO_REUSEADDR for UDP: the bind fails while any socket of ours holds 8888. TCP may
    // reuse the address (our closed replies leave TIME_WAIT), but not while a listener is on it.
    EXPECT_TRUE(OccupyPort(SOCK_DGRAM, DISCOVERY_UDP_PORT).Valid());
    EXPECT_TRUE(OccupyPort(SOCK_STREAM, DISCOVERY_TCP_PORT, true).Valid());
  }
  EXPECT_EQ(ExactLines(START_LINE), 2);
  EXPECT_EQ(ExactLines(STOP_LINE), 2);
}

TEST_F(DiscoveryLifecycleTest, UdpPortTakenLeavesTcpAnswering) {
  Socket other = OccupyPort(SOCK_DGRAM, DISCOVERY_UDP_PORT);
  ASSERT_TRUE(other.Valid()) << "another program holds UDP 8888";

  EXPECT_TRUE(service.Start());
  ASSERT_TRUE(log.WaitFor("Failed to bind UDP socket: "));
  EXPECT_EQ(ExactLines("Failed to bind UDP socket: " + std::to_string(EADDRINUSE)), 1);
  EXPECT_LT(log.IndexOf(UDP_START_LINE), log.IndexOf("Failed to bind UDP socket: "));

  ASSERT_TRUE(WaitForTcpService());
  EXPECT_EQ(TcpExchange(DISCOVERY_TCP_PORT, std::string(DISCOVERY_REQUEST)).received, ExpectedResponse());

  service.Stop();
  EXPECT_EQ(ExactLines(UDP_EXIT_LINE), 0) << "the listener never reached its loop";
  EXPECT_EQ(ExactLines(TCP_EXIT_LINE), 1);
  EXPECT_EQ(ExactLines(STOP_LINE), 1);
}

TEST_F(DiscoveryLifecycleTest, TcpPortTakenLeavesUdpAnswering) {
  // With SO_REUSEADDR only because earlier replies may leave TIME_WAIT entries on 8889;
  // a listener still blocks the port.
  Socket other = OccupyPort(SOCK_STREAM, DISCOVERY_TCP_PORT, true);
  ASSERT_TRUE(other.Valid()) << "another program holds TCP 8889";

  EXPECT_TRUE(service.Start());
  ASSERT_TRUE(log.WaitFor("Failed to bind TCP socket: "));
  EXPECT_EQ(ExactLines("Failed to bind TCP socket: " + std::to_string(EADDRINUSE)), 1);
  EXPECT_TRUE(WaitForUdpService());
}

// Run under ThreadSanitizer this is the race check: listeners and replies starting,
// answering and stopping while senders keep probing.
TEST_F(DiscoveryLifecycleTest, StartStopCyclesWithProbesInFlight) {
  std::atomic<bool> done{false};
  std::thread udpSender([&] {
    UdpProbeClient client(DISCOVERY_UDP_PORT);
    while (!done) {
      client.Send(std::string(DISCOVERY_REQUEST));
      client.Receive(2ms);
    }
  });
  std::thread tcpSender([&] {
    while (!done) {
      Socket s = ConnectTcp(DISCOVERY_TCP_PORT);
      if (!s.Valid()) {
        std::this_thread::sleep_for(1ms);
        continue;
      }
      SendOnce(s.Fd(), DISCOVERY_REQUEST.data(), DISCOVERY_REQUEST.size());
      ReadUntilClosed(s, 2s);
    }
  });
  std::thread silentSender([&] {  // keeps replies waiting in recv when Stop comes
    while (!done) {
      Socket s = ConnectTcp(DISCOVERY_TCP_PORT);
      std::this_thread::sleep_for(s.Valid() ? 20ms : 1ms);
    }
  });

  for (int cycle = 0; cycle < 8; ++cycle) {
    SCOPED_TRACE(cycle);
    // Counted before the start: answer lines are thinned per source, and each start writes
    // the first answer to a source again, so one more line per start means answers flowed.
    const int udp = log.Count("发送UDP发现响应到: ");
    const int tcp = log.Count("发送TCP发现响应到: ");
    auto stopNow = [&](DiscoveryService& s) {
      if (cycle % 2 == 1) return;  // stop while the listeners are still setting up
      EXPECT_TRUE(log.WaitFor("发送UDP发现响应到: ", udp + 1));
      EXPECT_TRUE(log.WaitFor("发送TCP发现响应到: ", tcp + 1));
      (void)s;
    };
    if (cycle < 4) {
      service.Start();
      stopNow(service);
      service.Stop();
    } else {
      DiscoveryService scoped(DEVICE_NAME, WEBSOCKET_PORT);  // the destructor stops it
      scoped.Start();
      stopNow(scoped);
    }
  }
  done = true;
  udpSender.join();
  tcpSender.join();
  silentSender.join();

  EXPECT_EQ(ExactLines(STOP_LINE), 8);
  EXPECT_EQ(log.Count("receive error"), 0);
  EXPECT_EQ(log.Count("accept error"), 0);
  EXPECT_EQ(log.Count("xception"), 0);
  EXPECT_TRUE(OccupyPort(SOCK_DGRAM, DISCOVERY_UDP_PORT).Valid());
  EXPECT_TRUE(OccupyPort(SOCK_STREAM, DISCOVERY_TCP_PORT, true).Valid());
}

}  // namespace
}  // namespace orrin::test
