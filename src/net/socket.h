#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/socket_platform.h"

namespace orrin {

// Owns one socket and closes it exactly once.
//
// Ending a blocked call from another thread: closing a socket another thread still uses is
// a race on every platform (the number is handed out again at once, and the late call then
// reaches a stranger's socket), and on Linux close() does not even wake the blocked call.
// So a stopping thread calls Wake(), which ends the blocked call and refuses later ones
// while the socket stays open. The owner closes it afterwards, once the thread that used it
// is done (Close() or the destructor).
class Socket {
 public:
  Socket() = default;
  explicit Socket(SocketHandle fd) : fd_(fd) {}
  ~Socket() { Close(); }

  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&& other) noexcept : fd_(other.Release()) {}
  Socket& operator=(Socket&& other) noexcept;

  SocketHandle Fd() const { return fd_.load(std::memory_order_acquire); }
  bool Valid() const { return Fd() != INVALID_SOCKET_HANDLE; }

  // Closes the socket if this object still holds one. Safe to call from two threads at
  // once: only one of them closes it.
  void Close();

  // Wakes every thread blocked on this socket without closing it.
  void Wake() const;

  // Gives the socket up without closing it.
  SocketHandle Release() { return fd_.exchange(INVALID_SOCKET_HANDLE, std::memory_order_acq_rel); }

 private:
  std::atomic<SocketHandle> fd_{INVALID_SOCKET_HANDLE};
};

// Sockets can be used from here on: Winsock 2.2 is started on Windows; elsewhere a broken
// connection is kept from killing the process (SIGPIPE). Once at start-up, before any
// socket; false with the platform's code in `error`. StopSockets undoes it at the end.
bool StartSockets(int& error);
void StopSockets();

// An IPv4 socket of `type` (SOCK_STREAM, SOCK_DGRAM) that programs we start do not inherit.
SocketHandle OpenSocket(int type);

// One accept() on `listener`; the new socket is not inherited either. INVALID_SOCKET_HANDLE
// on failure (LastSocketError tells why).
SocketHandle AcceptConnection(SocketHandle listener, sockaddr_in& from);

// The code of the last failed socket call of this thread: the code our log lines show
// (errno here, WSAGetLastError() on Windows).
int LastSocketError();

// True for the error a receive returns when its SO_RCVTIMEO expired.
bool IsTimeoutError(int error);

// True for an interrupted call that is simply made again (a signal on Linux). Never true
// for a call ended by Wake(): that one is final.
bool IsInterruptedError(int error);

// Lets a server that was just stopped bind its port again at once, but never lets a second
// server bind a port one is listening on (SO_REUSEADDR on Linux would; on Windows it lets
// anyone take over a bound port, so SO_EXCLUSIVEADDRUSE stands in). Before bind().
bool AllowQuickRebind(SocketHandle fd);

// SO_RCVTIMEO in milliseconds; false when the option could not be set.
bool SetReceiveTimeout(SocketHandle fd, int milliseconds);
bool SetIntOption(SocketHandle fd, int level, int option, int value);

// Bounds how long a connection whose peer has vanished (no FIN, no RST: out of radio range)
// stays open: TCP keepalive probes after `idleMs` of silence, `intervalMs` apart, and data
// we sent that is not acknowledged within `unackedMs` ends the connection (TCP_USER_TIMEOUT
// on Linux, TCP_MAXRT on Windows). A receive then fails with an error IsPeerGoneError knows.
// False when an option could not be set (the connection still works).
bool LimitVanishedPeer(SocketHandle fd, int idleMs, int intervalMs, int unackedMs);

// True for the error a receive reports once TCP gave up on an unanswering peer.
bool IsPeerGoneError(int error);

// One recv(); returns what recv() returned (-1 on failure, 0 at the peer's end).
long ReceiveOnce(SocketHandle fd, void* buffer, size_t size);

// One send() without SIGPIPE (a peer that went away gives an error, not a dead process).
// Returns what send() returned.
long SendOnce(SocketHandle fd, const void* data, size_t size);

// One sendto() of a datagram to `to`, without SIGPIPE. Returns what sendto() returned.
long SendDatagram(SocketHandle fd, const void* data, size_t size, const sockaddr_in& to);

// The local address a connected socket was reached at (for an accepted connection: our
// address on the network the peer came from). False when it cannot be told.
bool LocalAddressOf(SocketHandle fd, in_addr& local);
// The peer's address of a connected socket; false when it cannot be told.
bool PeerAddressOf(SocketHandle fd, sockaddr_in& peer);
// The port a socket is bound to; 0 when it cannot be told.
int BoundPort(SocketHandle fd);

// Asks a UDP socket to report, with each datagram, the local address it arrived on.
bool EnableDestinationAddress(SocketHandle fd);

// One recvfrom() that also tells the local address the datagram reached (our address on the
// interface it came in by, also for a broadcast); `local` is 0.0.0.0 when the socket was not
// asked for it with EnableDestinationAddress. Returns what the receive returned.
long ReceiveDatagram(SocketHandle fd, void* buffer, size_t size, sockaddr_in& from, in_addr& local);

// Waits up to `milliseconds` (-1: no limit) until `fd` has something to read (or its peer
// closed). 1 when ready, 0 when the time ran out, -1 on failure.
int WaitReadable(SocketHandle fd, int milliseconds);

// A connect() that gives up at `milliseconds` (a blocking connect to an unreachable host can
// hang for minutes). 0 on success, otherwise the platform's code; the socket stays blocking.
int ConnectWithin(SocketHandle fd, const sockaddr* address, socklen_t length, int milliseconds);

// True when the peer has closed the connection, checked without blocking.
bool PeerHasClosed(SocketHandle fd);

// A short text for a socket error code, for people (tools); log lines show the number.
std::string SocketErrorText(int error);

// "a.b.c.d:port" of an IPv4 socket address.
std::string FormatAddress(const sockaddr_in& address);
std::string FormatIPv4(const in_addr& address);

}  // namespace orrin
