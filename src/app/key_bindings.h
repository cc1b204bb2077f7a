#pragma once

#include <SDL.h>

namespace orrin {

// What a key asks of the window. The window carries the action out; this table alone says
// which key does what.
enum class KeyAction {
  None,
  DismissPanel,     // Enter, Space or ESC while a box is open (the box takes the keyboard)
  ToggleFullscreen, // F11 (entering needs a picture, or --fullscreen)
  LeaveFullscreen,  // ESC in full screen
  ToggleOverlay,    // I
  ToggleRecording,  // R
  SavePicture,      // S
};

KeyAction ActionForKey(SDL_Keycode key, bool panelOpen, bool fullscreen);

}  // namespace orrin
