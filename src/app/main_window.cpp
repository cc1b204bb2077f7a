#include "app/main_window.h"

#include <future>
#include <string>

#include "app/display_scale.h"
#include "app/fixed_texts.h"
#include "app/key_bindings.h"
#include "app/renderer_choice.h"
#include "media/cast_stats.h"
#include "support/log.h"
#include "support/tick.h"
#include "support/utf8.h"

namespace orrin {

namespace {

enum EventOffset : Uint32 { TIMER_EVENT = 0, POSTED_CALL_EVENT, CLOSE_REQUEST_EVENT, END_LOOP_EVENT, EVENT_COUNT };

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

MainWindow::MainWindow(std::function<void()> stopServices, WindowOptions options,
                       std::function<HostIdentity()> readHost)
    : stopServices_(std::move(stopServices)),
      options_(options),
      screenSaver_(options.keepScreenOn),
      frame_(options),
      mainThread_(std::this_thread::get_id()),
      tiles_(options.senders),
      prompts_(options.approveTimeoutMs),
      host_(std::move(readHost)) {
  eventBase_ = SDL_RegisterEvents(EVENT_COUNT);
  queue_ = std::make_shared<MainThreadQueue>(eventBase_ + POSTED_CALL_EVENT);
}

MainWindow::~MainWindow() {
  queue_->Close();
  if (timer_ != 0) SDL_RemoveTimer(timer_);
  if (stopThread_.joinable()) stopThread_.join();
  prompts_.RefuseAll();
  tiles_.Clear();
  painter_.reset();  // its textures belong to the renderer
  renderer_.reset();
  frame_.Destroy();
}

bool MainWindow::Create() {
  if (eventBase_ == static_cast<Uint32>(-1)) {
    LogError(std::string("Failed to register window events: ") + SDL_GetError());
    return false;
  }
  if (!frame_.Create()) return false;
  renderer_.reset(CreateCastRenderer(frame_.window()));
  if (!renderer_) {
    LogError(std::string("Failed to create renderer: ") + SDL_GetError());
    return false;
  }
  if (SDL_RendererInfo info; SDL_GetRendererInfo(renderer_.get(), &info) == 0) {
    // What a delay figure was measured with.
    LogInfo(std::string("Renderer: ") + info.name +
            (PresentsOnRefresh(renderer_.get()) ? " (presents on the display's refresh)" : ""));
  }
  painter_ = std::make_unique<Painter>(renderer_.get(), &fonts_);
  FollowDrawScale();
  painter_->SetKeepAspect(options_.keepAspect);

  // Title check: the window system takes a UTF-8 title and gives back what it holds.
  const std::string waiting = WaitingTitle();
  SDL_SetWindowTitle(frame_.window(), waiting.c_str());
  LogInfo(TITLE_SET_LINE);
  const char* readBack = SDL_GetWindowTitle(frame_.window());
  LogInfo(TITLE_LENGTH_LINE + std::to_string(Utf16Length(readBack != nullptr ? readBack : "")));
  SDL_SetWindowTitle(frame_.window(), "Orrin Receiver Test");
  SDL_Delay(100);
  SDL_SetWindowTitle(frame_.window(), waiting.c_str());
  return true;
}

void MainWindow::ShowAndPaint() {
  SetTitle(BASE_TITLE);
  frame_.Show();
  PaintNow();
  SetTitle(WaitingTitle());
}

bool MainWindow::StartScreenCheckTimer() {
  timer_ = SDL_AddTimer(SCREEN_CHECK_INTERVAL_MS, ScreenCheckTick,
                        reinterpret_cast<void*>(static_cast<uintptr_t>(eventBase_ + TIMER_EVENT)));
  if (timer_ == 0) LogError(std::string("Failed to start the screen check timer: ") + SDL_GetError());
  return timer_ != 0;
}

bool MainWindow::Post(std::function<void()> call) { return queue_->Post(std::move(call)); }

void MainWindow::ShowErrorBox(const std::string& caption, const std::string& text) {
  MessagePanel panel{caption, text, true, {}};
  if (std::this_thread::get_id() == mainThread_) {
    ShowModalPanel(std::move(panel));
    return;
  }
  // Modal for the caller: it waits until the main thread has shown and closed the box, or
  // until the window drops the call because it is going away.
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> closed = done->get_future();
  const bool posted = queue_->Post([this, panel = std::move(panel), done]() mutable {
    ShowModalPanel(std::move(panel));
    done->set_value();
  });
  done.reset();
  if (posted) closed.wait();
}

void MainWindow::ShowSession(std::shared_ptr<CastSession> session) {
  if (session == nullptr) return;
  SetTitle(ConnectedTitle(session->clientInfo()));
  const size_t place = tiles_.Add(std::move(session), Tick());
  if (painter_) {
    painter_->ForgetUpload();
    painter_->tile(place).Forget();
  }
  FocusChanged();
  needsPaint_ = true;
}

void MainWindow::SessionEnded(const CastSession* session) {
  tiles_.Remove(session);
  FocusChanged();
  if (multi() && tiles_.Focused() != nullptr) {
    // The others go on: the window stays as it is and names the sender in focus.
    SetTitle(ConnectedTitle(tiles_.Focused()->clientInfo()));
    needsPaint_ = true;
    return;
  }
  // A kiosk stays full screen when the sender goes; only the keys leave it.
  if (frame_.fullscreen() && !options_.fullscreen) frame_.LeaveFullscreen();
  SetTitle(WaitingTitle());
  needsPaint_ = true;
}

void MainWindow::PictureStored(const CastSession* session, int64_t dueNs) {
  const ApprovalPrompt* prompt = prompts_.Front();
  if (tiles_.PlaceOf(session) || (prompt != nullptr && prompt->preview.get() == session)) RepaintAt(dueNs);
}

void MainWindow::ScreenOn(const CastSession* session) {
  if (session != nullptr && session == tiles_.Focused()) SetTitle(ScreenOnTitle());
}

void MainWindow::ShowPanel(MessagePanel panel) {
  if (panel.compose) panel.text = panel.compose(host_.current());
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
        frame_.FitFirstFrame();
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
  } else if (event.type == SDL_MOUSEBUTTONUP && event.button.button == SDL_BUTTON_LEFT && multi() &&
             panels_.empty()) {
    ClickAt(OutputPoint(event.button.x, event.button.y));
  } else if (event.type == SDL_MOUSEBUTTONUP && event.button.button == SDL_BUTTON_LEFT && !panels_.empty()) {
    const SDL_Point at = OutputPoint(event.button.x, event.button.y);
    if (SDL_PointInRect(&at, &okButton_)) DismissPanel();
  } else if (event.type == eventBase_ + TIMER_EVENT) {
    ScreenCheck(Tick());
    // A fallback only: every stored picture has a repaint due within 33 ms. Should one be
    // missed all the same, the picture must not stay unshown when the sender pauses.
    if (HasUndrawnTile()) needsPaint_ = true;
    if (tools_.overlayShown()) needsPaint_ = true;  // its figures change by the second
  } else if (event.type == eventBase_ + POSTED_CALL_EVENT) {
    RunPostedCalls();
  } else if (event.type == eventBase_ + CLOSE_REQUEST_EVENT) {
    BeginClose();
  } else if (event.type == eventBase_ + END_LOOP_EVENT) {
    loopEnded_ = true;
  }
}

SDL_Point MainWindow::OutputPoint(int x, int y) const {
  // Mouse positions are in window coordinates; everything is drawn in output pixels.
  int windowWidth = 1;
  int windowHeight = 1;
  int outputWidth = 1;
  int outputHeight = 1;
  SDL_GetWindowSize(frame_.window(), &windowWidth, &windowHeight);
  SDL_GetRendererOutputSize(renderer_.get(), &outputWidth, &outputHeight);
  return SDL_Point{x * outputWidth / std::max(windowWidth, 1), y * outputHeight / std::max(windowHeight, 1)};
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
  const KeyAction action = ActionForKey(key, !panels_.empty(), frame_.fullscreen(), prompts_.Front() != nullptr);
  if (HandleTileAction(static_cast<int>(action))) return;
  switch (action) {
    case KeyAction::None:
      break;
    case KeyAction::DismissPanel:
      DismissPanel();
      break;
    case KeyAction::ToggleFullscreen:
      ToggleFullscreen();
      needsPaint_ = true;
      break;
    case KeyAction::LeaveFullscreen:
      frame_.LeaveFullscreen();
      needsPaint_ = true;
      LogInfo("ESC退出全屏模式");
      break;
    case KeyAction::ToggleOverlay:
      tools_.ToggleOverlay();
      needsPaint_ = true;
      break;
    case KeyAction::ToggleRecording:
      tools_.ToggleRecording();
      needsPaint_ = tools_.overlayShown();
      break;
    case KeyAction::SavePicture:
      if (painter_) tools_.SavePicture(multi() ? painter_->tile(tiles_.focus()).jpeg() : painter_->shownJpeg());
      break;
    default:
      break;
  }
}

void MainWindow::ToggleFullscreen() {
  if (frame_.fullscreen()) {
    frame_.LeaveFullscreen();
    LogInfo("退出全屏模式");
    return;
  }
  const CastSession* shown = tiles_.Focused();
  const bool showing = shown != nullptr && shown->connected() && shown->picture().Holds();
  if (showing || options_.fullscreen) {
    frame_.EnterFullscreen();
    LogInfo("进入全屏模式");
  }
}

void MainWindow::ScreenCheck(uint32_t now) {
  for (size_t place = 0; place < tiles_.places(); ++place) {
    CastSession* session = tiles_.At(place);
    if (session != nullptr && session->CheckScreen(now)) {
      LogInfo("投屏设备可能已息屏，进入等待状态");
      if (session == tiles_.Focused()) SetTitle(ScreenOffTitle());
      needsPaint_ = true;
    }
  }
  if (prompts_.Expire(now)) needsPaint_ = true;
  // The prompt counts its seconds down.
  if (prompts_.Front() != nullptr) needsPaint_ = true;
  CheckHost();
}

void MainWindow::CheckHost() {
  // Nothing repaints a waiting window by itself: a new address would stay unseen until
  // someone moved it.
  if (!host_.Check()) return;
  for (MessagePanel& panel : panels_) {
    if (panel.compose) panel.text = panel.compose(host_.current());
  }
  needsPaint_ = true;
}

void MainWindow::PaintNow() {
  needsPaint_ = false;
  pictureDueNs_.reset();  // this paint shows the newest picture
  if (!renderer_ || closing_) return;
  CastSession* shown = tiles_.Focused();
  PaintInput input;
  input.fullscreen = frame_.fullscreen();
  if (shown != nullptr) input.timed = shown->stats().TimingWanted();
  painter_->SetHost(&host_.current());
  const int64_t start = input.timed ? NowNs() : 0;
  FollowDrawScale();
  if (multi()) {
    PaintTiles(input.timed, start);
  } else {
    if (shown) {
      // Before the picture is read: one stored after this asks again.
      if (std::optional<int64_t> next = shown->RepaintTaken()) RepaintAt(*next);
      input.picture = &shown->picture();
      input.connected = shown->connected();
      input.screenActive = shown->screenActive();
    }
    painter_->Paint(input);
    // The sender's next picture is decoded for the area this one was drawn into.
    if (shown) shown->SetDrawArea(painter_->drawArea());
  }
  screenSaver_.PictureShown(painter_->showedPicture());
  if (tools_.overlayShown()) painter_->DrawOverlay(OverlayLines(tools_.Facts(*painter_, shown)));
  // The information box has done its work once a cast shows: it must not hide the cast.
  // Its text stays on the waiting screen and in the log. Error boxes wait for the person.
  if (painter_->showedPicture()) {
    while (!panels_.empty() && !panels_.back().isError) panels_.pop_back();
  }
  okButton_ = panels_.empty() ? SDL_Rect{0, 0, 0, 0} : painter_->DrawPanel(panels_.back());
  PaintPrompt();
  painter_->EndFrame();
  PresentFrame(renderer_.get());
  if (!input.timed) return;
  const int64_t presented = NowNs();
  auto count = [&](const Painter::Upload& upload, CastSession* session) {
    if (!upload.newPicture || session == nullptr) return;
    const double drawMs = static_cast<double>(presented - start) / 1e6 - upload.uploadMs;
    session->stats().PictureShown(upload.uploadMs, drawMs,
                                  upload.receivedNs != 0 ? static_cast<double>(presented - upload.receivedNs) / 1e6 : 0);
  };
  if (!multi()) {
    count(painter_->lastUpload(), shown);
    return;
  }
  for (size_t place : tiles_.Shown()) count(painter_->tile(place).lastUpload(), tiles_.At(place));
}

void MainWindow::FollowDrawScale() {
  int windowWidth = 0;
  int drawableWidth = 0;
  SDL_GetWindowSize(frame_.window(), &windowWidth, nullptr);
  SDL_GetRendererOutputSize(renderer_.get(), &drawableWidth, nullptr);
  const double scale = DrawScale(frame_.desktopScale(), windowWidth, drawableWidth);
  if (scale == fonts_.scale) return;
  // Said when it is not the plain 96 dpi one, and on every change.
  if (scale != 1.0 || fonts_.scale != 0) LogInfo("Texts and layout drawn at scale " + ScaleText(scale));
  fonts_ = FontSet::Open(scale);
  painter_->SetScale(scale);
}

void MainWindow::BeginClose() {
  if (closing_) return;
  closing_ = true;
  // The window goes at once; the services may take a moment to stop behind it.
  frame_.Hide();
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
