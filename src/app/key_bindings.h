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
  FocusNext,        // Tab (several senders)
  FocusTile1,       // 1 to 4: the focus to that tile (several senders)
  FocusTile2,
  FocusTile3,
  FocusTile4,
  ToggleZoom,       // Z: the focused tile alone and back (several senders)
  Admit,            // Y while a sender waits to be let in
  Refuse,           // N while a sender waits to be let in
};

// `promptOpen`: a sender waits to be let in; its Y and N come before any box.
KeyAction ActionForKey(SDL_Keycode key, bool panelOpen, bool fullscreen, bool promptOpen = false);

}  // namespace orrin
