#include "app/key_bindings.h"

namespace orrin {

KeyAction ActionForKey(SDL_Keycode key, bool panelOpen, bool fullscreen, bool promptOpen) {
  if (promptOpen && key == SDLK_y) return KeyAction::Admit;
  if (promptOpen && key == SDLK_n) return KeyAction::Refuse;
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
    case SDLK_TAB:
      return KeyAction::FocusNext;
    case SDLK_1:
    case SDLK_KP_1:
      return KeyAction::FocusTile1;
    case SDLK_2:
    case SDLK_KP_2:
      return KeyAction::FocusTile2;
    case SDLK_3:
    case SDLK_KP_3:
      return KeyAction::FocusTile3;
    case SDLK_4:
    case SDLK_KP_4:
      return KeyAction::FocusTile4;
    case SDLK_z:
      return KeyAction::ToggleZoom;
    default:
      return KeyAction::None;
  }
}

}  // namespace orrin
