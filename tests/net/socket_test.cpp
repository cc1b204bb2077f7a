#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "net/socket.h"

namespace orrin {
namespace {

using namespace std::chrono_literals;

int OpenFdCount() {
  int n = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (dirent* e = readdir(dir)) n += e->d_name[0] != '.' ? 1 : 0;
  closedir(dir);
  return n - 1;  // the directory stream itself
}

// A socket bound to 127.0.0.1 on a port the kernel picks.
Socket BoundLoopback(int type, sockaddr_in& address) {
  Socket s(::socket(AF_INET, type, 0));
  address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::bind(s.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t len = sizeof address;
  getsockname(s.Fd(), reinterpret_cast<sockaddr*>(&address), &len);
  return s;
}

// Runs `blockingCall` on a thread, wakes the socket from this thread, and checks that the
// call returned promptly with `expectReturn`.
template <typename Call>
void ExpectWakeEnds(const Socket& socket, Call blockingCall, long expectReturn) {
  auto result = std::async(std::launch::async, blockingCall);
  ASSERT_EQ(result.wait_for(200ms), std::future_status::timeout) << "call did not block";
  auto woken = std::chrono::steady_clock::now();
  socket.Wake();
  ASSERT_EQ(result.wait_for(2s), std::future_status::ready) << "Wake did not end the call";
  EXPECT_LT(std::chrono::steady_clock::now() - woken, 500ms);
  EXPECT_EQ(result.get(), expectReturn);
  EXPECT_TRUE(socket.Valid()) << "Wake must not close the descriptor";
}

TEST(SocketWake, EndsABlockedAccept) {
  sockaddr_in address;
  Socket listener = BoundLoopback(SOCK_STREAM, address);
  ASSERT_EQ(::listen(listener.Fd(), 4), 0);
  ExpectWakeEnds(listener, [&] { return static_cast<long>(::accept(listener.Fd(), nullptr, nullptr)); }, -1);
}

TEST(SocketWake, EndsABlockedTcpReceive) {
  sockaddr_in address;
  Socket listener = BoundLoopback(SOCK_STREAM, address);
  ASSERT_EQ(::listen(listener.Fd(), 4), 0);
  Socket client(::socket(AF_INET, SOCK_STREAM, 0));
  ASSERT_EQ(::connect(client.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  Socket accepted(::accept(listener.Fd(), nullptr, nullptr));
  ExpectWakeEnds(accepted, [&] {
    char buffer[16];
    return static_cast<long>(::recv(accepted.Fd(), buffer, sizeof buffer, 0));
  }, 0);
}

TEST(SocketWake, EndsABlockedUdpReceiveFrom) {
  sockaddr_in address;
  Socket udp = BoundLoopback(SOCK_DGRAM, address);
  ExpectWakeEnds(udp, [&] {
    char buffer[16];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    return static_cast<long>(::recvfrom(udp.Fd(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len));
  }, 0);
}

TEST(SocketOwnership, ClosesExactlyOnceEvenWhenTwoThreadsRace) {
  int before = OpenFdCount();
  for (int i = 0; i < 200; ++i) {
    Socket s(::socket(AF_INET, SOCK_DGRAM, 0));
    ASSERT_TRUE(s.Valid());
    // A descriptor opened right after the close takes the same number; a second close
    // would close it. It must survive the race.
    std::thread a([&] { s.Close(); });
    std::thread b([&] { s.Close(); });
    a.join();
    b.join();
    Socket bystander(::socket(AF_INET, SOCK_DGRAM, 0));
    s.Close();
    EXPECT_EQ(fcntl(bystander.Fd(), F_GETFD), 0) << "a second close hit another descriptor";
  }
  EXPECT_EQ(OpenFdCount(), before);
}

TEST(SocketOwnership, MoveTransfersTheDescriptor) {
  int before = OpenFdCount();
  {
    Socket a(::socket(AF_INET, SOCK_STREAM, 0));
    int fd = a.Fd();
    Socket b(std::move(a));
    EXPECT_FALSE(a.Valid());
    EXPECT_EQ(b.Fd(), fd);
    Socket c;
    c = std::move(b);
    EXPECT_EQ(c.Fd(), fd);
    int raw = c.Release();
    EXPECT_FALSE(c.Valid());
    ::close(raw);
  }
  EXPECT_EQ(OpenFdCount(), before);
}

TEST(SocketErrors, ReceiveTimeOutIsRecognised) {
  sockaddr_in address;
  Socket udp = BoundLoopback(SOCK_DGRAM, address);
  ASSERT_TRUE(SetReceiveTimeout(udp.Fd(), 100));
  char buffer[4];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(::recv(udp.Fd(), buffer, sizeof buffer, 0), -1);
  int error = LastSocketError();
  EXPECT_TRUE(IsTimeoutError(error)) << error;
  EXPECT_GE(std::chrono::steady_clock::now() - start, 90ms);
  EXPECT_FALSE(IsTimeoutError(ECONNRESET));
}

TEST(SocketErrors, SendingToAVanishedPeerFailsWithoutKillingTheProcess) {
  sockaddr_in address;
  Socket listener = BoundLoopback(SOCK_STREAM, address);
  ASSERT_EQ(::listen(listener.Fd(), 4), 0);
  Socket client(::socket(AF_INET, SOCK_STREAM, 0));
  ASSERT_EQ(::connect(client.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  Socket accepted(::accept(listener.Fd(), nullptr, nullptr));
  linger hard{1, 0};
  setsockopt(accepted.Fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  accepted.Close();  // reset
  std::this_thread::sleep_for(50ms);
  std::string data(1 << 16, 'x');
  long n = 0;
  for (int i = 0; i < 4 && n >= 0; ++i) n = SendOnce(client.Fd(), data.data(), data.size());
  EXPECT_EQ(n, -1);
  int error = LastSocketError();
  EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << error;
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
