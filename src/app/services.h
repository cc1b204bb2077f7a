#pragma once

#include <vector>

#include "net/ipv4_network.h"
#include "support/receiver_metrics.h"

namespace orrin {

// TCP port of the cast link; discovery announces the same number.
constexpr int WEBSOCKET_PORT = 9959;

// Brings up discovery, the WebSocket server (with the cast callbacks) and the decoder, in
// that order. False when one of them could not start; its failure has been logged (and
// shown, through the window's error box) already.
bool StartServices();

// Who may cast and be answered, set before StartServices. Both off by default: any sender
// on the LAN is answered, and a newcomer that completes its handshake takes over.
struct AccessControl {
  bool holdCurrentSender = false;         // --hold
  std::vector<Ipv4Network> allowedNetworks;  // --allow; empty: everyone
};
void SetAccessControl(AccessControl access);

// Where the services count connections, refusals and discovery answers (null: nowhere); set
// before StartServices, kept alive until after StopServices.
void SetServiceMetrics(ReceiverMetrics* metrics);

// Stops and destroys the server, then discovery, then releases the picture on screen.
// Runs on the stop thread while the main thread keeps handling window events.
void StopServices();

}  // namespace orrin
