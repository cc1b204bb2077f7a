#include "net/socket.h"

// Winsock first: the platform header brings it in before <windows.h> can.
#include <iphlpapi.h>
#include <mstcpip.h>
#include <mswsock.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

namespace orrin {
namespace {

// How long one accept waits before the loop around it looks at its stop flag again: a
// Wake that came just before the accept began is noticed that late, no later.
constexpr int ACCEPT_WAIT_MS = 250;

// Our IPv4 addresses per interface index, read again at most once a second: a datagram's
// packet information names the interface it came in by, and for a broadcast probe the
// destination is the broadcast address, not ours.
class InterfaceAddresses {
 public:
  in_addr AddressFor(unsigned long index, in_addr destination) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (!read_ || now - readAt_ >= std::chrono::seconds(1)) {
      Read();
      readAt_ = now;
      read_ = true;
    }
    in_addr first{};
    bool found = false;
    for (const Entry& entry : entries_) {
      if (entry.index != index) continue;
      if (entry.address.s_addr == destination.s_addr) return destination;
      if (!found) first = entry.address;
      found = true;
    }
    return first;  // 0.0.0.0 when the interface is not known
  }

 private:
  struct Entry {
    unsigned long index;
    in_addr address;
  };

  void Read() {
    entries_.clear();
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
      buffer.resize(size);
      result = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                    nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) return;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
      for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
        const sockaddr* address = unicast->Address.lpSockaddr;
        if (address == nullptr || address->sa_family != AF_INET) continue;
        entries_.push_back({adapter->IfIndex, reinterpret_cast<const sockaddr_in*>(address)->sin_addr});
      }
    }
  }

  std::mutex mutex_;
  std::vector<Entry> entries_;
  std::chrono::steady_clock::time_point readAt_;
  bool read_ = false;
};

InterfaceAddresses& Interfaces() {
  static InterfaceAddresses interfaces;
  return interfaces;
}

LPFN_WSARECVMSG ReceiveMessageFunction(SocketHandle fd) {
  GUID id = WSAID_WSARECVMSG;
  LPFN_WSARECVMSG function = nullptr;
  DWORD bytes = 0;
  if (WSAIoctl(fd, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function, sizeof function, &bytes, nullptr,
               nullptr) != 0) {
    return nullptr;
  }
  return function;
}

int ClampedLength(size_t size) { return size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size); }

}  // namespace

void Socket::Close() {
  SocketHandle fd = fd_.exchange(INVALID_SOCKET_HANDLE, std::memory_order_acq_rel);
  if (fd != INVALID_SOCKET_HANDLE) ::closesocket(fd);
}

void Socket::Wake() const {
  SocketHandle fd = Fd();
  if (fd == INVALID_SOCKET_HANDLE) return;
  // The socket stays open, so its number cannot pass to another socket while a thread may
  // still call on it. shutdown() refuses every later receive and send on a connected or
  // datagram socket; cancelling its pending I/O ends the call that is blocked right now
  // (it fails with 995, or 10004 on some versions). A listening socket refuses nothing after
  // shutdown(): its accept waits in short steps (AcceptConnection), so a Wake that came
  // before the accept began still ends the loop within one step.
  ::shutdown(fd, SD_BOTH);
  ::CancelIoEx(reinterpret_cast<HANDLE>(fd), nullptr);
}

bool StartSockets(int& error) {
  WSADATA data{};
  error = ::WSAStartup(MAKEWORD(2, 2), &data);
  if (error == 0 && (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2)) {
    ::WSACleanup();
    error = WSAVERNOTSUPPORTED;
  }
  return error == 0;
}

void StopSockets() { ::WSACleanup(); }

