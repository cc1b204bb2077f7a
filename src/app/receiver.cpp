#include "app/receiver.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>

#include "app/main_window.h"
#include "app/platform_start.h"
#include "app/sdl_log.h"
#include "app/services.h"
#include "app/shared_view.h"
#include "app/signal_watcher.h"
#include "app/stats_reporter.h"
#include "media/cast_callbacks.h"
#include "media/cast_tap.h"
#include "record/recorder.h"
#include "net/socket.h"
#include "support/host_identity.h"
#include "support/log.h"
#include "support/utf8.h"
#include "support/version.h"

namespace orrin {

namespace {


// No display (a server, a container, an SSH session): the cast link, discovery, decoding
// and sound still work, so keep serving until asked to stop.
int RunWithoutWindow() {
  std::mutex mutex;
  std::condition_variable stopRequested;
  bool stop = false;
  SignalWatcher signals([&](int) {
    std::lock_guard<std::mutex> lock(mutex);
    stop = true;
    stopRequested.notify_all();
  });
  if (!StartServices()) {
    StopServices();
    return 1;
  }
  // Without a window nobody sees the information box: the log says where phones connect.
  LogInfo("投屏接收端已启动，设备名称: " + GetLocalComputerName() + " (Windows)，IP地址: " + GetLocalIPAddress() +
          "，WebSocket端口: " + std::to_string(WEBSOCKET_PORT));
  {
    std::unique_lock<std::mutex> lock(mutex);
    stopRequested.wait(lock, [&] { return stop; });
  }
  StopServices();
  return 0;
}

int RunWithWindow(Recorder& recorder, const WindowOptions& options) {
  MainWindow window(StopServices, options);
  if (!window.Create()) return 1;
  window.tools().SetRecorder(&recorder);
  window.InstallWindowPort();
  window.ShowAndPaint();
  window.StartScreenCheckTimer();
  // Ctrl+C and `kill` close the window as a click on its close button would.
  SignalWatcher signals([&window](int) { window.RequestClose(); });

  if (!StartServices()) {
    // The failure was logged and shown; stop whatever did start before leaving.
    StopServices();
    return 1;
  }
  const std::string info =
      StartupInfoText(SanitizeUtf8(GetLocalComputerName()), SanitizeUtf8(GetInterfaceIPAddress()), WEBSOCKET_PORT);
  // The box closes by itself when the first picture comes: its text stays in the log.
  for (size_t start = 0; start < info.size();) {
    const size_t end = std::min(info.find('\n', start), info.size());
    if (end > start) LogInfo(info.substr(start, end - start));
    start = end + 1;
  }
  window.ShowPanel(MessagePanel{"Tavoli投屏客户端", info, false});
  return window.RunEventLoop();
}

}  // namespace

bool IsRealDisplayDriver(const char* driver, const char* requested) {
  if (driver == nullptr) return false;
  // SDL falls back to its windowless drivers when no display answers; a window there is
  // seen by nobody. They count only when asked for by name (tests do).
  const std::string name = driver;
  const bool windowless = name == "offscreen" || name == "dummy" || name == "evdev";
  return !windowless || (requested != nullptr && name == requested);
}

std::string StartupInfoText(const std::string& computerName, const std::string& localIP, int port) {
  return "投屏接收端已启动\n\n"
         "设备名称: " + computerName + " (Windows)\n"
         "IP地址: " + localIP + "\n"
         "WebSocket端口: " + std::to_string(port) + "\n\n"
         "使用说明:\n"
         "* 确保手机和电脑在同一网络\n"
         "* 在手机投屏应用中搜索设备\n"
         "* 连接后按F11进入全屏\n"
         "* 按ESC退出全屏";
}

int RunReceiver(const std::vector<std::string>& args) {
  // Before anything else (on Windows the DPI awareness must precede every window call).
  PlatformScope platform;
  platform.started = StartPlatform();
  if (!platform.started) return 1;
  std::string error;
  const std::optional<ReceiverOptions> options = ParseReceiverOptions(args, error);
  if (!options) {
    std::cerr << "orrin-receiver: " << error << " (see --help)\n";
    return 2;
  }
  if (options->help) {
    std::cout << ReceiverUsageText();
    return 0;
  }
  if (options->version) {
    std::cout << "orrin-receiver " << VersionText() << "\n";
    return 0;
  }
  SetPictureDecoding(options->decode);
  SetAccessControl({options->hold, options->allow});
  SetMaxPictureRate(options->maxFps);
  SetLogLevel(options->quiet ? LogLevel::Quiet : options->verbose ? LogLevel::Verbose : LogLevel::Normal);

  // Before any thread exists, so every thread inherits the mask and the signals wait for
  // the watcher instead of killing the process.
  BlockStopSignals();
  // Outlives the window and the services, so the summary counts everything.
  // Always there: without --stats it only closes the overlay's one-second intervals.
  auto stats = std::make_unique<StatsReporter>(options->stats);
  // Outlives the services too: the cast callbacks hand it what they receive.
  Recorder recorder;
  // Outlives the services and the shared view, which count into it.
  ReceiverMetrics metrics;
  bool shareFailed = false;
  std::unique_ptr<ShareServer> share = StartSharedView(*options, metrics, recorder, shareFailed);
  if (shareFailed) return 1;
  SetCastTapListener(CastListeners(recorder.TapListener(), share.get()));
  if (!options->record.empty()) recorder.StartToFile(options->record);

  RouteSdlLogThroughOurs();
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
  std::string noDisplay;
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER | SDL_INIT_EVENTS) != 0) {
    noDisplay = SDL_GetError();
  } else if (!IsRealDisplayDriver(SDL_GetCurrentVideoDriver(), std::getenv("SDL_VIDEODRIVER"))) {
    noDisplay = "no X11 or Wayland display";
    SDL_Quit();
  }
  if (!noDisplay.empty()) {
    LogInfo("No display could be opened (" + noDisplay +
            "); running without a window: cast link and discovery only, stop with Ctrl+C or SIGTERM");
    const int exitCode = RunWithoutWindow();
    SetCastTapListener(nullptr);
    StopSharedView(share);
    return exitCode;
  }
  if (TTF_Init() != 0) LogError(std::string("TTF_Init failed: ") + TTF_GetError());
  const int exitCode = RunWithWindow(recorder, options->window);
  SetCastTapListener(nullptr);  // the services are stopped: nothing calls it any more
  StopSharedView(share);
  TTF_Quit();
  SDL_Quit();
  return exitCode;
}

}  // namespace orrin
