#include "net/socket.h"

namespace orrin {

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_.store(other.Release(), std::memory_order_release);
  }
  return *this;
}

bool LocalAddressOf(SocketHandle fd, in_addr& local) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 || address.sin_family != AF_INET) {
    return false;
  }
  local = address.sin_addr;
  return true;
}

bool PeerAddressOf(SocketHandle fd, sockaddr_in& peer) {
  peer = {};
  socklen_t length = sizeof peer;
  return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 && peer.sin_family == AF_INET;
}

int BoundPort(SocketHandle fd) {
  if (fd == INVALID_SOCKET_HANDLE) return 0;
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

std::string FormatIPv4(const in_addr& address) {
  char text[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) return "0.0.0.0";
  return text;
}

std::string FormatAddress(const sockaddr_in& address) {
  return FormatIPv4(address.sin_addr) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace orrin
