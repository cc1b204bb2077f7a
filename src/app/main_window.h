#pragma once

#include <SDL.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "app/cast_tools.h"
#include "app/font_set.h"
#include "app/main_thread_queue.h"
#include "app/painter.h"
#include "app/prompt_queue.h"
#include "app/screen_saver.h"
#include "app/sdl_handles.h"
#include "app/tile_set.h"
#include "app/window_frame.h"
#include "app/window_options.h"
#include "media/cast_session.h"
#include "support/host_watch.h"

namespace orrin {

// The receiver's one window: its event loop with paint timing, the sender it shows, keys,
// panels and the close path. All of it runs on the main thread; other threads reach it
// through Post.
class MainWindow {
 public:
  static constexpr uint32_t SCREEN_CHECK_INTERVAL_MS = 1000;

  // `stopServices` runs on the stop thread when the window closes. `readHost` tells the
  // machine's name and address; the screen check asks it every second.
  explicit MainWindow(std::function<void()> stopServices, WindowOptions options = {},
                      std::function<HostIdentity()> readHost = ReadHostIdentity);
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // The window (see WindowFrame::Create), its renderer and fonts, then the title check.
  // False with its log line when the window or renderer cannot be made. Needs SDL video
  // and TTF initialised.
  bool Create();
  // Base title, shown (full screen with --fullscreen) and painted, then the waiting title.
  void ShowAndPaint();
  bool StartScreenCheckTimer();

  // Thread-safe: `call` runs on the main thread at the loop's next turn. False when the
  // window is gone or going.
  bool Post(std::function<void()> call);
  // Thread-safe modal error box: returns once the person closed it (or the window went).
  void ShowErrorBox(const std::string& caption, const std::string& text);

  // What a cast session tells the window, on the main thread (see Post).
  // `session` connected: it is shown from now on (in a tile of its own, with several).
  void ShowSession(std::shared_ptr<CastSession> session);
  // `session` ended: back to the waiting screen (and out of full screen, unless a kiosk).
  void SessionEnded(const CastSession* session);
  // A new picture of `session`, its repaint due at `dueNs` (TickNs).
  void PictureStored(const CastSession* session, int64_t dueNs);
  // `session`'s pictures came back after its screen was off.
  void ScreenOn(const CastSession* session);
  // A sender waits to be let in: its prompt is shown (after those before it).
  void ShowPrompt(ApprovalPrompt prompt);
  // The sender of `preview` left while it waited.
  void PromptEnded(const CastSession* preview);
  // Told, on the main thread, which sender has the focus (null: none) whenever it changes.
  void SetFocusListener(std::function<void(const CastSession*)> listener) { focusListener_ = std::move(listener); }

  // A box over the window that leaves the window working (painting, casting, keys of the
  // loop) while it is open.
  void ShowPanel(MessagePanel panel);
  // The same box, but returns only when it was dismissed or the window closed.
  void ShowModalPanel(MessagePanel panel);

  // Runs until the close path has stopped the services. Returns the exit code (0).
  int RunEventLoop();
  // Thread-safe: the same as the user closing the window.
  void RequestClose();

  // The pieces of the loop, reachable for tests.
  void HandleEvent(const SDL_Event& event);
  void HandleKey(SDL_Keycode key);
  void ScreenCheck(uint32_t now);
  void EnterFullscreen() { frame_.EnterFullscreen(); }
  void LeaveFullscreen() { frame_.LeaveFullscreen(); }
  void PaintNow();
  // A new picture's repaint, due at `dueNs` (TickNs); the earliest due time wins.
  void RepaintAt(int64_t dueNs);
  // True when a paint is wanted now (asked for, or a picture's due time has come).
  bool PaintDue();
  // The next event, waiting no longer than a picture's due time; false when none came.
  bool WaitForEvent(SDL_Event& event);
  bool closing() const { return closing_; }
  bool fullscreen() const { return frame_.fullscreen(); }
  bool needsPaint() const { return needsPaint_; }
  std::optional<int64_t> pictureDue() const { return pictureDueNs_; }
  size_t panelCount() const { return panels_.size(); }
  const MessagePanel* topPanel() const { return panels_.empty() ? nullptr : &panels_.back(); }
  const HostIdentity& host() const { return host_.current(); }
  const CastSession* shownSession() const { return tiles_.Focused(); }
  const TileSet& tiles() const { return tiles_; }
  const PromptQueue& prompts() const { return prompts_; }
  SDL_Window* window() const { return frame_.window(); }
  SDL_Renderer* renderer() const { return renderer_.get(); }
  const Painter* painter() const { return painter_.get(); }
  CastTools& tools() { return tools_; }

 private:
  void SetTitle(const std::string& title) { frame_.SetTitle(title); }
  void ToggleFullscreen();
  void BeginClose();
  void StartStopThread();
  // Reopens the fonts and rescales the painter when the drawing scale has changed (a
  // window moved to a display of another scale).
  void FollowDrawScale();
  void DismissPanel();
  void RunPostedCalls();
  void CheckHost();
  bool multi() const { return options_.senders > 1; }
  // Several senders: keys, a click, the paint and what it hands back to the sessions.
  bool HandleTileAction(int action);
  void ClickAt(SDL_Point at);
  SDL_Point OutputPoint(int x, int y) const;
  void PaintTiles(bool timed, int64_t start);
  void PaintPrompt();
  void FocusChanged();
  bool HasUndrawnTile() const;

  std::function<void()> stopServices_;
  WindowOptions options_;
  ScreenSaver screenSaver_;  // follows what each paint shows
  WindowFrame frame_;
  std::thread::id mainThread_;
  Uint32 eventBase_ = 0;  // timer, posted call, close request, end of loop
  std::shared_ptr<MainThreadQueue> queue_;
  FontSet fonts_;
  RendererPtr renderer_;
  std::unique_ptr<Painter> painter_;
  CastTools tools_;
  TileSet tiles_;        // the senders on screen (one place without --senders)
  PromptQueue prompts_;  // senders waiting to be let in
  const CastSession* promptShown_ = nullptr;
  const CastSession* focusTold_ = nullptr;
  std::function<void(const CastSession*)> focusListener_;
  SDL_TimerID timer_ = 0;
  HostWatch host_;
  std::vector<MessagePanel> panels_;
  SDL_Rect okButton_{0, 0, 0, 0};
  bool needsPaint_ = false;
  std::optional<int64_t> pictureDueNs_;
  bool loopRunning_ = false;
  bool loopEnded_ = false;
  bool closing_ = false;
  std::thread stopThread_;
};

}  // namespace orrin
