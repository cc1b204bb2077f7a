#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "media/picture.h"

namespace orrin {

// Where the cast side (server threads) and the window side (main thread) meet.

// The newest decoded picture. frameMutex guards currentFrame and nothing else; whoever
// replaces or clears it swaps it out under the lock and may free the old picture after
// releasing it (nobody else can reach it then). Readers use the picture only while they
// hold the lock. Never hold the lock across a window call or a log call.
extern std::mutex frameMutex;
extern std::unique_ptr<Picture> currentFrame;
// Bumped (under frameMutex) every time currentFrame changes, so the window uploads a
// picture into its texture once, not on every paint.
extern uint64_t frameGeneration;

// Puts `picture` (null to clear) in place of currentFrame and bumps frameGeneration, under
// frameMutex; the old picture is destroyed after the lock is released.
void ReplaceCurrentFrame(std::unique_ptr<Picture> picture);

extern std::atomic<bool> isConnected;      // starts false
extern std::atomic<bool> isScreenActive;   // starts true
extern std::atomic<uint32_t> lastFrameTime;  // Tick() of the last accepted picture or connection
extern std::atomic<bool> isFullscreen;     // written by the window and by a disconnection

enum class DisplayMode { Picture, ScreenOff, ConnectedWaiting, WaitingForConnection };

// The first test that holds, in this order: a picture and an active screen; connected
// with the screen off; connected; otherwise waiting. The picture test ignores the
// connection flag.
DisplayMode ChooseDisplayMode(bool hasPicture, bool connected, bool screenActive);

// Window calls made from other threads. The window side fills this once the window
// exists (the "window exists" test is mainWindow()); every call is carried out on the
// main thread (posted as an event), so callers never wait for painting.
struct WindowPort {
  std::function<void(const std::string& titleUtf8)> setTitle;
  std::function<void(bool erase)> requestRepaint;
  // A repaint for a new picture, carried out once TickNs() reaches `dueNs` (at once when it
  // already has); an earlier due time wins over a later one still waiting.
  std::function<void(int64_t dueNs)> requestRepaintAt;
  std::function<void()> leaveFullscreen;
  // Modal error box; returns when the user closed it.
  std::function<void(const std::string& caption, const std::string& text)> showErrorBox;
};

// Installs (or, with an empty port, removes) the window's port.
void SetWindowPort(std::shared_ptr<const WindowPort> port);
// The current port, or null while there is no window.
std::shared_ptr<const WindowPort> mainWindow();

// Back to the state at process start (tests).
void ResetDisplayStateForTesting();

}  // namespace orrin
