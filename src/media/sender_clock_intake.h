#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

#include "media/picture_pacing.h"

namespace orrin {

// The least (or, with `Greatest`, the greatest) value noted over the window now running and
// the one before it: recent enough to follow a change within two windows, long enough to
// remember a rare extreme.
template <bool Greatest>
class TwoWindowExtreme {
 public:
  explicit TwoWindowExtreme(int64_t windowNs) : windowNs_(windowNs) {}

  // Forgets the values noted; `before` stands for the window before. The window starts at
  // `startNs`, or with the next value noted.
  void Restart(std::optional<int64_t> before = std::nullopt, std::optional<int64_t> startNs = std::nullopt) {
    before_ = before;
    now_.reset();
    startNs_ = startNs;
  }

  void Note(int64_t value, int64_t atNs) {
    if (!startNs_ || atNs - *startNs_ >= windowNs_) {
      if (startNs_) before_ = now_;
      now_.reset();
      startNs_ = atNs;
    }
    now_ = Pick(now_, value);
  }

  std::optional<int64_t> value() const { return before_ ? Pick(now_, *before_) : now_; }

 private:
  static int64_t Pick(std::optional<int64_t> a, int64_t b) {
    if (!a) return b;
    return Greatest ? std::max(*a, b) : std::min(*a, b);
  }

  int64_t windowNs_;
  std::optional<int64_t> before_;
  std::optional<int64_t> now_;
  std::optional<int64_t> startNs_;
};

// Which pictures of a sender are taken in, judged on the sender's own clock where it can be.
//
// Every cast message carries the sender's 4-byte time stamp. Over Wi-Fi, pictures sent
// 33 ms apart arrive 15 ms and then 50 ms apart: spacing them by arrival would lose the
// first of each bunched pair. So when the stamps are usable (they advance, and over a
// third of a second or more they keep within a factor of four of arrival time: ms of some
// clock), the intake grid (IntakeGate) runs on them; otherwise, and until that is known,
// on arrival times.
//
// On the sender's clock the link's delay is visible too: the smallest (arrival − stamp)
// seen is the link at its quickest, and how far a picture lies behind it is how late it
// came. After a stall, pictures sent over its length arrive late together: each one that is
// more than `lateMs` late is passed over for the ones behind it, so the newest wins and the
// screen never shows the past while the present is already arriving. Something is always
// shown though: no picture is passed over once four times `lateMs` went by without one.
//
// The same view gives the playout hold: a picture that came quicker than the latest ones of
// lately is held back by the difference (less a few milliseconds nobody sees, at most
// `lateMs`), so pictures bunched by the link are shown as evenly as they were sent, and a
// link without jitter is not held at all. A picture taken without usable stamps is not held.
//
// Used by one sender's thread at a time; Reset for a new sender.
class SenderClockIntake {
 public:
  // `grid`: pictures on a grid of `intervalNs` are kept even when each comes up to half a
  // period early (IntakeGate, for --max-fps). Otherwise a picture sooner than `intervalNs`
  // after the last one taken is dropped: the receiver's default 20 ms rule, on whichever
  // clock is in use. `overNetwork`: the sender is across a link that may jitter, so until
  // the link has shown how late it runs, pictures are held as if it ran `lateMs` late (a
  // sender on this machine is shown without delay from the start).
  explicit SenderClockIntake(int64_t intervalNs, int64_t lateNs = 50'000'000, bool grid = true,
                             bool overNetwork = false);

  enum class Verdict { Take, TooSoon, Late };
  Verdict Judge(uint32_t senderStampMs, int64_t arrivalNs);
  bool Accept(uint32_t senderStampMs, int64_t arrivalNs) { return Judge(senderStampMs, arrivalNs) == Verdict::Take; }

  // After a Take: how long the picture should wait before it is shown.
  int64_t holdNs() const { return holdNs_; }

  // True while the stamps are in use.
  bool OnSenderClock() const { return usable_; }
  void Reset();

 private:
  void Reanchor(int64_t stampNs, int64_t arrivalNs);
  // The spacing on one clock: the grid, or the plain minimum spacing from `last`.
  bool Spaced(IntakeGate& gate, std::optional<int64_t>& last, int64_t atNs);
  // How far behind the quickest link lately a picture with this arrival − stamp came.
  int64_t LateBy(int64_t offset, int64_t arrivalNs);
  // The hold of a picture taken `late` behind the quickest link.
  int64_t HoldFor(int64_t late);

  int64_t intervalNs_;
  int64_t lateNs_;
  bool grid_;
  bool overNetwork_;
  IntakeGate arrivalGate_;
  IntakeGate senderGate_;
  std::optional<int64_t> lastArrivalTakenNs_;  // without the grid
  std::optional<int64_t> lastStampTakenNs_;
  std::optional<uint32_t> lastStamp_;
  int64_t stampNs_ = 0;  // the stamps unwrapped, in nanoseconds
  int64_t anchorStampNs_ = 0;
  int64_t anchorArrivalNs_ = 0;
  bool usable_ = false;
  bool judged_ = false;  // the stamps were judged since they last became steady
  // The smallest arrival − stamp over the last two windows of FLOOR_WINDOW: the link at
  // its quickest lately (a link whose delay grew for good is followed within seconds).
  TwoWindowExtreme<false> floor_;
  std::optional<int64_t> lastTakenNs_;
  // The most any picture came late, over the last two windows of HOLD_WINDOW.
  TwoWindowExtreme<true> lateMax_;
  std::optional<int64_t> lastDelayNs_;  // lateness + hold of the last picture taken
  int64_t holdNs_ = 0;
};

}  // namespace orrin
