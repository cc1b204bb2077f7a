#include "app/receiver.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>

#include "app/fixed_texts.h"
#include "app/main_window.h"
#include "app/platform_start.h"
#include "app/screen_saver.h"
#include "app/sdl_log.h"
#include "app/services.h"
#include "app/shared_view.h"
#include "app/signal_watcher.h"
#include "app/stats_reporter.h"
#include "app/video_driver.h"
#include "media/audio_playback.h"
#include "media/cast_session.h"
#include "media/cast_stats.h"
#include "record/recorder.h"
#include "support/host_identity.h"
#include "support/host_watch.h"
#include "support/log.h"
#include "support/utf8.h"
#include "support/version.h"

namespace orrin {

namespace {

// The composition root: owns every long-lived part of the receiver and wires them. Each
// sender that completes its handshake becomes a CastSession whose pictures and sound go to
// the window (through its queue), the sound output and the recorder.
class Receiver {
 public:
  explicit Receiver(const ReceiverOptions& options)
      : options_(options),
        run_(CastRun::Settings{options.maxFps, options.decode}, stats_),
        // Always there: without --stats it only closes the overlay's one-second intervals.
        statsReporter_(stats_, &audio_, options.stats),
        services_(AccessControl{options.hold, options.allow, options.window.senders, Admission()},
                  [this](const std::string& clientInfo) { return OpenSession(clientInfo); },
                  [this](const std::string& message) { OnError(message); }) {
    if (!options.record.empty()) recorder_.StartToFile(options.record);
  }

  // --share: false when its port cannot be had (a start-up failure, logged).
  bool StartSharedView() {
    bool failed = false;
    share_ = orrin::StartSharedView(options_, metrics_, audio_, recorder_, failed);
    if (share_) {
      stats_.SetMetrics(&metrics_);
      services_.SetMetrics(&metrics_);
    }
    return !failed;
  }

  // No display (a server, a container, an SSH session): the cast link, discovery, decoding
  // and sound still work, so keep serving until asked to stop.
  int RunWithoutWindow();
  int RunWithWindow();

 private:
  SenderHooks OpenSession(const std::string& clientInfo);
  ScreenSink WindowSink(MainWindow* window);
  // --approve: the check every sender passes after its handshake.
  SenderAdmission Admission();
  std::shared_ptr<AdmissionTicket> AskToAdmit(const std::string& clientInfo, const std::string& source);
  CastSink SoundSink();
  CastSink SharedViewSink();
  void OnError(const std::string& message);
  bool StartServices() { return services_.Start(DeviceName(GetLocalComputerName())); }
  void StopServices() {
    services_.Stop();
    audio_.Close();
  }
  MainWindow* window() {
    std::lock_guard<std::mutex> lock(windowMutex_);
    return window_;
  }

