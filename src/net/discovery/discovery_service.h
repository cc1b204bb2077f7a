#pragma once

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "net/socket.h"

namespace orrin {

// Answers discovery probes so that a sender on the LAN learns our name, address and
// WebSocket port: datagrams on UDP 8888 (answered on the listener thread, one at a time)
// and short TCP connections on 8889 (one read, one reply, close; each on a reply thread).
//
// Start always succeeds: a port that cannot be bound disables only its half of discovery,
// reported by that listener's own error line. Stop wakes both listeners at once, waits for
// them and for every running TCP reply, so nothing of the service outlives it.
class DiscoveryService {
 public:
  // At most this many TCP replies run at once; a connection beyond them is closed at once,
  // so a flood of connections cannot pile up threads.
  static constexpr size_t MAX_TCP_REPLIES = 32;

  DiscoveryService(const std::string& deviceName, int port);
  ~DiscoveryService();

  DiscoveryService(const DiscoveryService&) = delete;
  DiscoveryService& operator=(const DiscoveryService&) = delete;

  // Launches both listeners; a second Start while running changes nothing. Always true.
  bool Start();
  // Ends both listeners and all replies; does nothing when not running.
  void Stop();

 private:
  // One accepted connection and the thread answering it. Entries live in a std::list so
  // the thread can hold a reference to its own entry while others come and go.
  struct TcpReply {
    Socket clientSocket;
    std::thread thread;
    bool finished = false;  // guarded by replyMutex
  };

  void UdpListenerThread();
  void HandleUdpRequest(int socket, const sockaddr_in& clientAddr, const in_addr& reached,
                        std::string_view request);
  void TcpListenerThread();
  void HandleTcpClient(int clientSocket);
  // `reached`: the local address the probe arrived at, null when unknown.
  std::string BuildResponse(const in_addr* reached) const;

  // Creates the socket and keeps it in `slot` (so Stop can wake it); invalid on failure.
  int OpenListeningSocket(Socket& slot, int type, const char* kind);
  void CloseListeningSocket(Socket& slot);
  // Waits a moment after a failed receive or accept so that an error which repeats does
  // not spin; Stop cuts the wait short.
  void PauseAfterError();

  bool LaunchTcpReply(Socket clientSocket);
  void RunTcpReply(TcpReply& reply);
  void ReapFinishedRepliesLocked();
  void StopTcpReplies();

  const std::string deviceName;
  const int port;
  std::atomic<bool> running{false};

  std::mutex lifecycleMutex;  // Start and Stop, one at a time

  // Guards storing, waking and closing the listening sockets: a Wake must never reach a
  // descriptor number that was closed meanwhile and reused by someone else.
  std::mutex socketMutex;
  std::condition_variable stopRequested;  // with socketMutex; cuts PauseAfterError short
  Socket udpSocket;
  Socket tcpSocket;
  std::thread udpThread;
  std::thread tcpThread;

  std::mutex replyMutex;  // guards replies, each reply's `finished`, and Wake/Close of its socket
  std::list<TcpReply> replies;
  unsigned refusedConnections = 0;  // tcpThread only
};

}  // namespace orrin
