#include "app/services.h"

#include <mutex>

#include "media/display_state.h"
#include "support/host_identity.h"
#include "support/log.h"

namespace orrin {

namespace {

// The services land here one by one as they are built; until then the receiver runs
// with what it has (the window and its screens).

void ReleaseCurrentPicture() {
  std::lock_guard<std::mutex> lock(frameMutex);
  if (currentFrame) {
    currentFrame.reset();
    ++frameGeneration;
  }
}

}  // namespace

bool StartServices() {
  const std::string deviceName = GetLocalComputerName() + " (Windows)";
  (void)deviceName;

  // Discovery first, so a sender that probes right away finds us:
  //   discoveryService = std::make_unique<DiscoveryService>(deviceName, WEBSOCKET_PORT);
  //   discoveryService->Start();   // always succeeds; its listeners log their own failures
  //   LogInfo("设备发现服务已启动: " + deviceName);

  // Then the cast link, with its four callbacks registered before it starts:
  //   webSocketServer = std::make_unique<WebSocketServer>(WEBSOCKET_PORT);
  //   webSocketServer->SetVideoFrameCallback(OnVideoFrame);
  //   webSocketServer->SetAudioFrameCallback(OnAudioFrame);
  //   webSocketServer->SetConnectionCallback(OnConnectionChanged);
  //   webSocketServer->SetErrorCallback(OnError);
  //   if (!webSocketServer->Start()) {
  //     // OnError has logged the server's own text and shown it in the error box.
  //     LogError("Failed to start WebSocket server");
  //     return false;
  //   }
  //   LogInfo("WebSocket服务器已启动，端口: " + std::to_string(WEBSOCKET_PORT));

  // Last the decoder (TurboJPEG needs no global start-up; its handle lives with it):
  //   LogInfo("GDI+已初始化用于JPEG解码");
  return true;
}

void StopServices() {
  // Server first: its stop ends the connection (OnConnectionChanged(false) posts the
  // waiting title to the hidden window) and joins its threads.
  //   if (webSocketServer) { webSocketServer->Stop(); webSocketServer.reset(); }
  //   if (discoveryService) { discoveryService->Stop(); discoveryService.reset(); }
  // Audio goes with the server's last callback:
  //   CloseAudioDevice();
  ReleaseCurrentPicture();
}

}  // namespace orrin
