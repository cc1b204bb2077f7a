#include "net/socket.h"

#include <windows.h>

#include "app/platform_start.h"
#include "support/log.h"

namespace orrin {

bool StartPlatform() {
  // First of all: every window size and text position is in physical pixels.
  SetProcessDPIAware();
  int error = 0;
  if (!StartSockets(error)) {
    LogError("WSAStartup failed: " + std::to_string(error));
    MessageBoxW(nullptr, L"Failed to initialize Winsock", L"Error", MB_ICONERROR | MB_OK);
    return false;
  }
  return true;
}

void StopPlatform() { StopSockets(); }

}  // namespace orrin
