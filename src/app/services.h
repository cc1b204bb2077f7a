#pragma once

#include <memory>
#include <vector>

#include "net/ipv4_network.h"
#include "net/websocket/admission.h"
#include "net/websocket/callbacks.h"
#include "support/receiver_metrics.h"

namespace orrin {

class DiscoveryService;
class WebSocketServer;

// TCP port of the cast link; discovery announces the same number.
constexpr int WEBSOCKET_PORT = 9959;

// Who may cast and be answered. Both off by default: any sender on the LAN is answered, and
// a newcomer that completes its handshake takes over.
struct AccessControl {
  bool holdCurrentSender = false;            // --hold
  std::vector<Ipv4Network> allowedNetworks;  // --allow; empty: everyone
  size_t maxSenders = 1;                     // --senders
  SenderAdmission admission;                 // --approve; empty: everyone who completes a handshake
};

// The receiver's network side: discovery and the WebSocket server, started and stopped
// together.
class Services {
 public:
  // `opener` receives each sender, `onError` the server's start-up failure.
  Services(AccessControl access, SenderOpener opener, ErrorCallback onError);
  ~Services();
  Services(const Services&) = delete;
  Services& operator=(const Services&) = delete;

  // Discovery, then the WebSocket server, then the decoder's start-up line. False when the
  // server could not start; its failure has been logged (and shown) already.
  bool Start(const std::string& deviceName);
  // Where the services count connections, refusals and discovery answers (null: nowhere);
  // set before Start, kept alive until after Stop.
  void SetMetrics(ReceiverMetrics* metrics) { metrics_ = metrics; }
  // The server first (its stop ends the connection and joins its threads, so no hook runs
  // after), then discovery. Harmless when nothing runs.
  void Stop();

 private:
  const AccessControl access_;
  const SenderOpener opener_;
  const ErrorCallback onError_;
  ReceiverMetrics* metrics_ = nullptr;
  std::unique_ptr<DiscoveryService> discovery_;
  std::unique_ptr<WebSocketServer> server_;
};

}  // namespace orrin
