#include "app/overlay.h"

#include <cstdio>

namespace orrin {
namespace {

std::string Fixed(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string FileName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RecordingLine(const OverlayFacts& f) {
  if (!f.recordingAvailable) return "Recording: not available";
  if (f.recordingWriting) {
    std::string line = "Recording: " + FileName(f.recordingPath) + ", " + Fixed(f.recordingSeconds, 0) + " s";
    if (f.recordingDropped > 0) line += ", " + std::to_string(f.recordingDropped) + " pictures dropped";
    return line;
  }
  if (f.recordingArmed) return "Recording: waiting for a sender";
  if (!f.recordingFailure.empty()) return "Recording: stopped (" + f.recordingFailure + ")";
  return "Recording: off (R)";
}

}  // namespace

std::vector<std::string> OverlayLines(const OverlayFacts& f) {
  std::vector<std::string> lines;
  lines.push_back("Sender: " + (f.sender.empty() ? std::string("none") : f.sender));
  lines.push_back("Picture: " + (f.pictureWidth > 0 ? std::to_string(f.pictureWidth) + "x" +
                                                          std::to_string(f.pictureHeight)
                                                    : std::string("none")));
  if (f.statsReady) {
    lines.push_back("Pictures/s: " + std::to_string(f.receivedPerSecond) + " received, " +
                    std::to_string(f.shownPerSecond) + " shown");
    lines.push_back("Decode p50: " + Fixed(f.decodeP50Ms, 1) + " ms, present delay p50: " + Fixed(f.delayP50Ms, 1) +
                    " ms");
    lines.push_back("Bitrate: " + Fixed(static_cast<double>(f.bytesPerSecond) * 8 / 1e6, 1) + " Mbit/s");
  } else {
    lines.push_back("Pictures/s: measuring...");
  }
  lines.push_back("Sound queued: " + Fixed(f.soundQueuedMs, 0) + " ms");
  lines.push_back(RecordingLine(f));
  return lines;
}

}  // namespace orrin
