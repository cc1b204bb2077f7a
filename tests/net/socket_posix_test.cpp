// What only POSIX systems have: descriptors to count, SIGPIPE.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
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

TEST(SocketOwnership, NoDescriptorOutlivesItsOwner) {
  int before = OpenFdCount();
  {
    Socket a(OpenSocket(SOCK_STREAM));
    Socket b(std::move(a));
    Socket c(OpenSocket(SOCK_DGRAM));
    c = std::move(b);
    for (int i = 0; i < 20; ++i) {
      Socket racing(OpenSocket(SOCK_DGRAM));
      std::thread t([&] { racing.Close(); });
      racing.Close();
      t.join();
    }
    int raw = c.Release();
    ::close(raw);
  }
  EXPECT_EQ(OpenFdCount(), before);
}

TEST(SocketErrors, SendingToAVanishedPeerFailsWithoutKillingTheProcess) {
  Socket listener(OpenSocket(SOCK_STREAM));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  address.sin_port = htons(static_cast<uint16_t>(BoundPort(listener.Fd())));
  ASSERT_EQ(::listen(listener.Fd(), 4), 0);
  Socket client(OpenSocket(SOCK_STREAM));
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

TEST(SocketErrors, SignalInterruptionsAreRetriedWakeUpsAreNot) {
  EXPECT_TRUE(IsInterruptedError(EINTR));
  EXPECT_FALSE(IsInterruptedError(EAGAIN));
  EXPECT_FALSE(IsInterruptedError(0));
}

}  // namespace
}  // namespace orrin
