#pragma once

#include <SDL.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "app/cast_tools.h"
#include "app/font_set.h"
#include "app/painter.h"
#include "app/screen_saver.h"
#include "app/sdl_handles.h"
#include "app/window_options.h"

namespace orrin {

// Calls other threads hand to the main thread. Shared with the window port, so a server
// thread that still holds the port after the window is gone only finds a closed queue.
class MainThreadQueue {
 public:
  explicit MainThreadQueue(Uint32 eventType) : eventType_(eventType) {}
  // False (and the call dropped) once the window has closed the queue.
  bool Post(std::function<void()> call);
  std::optional<std::function<void()>> Take();
  void Close();

 private:
  const Uint32 eventType_;
  std::mutex mutex_;
  std::deque<std::function<void()>> calls_;
  bool closed_ = false;
};

// The receiver's one window: its events, keys, screen check, panels and close path. All of
// it runs on the main thread; other threads reach it through the window port.
class MainWindow {
 public:
  static constexpr uint32_t SCREEN_OFF_TIMEOUT_MS = 3000;
  static constexpr uint32_t SCREEN_CHECK_INTERVAL_MS = 1000;

  // `stopServices` runs on the stop thread when the window closes.
  explicit MainWindow(std::function<void()> stopServices, WindowOptions options = {});
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Window "Test" at 100,100, 1200x800 (moved and shrunk where its display is smaller), its
  // icon, renderer and fonts, then the title check.
  // False with its log line when the window or renderer cannot be made. Needs SDL video
  // and TTF initialised.
  bool Create();
  // Base title, shown (full screen with --fullscreen) and painted, then the waiting title.
  void ShowAndPaint();
  bool StartScreenCheckTimer();
  // Fills the display state's window port; cleared again on destruction.
  void InstallWindowPort();

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
  void EnterFullscreen();
  void LeaveFullscreen();
  void PaintNow();
  // A new picture's repaint, due at `dueNs` (TickNs); the earliest due time wins.
  void RepaintAt(int64_t dueNs);
  // True when a paint is wanted now (asked for, or a picture's due time has come).
  bool PaintDue();
  // The next event, waiting no longer than a picture's due time; false when none came.
  bool WaitForEvent(SDL_Event& event);
  bool closing() const { return closing_; }
  bool needsPaint() const { return needsPaint_; }
  std::optional<int64_t> pictureDue() const { return pictureDueNs_; }
  size_t panelCount() const { return panels_.size(); }
  SDL_Window* window() const { return window_.get(); }
  SDL_Renderer* renderer() const { return renderer_.get(); }
  const Painter* painter() const { return painter_.get(); }
  CastTools& tools() { return tools_; }

 private:
  struct Borders {
    int top = 0, left = 0, bottom = 0, right = 0;
  };
  void SetTitle(const std::string& title);
  void BeginClose();
  void StartStopThread();
  // Places the window's frame at `outer` (display coordinates) inside the usable area.
  void PlaceFrame(SDL_Rect outer);
  // Once the window manager's frame is known: the first window's frame fitted to its display.
  void FitFirstFrame();
  bool ReportedBorders(Borders& borders) const;
  // Reopens the fonts and rescales the painter when the drawing scale has changed (a
  // window moved to a display of another scale).
  void FollowDrawScale();
  void DismissPanel();
  void RunPostedCalls();

  std::function<void()> stopServices_;
  WindowOptions options_;
  ScreenSaver screenSaver_;  // follows what each paint shows
  int displayIndex_ = 0;      // the display the window is placed on
  SDL_Point displayOrigin_{0, 0};  // where 100,100 counts from: the chosen display's corner
  SDL_Rect firstRect_{0, 0, 0, 0};  // the first window's corner and inner size
  double desktopScale_ = 1.0;  // window sizes and places at this times their 96 dpi values
  bool firstFrameFitted_ = false;
  std::thread::id mainThread_;
  Uint32 eventBase_ = 0;  // timer, posted call, close request, end of loop
  std::shared_ptr<MainThreadQueue> queue_;
  FontSet fonts_;
  WindowPtr window_;
  RendererPtr renderer_;
  std::unique_ptr<Painter> painter_;
  CastTools tools_;
  SDL_TimerID timer_ = 0;
  Borders windowedBorders_;  // decorations seen last in windowed mode
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
