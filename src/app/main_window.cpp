#include "app/main_window.h"

#include <future>
#include <string>

#include "app/app_icon.h"
#include "app/renderer_choice.h"
#include "app/window_placement.h"
#include "media/cast_callbacks.h"
#include "media/cast_stats.h"
#include "media/display_state.h"
#include "support/log.h"
#include "support/tick.h"
#include "support/utf8.h"

namespace orrin {

namespace {

enum EventOffset : Uint32 { TIMER_EVENT = 0, POSTED_CALL_EVENT, CLOSE_REQUEST_EVENT, END_LOOP_EVENT, EVENT_COUNT };

const char* const BASE_TITLE = "Tavoli网投屏接受客户端";
const char* const WAITING_TITLE = "Tavoli网投屏接受客户端 - 等待连接...";

constexpr int WINDOWED_X = 100;
constexpr int WINDOWED_Y = 100;
constexpr int WINDOWED_WIDTH = 800;
constexpr int WINDOWED_HEIGHT = 600;
constexpr int FIRST_WIDTH = 1200;
constexpr int FIRST_HEIGHT = 800;

bool PushUserEvent(Uint32 type) {
  SDL_Event event{};
  event.type = type;
  return SDL_PushEvent(&event) == 1;
}

// The timer thread knows only the event type, never the window, so a tick that races
// with the window's destruction touches nothing freed.
Uint32 ScreenCheckTick(Uint32 interval, void* eventType) {
  PushUserEvent(static_cast<Uint32>(reinterpret_cast<uintptr_t>(eventType)));
  return interval;
}

// Length in UTF-16 units, as a title read back from the window system counts it.
int Utf16Length(const std::string& utf8) {
  int units = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

}  // namespace

bool MainThreadQueue::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    calls_.push_back(std::move(call));
  }
  PushUserEvent(eventType_);
  return true;
}

std::optional<std::function<void()>> MainThreadQueue::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (calls_.empty()) return std::nullopt;
  auto call = std::move(calls_.front());
  calls_.pop_front();
  return call;
}

void MainThreadQueue::Close() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    dropped.swap(calls_);
  }
  // Destroyed outside the lock: a dropped error-box call releases its waiting caller.
}

MainWindow::MainWindow(std::function<void()> stopServices, WindowOptions options)
    : stopServices_(std::move(stopServices)), options_(options), mainThread_(std::this_thread::get_id()) {
  eventBase_ = SDL_RegisterEvents(EVENT_COUNT);
  queue_ = std::make_shared<MainThreadQueue>(eventBase_ + POSTED_CALL_EVENT);
}

MainWindow::~MainWindow() {
  SetWindowPort(nullptr);
  queue_->Close();
  if (timer_ != 0) SDL_RemoveTimer(timer_);
  if (stopThread_.joinable()) stopThread_.join();
  painter_.reset();  // its textures belong to the renderer
  renderer_.reset();
  window_.reset();
}

