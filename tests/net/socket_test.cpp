#include "net/socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace orrin {
namespace {

using namespace std::chrono_literals;

// A socket bound to 127.0.0.1 on a port the system picks.
Socket BoundLoopback(int type, sockaddr_in& address) {
  Socket s(OpenSocket(type));
  address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::bind(s.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t len = sizeof address;
  getsockname(s.Fd(), reinterpret_cast<sockaddr*>(&address), &len);
  return s;
}

struct ConnectedPair {
  Socket listener;
  Socket client;
  Socket accepted;
};

ConnectedPair Connect() {
  ConnectedPair pair;
  sockaddr_in address;
  pair.listener = BoundLoopback(SOCK_STREAM, address);
  EXPECT_EQ(::listen(pair.listener.Fd(), 4), 0);
  pair.client = Socket(OpenSocket(SOCK_STREAM));
  EXPECT_EQ(ConnectWithin(pair.client.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address, 2000), 0);
  sockaddr_in from{};
  for (int i = 0; i < 20 && !pair.accepted.Valid(); ++i) pair.accepted = Socket(AcceptConnection(pair.listener.Fd(), from));
  EXPECT_TRUE(pair.accepted.Valid());
  return pair;
}

// Whether `fd` is still an open socket.
bool IsOpenSocket(SocketHandle fd) {
  int type = 0;
  socklen_t length = sizeof type;
  return ::getsockopt(fd, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0;
}

// Runs `blockingCall` on a thread, wakes the socket from this thread, and checks that the
// call returned promptly with nothing received. (Platforms differ in how: 0 or -1, and
// which code; callers look at their stop flag, never at the code.)
template <typename Call>
void ExpectWakeEnds(const Socket& socket, Call blockingCall, std::atomic<bool>* stopping = nullptr) {
  auto result = std::async(std::launch::async, blockingCall);
  ASSERT_EQ(result.wait_for(200ms), std::future_status::timeout) << "call did not block";
  auto woken = std::chrono::steady_clock::now();
  if (stopping != nullptr) *stopping = true;
  socket.Wake();
  ASSERT_EQ(result.wait_for(2s), std::future_status::ready) << "Wake did not end the call";
  EXPECT_LT(std::chrono::steady_clock::now() - woken, 500ms);
  EXPECT_LE(result.get(), 0);
  EXPECT_TRUE(socket.Valid()) << "Wake must not close the socket";
  EXPECT_TRUE(IsOpenSocket(socket.Fd())) << "Wake must leave the socket open for its owner to close";
}

TEST(SocketWake, EndsABlockedAccept) {
  sockaddr_in address;
  Socket listener = BoundLoopback(SOCK_STREAM, address);
  ASSERT_EQ(::listen(listener.Fd(), 4), 0);
  // The accept loops' own form: round again while the wait only timed out and no stop was
  // asked for.
  std::atomic<bool> stopping{false};
  ExpectWakeEnds(
      listener,
      [&] {
        for (;;) {
          sockaddr_in from{};
          if (AcceptConnection(listener.Fd(), from) != INVALID_SOCKET_HANDLE) return 1L;
          if (!IsTimeoutError(LastSocketError()) || stopping) return -1L;
        }
      },
      &stopping);
}

TEST(SocketWake, EndsABlockedTcpReceive) {
  ConnectedPair pair = Connect();
  ExpectWakeEnds(pair.accepted, [&] {
    char buffer[16];
    return ReceiveOnce(pair.accepted.Fd(), buffer, sizeof buffer);
  });
}

TEST(SocketWake, EndsABlockedUdpReceiveFrom) {
  sockaddr_in address;
  Socket udp = BoundLoopback(SOCK_DGRAM, address);
  EnableDestinationAddress(udp.Fd());
  ExpectWakeEnds(udp, [&] {
    char buffer[16];
    sockaddr_in from{};
    in_addr local{};
    return ReceiveDatagram(udp.Fd(), buffer, sizeof buffer, from, local);
  });
}

// A stopping thread may wake a socket just before the thread that uses it makes its next
// call: that call must not block either.
TEST(SocketWake, AlsoEndsTheCallsMadeAfterIt) {
  ConnectedPair pair = Connect();
  pair.accepted.Wake();
  char buffer[16];
  auto start = std::chrono::steady_clock::now();
  EXPECT_LE(ReceiveOnce(pair.accepted.Fd(), buffer, sizeof buffer), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);

  sockaddr_in address;
  Socket listener = BoundLoopback(SOCK_STREAM, address);
  ASSERT_EQ(::listen(listener.Fd(), 4), 0);
  listener.Wake();
  start = std::chrono::steady_clock::now();
  sockaddr_in from{};
  EXPECT_EQ(AcceptConnection(listener.Fd(), from), INVALID_SOCKET_HANDLE);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(SocketOwnership, ClosesExactlyOnceEvenWhenTwoThreadsRace) {
  for (int i = 0; i < 200; ++i) {
    Socket s(OpenSocket(SOCK_DGRAM));
    ASSERT_TRUE(s.Valid());
    // A socket opened right after the close takes the same number; a second close would
    // close it. It must survive the race.
    std::thread a([&] { s.Close(); });
    std::thread b([&] { s.Close(); });
    a.join();
    b.join();
    Socket bystander(OpenSocket(SOCK_DGRAM));
    s.Close();
    ASSERT_TRUE(IsOpenSocket(bystander.Fd())) << "a second close hit another socket";
  }
}

TEST(SocketOwnership, MoveTransfersTheSocket) {
  Socket a(OpenSocket(SOCK_STREAM));
  const SocketHandle fd = a.Fd();
  Socket b(std::move(a));
  EXPECT_FALSE(a.Valid());
  EXPECT_EQ(b.Fd(), fd);
  Socket c;
  c = std::move(b);
  EXPECT_EQ(c.Fd(), fd);
  EXPECT_TRUE(IsOpenSocket(fd));
  Socket d(OpenSocket(SOCK_STREAM));
  const SocketHandle other = d.Fd();
  d = std::move(c);  // closes what d held
  EXPECT_EQ(d.Fd(), fd);
  EXPECT_FALSE(IsOpenSocket(other));
  Socket kept(d.Release());
  EXPECT_FALSE(d.Valid());
  EXPECT_TRUE(IsOpenSocket(fd));
}

TEST(SocketErrors, ReceiveTimeOutIsRecognised) {
  sockaddr_in address;
  Socket udp = BoundLoopback(SOCK_DGRAM, address);
  ASSERT_TRUE(SetReceiveTimeout(udp.Fd(), 100));
  char buffer[4];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReceiveOnce(udp.Fd(), buffer, sizeof buffer), -1);
  int error = LastSocketError();
  EXPECT_TRUE(IsTimeoutError(error)) << error;
  // The option is milliseconds on every platform: neither at once nor seconds later.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 90ms);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_FALSE(IsTimeoutError(0));
  EXPECT_TRUE(IsTimeoutError(SOCKET_TIMEOUT_ERROR));
}

TEST(SocketErrors, RefusedConnectIsReported) {
  sockaddr_in address;
  Socket unused = BoundLoopback(SOCK_STREAM, address);  // bound, never listening
  Socket client(OpenSocket(SOCK_STREAM));
  const int error = ConnectWithin(client.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address, 2000);
  EXPECT_NE(error, 0);
  EXPECT_NE(SocketErrorText(error), SocketErrorText(0)) << error;
}

TEST(SocketData, StreamAndDatagramRoundTrips) {
  ConnectedPair pair = Connect();
  EXPECT_EQ(SendOnce(pair.client.Fd(), "hello", 5), 5);
  EXPECT_EQ(WaitReadable(pair.accepted.Fd(), 2000), 1);
  char buffer[16] = {};
  EXPECT_EQ(ReceiveOnce(pair.accepted.Fd(), buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(WaitReadable(pair.accepted.Fd(), 50), 0);
  EXPECT_FALSE(PeerHasClosed(pair.accepted.Fd()));
  sockaddr_in peer{};
  EXPECT_TRUE(PeerAddressOf(pair.accepted.Fd(), peer));
  EXPECT_EQ(FormatIPv4(peer.sin_addr), "127.0.0.1");
  pair.client.Close();
  EXPECT_EQ(WaitReadable(pair.accepted.Fd(), 2000), 1);
  EXPECT_TRUE(PeerHasClosed(pair.accepted.Fd()));

  // A datagram tells the local address it reached, ours on the interface it came in by.
  sockaddr_in address;
  Socket receiver = BoundLoopback(SOCK_DGRAM, address);
  ASSERT_TRUE(EnableDestinationAddress(receiver.Fd()));
  Socket sender(OpenSocket(SOCK_DGRAM));
  EXPECT_EQ(SendDatagram(sender.Fd(), "probe", 5, address), 5);
  sockaddr_in from{};
  in_addr local{};
  EXPECT_EQ(ReceiveDatagram(receiver.Fd(), buffer, sizeof buffer, from, local), 5);
  EXPECT_EQ(FormatIPv4(local), "127.0.0.1");
  EXPECT_EQ(FormatIPv4(from.sin_addr), "127.0.0.1");
  EXPECT_EQ(BoundPort(receiver.Fd()), ntohs(address.sin_port));
}

TEST(SocketAddress, DottedQuadAndPort) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(5123);
  inet_pton(AF_INET, "192.168.1.20", &a.sin_addr);
  EXPECT_EQ(FormatAddress(a), "192.168.1.20:5123");
}

}  // namespace
}  // namespace orrin
