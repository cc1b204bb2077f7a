#pragma once

#include <SDL.h>

#include <string>

#include "app/sdl_handles.h"
#include "app/window_options.h"

namespace orrin {

// The window on the desktop: which display it opens on, where it sits and how large, its
// borders, full screen and back. Differences between display servers belong here. Main
// thread only.
class WindowFrame {
 public:
  explicit WindowFrame(WindowOptions options) : options_(options) {}

  // Window "Test" at 100,100 of its display, 1200x800 (moved and shrunk where its display is
  // smaller), with its icon. False with its log line when it cannot be made.
  bool Create();
  // Shown; the first frame fitted once the window manager has framed it, and full screen
  // with --fullscreen.
  void Show();
  void SetTitle(const std::string& title);

  bool fullscreen() const { return fullscreen_; }
  void EnterFullscreen();
  // Windowed again: 800x600 at 100,100 of its display (fitted to its usable area).
  void LeaveFullscreen();
  // The window manager has (maybe) framed the first window: fit the whole frame.
  void FitFirstFrame();
  void Hide() {
    if (window_) SDL_HideWindow(window_.get());
  }
  SDL_Window* window() const { return window_.get(); }
  // The desktop's scale (display_scale.h) its sizes and places were taken at.
  double desktopScale() const { return desktopScale_; }
  void Destroy() { window_.reset(); }

 private:
  struct Borders {
    int top = 0, left = 0, bottom = 0, right = 0;
  };
  // `x`, `y`, `width`, `height` at the desktop's scale, from the display's corner.
  SDL_Rect ScaledRect(int x, int y, int width, int height) const;
  // Places the window's frame at `outer` (display coordinates) inside the usable area.
  void PlaceFrame(SDL_Rect outer);
  bool ReportedBorders(Borders& borders) const;

  const WindowOptions options_;
  WindowPtr window_;
  int displayIndex_ = 0;            // the display the window is placed on
  SDL_Point displayOrigin_{0, 0};   // where 100,100 counts from: the chosen display's corner
  SDL_Rect firstRect_{0, 0, 0, 0};  // the first window's corner and inner size
  double desktopScale_ = 1.0;  // sizes and places at this times their 96 dpi values
  bool firstFrameFitted_ = false;
  bool fullscreen_ = false;
  Borders windowedBorders_;  // decorations seen last in windowed mode
};

}  // namespace orrin
