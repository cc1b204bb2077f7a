#pragma once


#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/discovery/probe_rate_limiter.h"
#include "net/accept_loop.h"
#include "net/ipv4_network.h"
#include "net/socket.h"
#include "support/log_thinning.h"
#include "support/receiver_metrics.h"

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

  // Answers per source address: a burst of this many, then this many a second.
  static constexpr uint32_t ANSWERS_PER_SECOND = 5;

  // Off (empty) by default. Probes from outside these networks get no answer. Set before Start.
  void SetAllowedNetworks(std::vector<Ipv4Network> networks) { allowedNetworks = std::move(networks); }
  // Answers sent are counted into `counters` (null: not counted), which must outlive the
  // service. Set before Start.
  void SetMetrics(ReceiverMetrics* counters) { metrics = counters; }

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
  void HandleUdpRequest(SocketHandle socket, const sockaddr_in& clientAddr, const in_addr& reached,
                        std::string_view request);
  void TcpListenerThread();
  void HandleTcpClient(SocketHandle clientSocket);
  // `reached`: the local address the probe arrived at, null when unknown.
  std::string BuildResponse(const in_addr* reached) const;

  // Creates the socket and keeps it in `slot` (so Stop can wake it); invalid on failure.
  SocketHandle OpenListeningSocket(Socket& slot, int type, const char* kind);
  void CloseListeningSocket(Socket& slot);
  // Waits a moment after a failed receive or accept so that an error which repeats does
  // not spin; Stop cuts the wait short.
  void PauseAfterError();

  // Whether a UDP probe from `clientAddr` gets an answer (udpThread only).
  bool MayAnswerUdp(const sockaddr_in& clientAddr);
  bool IsAllowed(const sockaddr_in& clientAddr, LogThinner& lines, const std::string& text);

  bool LaunchTcpReply(Socket clientSocket);
  void RunTcpReply(TcpReply& reply);
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
  AcceptLoop acceptLoop{running};  // the TCP listener's

  std::mutex replyMutex;  // guards replies, each reply's `finished`, and Wake/Close of its socket
  std::list<TcpReply> replies;
  unsigned refusedConnections = 0;  // tcpThread only

  std::vector<Ipv4Network> allowedNetworks;
  ReceiverMetrics* metrics = nullptr;
  // udpThread only: the answer budget per source, and our broadcast addresses (read again
  // at most once a second, so a flood does not enumerate the interfaces per datagram).
  ProbeRateLimiter udpAnswers{ANSWERS_PER_SECOND, ANSWERS_PER_SECOND};
  std::vector<in_addr_t> broadcastAddresses;
  uint32_t broadcastsReadAt = 0;
  bool broadcastsRead = false;
  // One line per source for the 1st and every Nth answer, drop or refusal: a flood writes a few.
  LogThinner udpAnswerLines{100};
  LogThinner tcpAnswerLines{100};
  LogThinner droppedLines{1000};
  LogThinner outsiderLines{100};
};

}  // namespace orrin
