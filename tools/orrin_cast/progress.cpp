#include "progress.h"

#include <cstdio>

namespace orrin::cast {

void Progress::Picture(size_t bytes) {
  ++pictures_;
  bytes_ += bytes;
  Show();
}

void Progress::Sound(size_t bytes) {
  ++sounds_;
  bytes_ += bytes;
  Show();
}

void Progress::Show() {
  if (!live_) return;
  auto now = std::chrono::steady_clock::now();
  if (now - lastShown_ < std::chrono::milliseconds(250)) return;
  lastShown_ = now;
  double seconds = std::chrono::duration<double>(now - start_).count();
  std::fprintf(stderr, "\r%ld pictures  %.1f fps  %.2f MB/s  %ld sound frames   ", pictures_,
               seconds > 0 ? pictures_ / seconds : 0.0, seconds > 0 ? bytes_ / seconds / 1e6 : 0.0, sounds_);
  std::fflush(stderr);
}

void Progress::Finish() {
  if (live_ && pictures_ + sounds_ > 0) std::fputc('\n', stderr);
}

std::string Progress::Summary(double seconds) const {
  char text[200];
  std::snprintf(text, sizeof text, "sent %ld pictures and %ld sound frames (%.2f MB) in %.2f s: %.1f fps, %.2f MB/s",
                pictures_, sounds_, bytes_ / 1e6, seconds, seconds > 0 ? pictures_ / seconds : 0.0,
                seconds > 0 ? bytes_ / seconds / 1e6 : 0.0);
  return text;
}

}  // namespace orrin::cast
