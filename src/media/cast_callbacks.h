#pragma once

#include <cstdint>
#include <string>

#include "support/bytes.h"

namespace orrin {

// What the WebSocket server reports, applied to the display state and the window.

// A frame arriving less than 20 ms after the last accepted one is dropped unseen.
constexpr unsigned FRAME_INTERVAL_MS = 20;
// Every 30th accepted frame writes a progress line.
constexpr int VIDEO_LOG_EVERY = 30;
// Repaint requests for new pictures are at least 33 ms apart (a picture stored sooner gets
// its repaint at the 33 ms mark), and none is made while the window has not taken the
// previous one, so requests never pile up behind a busy window.
constexpr unsigned REPAINT_INTERVAL_MS = 33;

// One JPEG picture from the sender (the cast header already removed). Runs on the
// sender's thread; never throws.
void OnVideoFrame(const ByteBuffer& data);

// The same with the sender's time stamp of the picture: pictures are then taken in on the
// sender's clock where it is usable (see SenderClockIntake), so jitter on the link does not
// cost pictures, and after a stall the newest wins.
void OnStampedVideoFrame(const ByteBuffer& data, uint32_t senderStampMs);

// The window took the pending repaint: the next stored picture asks for one again. Called
// by the window before it reads the picture.
void RepaintTaken();

// `--max-fps N`: pictures are taken in and repainted up to N a second (spacing 1000/N ms,
// measured on the fine clock, a picture half a period early still kept). 0: the defaults
// above (20 ms intake, 33 ms between repaints).
void SetMaxPictureRate(int fps);

// Off: video frames are counted (statistics) but neither throttled nor decoded. Only the
// ingest benchmark switches decoding off, to measure the frame reader alone.
void SetPictureDecoding(bool on);

// A sender connected ("a.b.c.d:port") or its connection ended (empty text).
void OnConnectionChanged(bool connected, const std::string& clientInfo);

// The server could not start: logged, then shown in a modal error box once the window
// exists.
void OnError(const std::string& message);

// Back to the state at process start: throttle and repaint times, frame counter, pending repaint,
// picture rate, decoding on and the first-frame hint (tests).
void ResetCastCallbacksForTesting();

}  // namespace orrin
