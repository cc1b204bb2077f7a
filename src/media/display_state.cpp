#include "media/display_state.h"

namespace orrin {

DisplayMode ChooseDisplayMode(bool hasPicture, bool connected, bool screenActive) {
  if (hasPicture && screenActive) return DisplayMode::Picture;
  if (connected && !screenActive) return DisplayMode::ScreenOff;
  if (connected) return DisplayMode::ConnectedWaiting;
  return DisplayMode::WaitingForConnection;
}

}  // namespace orrin
