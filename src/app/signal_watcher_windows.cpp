#include "support/windows_api.h"

#include <csignal>
#include <mutex>

#include "app/signal_watcher.h"
#include "support/log.h"

namespace orrin {

namespace {

// How long a console close waits for the ordinary close path: Windows ends the process as
// soon as the handler returns (and after about five seconds in any case).
constexpr DWORD CLOSE_GRACE_MS = 4500;

// Process-wide because Windows calls a console control handler as a plain function with no
// context of ours: the one watcher alive is found here.
std::mutex watcherMutex;
SignalWatcher* activeWatcher = nullptr;  // guarded by watcherMutex
std::function<void(int)>* activeCallback = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
  int signal;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      signal = SIGINT;
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      signal = SIGTERM;
      break;
    default:
      return FALSE;
  }
  {
    // Held while the callback runs, so the watcher cannot go away under it.
    std::lock_guard<std::mutex> lock(watcherMutex);
    if (activeWatcher == nullptr || activeCallback == nullptr) return FALSE;
    (*activeCallback)(signal);
  }
  if (signal == SIGTERM) Sleep(CLOSE_GRACE_MS);  // the process normally ends meanwhile
  return TRUE;
}

}  // namespace

void BlockStopSignals() {}

bool SignalWatcher::ok() const {
  std::lock_guard<std::mutex> lock(watcherMutex);
  return activeWatcher == this;
}

SignalWatcher::SignalWatcher(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
  std::lock_guard<std::mutex> lock(watcherMutex);
  if (activeWatcher != nullptr) {
    LogError("Only one stop-signal watcher can be active");
    return;
  }
  if (!SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
    LogError("SetConsoleCtrlHandler failed: " + std::to_string(GetLastError()));
    return;
  }
  activeWatcher = this;
  activeCallback = &onSignal_;
}

SignalWatcher::~SignalWatcher() {
  std::lock_guard<std::mutex> lock(watcherMutex);
  if (activeWatcher != this) return;
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  activeWatcher = nullptr;
  activeCallback = nullptr;
}

void SignalWatcher::Run() {}

}  // namespace orrin
