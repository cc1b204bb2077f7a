#pragma once

namespace orrin {

// The desktop's screen saver and the receiver: allowed while nothing is shown (waiting, a
// sender's screen off), held off while pictures are on screen so a presentation never
// blanks, or held off for the whole run when the person asked for that (--no-screensaver).
//
// SDL holds the screen saver off from SDL_Init on unless told otherwise, so
// `PrepareScreenSaverHints` must run before SDL_Init. The object itself lives on the main
// thread, after SDL's video is up.
void PrepareScreenSaverHints();

class ScreenSaver {
 public:
  explicit ScreenSaver(bool keepScreenOn);
  ScreenSaver(const ScreenSaver&) = delete;
  ScreenSaver& operator=(const ScreenSaver&) = delete;

  // Told after every paint whether it showed a picture; calls SDL only on a change.
  void PictureShown(bool shown);
  bool inhibited() const { return inhibited_; }

 private:
  void Set(bool inhibit);

  const bool keepScreenOn_;
  bool inhibited_ = false;
};

}  // namespace orrin
