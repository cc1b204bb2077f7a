#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace orrin {

// How the window sits on the desktop. The defaults are the receiver as it always was.
struct WindowOptions {
  bool fullscreen = false;    // start full screen and stay there, text screens included
  bool keepAspect = false;    // letterbox in full screen as in a window, instead of stretching
  bool alwaysOnTop = false;
  std::optional<int> display;  // the monitor for the first window and full screen
  size_t senders = 1;          // senders shown at once, each in its tile
  uint32_t approveTimeoutMs = 30000;  // a sender waiting to be let in is refused after this
  bool keepScreenOn = false;  // hold the screen saver off for the whole run, not only while pictures show
};

}  // namespace orrin
