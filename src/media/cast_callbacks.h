#pragma once

#include <string>

#include "support/bytes.h"

namespace orrin {

// What the WebSocket server reports, applied to the display state and the window.

// A frame arriving less than 20 ms after the last accepted one is dropped unseen.
constexpr unsigned FRAME_INTERVAL_MS = 20;
// Every 30th accepted frame writes a progress line.
constexpr int VIDEO_LOG_EVERY = 30;
// Repaint requests from pictures are at least 33 ms apart.
constexpr unsigned REPAINT_INTERVAL_MS = 33;

// One JPEG picture from the sender (the cast header already removed). Runs on the
// sender's thread; never throws.
void OnVideoFrame(const ByteBuffer& data);

// A sender connected ("a.b.c.d:port") or its connection ended (empty text).
void OnConnectionChanged(bool connected, const std::string& clientInfo);

// The server could not start: logged, then shown in a modal error box once the window
// exists.
void OnError(const std::string& message);

// Back to the state at process start: throttle times, frame counter and the first-frame
// hint (tests).
void ResetCastCallbacksForTesting();

}  // namespace orrin
