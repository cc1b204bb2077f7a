#pragma once

namespace orrin {

// What the process sets up before anything else, and undoes at the very end. False when
// the receiver cannot run at all; the user has been told, and the exit code is 1.
bool StartPlatform();
void StopPlatform();

// Calls StopPlatform when the scope that started it ends.
struct PlatformScope {
  PlatformScope() = default;
  PlatformScope(const PlatformScope&) = delete;
  PlatformScope& operator=(const PlatformScope&) = delete;
  ~PlatformScope() {
    if (started) StopPlatform();
  }
  bool started = false;
};

}  // namespace orrin
