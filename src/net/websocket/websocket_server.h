#pragma once

#include <atomic>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/accept_loop.h"
#include "net/ipv4_network.h"
#include "net/socket.h"
#include "net/websocket/callbacks.h"
#include "net/websocket/cast_message.h"
#include "net/websocket/frame_parser.h"
#include "net/websocket/sender_liveness.h"
#include "support/bytes.h"
#include "support/log_thinning.h"
#include "support/receiver_metrics.h"

namespace orrin {

// The receiving end of the cast link: listens on one TCP port, serves one sender at a time,
// performs the opening handshake, reads frames and hands the media of each sender's cast
// messages to the hooks the opener gave for that sender.
//
// A new connection runs its handshake beside the current sender; only once the handshake has
// succeeded does it replace the current one (which is closed and told `false` first). So a
// port scan, a browser's pre-connect or an HTTP GET never ends a cast. At most
// MAX_PENDING_HANDSHAKES connections wait in their handshake; past that the oldest is closed.
//
// Threads: the accept loop and one thread per connection (the current sender's and those in
// their handshake), all owned and joined here; once Stop returns none of them runs. Stop must
// not be called from a hook (it joins the threads the hooks run on).
class WebSocketServer {
 public:
  explicit WebSocketServer(int port);
  ~WebSocketServer();
  WebSocketServer(const WebSocketServer&) = delete;
  WebSocketServer& operator=(const WebSocketServer&) = delete;

  // Set before Start, not while the server runs.
  void SetSenderOpener(SenderOpener opener) { senderOpener = std::move(opener); }
  void SetErrorCallback(ErrorCallback callback) { errorCallback = std::move(callback); }

  bool Start();
  void Stop();

  // The port actually bound (useful after constructing with port 0); 0 when not listening.
  int ListeningPort() const;

  // The receive time-out of a connection: the deadline of the whole handshake request and
  // the SO_RCVTIMEO the frame reader runs under. 30000 ms; tests shorten it.
  void SetConnectionTimeout(int milliseconds) { receiveTimeoutMs = milliseconds; }

  // When a silent sender is pinged and when it is let go (tests shorten them). The quiet
  // line follows SetConnectionTimeout. Set before Start.
  void SetSenderLiveness(SenderLiveness::Settings settings) { livenessSettings = settings; }

  // Off by default. With it, a newcomer whose handshake succeeds while another sender is
  // connected is refused with close status 1013 instead of taking over. Set before Start.
  void SetHoldCurrentSender(bool hold) { holdCurrentSender = hold; }
  // Off (empty) by default. Connections from outside these networks are closed at once.
  void SetAllowedNetworks(std::vector<Ipv4Network> networks) { allowedNetworks = std::move(networks); }

  // Connections, failed handshakes and refused senders are counted into `counters` (null:
  // not counted), which must outlive the server. Set before Start.
  void SetMetrics(ReceiverMetrics* counters) { metrics = counters; }

  static constexpr size_t MAX_PENDING_HANDSHAKES = 4;

 private:
  // One accepted connection: in its handshake, the current sender, or being replaced. It
  // lives in a std::list so its thread can hold a reference while others come and go.
  struct Connection {
    Socket clientSocket;  // Wake and Close under connectionsMutex only
    std::string clientInfo;
    std::string source;  // the address without the port
    bool announced = false;  // its connection line was written (the thread's start line follows it)
    std::thread thread;
    // The sender's own reading state and the receiver's hooks for it: used by its thread only.
    FrameParser frameParser;
    SenderLiveness liveness;
    SenderHooks hooks;
    std::atomic<bool> connected{false};  // opened and not yet ended
    std::atomic<bool> ending{false};     // asked to end (replaced, or Stop)
    bool finished = false;               // its thread is done (guarded)
    bool evicted = false;                // closed for the pending bound (guarded)
    bool answered = false;               // its handshake succeeded: no longer pending (guarded)
  };

  void ServerThread();
  void Accept(Socket accepted, const sockaddr_in& clientAddr);
  void ClientThread(Connection& connection);
  bool BecomeCurrent(Connection& connection);
  void RefuseNewcomer(Connection& connection);
  void CloseClient(Connection& connection);
  void EndConnectionLocked(Connection& connection);
  void FinishConnection(Connection& connection);
  void ReapFinishedConnections();

  bool PerformHandshake(SocketHandle socket);
  bool PerformHandshakeUnguarded(SocketHandle socket);
  bool ReceiveFrame(Connection& connection);
  enum class SenderWait { Readable, Quiet, Gone };
  SenderWait WaitForSender(Connection& connection);
  void StartLiveness(Connection& connection);
  void DispatchMessage(Connection& connection, const ByteBuffer& message);
  bool SendPong(SocketHandle socket, const ByteBuffer& payload);
  void SendCloseReply(SocketHandle socket, const ByteBuffer& received);

  int port;
  Socket serverSocket;
  // Guards the list, `current`, each entry's `finished`/`evicted`, and every Wake and Close
  // of a connection's socket: only its own thread closes it, and a Wake never reaches a
  // socket number that was closed meanwhile and reused.
  std::mutex connectionsMutex;
  std::list<Connection> connections;
  Connection* current = nullptr;
  std::atomic<bool> running{false};
  std::thread serverThread;
  SenderOpener senderOpener;
  ErrorCallback errorCallback;

  std::mutex lifecycleMutex;  // Start and Stop, one at a time
  AcceptLoop acceptLoop{running};
  std::atomic<int> receiveTimeoutMs{30000};
  SenderLiveness::Settings livenessSettings;
  bool holdCurrentSender = false;
  std::vector<Ipv4Network> allowedNetworks;
  ReceiverMetrics* metrics = nullptr;
  // Anyone who can reach the port can fail a handshake or break a frame as often as they
  // like: those lines are thinned, failed handshakes per source address.
  CastMessageNotes messageNotes;
  LogThinner handshakeFailures{100};
  LogThinner handshakeFailedNotes{100};
  LogThinner abandonedMessages{100};
  LogThinner oversizedFrames{100};
  LogThinner outsiderLines{100};
  LogThinner evictionLines{100};
  LogThinner refusalLines{100};
  // Connections anyone can open at will: per address, the first 20 since its last
  // successful handshake are written, then every 100th.
  LogThinner connectionLines{100, 256, 20};
};

}  // namespace orrin
