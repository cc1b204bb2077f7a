#pragma once

namespace orrin {

// TCP port of the cast link; discovery announces the same number.
constexpr int WEBSOCKET_PORT = 9959;

// Brings up discovery, the WebSocket server (with the cast callbacks) and the decoder, in
// that order. False when one of them could not start; its failure has been logged (and
// shown, through the window's error box) already.
bool StartServices();

// Stops and destroys the server, then discovery, then releases the picture on screen.
// Runs on the stop thread while the main thread keeps handling window events.
void StopServices();

}  // namespace orrin