bool MainWindow::Create() {
  if (eventBase_ == static_cast<Uint32>(-1)) {
    LogError(std::string("Failed to register window events: ") + SDL_GetError());
    return false;
  }
  const int displays = SDL_GetNumVideoDisplays();
  if (options_.display && *options_.display < displays) {
    displayIndex_ = *options_.display;
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(displayIndex_, &bounds) == 0) displayOrigin_ = SDL_Point{bounds.x, bounds.y};
  } else {
    if (options_.display) {
      LogError("--display " + std::to_string(*options_.display) + ": there is no such display (" +
               std::to_string(displays) + " found, numbered from 0); using the first");
    }
    const SDL_Point corner{WINDOWED_X, WINDOWED_Y};
    displayIndex_ = std::max(SDL_GetPointDisplayIndex(&corner), 0);
  }
  // Decorations are not known before the window exists: fit the inner area now and the
  // whole frame once it is shown.
  SDL_Rect first{displayOrigin_.x + WINDOWED_X, displayOrigin_.y + WINDOWED_Y, FIRST_WIDTH, FIRST_HEIGHT};
  if (SDL_Rect usable; UsableArea(displayIndex_, usable)) first = FitRect(first, usable);
  Uint32 flags = SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI;
  if (options_.alwaysOnTop) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
  firstRect_ = first;
  window_.reset(SDL_CreateWindow("Test", first.x, first.y, first.w, first.h, flags));
  if (!window_) {
    LogError(std::string("Failed to create main window: ") + SDL_GetError());
    return false;
  }
  if (SurfacePtr icon = MakeAppIcon()) {
    SDL_SetWindowIcon(window_.get(), icon.get());
    LogInfo("成功加载自定义图标");
  } else {
    LogInfo("使用默认应用程序图标");
  }

  renderer_.reset(CreateCastRenderer(window_.get()));
  if (!renderer_) {
    LogError(std::string("Failed to create renderer: ") + SDL_GetError());
    return false;
  }
  if (SDL_RendererInfo info; SDL_GetRendererInfo(renderer_.get(), &info) == 0) {
    // What a delay figure was measured with.
    LogInfo(std::string("Renderer: ") + info.name +
            (PresentsOnRefresh(renderer_.get()) ? " (presents on the display's refresh)" : ""));
  }
  fonts_ = FontSet::Open();
  painter_ = std::make_unique<Painter>(renderer_.get(), &fonts_);
  painter_->SetKeepAspect(options_.keepAspect);

  // Title check: the window system takes a UTF-8 title and gives back what it holds.
  SDL_SetWindowTitle(window_.get(), WAITING_TITLE);
  LogInfo("SetWindowTextW result: 1");
  const char* readBack = SDL_GetWindowTitle(window_.get());
  LogInfo("Retrieved title length: " + std::to_string(Utf16Length(readBack != nullptr ? readBack : "")));
  SDL_SetWindowTitle(window_.get(), "Orrin Receiver Test");
  SDL_Delay(100);
  SDL_SetWindowTitle(window_.get(), WAITING_TITLE);
  return true;
}

void MainWindow::ShowAndPaint() {
  SetTitle(BASE_TITLE);
  SDL_ShowWindow(window_.get());
  FitFirstFrame();
  if (options_.fullscreen) {
    // Let the window manager frame the window first (a moment at most, none without one),
    // so leaving full screen later finds a settled window to resize.
    for (int i = 0; i < 30 && !firstFrameFitted_; ++i) {
      SDL_Delay(10);
      SDL_PumpEvents();
      FitFirstFrame();
    }
    EnterFullscreen();
  }
  PaintNow();
  SetTitle(WAITING_TITLE);
}

bool MainWindow::StartScreenCheckTimer() {
  timer_ = SDL_AddTimer(SCREEN_CHECK_INTERVAL_MS, ScreenCheckTick,
                        reinterpret_cast<void*>(static_cast<uintptr_t>(eventBase_ + TIMER_EVENT)));
  if (timer_ == 0) LogError(std::string("Failed to start the screen check timer: ") + SDL_GetError());
  return timer_ != 0;
}

void MainWindow::InstallWindowPort() {
  auto port = std::make_shared<WindowPort>();
  std::weak_ptr<MainThreadQueue> weakQueue = queue_;
  // Each call is queued for the main thread; `this` is only touched there, and the queue is
  // closed before the window goes away.
  port->setTitle = [weakQueue, this](const std::string& title) {
    if (auto q = weakQueue.lock()) q->Post([this, title] { SetTitle(title); });
  };
  port->requestRepaint = [weakQueue, this](bool) {
    if (auto q = weakQueue.lock()) q->Post([this] { needsPaint_ = true; });
  };
  port->requestRepaintAt = [weakQueue, this](int64_t dueNs) {
    if (auto q = weakQueue.lock()) q->Post([this, dueNs] { RepaintAt(dueNs); });
  };
  port->leaveFullscreen = [weakQueue, this] {
    // A kiosk stays full screen when the sender goes; only the keys leave it.
    if (options_.fullscreen) return;
    if (auto q = weakQueue.lock()) q->Post([this] { LeaveFullscreen(); });
  };
  port->showErrorBox = [weakQueue, this](const std::string& caption, const std::string& text) {
    MessagePanel panel{caption, text, true};
    if (std::this_thread::get_id() == mainThread_) {
      ShowModalPanel(std::move(panel));
      return;
    }
    // Modal for the caller: it waits until the main thread has shown and closed the box,
    // or until the window drops the call because it is going away.
    auto q = weakQueue.lock();
    if (!q) return;
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> closed = done->get_future();
    const bool posted = q->Post([this, panel = std::move(panel), done]() mutable {
      ShowModalPanel(std::move(panel));
      done->set_value();
    });
    done.reset();
    q.reset();
    if (posted) closed.wait();
  };
  SetWindowPort(std::move(port));
}

