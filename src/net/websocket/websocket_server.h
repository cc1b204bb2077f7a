#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/accept_loop.h"
#include "net/ipv4_network.h"
#include "net/socket.h"
#include "net/websocket/admission.h"
#include "net/websocket/callbacks.h"
#include "net/websocket/cast_message.h"
#include "net/websocket/frame_parser.h"
#include "net/websocket/sender_liveness.h"
#include "support/bytes.h"
#include "support/log_thinning.h"
#include "support/receiver_metrics.h"

namespace orrin {

// The receiving end of the cast link: listens on one TCP port, serves one sender at a time
// (or up to SetMaxSenders at once), performs the opening handshake, reads frames and hands
// the media of each sender's cast messages to the hooks the opener gave for that sender.
//
// A new connection runs its handshake beside the current senders; only once the handshake
// has succeeded (and, with an admission check, once it was let in) does it take a place,
// replacing the sender quiet the longest when all places are taken (which is closed and
// told `false` first). So a port scan, a browser's pre-connect or an HTTP GET never ends a
// cast. At most
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
  // How many senders cast at once (1 by default). When all places are taken, a newcomer
  // replaces the one whose last picture is the oldest (or is refused under hold). Set
  // before Start.
  void SetMaxSenders(size_t senders) { maxSenders = senders < 1 ? 1 : senders; }
  // None by default. With one, every sender is asked about after its handshake; while its
  // ticket is pending its messages go to the ticket's preview hooks, a refusal closes it
  // with status 1008. Set before Start.
  void SetSenderAdmission(SenderAdmission check) { admission = std::move(check); }
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
    AdmissionTicket* awaiting = nullptr;  // the ticket it waits on, while it waits
    std::atomic<uint32_t> lastPictureTick{0};  // Tick() of its last picture or of taking its place
    std::atomic<bool> connected{false};  // opened and not yet ended
    std::atomic<bool> ending{false};     // asked to end (replaced, or Stop)
    bool finished = false;               // its thread is done (guarded)
    bool evicted = false;                // closed for the pending bound (guarded)
    bool answered = false;               // its handshake succeeded: no longer pending (guarded)
  };

  void ServerThread();
  void Accept(Socket accepted, const sockaddr_in& clientAddr);
  void ClientThread(Connection& connection);
  bool AwaitAdmission(Connection& connection);
  bool ReadFrames(Connection& connection, const std::function<bool()>& goOn);
  bool BecomeCurrent(Connection& connection);
  Connection* ChooseLeavingLocked();
  bool IsCurrentLocked(const Connection& connection) const;
  void Refuse(Connection& connection, uint16_t status, const char* reason, const std::string& line);
  void CloseClient(Connection& connection);
  void EndConnectionLocked(Connection& connection);
  void FinishConnection(Connection& connection);
  void ReapFinishedConnections();

  bool PerformHandshake(SocketHandle socket);
  bool PerformHandshakeUnguarded(SocketHandle socket);
  bool ReceiveFrame(Connection& connection);
  enum class SenderWait { Readable, Quiet, Gone, Decided };
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
  std::vector<Connection*> current;  // the senders casting, in the order they took their places
  std::atomic<bool> running{false};
  std::thread serverThread;
  SenderOpener senderOpener;
  ErrorCallback errorCallback;

  std::mutex lifecycleMutex;  // Start and Stop, one at a time
  AcceptLoop acceptLoop{running};
  std::atomic<int> receiveTimeoutMs{30000};
  SenderLiveness::Settings livenessSettings;
  bool holdCurrentSender = false;
  size_t maxSenders = 1;
  SenderAdmission admission;
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
