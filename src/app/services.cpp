#include "app/services.h"

#include <memory>

#include "media/audio_playback.h"
#include "media/cast_callbacks.h"
#include "media/display_state.h"
#include "net/discovery/discovery_service.h"
#include "net/websocket/websocket_server.h"
#include "support/host_identity.h"
#include "support/log.h"

namespace orrin {

namespace {

// Created once at start-up and stopped once at shut-down (on the stop thread).
std::unique_ptr<DiscoveryService> discoveryService;
std::unique_ptr<WebSocketServer> webSocketServer;
AccessControl accessControl;
ReceiverMetrics* serviceMetrics = nullptr;

}  // namespace

void SetAccessControl(AccessControl access) { accessControl = std::move(access); }
void SetServiceMetrics(ReceiverMetrics* metrics) { serviceMetrics = metrics; }

bool StartServices() {
  const std::string deviceName = GetLocalComputerName() + " (Windows)";

  // Discovery first, so a sender that probes right away finds us. Its listeners report
  // their own socket failures; a port held by another program disables only that half.
  discoveryService = std::make_unique<DiscoveryService>(deviceName, WEBSOCKET_PORT);
  discoveryService->SetAllowedNetworks(accessControl.allowedNetworks);
  discoveryService->SetMetrics(serviceMetrics);
  discoveryService->Start();
  LogInfo("设备发现服务已启动: " + deviceName);

  webSocketServer = std::make_unique<WebSocketServer>(WEBSOCKET_PORT);
  webSocketServer->SetVideoFrameCallback(OnVideoFrame);
  webSocketServer->SetAudioFrameCallback(OnAudioFrame);
  webSocketServer->SetConnectionCallback(OnConnectionChanged);
  webSocketServer->SetErrorCallback(OnError);
  webSocketServer->SetHoldCurrentSender(accessControl.holdCurrentSender);
  webSocketServer->SetAllowedNetworks(accessControl.allowedNetworks);
  webSocketServer->SetMetrics(serviceMetrics);
  if (!webSocketServer->Start()) {
    // OnError has logged the server's own text and shown it in the error box.
    LogError("Failed to start WebSocket server");
    return false;
  }
  LogInfo("WebSocket服务器已启动，端口: " + std::to_string(WEBSOCKET_PORT));

  // TurboJPEG needs no global start-up: each decoding thread opens its own handle.
  LogInfo("GDI+已初始化用于JPEG解码");
  return true;
}

void StopServices() {
  // Server first: its stop ends the connection (OnConnectionChanged(false) posts the
  // waiting title to the hidden window) and joins its threads, so no callback runs after.
  if (webSocketServer) {
    webSocketServer->Stop();
    webSocketServer.reset();
  }
  if (discoveryService) {
    discoveryService->Stop();
    discoveryService.reset();
  }
  CloseAudioDevice();
  ReplaceCurrentFrame(nullptr);  // the picture goes with the services
}

}  // namespace orrin
