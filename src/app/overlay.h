#pragma once

#include <string>
#include <vector>

namespace orrin {

// What the overlay in the window's corner tells about the link, gathered once per paint.
struct OverlayFacts {
  std::string sender;          // "a.b.c.d:port", empty when none
  int pictureWidth = 0;        // the picture on screen, 0 when none
  int pictureHeight = 0;
  bool statsReady = false;     // false until a second of statistics has been collected
  unsigned long long receivedPerSecond = 0;
  unsigned long long shownPerSecond = 0;
  unsigned long long bytesPerSecond = 0;
  double decodeP50Ms = 0;
  double delayP50Ms = 0;
  double soundQueuedMs = 0;
  // Recording
  bool recordingAvailable = true;
  bool recordingArmed = false;
  bool recordingWriting = false;
  std::string recordingPath;
  double recordingSeconds = 0;
  unsigned long long recordingDropped = 0;
  std::string recordingFailure;
};

// The overlay's lines, top to bottom.
std::vector<std::string> OverlayLines(const OverlayFacts& facts);

}  // namespace orrin