void MainWindow::ShowPanel(MessagePanel panel) {
  panels_.push_back(std::move(panel));
  needsPaint_ = true;
}

void MainWindow::ShowModalPanel(MessagePanel panel) {
  ShowPanel(std::move(panel));
  const size_t depth = panels_.size();
  PaintNow();
  while (panels_.size() >= depth && !closing_ && !loopEnded_) {
    SDL_Event event;
    if (WaitForEvent(event)) {
      HandleEvent(event);
      while (SDL_PollEvent(&event) == 1) HandleEvent(event);
    }
    if (PaintDue()) PaintNow();
  }
}

void MainWindow::DismissPanel() {
  if (panels_.empty()) return;
  panels_.pop_back();
  needsPaint_ = true;
}

int MainWindow::RunEventLoop() {
  loopRunning_ = true;
  if (closing_) StartStopThread();  // closed while start-up was still showing a box
  needsPaint_ = true;
  while (!loopEnded_) {
    if (PaintDue()) PaintNow();
    SDL_Event event;
    if (!WaitForEvent(event)) continue;
    HandleEvent(event);
    while (!loopEnded_ && SDL_PollEvent(&event) == 1) HandleEvent(event);
  }
  loopRunning_ = false;
  if (stopThread_.joinable()) stopThread_.join();
  return 0;
}

void MainWindow::RequestClose() { PushUserEvent(eventBase_ + CLOSE_REQUEST_EVENT); }

void MainWindow::HandleEvent(const SDL_Event& event) {
  if (event.type == SDL_QUIT) {
    BeginClose();
  } else if (event.type == SDL_WINDOWEVENT) {
    switch (event.window.event) {
      case SDL_WINDOWEVENT_CLOSE:
        BeginClose();
        break;
      case SDL_WINDOWEVENT_EXPOSED:
        // The window manager adds its frame after the window is shown.
        FitFirstFrame();
        needsPaint_ = true;
        break;
      case SDL_WINDOWEVENT_SIZE_CHANGED:
      case SDL_WINDOWEVENT_RESTORED:
      case SDL_WINDOWEVENT_MAXIMIZED:
        needsPaint_ = true;
        break;
      default:
        break;
    }
  } else if (event.type == SDL_KEYDOWN) {
    HandleKey(event.key.keysym.sym);
  } else if (event.type == SDL_MOUSEBUTTONUP && event.button.button == SDL_BUTTON_LEFT && !panels_.empty()) {
    // Mouse positions are in window coordinates; the button was drawn in output pixels.
    int windowWidth = 1;
    int windowHeight = 1;
    int outputWidth = 1;
    int outputHeight = 1;
    SDL_GetWindowSize(window_.get(), &windowWidth, &windowHeight);
    SDL_GetRendererOutputSize(renderer_.get(), &outputWidth, &outputHeight);
    const SDL_Point at{event.button.x * outputWidth / std::max(windowWidth, 1),
                       event.button.y * outputHeight / std::max(windowHeight, 1)};
    if (SDL_PointInRect(&at, &okButton_)) DismissPanel();
  } else if (event.type == eventBase_ + TIMER_EVENT) {
    ScreenCheck(Tick());
    // A fallback only: every stored picture has a repaint due within 33 ms. Should one be
    // missed all the same, the picture must not stay unshown when the sender pauses.
    if (painter_ && painter_->HasUndrawnPicture()) needsPaint_ = true;
    if (tools_.overlayShown()) needsPaint_ = true;  // its figures change by the second
  } else if (event.type == eventBase_ + POSTED_CALL_EVENT) {
    RunPostedCalls();
  } else if (event.type == eventBase_ + CLOSE_REQUEST_EVENT) {
    BeginClose();
  } else if (event.type == eventBase_ + END_LOOP_EVENT) {
    loopEnded_ = true;
  }
}

