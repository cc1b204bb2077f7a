#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

namespace orrin {

// When a stored picture gets its repaint. Requests stay at least `interval` apart, but a
// picture stored sooner is not refused: its request is due at the interval's mark, so the
// newest picture is on screen no later than one interval after it was stored. While a
// request has not been taken by the window, newer pictures ride on it (the paint reads the
// newest), so requests never pile up behind a busy window. Times are nanoseconds of one
// monotonic clock. Thread-safe: pictures are stored on the sender's thread, the window
// takes repaints on the main thread.
class RepaintPacer {
 public:
  explicit RepaintPacer(int64_t intervalNs) : intervalNs_(intervalNs) {}

  // A picture was stored at `nowNs`: the time its repaint request is due (`nowNs` or later),
  // or nothing when a request not yet taken will show it.
  std::optional<int64_t> PictureStored(int64_t nowNs);
  // The window is about to paint the newest picture.
  void RepaintTaken();


 private:
  std::mutex mutex_;
  int64_t intervalNs_;
  std::optional<int64_t> lastRequestNs_;
  bool pending_ = false;
};

// The intake of a sender that may send up to `interval`'s rate (`--max-fps`): pictures on a
// grid of that period are all kept even when each arrives up to half a period early or late,
// while a faster sender is held to the rate on average (at most one extra right after a
// pause). Used by the sender's thread only.
class IntakeGate {
 public:
  explicit IntakeGate(int64_t intervalNs) : intervalNs_(intervalNs) {}
  bool Accept(int64_t nowNs);
  void Reset() { nextNs_.reset(); }

 private:
  int64_t intervalNs_;
  std::optional<int64_t> nextNs_;  // the grid point the next picture is expected at
};

}  // namespace orrin
