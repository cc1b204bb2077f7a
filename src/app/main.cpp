// The receiver process. The window and the cast services join it as they are built; for
// now it announces who it is and waits for SIGINT or SIGTERM.
#include <csignal>

#include "net/socket.h"
#include "support/host_identity.h"
#include "support/log.h"

int main() {
  using namespace orrin;
  IgnoreSigpipe();

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  LogInfo("设备名称: " + GetLocalComputerName() + " (Windows)");
  LogInfo("IP地址: " + GetLocalIPAddress());

  int signal = 0;
  sigwait(&stopSignals, &signal);
  return 0;
}
