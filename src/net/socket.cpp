#include "net/socket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace orrin {

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_.store(other.Release(), std::memory_order_release);
  }
  return *this;
}

void Socket::Close() {
  int fd = fd_.exchange(-1, std::memory_order_acq_rel);
  if (fd >= 0) ::close(fd);
}

void Socket::Wake() const {
  int fd = Fd();
  // On an unconnected UDP socket shutdown() reports ENOTCONN but still wakes readers.
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

int LastSocketError() { return errno; }

bool IsTimeoutError(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

bool SetReceiveTimeout(int fd, int milliseconds) {
  timeval tv{};
  tv.tv_sec = milliseconds / 1000;
  tv.tv_usec = (milliseconds % 1000) * 1000;
  return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool SetIntOption(int fd, int level, int option, int value) {
  return ::setsockopt(fd, level, option, &value, sizeof value) == 0;
}

long SendOnce(int fd, const void* data, size_t size) {
  ssize_t n;
  do {
    n = ::send(fd, data, size, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

bool LocalAddressOf(int fd, in_addr& local) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 || address.sin_family != AF_INET) {
    return false;
  }
  local = address.sin_addr;
  return true;
}

bool EnableDestinationAddress(int fd) { return SetIntOption(fd, IPPROTO_IP, IP_PKTINFO, 1); }

long ReceiveDatagram(int fd, void* buffer, size_t size, sockaddr_in& from, in_addr& local) {
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

std::string FormatIPv4(const in_addr& address) {
  char text[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) return "0.0.0.0";
  return text;
}

std::string FormatAddress(const sockaddr_in& address) {
  return FormatIPv4(address.sin_addr) + ":" + std::to_string(ntohs(address.sin_port));
}

void IgnoreSigpipe() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace orrin
