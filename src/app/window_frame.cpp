#include "app/window_frame.h"

#include <algorithm>

#include "app/app_icon.h"
#include "app/display_scale.h"
#include "app/window_placement.h"
#include "support/log.h"
#include "support/utf8.h"

namespace orrin {

namespace {

constexpr int WINDOWED_X = 100;
constexpr int WINDOWED_Y = 100;
constexpr int WINDOWED_WIDTH = 800;
constexpr int WINDOWED_HEIGHT = 600;
constexpr int FIRST_WIDTH = 1200;
constexpr int FIRST_HEIGHT = 800;

}  // namespace

bool WindowFrame::Create() {
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
  // A HiDPI desktop gets a window of the same size in inches, not in pixels.
  desktopScale_ = DesktopScale(displayIndex_);
  // Decorations are not known before the window exists: fit the inner area now and the
  // whole frame once it is shown.
  SDL_Rect first = ScaledRect(WINDOWED_X, WINDOWED_Y, FIRST_WIDTH, FIRST_HEIGHT);
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
  return true;
}

void WindowFrame::Show() {
  SDL_ShowWindow(window_.get());
  FitFirstFrame();
  if (!options_.fullscreen) return;
  // Let the window manager frame the window first (a moment at most, none without one), so
  // leaving full screen later finds a settled window to resize.
  for (int i = 0; i < 30 && !firstFrameFitted_; ++i) {
    SDL_Delay(10);
    SDL_PumpEvents();
    FitFirstFrame();
  }
  EnterFullscreen();
}

void WindowFrame::SetTitle(const std::string& title) {
  if (window_) SDL_SetWindowTitle(window_.get(), SanitizeUtf8(title).c_str());
}

void WindowFrame::EnterFullscreen() {
  fullscreen_ = true;
  if (!window_) return;
  // The decorations are known now, while the window has them; right after full screen
  // the window manager has not put them back yet.
  if (Borders borders; ReportedBorders(borders)) windowedBorders_ = borders;
  SDL_SetWindowFullscreen(window_.get(), SDL_WINDOW_FULLSCREEN_DESKTOP);
}

void WindowFrame::LeaveFullscreen() {
  fullscreen_ = false;
  if (!window_) return;
  SDL_SetWindowFullscreen(window_.get(), 0);
  SDL_RestoreWindow(window_.get());
  if (options_.alwaysOnTop) SDL_SetWindowAlwaysOnTop(window_.get(), SDL_TRUE);
  PlaceFrame(ScaledRect(WINDOWED_X, WINDOWED_Y, WINDOWED_WIDTH, WINDOWED_HEIGHT));
}

SDL_Rect WindowFrame::ScaledRect(int x, int y, int width, int height) const {
  return SDL_Rect{displayOrigin_.x + Scaled(x, desktopScale_), displayOrigin_.y + Scaled(y, desktopScale_),
                  Scaled(width, desktopScale_), Scaled(height, desktopScale_)};
}

void WindowFrame::FitFirstFrame() {
  Borders borders;
  if (firstFrameFitted_ || !window_ || fullscreen_ || !ReportedBorders(borders)) {
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

bool WindowFrame::ReportedBorders(Borders& borders) const {
  return SDL_GetWindowBordersSize(window_.get(), &borders.top, &borders.left, &borders.bottom, &borders.right) == 0 &&
         borders.top + borders.left + borders.bottom + borders.right > 0;
}

void WindowFrame::PlaceFrame(SDL_Rect outer) {
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

}  // namespace orrin
