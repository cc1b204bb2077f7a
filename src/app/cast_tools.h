#pragma once

#include <memory>

#include "app/overlay.h"
#include "support/bytes.h"

namespace orrin {

class AudioPlayback;
class CastSession;
class CastStats;
class Painter;
class Recorder;

// What the window's keys do beyond full screen: the link overlay (I), recording (R) and
// saving the picture on screen (S). Main thread only.
class CastTools {
 public:
  // Null: this process records nothing (tests).
  void SetRecorder(Recorder* recorder) { recorder_ = recorder; }
  // The run's statistics (the overlay switches them on) and the sound output, for the
  // overlay's figures. Null: none to show.
  void SetStats(CastStats* stats) { stats_ = stats; }
  void SetAudio(AudioPlayback* audio) { audio_ = audio; }

  bool overlayShown() const { return overlayShown_; }
  void ToggleOverlay();
  // Starts recording into the Videos folder, or stops the recording under way.
  void ToggleRecording();
  // Writes the picture's JPEG bytes into the Pictures folder under a dated name and logs
  // the path.
  void SavePicture(const std::shared_ptr<const ByteBuffer>& jpeg);
  // The overlay's facts as of now, for the picture `painter` shows of `session` (null:
  // nobody casts).
  OverlayFacts Facts(const Painter& painter, const CastSession* session) const;

 private:
  Recorder* recorder_ = nullptr;
  CastStats* stats_ = nullptr;
  AudioPlayback* audio_ = nullptr;
  bool overlayShown_ = false;
};

}  // namespace orrin