  const ReceiverOptions& options_;
  // Declared before everything that records into them or plays into them.
  ReceiverMetrics metrics_;
  CastStats stats_;
  AudioPlayback audio_{&stats_};
  // Outlives the services: the sessions hand it what they receive.
  Recorder recorder_;
  CastRun run_;
  StatsReporter statsReporter_;
  // The window while it exists. Set and cleared on the main thread while no server runs;
  // read by the server's threads when a sender arrives.
  std::mutex windowMutex_;
  MainWindow* window_ = nullptr;
  // With several senders, the one whose sound plays (the window's focus); compared, never
  // followed.
  std::atomic<const CastSession*> soundFrom_{nullptr};
  // --approve: the addresses let in during this run, and the senders waiting meanwhile
  // (their pictures are decoded for the prompt's preview, counted apart from the casts).
  std::mutex approvalMutex_;
  std::set<std::string> approved_;
  size_t waiting_ = 0;
  CastStats previewStats_;
  CastRun previewRun_{CastRun::Settings{options_.maxFps, options_.decode}, previewStats_};
  // --share; stopped after the services, so no session feeds it once it is gone.
  std::unique_ptr<ShareServer> share_;
  Services services_;  // last: stopped first, so no sender outlives what it uses
};

SenderHooks Receiver::OpenSession(const std::string& clientInfo) {
  std::vector<CastSink> sinks;
  sinks.push_back(recorder_.Sink());
  sinks.push_back(SoundSink());
  if (share_) sinks.push_back(SharedViewSink());
  MainWindow* shownIn = window();
  auto session = std::make_shared<CastSession>(clientInfo, run_, shownIn ? WindowSink(shownIn) : ScreenSink{},
                                               std::move(sinks));
  session->Start();
  SenderHooks hooks;
  hooks.video = [session](const ByteBuffer& jpeg, uint32_t stamp) { session->OnVideoFrame(jpeg, stamp); };
  hooks.audio = [session](const ByteBuffer& pcm) { session->OnAudioFrame(pcm); };
  hooks.ended = [session] { session->End(); };
  return hooks;
}

// The shared view shows one sender: with several, the focused one (the one heard), and it
// follows the focus.
CastSink Receiver::SharedViewSink() {
  CastSink all = ShareSink(share_->hub());
  if (options_.window.senders <= 1) return all;
  auto focused = [this](const CastSession& session) { return soundFrom_.load() == &session; };
  CastSink sink;
  sink.started = [all, focused](CastSession& session) {
    if (focused(session)) all.started(session);
  };
  sink.picture = [all, focused](CastSession& session, const std::shared_ptr<const ByteBuffer>& jpeg, int64_t ns) {
    if (focused(session)) all.picture(session, jpeg, ns);
  };
  sink.sound = [all, focused](CastSession& session, const ByteBuffer& pcm, int64_t ns) {
    if (focused(session)) all.sound(session, pcm, ns);
  };
  sink.ended = [all, focused](CastSession& session) {
    if (focused(session)) all.ended(session);
  };
  return sink;
}

CastSink Receiver::SoundSink() {
  CastSink sound;
  if (options_.window.senders <= 1) {
    sound.sound = [this](CastSession&, const ByteBuffer& pcm, int64_t) { audio_.OnAudioFrame(pcm); };
    return sound;
  }
  // Only the focused sender is heard; the others' sound is dropped, never queued. Without
  // a window the first sender keeps the sound until it goes.
  sound.started = [this](CastSession& session) {
    const CastSession* none = nullptr;
    if (window() == nullptr) soundFrom_.compare_exchange_strong(none, &session);
  };
  sound.sound = [this](CastSession& session, const ByteBuffer& pcm, int64_t) {
    if (soundFrom_.load() == &session) audio_.OnAudioFrame(pcm);
  };
  sound.ended = [this](CastSession& session) {
    const CastSession* self = &session;
    if (window() == nullptr) soundFrom_.compare_exchange_strong(self, nullptr);
  };
  return sound;
}

SenderAdmission Receiver::Admission() {
  if (!options_.approve) return {};
  return [this](const std::string& clientInfo, const std::string& source) { return AskToAdmit(clientInfo, source); };
}

std::shared_ptr<AdmissionTicket> Receiver::AskToAdmit(const std::string& clientInfo, const std::string& source) {
  // A few may wait at once; anyone past that is refused at once, so strangers cannot pile
  // up connections behind the prompt.
  constexpr size_t MAX_WAITING = 4;
  MainWindow* shownIn = window();
  {
    std::lock_guard<std::mutex> lock(approvalMutex_);
    if (approved_.count(source) != 0) return nullptr;
    if (shownIn == nullptr || waiting_ >= MAX_WAITING) {
      auto refused = std::make_shared<AdmissionTicket>();
      refused->Decide(false, shownIn == nullptr ? "no window" : "too many senders waiting");
      return refused;
    }
    ++waiting_;
  }
  ScreenSink promptSink;
  promptSink.pictureStored = [shownIn](CastSession& session, int64_t dueNs) {
    shownIn->Post([shownIn, at = &session, dueNs] { shownIn->PictureStored(at, dueNs); });
  };
  promptSink.disconnected = [this, shownIn](CastSession& session) {
    {
      std::lock_guard<std::mutex> lock(approvalMutex_);
      --waiting_;
    }
    shownIn->Post([shownIn, at = &session] { shownIn->PromptEnded(at); });
  };
  auto preview = std::make_shared<CastSession>(clientInfo, previewRun_, std::move(promptSink), std::vector<CastSink>{});
  SenderHooks hooks;
  hooks.video = [preview](const ByteBuffer& jpeg, uint32_t stamp) { preview->OnVideoFrame(jpeg, stamp); };
  hooks.ended = [preview] { preview->End(); };  // its sound is not heard while it waits
  auto ticket = std::make_shared<AdmissionTicket>(std::move(hooks));
  ApprovalPrompt prompt;
  prompt.preview = preview;
  prompt.answer = [this, ticket, clientInfo, source](bool admit, const std::string& reason) {
    if (admit) {
      std::lock_guard<std::mutex> lock(approvalMutex_);
      approved_.insert(source);
    }
    if (admit) LogInfo("已允许投屏: " + clientInfo);
    ticket->Decide(admit, reason);
  };
  preview->Start();
  if (!shownIn->Post([shownIn, prompt = std::move(prompt)]() mutable { shownIn->ShowPrompt(std::move(prompt)); })) {
    ticket->Decide(false, "the receiver is closing");
  }
  return ticket;
}

// The window hears of each event once, through its queue, and reads the session it was told
// about on the main thread. The window outlives the services (its close path stops them).
ScreenSink Receiver::WindowSink(MainWindow* window) {
  ScreenSink sink;
  sink.connected = [window](CastSession& session) {
    LogInfo("客户端已连接: " + session.clientInfo());
    window->Post([window, shown = session.shared_from_this()]() mutable { window->ShowSession(std::move(shown)); });
  };
  sink.pictureStored = [window](CastSession& session, int64_t dueNs) {
    window->Post([window, at = &session, dueNs] { window->PictureStored(at, dueNs); });
  };
  sink.screenOn = [window](CastSession& session) {
    window->Post([window, at = &session] { window->ScreenOn(at); });
  };
  sink.disconnected = [window](CastSession& session) {
    LogInfo("客户端已断开连接");
    window->Post([window, at = &session] { window->SessionEnded(at); });
  };
  return sink;
}

void Receiver::OnError(const std::string& message) {
  LogError(message);
  if (MainWindow* shownIn = window()) shownIn->ShowErrorBox(ERROR_CAPTION, SanitizeUtf8(message));
}

int Receiver::RunWithoutWindow() {
  if (options_.approve) {
    // Nobody could answer the prompt: every sender would wait and be refused.
    LogError("--approve needs a window to ask in, and no display could be opened: not started");
    return 1;
  }
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
  LogInfo("投屏接收端已启动，设备名称: " + DeviceName(GetLocalComputerName()) + "，IP地址: " + GetLocalIPAddress() +
          "，WebSocket端口: " + std::to_string(WEBSOCKET_PORT));
  {
    // The log is all a windowless receiver shows: a new address (another network, a new
    // DHCP lease) gets its line there within a second.
    HostWatch host;
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopRequested.wait_for(lock, std::chrono::milliseconds(MainWindow::SCREEN_CHECK_INTERVAL_MS),
                                   [&] { return stop; })) {
      lock.unlock();
      host.Check();
      lock.lock();
    }
  }
  StopServices();
  return 0;
}

int Receiver::RunWithWindow() {
  MainWindow window([this] { StopServices(); }, options_.window);
  if (!window.Create()) return 1;
  window.tools().SetRecorder(&recorder_);
  window.tools().SetStats(&stats_);
  window.tools().SetAudio(&audio_);
  window.SetFocusListener([this](const CastSession* focused) {
    soundFrom_ = focused;
    // The shared view follows the focus (the session is alive: the window holds it).
    if (share_ && focused != nullptr && options_.window.senders > 1) {
      share_->hub().SenderChanged(true, focused->clientInfo());
    }
  });
  {
    std::lock_guard<std::mutex> lock(windowMutex_);
    window_ = &window;
  }
  struct Forget {
    Receiver& receiver;
    ~Forget() {
      std::lock_guard<std::mutex> lock(receiver.windowMutex_);
      receiver.window_ = nullptr;
    }
  } forget{*this};
  window.ShowAndPaint();
  window.StartScreenCheckTimer();
  // Ctrl+C and `kill` close the window as a click on its close button would.
  SignalWatcher signals([&window](int) { window.RequestClose(); });

  if (!StartServices()) {
    // The failure was logged and shown; stop whatever did start before leaving.
    StopServices();
    return 1;
  }
  const auto compose = [](const HostIdentity& host) {
    return StartupInfoText(host.computerName, host.address, WEBSOCKET_PORT);
  };
  const std::string info = compose(window.host());
  // The box closes by itself when the first picture comes: its text stays in the log.
  for (size_t start = 0; start < info.size();) {
    const size_t end = std::min(info.find('\n', start), info.size());
    if (end > start) LogInfo(info.substr(start, end - start));
    start = end + 1;
  }
  // A new address rewrites the box while it is open.
  window.ShowPanel(MessagePanel{CLIENT_NAME, info, false, compose});
  return window.RunEventLoop();
}

}  // namespace