SocketHandle OpenSocket(int type) {
  SocketHandle fd = ::WSASocketW(AF_INET, type, 0, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (fd != INVALID_SOCKET_HANDLE && type == SOCK_DGRAM) {
    // Otherwise an answer to a closed port comes back as an error of the next receive, and
    // anyone could fill our log by probing from closed ports.
    BOOL report = FALSE;
    DWORD bytes = 0;
    ::WSAIoctl(fd, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &bytes, nullptr, nullptr);
  }
  return fd;
}

SocketHandle AcceptConnection(SocketHandle listener, sockaddr_in& from) {
  from = {};
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(listener, &readable);
  timeval wait{0, ACCEPT_WAIT_MS * 1000};
  const int ready = ::select(0, &readable, nullptr, nullptr, &wait);
  if (ready == SOCKET_ERROR) return INVALID_SOCKET_HANDLE;
  if (ready == 0) {
    ::WSASetLastError(WSAETIMEDOUT);
    return INVALID_SOCKET_HANDLE;
  }
  int length = sizeof from;
  SocketHandle accepted = ::accept(listener, reinterpret_cast<sockaddr*>(&from), &length);
  // Sockets are inheritable by default here: programs we start must not hold our connections.
  if (accepted != INVALID_SOCKET_HANDLE) ::SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
  return accepted;
}

int LastSocketError() { return ::WSAGetLastError(); }

bool IsTimeoutError(int error) { return error == WSAETIMEDOUT; }

// WSAEINTR is what a call ended by closing or cancelling reports: never worth a retry.
bool IsInterruptedError(int) { return false; }

bool SetReceiveTimeout(SocketHandle fd, int milliseconds) {
  const DWORD value = milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 1;  // 0 would mean "no limit"
  return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

// Windows rebinds a port whose last connections linger in TIME_WAIT without any option;
// SO_REUSEADDR there would let a second receiver (or anyone) bind the port beside ours.
bool AllowQuickRebind(SocketHandle fd) { return SetIntOption(fd, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1); }

bool SetIntOption(SocketHandle fd, int level, int option, int value) {
  return ::setsockopt(fd, level, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

long ReceiveOnce(SocketHandle fd, void* buffer, size_t size) {
  return ::recv(fd, static_cast<char*>(buffer), ClampedLength(size), 0);
}

long SendOnce(SocketHandle fd, const void* data, size_t size) {
  return ::send(fd, static_cast<const char*>(data), ClampedLength(size), 0);
}

long SendDatagram(SocketHandle fd, const void* data, size_t size, const sockaddr_in& to) {
  return ::sendto(fd, static_cast<const char*>(data), ClampedLength(size), 0, reinterpret_cast<const sockaddr*>(&to),
                  sizeof to);
}

bool LimitVanishedPeer(SocketHandle fd, int idleMs, int intervalMs, int unackedMs) {
  tcp_keepalive values{};
  values.onoff = 1;
  values.keepalivetime = static_cast<ULONG>(idleMs);
  values.keepaliveinterval = static_cast<ULONG>(intervalMs);
  DWORD returned = 0;
  bool ok = ::WSAIoctl(fd, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr) == 0;
  // TCP_MAXRT (seconds): how long retransmissions go unanswered before the connection ends.
  // Windows 10 1703 and later; mingw's headers may not name it.
  constexpr int TCP_MAXRT_OPTION = 5;
  return SetIntOption(fd, IPPROTO_TCP, TCP_MAXRT_OPTION, std::max(1, unackedMs / 1000)) && ok;
}

bool IsPeerGoneError(int error) {
  // Not WSAETIMEDOUT: a receive time-out gives the same code, and a sender that is gone is
  // let go by its unanswered pings all the same.
  return error == WSAENETRESET || error == WSAECONNABORTED || error == WSAEHOSTUNREACH;
}

bool EnableDestinationAddress(SocketHandle fd) { return SetIntOption(fd, IPPROTO_IP, IP_PKTINFO, 1); }

long ReceiveDatagram(SocketHandle fd, void* buffer, size_t size, sockaddr_in& from, in_addr& local) {
  local.s_addr = htonl(INADDR_ANY);
  static const LPFN_WSARECVMSG receiveMessage = ReceiveMessageFunction(fd);
  if (receiveMessage == nullptr) {
    // No packet information on this stack: the caller names its general address instead.
    int length = sizeof from;
    const int n = ::recvfrom(fd, static_cast<char*>(buffer), ClampedLength(size), 0,
                             reinterpret_cast<sockaddr*>(&from), &length);
    // A longer datagram fills the buffer and is cut, as elsewhere; Windows calls that an error.
    if (n < 0 && ::WSAGetLastError() == WSAEMSGSIZE) return ClampedLength(size);
    return n;
  }
  WSABUF data{static_cast<ULONG>(ClampedLength(size)), static_cast<char*>(buffer)};
  alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
  WSAMSG message{};
  message.name = reinterpret_cast<sockaddr*>(&from);
  message.namelen = sizeof from;
  message.lpBuffers = &data;
  message.dwBufferCount = 1;
  message.Control.buf = control;
  message.Control.len = sizeof control;
  DWORD received = 0;
  if (receiveMessage(fd, &message, &received, nullptr, nullptr) != 0) {
    // A longer datagram fills the buffer and is cut, as elsewhere; Windows calls that an
    // error (and may leave the packet information out).
    if (::WSAGetLastError() != WSAEMSGSIZE) return -1;
    received = data.len;
  }
  for (WSACMSGHDR* entry = WSA_CMSG_FIRSTHDR(&message); entry != nullptr; entry = WSA_CMSG_NXTHDR(&message, entry)) {
    if (entry->cmsg_level == IPPROTO_IP && entry->cmsg_type == IP_PKTINFO) {
      IN_PKTINFO info{};
      std::memcpy(&info, WSA_CMSG_DATA(entry), sizeof info);
      // ipi_addr is the header's destination, for a broadcast probe the broadcast address:
      // our address is the one of the interface it came in by.
      local = Interfaces().AddressFor(info.ipi_ifindex, info.ipi_addr);
    }
  }
  return static_cast<long>(received);
}

int WaitReadable(SocketHandle fd, int milliseconds) {
  WSAPOLLFD p{};
  p.fd = fd;
  p.events = POLLRDNORM;
  const int ready = ::WSAPoll(&p, 1, milliseconds);
  return ready < 0 ? -1 : ready > 0 ? 1 : 0;
}

int ConnectWithin(SocketHandle fd, const sockaddr* address, socklen_t length, int milliseconds) {
  u_long nonBlocking = 1;
  ::ioctlsocket(fd, FIONBIO, &nonBlocking);
  int error = 0;
  if (::connect(fd, address, length) != 0) {
    error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(fd, &writable);
      FD_SET(fd, &failed);
      timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
      const int ready = ::select(0, nullptr, &writable, &failed, &wait);
      if (ready > 0) {
        int size = sizeof error;
        error = 0;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
          error = ::WSAGetLastError();
        }
        if (error == 0 && FD_ISSET(fd, &failed)) error = WSAECONNREFUSED;
      } else {
        error = ready == 0 ? WSAETIMEDOUT : ::WSAGetLastError();
      }
    }
  }
  u_long blocking = 0;
  ::ioctlsocket(fd, FIONBIO, &blocking);
  return error;
}

bool PeerHasClosed(SocketHandle fd) {
  WSAPOLLFD p{};
  p.fd = fd;
  p.events = POLLRDNORM;
  if (::WSAPoll(&p, 1, 0) != 1) return false;
  if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return true;
  // Readable, so this receive does not block: what came is read away, as a closing peer's
  // last frames are of no interest, until the end shows.
  char buffer[4096];
  const int n = ::recv(fd, buffer, sizeof buffer, 0);
  return n == 0 || (n < 0 && ::WSAGetLastError() != WSAEWOULDBLOCK);
}

std::string SocketErrorText(int error) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = length > 0 && text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) ::LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) result.pop_back();
  return "error " + std::to_string(error) + (result.empty() ? "" : " (" + result + ")");
}

}  // namespace orrin
