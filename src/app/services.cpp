#include "app/services.h"

#include "app/fixed_texts.h"
#include "net/discovery/discovery_service.h"
#include "net/websocket/websocket_server.h"
#include "support/log.h"

namespace orrin {

Services::Services(AccessControl access, SenderOpener opener, ErrorCallback onError)
    : access_(std::move(access)), opener_(std::move(opener)), onError_(std::move(onError)) {}

Services::~Services() { Stop(); }

bool Services::Start(const std::string& deviceName) {
  // Discovery first, so a sender that probes right away finds us. Its listeners report
  // their own socket failures; a port held by another program disables only that half.
  discovery_ = std::make_unique<DiscoveryService>(deviceName, WEBSOCKET_PORT);
  discovery_->SetAllowedNetworks(access_.allowedNetworks);
  discovery_->SetMetrics(metrics_);
  discovery_->Start();
  LogInfo("设备发现服务已启动: " + deviceName);

  server_ = std::make_unique<WebSocketServer>(WEBSOCKET_PORT);
  server_->SetSenderOpener(opener_);
  server_->SetErrorCallback(onError_);
  server_->SetHoldCurrentSender(access_.holdCurrentSender);
  server_->SetAllowedNetworks(access_.allowedNetworks);
  server_->SetMaxSenders(access_.maxSenders);
  server_->SetSenderAdmission(access_.admission);
  server_->SetMetrics(metrics_);
  if (!server_->Start()) {
    // The error callback has logged the server's own text and shown it in the error box.
    LogError("Failed to start WebSocket server");
    return false;
  }
  LogInfo("WebSocket服务器已启动，端口: " + std::to_string(WEBSOCKET_PORT));

  // TurboJPEG needs no global start-up: each decoding thread opens its own handle.
  LogInfo(DECODER_READY_LINE);
  return true;
}

void Services::Stop() {
  if (server_) {
    server_->Stop();
    server_.reset();
  }
  if (discovery_) {
    discovery_->Stop();
    discovery_.reset();
  }
}

}  // namespace orrin
