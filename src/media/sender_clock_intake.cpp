#include "media/sender_clock_intake.h"

#include <algorithm>

namespace orrin {
namespace {

constexpr int64_t NS_PER_MS = 1'000'000;
// Stamps are judged against arrival over at least this span, and the span starts over
// after the longer one (so a sender that changes its clock is noticed within seconds).
constexpr int64_t JUDGE_AFTER_NS = 300'000'000;
constexpr int64_t REANCHOR_AFTER_NS = 5'000'000'000;
constexpr int64_t MAX_RATE = 4;  // stamps may run at most this many times faster or slower
// A stamp further ahead than this is a new clock, not a pause.
constexpr int64_t MAX_STEP_NS = 10'000'000'000;
constexpr int64_t FLOOR_WINDOW_NS = 2'000'000'000;
// The lateness the hold covers is remembered this long (and up to twice as long): a Wi-Fi
// link's worst moments come every few seconds.
constexpr int64_t HOLD_WINDOW_NS = 5'000'000'000;
// How much the hold may change from one picture to the next: up by less than a picture
// period, so a growing hold never leaves a long gap; down gently.
constexpr int64_t HOLD_STEP_UP_NS = 10'000'000;
constexpr int64_t HOLD_STEP_DOWN_NS = 4'000'000;
// Lateness up to this much is not held for: a picture that late opens a gap of at most a
// period and this, which nobody sees, while a link without jitter is shown without delay.
constexpr int64_t HOLD_SLACK_NS = 7'000'000;
// The first picture waits at most this long, so the second may come late without a gap.
constexpr int64_t FIRST_HOLD_NS = 25'000'000;

}  // namespace

SenderClockIntake::SenderClockIntake(int64_t intervalNs, int64_t lateNs, bool grid, bool overNetwork)
    : intervalNs_(intervalNs),
      lateNs_(lateNs),
      grid_(grid),
      overNetwork_(overNetwork),
      arrivalGate_(intervalNs),
      senderGate_(intervalNs),
      floor_(FLOOR_WINDOW_NS),
      lateMax_(HOLD_WINDOW_NS) {}

void SenderClockIntake::Reset() { *this = SenderClockIntake(intervalNs_, lateNs_, grid_, overNetwork_); }

bool SenderClockIntake::Spaced(IntakeGate& gate, std::optional<int64_t>& last, int64_t atNs) {
  if (grid_) return gate.Accept(atNs);
  if (last && atNs - *last < intervalNs_) return false;
  last = atNs;
  return true;
}

void SenderClockIntake::Reanchor(int64_t stampNs, int64_t arrivalNs) {
  anchorStampNs_ = stampNs;
  anchorArrivalNs_ = arrivalNs;
}

int64_t SenderClockIntake::LateBy(int64_t offset, int64_t arrivalNs) {
  floor_.Note(offset, arrivalNs);
  return offset - *floor_.value();
}

int64_t SenderClockIntake::HoldFor(int64_t late) {
  // The delay behind the quickest link moves toward the lateness seen lately a step at a
  // time, so a change of hold never opens a gap of its own; a picture later than that is
  // shown as it comes.
  const int64_t target = std::max(lateMax_.value().value_or(0) - HOLD_SLACK_NS, late);
  const int64_t delay =
      lastDelayNs_ ? std::clamp(target, *lastDelayNs_ - HOLD_STEP_DOWN_NS, *lastDelayNs_ + HOLD_STEP_UP_NS)
                   : std::min(target, FIRST_HOLD_NS);
  lastDelayNs_ = std::max(delay, late);
  return *lastDelayNs_ - late;
}

SenderClockIntake::Verdict SenderClockIntake::Judge(uint32_t senderStampMs, int64_t arrivalNs) {
  // Unwrap the 32-bit stamp; one that goes back, stands still or leaps is a clock we cannot
  // use (a frame counter, a constant, a sender that restarted its clock).
  const bool first = !lastStamp_;
  bool steady = false;
  if (lastStamp_) {
    const int32_t step = static_cast<int32_t>(senderStampMs - *lastStamp_);
    steady = step > 0 && step * NS_PER_MS <= MAX_STEP_NS;
    // Only a steady step counts: the clock is judged afresh after any other, and stamps
    // leaping ahead 24 days at a time would otherwise overflow it within thousands.
    if (steady) stampNs_ += static_cast<int64_t>(step) * NS_PER_MS;
  }
  lastStamp_ = senderStampMs;
  if (!steady) {
    if (usable_) {
      senderGate_.Reset();
      lastStampTakenNs_.reset();
    }
    usable_ = judged_ = false;
    floor_.Restart();
    lastDelayNs_.reset();
    // Until the link has shown how late it runs, the hold aims at the most it may be.
    lateMax_.Restart(overNetwork_ ? lateNs_ : 0, arrivalNs);
    Reanchor(stampNs_, arrivalNs);
  } else if (const int64_t span = arrivalNs - anchorArrivalNs_; span >= JUDGE_AFTER_NS) {
    const int64_t stamped = stampNs_ - anchorStampNs_;
    const bool fits = stamped * MAX_RATE >= span && stamped <= span * MAX_RATE;
    if (fits && !usable_) {
      senderGate_.Reset();
      lastStampTakenNs_.reset();
    }
    usable_ = fits;
    judged_ = true;
    if (span >= REANCHOR_AFTER_NS) Reanchor(stampNs_, arrivalNs);
  }

  holdNs_ = 0;
  // While the stamps are in use or not yet judged, the link's lateness is read from them.
  std::optional<int64_t> lateBy;
  if ((steady || first) && (usable_ || !judged_)) {
    lateBy = LateBy(arrivalNs - stampNs_, arrivalNs);
    lateMax_.Note(std::clamp<int64_t>(*lateBy, 0, lateNs_), arrivalNs);
  }

  if (!usable_) {
    if (!judged_ && steady && !grid_) {
      // Not judged yet: too soon only when too soon on both clocks, so a bunched pair is
      // kept and a sender twice as fast as the rule still held to it.
      const bool soonByArrival = lastArrivalTakenNs_ && arrivalNs - *lastArrivalTakenNs_ < intervalNs_;
      const bool soonByStamp = lastStampTakenNs_ && stampNs_ - *lastStampTakenNs_ < intervalNs_;
      if (soonByArrival && soonByStamp) return Verdict::TooSoon;
      lastArrivalTakenNs_ = arrivalNs;
      lastStampTakenNs_ = stampNs_;
    } else if (!Spaced(arrivalGate_, lastArrivalTakenNs_, arrivalNs)) {
      return Verdict::TooSoon;
    }
    lastTakenNs_ = arrivalNs;
    if (lateBy) holdNs_ = HoldFor(std::clamp<int64_t>(*lateBy, 0, lateNs_));
    return Verdict::Take;
  }
  const bool starving = lastTakenNs_ && arrivalNs - *lastTakenNs_ >= 4 * lateNs_;
  if (*lateBy > lateNs_ && !starving) return Verdict::Late;
  if (!Spaced(senderGate_, lastStampTakenNs_, stampNs_)) return Verdict::TooSoon;
  lastTakenNs_ = arrivalNs;
  holdNs_ = HoldFor(std::clamp<int64_t>(*lateBy, 0, lateNs_));
  return Verdict::Take;
}

}  // namespace orrin
