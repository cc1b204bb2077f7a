#include "app/key_bindings.h"

namespace orrin {

KeyAction ActionForKey(SDL_Keycode key, bool panelOpen, bool fullscreen) {
  if (panelOpen) {
    // An open box takes the keyboard, as a dialog would.
    const bool dismiss = key == SDLK_RETURN || key == SDLK_KP_ENTER || key == SDLK_SPACE || key == SDLK_ESCAPE;
    return dismiss ? KeyAction::DismissPanel : KeyAction::None;
  }
  switch (key) {
    case SDLK_F11:
      return KeyAction::ToggleFullscreen;
    case SDLK_ESCAPE:
      return fullscreen ? KeyAction::LeaveFullscreen : KeyAction::None;
    case SDLK_i:
      return KeyAction::ToggleOverlay;
    case SDLK_r:
      return KeyAction::ToggleRecording;
    case SDLK_s:
      return KeyAction::SavePicture;
    default:
      return KeyAction::None;
  }
}

}  // namespace orrin
