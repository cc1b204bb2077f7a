#include "app/platform_start.h"
#include "net/socket.h"

namespace orrin {

bool StartPlatform() {
  // Nothing to start for sockets here; a broken connection must not end the process.
  int error = 0;
  return StartSockets(error);
}

void StopPlatform() { StopSockets(); }

}  // namespace orrin
