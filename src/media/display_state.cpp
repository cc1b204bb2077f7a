#include "media/display_state.h"

namespace orrin {

std::mutex frameMutex;
std::unique_ptr<Picture> currentFrame;
uint64_t frameGeneration = 0;

std::atomic<bool> isConnected{false};
std::atomic<bool> isScreenActive{true};
std::atomic<uint32_t> lastFrameTime{0};
std::atomic<bool> isFullscreen{false};

namespace {
std::mutex portMutex;
std::shared_ptr<const WindowPort> windowPort;
}  // namespace

DisplayMode ChooseDisplayMode(bool hasPicture, bool connected, bool screenActive) {
  if (hasPicture && screenActive) return DisplayMode::Picture;
  if (connected && !screenActive) return DisplayMode::ScreenOff;
  if (connected) return DisplayMode::ConnectedWaiting;
  return DisplayMode::WaitingForConnection;
}

void SetWindowPort(std::shared_ptr<const WindowPort> port) {
  std::lock_guard<std::mutex> lock(portMutex);
  windowPort = std::move(port);
}

std::shared_ptr<const WindowPort> mainWindow() {
  std::lock_guard<std::mutex> lock(portMutex);
  return windowPort;
}

void ResetDisplayStateForTesting() {
  {
    std::lock_guard<std::mutex> lock(frameMutex);
    currentFrame.reset();
    ++frameGeneration;
  }
  isConnected = false;
  isScreenActive = true;
  lastFrameTime = 0;
  isFullscreen = false;
  SetWindowPort(nullptr);
}

}  // namespace orrin
