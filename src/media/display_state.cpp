#include "media/display_state.h"

#include <utility>

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

void ReplaceCurrentFrame(std::unique_ptr<Picture> picture) {
  // The paint pass touches currentFrame only under the lock, so once swapped out the old
  // picture is unreachable and can be freed outside it: the lock stays short.
  std::lock_guard<std::mutex> lock(frameMutex);
  if (currentFrame == nullptr && picture == nullptr) return;
  std::swap(currentFrame, picture);
  ++frameGeneration;
}

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
  ReplaceCurrentFrame(nullptr);
  isConnected = false;
  isScreenActive = true;
  lastFrameTime = 0;
  isFullscreen = false;
  SetWindowPort(nullptr);
}

}  // namespace orrin