void MainWindow::RepaintAt(int64_t dueNs) {
  if (!pictureDueNs_ || dueNs < *pictureDueNs_) pictureDueNs_ = dueNs;
}

bool MainWindow::PaintDue() {
  if (pictureDueNs_ && TickNs() >= *pictureDueNs_) needsPaint_ = true;
  return needsPaint_;
}

bool MainWindow::WaitForEvent(SDL_Event& event) {
  if (!pictureDueNs_) {
    if (SDL_WaitEvent(&event) == 1) return true;
    LogError(std::string("SDL_WaitEvent failed: ") + SDL_GetError());
    SDL_Delay(10);
    return false;
  }
  // SDL waits in whole milliseconds: round up, so the paint is never early; it is at most
  // a millisecond late.
  const int64_t remainingNs = *pictureDueNs_ - TickNs();
  if (remainingNs <= 0) return SDL_PollEvent(&event) == 1;
  return SDL_WaitEventTimeout(&event, static_cast<int>((remainingNs + 999'999) / 1'000'000)) == 1;
}

void MainWindow::RunPostedCalls() {
  while (auto call = queue_->Take()) (*call)();
}

void MainWindow::HandleKey(SDL_Keycode key) {
  if (!panels_.empty()) {
    // An open box takes the keyboard, as a dialog would.
    if (key == SDLK_RETURN || key == SDLK_KP_ENTER || key == SDLK_SPACE || key == SDLK_ESCAPE) DismissPanel();
    return;
  }
  if (key == SDLK_F11) {
    if (isFullscreen) {
      LeaveFullscreen();
      LogInfo("退出全屏模式");
    } else {
      bool hasPicture = false;
      {
        std::lock_guard<std::mutex> lock(frameMutex);
        hasPicture = currentFrame != nullptr;
      }
      if ((isConnected && hasPicture) || options_.fullscreen) {
        EnterFullscreen();
        LogInfo("进入全屏模式");
      }
    }
    needsPaint_ = true;
  } else if (key == SDLK_ESCAPE && isFullscreen) {
    LeaveFullscreen();
    needsPaint_ = true;
    LogInfo("ESC退出全屏模式");
  } else if (key == SDLK_i) {
    tools_.ToggleOverlay();
    needsPaint_ = true;
  } else if (key == SDLK_r) {
    tools_.ToggleRecording();
    needsPaint_ = tools_.overlayShown();
  } else if (key == SDLK_s && painter_) {
    tools_.SavePicture(painter_->shownJpeg());
  }
}

void MainWindow::ScreenCheck(uint32_t now) {
  if (isConnected && isScreenActive && TicksBetween(lastFrameTime, now) > SCREEN_OFF_TIMEOUT_MS) {
    isScreenActive = false;
    LogInfo("投屏设备可能已息屏，进入等待状态");
    SetTitle("Tavoli网投屏接受客户端 - 设备息屏");
    needsPaint_ = true;
  }
}

void MainWindow::EnterFullscreen() {
  isFullscreen = true;
  if (!window_) return;
  // The decorations are known now, while the window has them; right after full screen
  // the window manager has not put them back yet.
  if (Borders borders; ReportedBorders(borders)) windowedBorders_ = borders;
  SDL_SetWindowFullscreen(window_.get(), SDL_WINDOW_FULLSCREEN_DESKTOP);
}

void MainWindow::LeaveFullscreen() {
  isFullscreen = false;
  if (!window_) return;
  SDL_SetWindowFullscreen(window_.get(), 0);
  SDL_RestoreWindow(window_.get());
  if (options_.alwaysOnTop) SDL_SetWindowAlwaysOnTop(window_.get(), SDL_TRUE);
  PlaceFrame(SDL_Rect{displayOrigin_.x + WINDOWED_X, displayOrigin_.y + WINDOWED_Y, WINDOWED_WIDTH, WINDOWED_HEIGHT});
}

void MainWindow::FitFirstFrame() {
  Borders borders;
  if (firstFrameFitted_ || !window_ || isFullscreen || !ReportedBorders(borders)) {
    return;  // no frame (yet): the inner area was fitted when the window was made
  }
  firstFrameFitted_ = true;
  // SDL placed the frame's corner where it was asked to; only a frame that runs off its
  // display is moved.
  const SDL_Rect frame{firstRect_.x, firstRect_.y, firstRect_.w + borders.left + borders.right,
                       firstRect_.h + borders.top + borders.bottom};
  SDL_Rect usable;
  if (!UsableArea(displayIndex_, usable)) return;
  const SDL_Rect fitted = FitRect(frame, usable);
  if (!SDL_RectEquals(&frame, &fitted)) PlaceFrame(frame);
}

bool MainWindow::ReportedBorders(Borders& borders) const {
  return SDL_GetWindowBordersSize(window_.get(), &borders.top, &borders.left, &borders.bottom, &borders.right) == 0 &&
         borders.top + borders.left + borders.bottom + borders.right > 0;
}

void MainWindow::PlaceFrame(SDL_Rect outer) {
  SDL_Rect usable;
  const SDL_Rect frame = UsableArea(displayIndex_, usable) ? FitRect(outer, usable) : outer;
  // None without a window manager; right after full screen the window manager may not have
  // put them back yet, so the ones seen last in windowed mode stand in.
  Borders reported;
  const bool known = ReportedBorders(reported);
  const Borders borders = known ? reported : windowedBorders_;
  // SDL sizes the inner area, and takes a position as the inner corner's, moving the frame
  // by the decorations it knows of.
  SDL_SetWindowSize(window_.get(), frame.w - borders.left - borders.right, frame.h - borders.top - borders.bottom);
  SDL_SetWindowPosition(window_.get(), frame.x + (known ? reported.left : 0), frame.y + (known ? reported.top : 0));
}

void MainWindow::PaintNow() {
  needsPaint_ = false;
  pictureDueNs_.reset();  // this paint shows the newest picture
  if (!renderer_ || closing_) return;
  RepaintTaken();  // before the picture is read: one stored after this asks again
  const int64_t start = CastTimingWanted() ? NowNs() : 0;
  painter_->Paint();
  if (tools_.overlayShown()) painter_->DrawOverlay(OverlayLines(tools_.Facts(*painter_)));
  // The information box has done its work once a cast shows: it must not hide the cast.
  // Its text stays on the waiting screen and in the log. Error boxes wait for the person.
  if (painter_->showedPicture()) {
    while (!panels_.empty() && !panels_.back().isError) panels_.pop_back();
  }
  okButton_ = panels_.empty() ? SDL_Rect{0, 0, 0, 0} : painter_->DrawPanel(panels_.back());
  painter_->EndFrame();
  SDL_RenderPresent(renderer_.get());
  if (const Painter::Upload& upload = painter_->lastUpload(); start != 0 && upload.newPicture) {
    const int64_t presented = NowNs();
    const double drawMs = static_cast<double>(presented - start) / 1e6 - upload.uploadMs;
    StatsPictureShown(upload.uploadMs, drawMs,
                      upload.receivedNs != 0 ? static_cast<double>(presented - upload.receivedNs) / 1e6 : 0);
  }
}

void MainWindow::SetTitle(const std::string& title) {
  if (window_) SDL_SetWindowTitle(window_.get(), SanitizeUtf8(title).c_str());
}

void MainWindow::BeginClose() {
  if (closing_) return;
  closing_ = true;
  // The window goes at once; the services may take a moment to stop behind it.
  if (window_) SDL_HideWindow(window_.get());
  panels_.clear();
  if (loopRunning_) StartStopThread();
}

void MainWindow::StartStopThread() {
  if (stopThread_.joinable()) return;
  const Uint32 endLoop = eventBase_ + END_LOOP_EVENT;
  stopThread_ = std::thread([this, endLoop] {
    if (stopServices_) stopServices_();
    PushUserEvent(endLoop);
  });
}

}  // namespace orrin
