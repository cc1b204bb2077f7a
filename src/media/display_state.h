#pragma once

namespace orrin {

// What the window shows, chosen by the first test that holds, in this order: a picture and
// an active screen; connected with the screen off; connected; otherwise waiting. The
// picture test ignores the connection flag.
enum class DisplayMode { Picture, ScreenOff, ConnectedWaiting, WaitingForConnection };

DisplayMode ChooseDisplayMode(bool hasPicture, bool connected, bool screenActive);

}  // namespace orrin
