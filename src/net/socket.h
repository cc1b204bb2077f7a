#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace orrin {

// Owns one socket descriptor and closes it exactly once.
//
// Ending a blocked call from another thread: on Linux close() does not wake a thread that
// sits in accept/recv/recvfrom on the descriptor, and closing a descriptor another thread
// still uses is a race (the number is reused at once). So a stopping thread calls Wake(),
// which shuts the socket down while it stays open: the blocked call returns (accept with
// an error, recv/recvfrom with 0). The owner closes the descriptor afterwards, once the
// thread that used it is done (Close() or the destructor).
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() { Close(); }

  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&& other) noexcept : fd_(other.Release()) {}
  Socket& operator=(Socket&& other) noexcept;

  int Fd() const { return fd_.load(std::memory_order_acquire); }
  bool Valid() const { return Fd() >= 0; }

  // Closes the descriptor if this object still holds one. Safe to call from two threads
  // at once: only one of them closes it.
  void Close();

  // Wakes every thread blocked on this socket without closing the descriptor.
  void Wake() const;

  // Gives the descriptor up without closing it.
  int Release() { return fd_.exchange(-1, std::memory_order_acq_rel); }

 private:
  std::atomic<int> fd_{-1};
};

// errno of the last failed socket call of this thread: the code our log lines show.
int LastSocketError();

// True for the error a receive returns when its SO_RCVTIMEO expired.
bool IsTimeoutError(int error);

// SO_RCVTIMEO in milliseconds; false when the option could not be set.
bool SetReceiveTimeout(int fd, int milliseconds);
bool SetIntOption(int fd, int level, int option, int value);

// One send() without SIGPIPE (a peer that went away gives EPIPE, not a dead process).
// Returns what send() returned.
long SendOnce(int fd, const void* data, size_t size);

// The local address a connected socket was reached at (for an accepted connection: our
// address on the network the peer came from). False when it cannot be told.
bool LocalAddressOf(int fd, in_addr& local);

// Asks a UDP socket to report, with each datagram, the local address it arrived on.
bool EnableDestinationAddress(int fd);

// One recvfrom() that also tells the local address the datagram reached (our address on the
// interface it came in by, also for a broadcast); `local` is 0.0.0.0 when the socket was not
// asked for it with EnableDestinationAddress. Returns what the receive returned.
long ReceiveDatagram(int fd, void* buffer, size_t size, sockaddr_in& from, in_addr& local);

// "a.b.c.d:port" of an IPv4 socket address.
std::string FormatAddress(const sockaddr_in& address);
std::string FormatIPv4(const in_addr& address);

// Broken connections must never kill the process; called once at start-up.
void IgnoreSigpipe();

}  // namespace orrin