int RunReceiver(const std::vector<std::string>& args) {
  // Before anything else (on Windows the DPI awareness must precede every window call).
  PlatformScope platform;
  platform.started = StartPlatform();
  if (!platform.started) return 1;
  std::string error;
  std::optional<ReceiverOptions> options = ParseReceiverOptions(args, error);
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
  // For tests only: the prompt's 30 s, shortened so a case need not wait that long.
  if (const char* timeout = std::getenv("ORRIN_APPROVE_TIMEOUT_MS"); timeout != nullptr && std::atoi(timeout) > 0) {
    options->window.approveTimeoutMs = static_cast<uint32_t>(std::atoi(timeout));
  }
  SetLogLevel(options->quiet ? LogLevel::Quiet : options->verbose ? LogLevel::Verbose : LogLevel::Normal);

  // Before any thread exists, so every thread inherits the mask and the signals wait for
  // the watcher instead of killing the process.
  BlockStopSignals();
  Receiver receiver(*options);
  if (!receiver.StartSharedView()) return 1;

  RouteSdlLogThroughOurs();
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
  PrepareScreenSaverHints();
  const VideoDriverPlan video = PrepareVideoDriver();
  std::string noDisplay;
  if (video.windowless) {
    noDisplay = "no Wayland seat";
  } else if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER | SDL_INIT_EVENTS) != 0) {
    noDisplay = SDL_GetError();
  } else if (!IsRealDisplayDriver(SDL_GetCurrentVideoDriver(), std::getenv("SDL_VIDEODRIVER"))) {
    noDisplay = "no X11 or Wayland display";
    SDL_Quit();
  }
  if (!noDisplay.empty()) {
    LogInfo("No display could be opened (" + noDisplay +
            "); running without a window: cast link and discovery only, stop with Ctrl+C or SIGTERM");
    return receiver.RunWithoutWindow();
  }
  ReportVideoDriver(SDL_GetCurrentVideoDriver(), video);
  if (TTF_Init() != 0) LogError(std::string("TTF_Init failed: ") + TTF_GetError());
  const int exitCode = receiver.RunWithWindow();
  TTF_Quit();
  SDL_Quit();
  return exitCode;
}

}  // namespace orrin
