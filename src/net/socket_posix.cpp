#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "net/socket.h"

namespace orrin {

void Socket::Close() {
  int fd = fd_.exchange(-1, std::memory_order_acq_rel);
  if (fd >= 0) ::close(fd);
}

void Socket::Wake() const {
  int fd = Fd();
  // On an unconnected UDP socket shutdown() reports ENOTCONN but still wakes readers; on a
  // listening socket it makes the blocked accept (and every later one) fail.
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

bool StartSockets(int& error) {
  error = 0;
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

void StopSockets() {}

SocketHandle OpenSocket(int type) { return ::socket(AF_INET, type | SOCK_CLOEXEC, 0); }

SocketHandle AcceptConnection(SocketHandle listener, sockaddr_in& from) {
  from = {};
  socklen_t length = sizeof from;
  return ::accept4(listener, reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC);
}

int LastSocketError() { return errno; }

bool IsTimeoutError(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

bool IsInterruptedError(int error) { return error == EINTR; }

bool SetReceiveTimeout(SocketHandle fd, int milliseconds) {
  timeval tv{};
  tv.tv_sec = milliseconds / 1000;
  tv.tv_usec = (milliseconds % 1000) * 1000;
  return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool AllowQuickRebind(SocketHandle fd) { return SetIntOption(fd, SOL_SOCKET, SO_REUSEADDR, 1); }

bool SetIntOption(SocketHandle fd, int level, int option, int value) {
  return ::setsockopt(fd, level, option, &value, sizeof value) == 0;
}

bool LimitVanishedPeer(SocketHandle fd, int idleMs, int intervalMs, int unackedMs) {
  // Keepalive counts whole seconds; the user timeout also ends the probing (with it set,
  // Linux gives up on probes once that much time went unanswered).
  const int count = std::max(1, (unackedMs - idleMs) / std::max(intervalMs, 1000));
  bool ok = SetIntOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
  ok = SetIntOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, std::max(1, idleMs / 1000)) && ok;
  ok = SetIntOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, std::max(1, intervalMs / 1000)) && ok;
  ok = SetIntOption(fd, IPPROTO_TCP, TCP_KEEPCNT, count) && ok;
  return SetIntOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, unackedMs) && ok;
}

bool IsPeerGoneError(int error) { return error == ETIMEDOUT || error == EHOSTUNREACH; }

long ReceiveOnce(SocketHandle fd, void* buffer, size_t size) {
  return static_cast<long>(::recv(fd, buffer, size, 0));
}

long SendOnce(SocketHandle fd, const void* data, size_t size) {
  ssize_t n;
  do {
    n = ::send(fd, data, size, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

long SendDatagram(SocketHandle fd, const void* data, size_t size, const sockaddr_in& to) {
  return static_cast<long>(
      ::sendto(fd, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to));
}

bool EnableDestinationAddress(SocketHandle fd) { return SetIntOption(fd, IPPROTO_IP, IP_PKTINFO, 1); }

long ReceiveDatagram(SocketHandle fd, void* buffer, size_t size, sockaddr_in& from, in_addr& local) {
  iovec data{buffer, size};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof from;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  local.s_addr = htonl(INADDR_ANY);
  ssize_t n = ::recvmsg(fd, &message, 0);
  if (n < 0) return -1;
  for (cmsghdr* entry = CMSG_FIRSTHDR(&message); entry != nullptr; entry = CMSG_NXTHDR(&message, entry)) {
    if (entry->cmsg_level == IPPROTO_IP && entry->cmsg_type == IP_PKTINFO) {
      in_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(entry), sizeof info);
      // ipi_spec_dst is our address on the arrival interface; ipi_addr would be the header's
      // destination, which for a broadcast probe is the broadcast address.
      local = info.ipi_spec_dst;
    }
  }
  return static_cast<long>(n);
}

int WaitReadable(SocketHandle fd, int milliseconds) {
  pollfd p{fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, milliseconds);
  } while (ready < 0 && errno == EINTR);
  return ready < 0 ? -1 : ready > 0 ? 1 : 0;
}

int ConnectWithin(SocketHandle fd, const sockaddr* address, socklen_t length, int milliseconds) {
  const int flags = ::fcntl(fd, F_GETFL, 0);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int error = 0;
  if (::connect(fd, address, length) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, milliseconds) == 1) {
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
      } else {
        error = ETIMEDOUT;
      }
    }
  }
  ::fcntl(fd, F_SETFL, flags);
  return error;
}

bool PeerHasClosed(SocketHandle fd) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 0) != 1) return false;
  if (p.revents & (POLLHUP | POLLERR)) return true;
  char buffer[4096];
  ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

std::string SocketErrorText(int error) { return std::strerror(error); }

}  // namespace orrin
