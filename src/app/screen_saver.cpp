#include "app/screen_saver.h"

#include <SDL.h>

#include "support/log.h"

namespace orrin {

namespace {
// What the desktop lists as the application and its reason (for example in a session's
// "what keeps the screen on" view).
const char* const APP_NAME = "Orrin Receiver";
const char* const SHOWING_A_CAST = "Showing a cast";
const char* const KEEPING_THE_SCREEN_ON = "Keeping the screen on (--no-screensaver)";
}  // namespace

void PrepareScreenSaverHints() {
  SDL_SetHint(SDL_HINT_APP_NAME, APP_NAME);
  SDL_SetHint(SDL_HINT_SCREENSAVER_INHIBIT_ACTIVITY_NAME, SHOWING_A_CAST);
  // Without this SDL_Init itself holds the screen saver off until exit.
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
}

ScreenSaver::ScreenSaver(bool keepScreenOn) : keepScreenOn_(keepScreenOn) {
  if (keepScreenOn_) {
    SDL_SetHint(SDL_HINT_SCREENSAVER_INHIBIT_ACTIVITY_NAME, KEEPING_THE_SCREEN_ON);
    Set(true);
    LogInfo("Screen saver held off for the whole run (--no-screensaver)");
  } else {
    // A stale setting (SDL_VIDEO_ALLOW_SCREENSAVER=0 in the environment wins over the hint)
    // must not keep the desktop awake while nothing is shown.
    Set(false);
  }
}

void ScreenSaver::PictureShown(bool shown) {
  if (keepScreenOn_) return;
  Set(shown);
}

void ScreenSaver::Set(bool inhibit) {
  inhibited_ = inhibit;
  if (inhibit == !SDL_IsScreenSaverEnabled()) return;
  if (inhibit) {
    SDL_DisableScreenSaver();
  } else {
    SDL_EnableScreenSaver();
  }
}

}  // namespace orrin
