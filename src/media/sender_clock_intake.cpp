#include "media/sender_clock_intake.h"

#include <algorithm>

namespace orrin {
namespace {

constexpr int64_t NS_PER_MS = 1'000'000;
// Stamps are judged against arrival over at least this span, and the span starts over
// after the longer one (so a sender that changes its clock is noticed within seconds).
constexpr int64_t JUDGE_AFTER_NS = 1'000'000'000;
constexpr int64_t REANCHOR_AFTER_NS = 5'000'000'000;
constexpr int64_t MAX_RATE = 4;  // stamps may run at most this many times faster or slower
// A stamp further ahead than this is a new clock, not a pause.
constexpr int64_t MAX_STEP_NS = 10'000'000'000;
constexpr int64_t FLOOR_WINDOW_NS = 2'000'000'000;

}  // namespace

SenderClockIntake::SenderClockIntake(int64_t intervalNs, int64_t lateNs, bool grid)
    : intervalNs_(intervalNs), lateNs_(lateNs), grid_(grid), arrivalGate_(intervalNs), senderGate_(intervalNs) {}

void SenderClockIntake::Reset() { *this = SenderClockIntake(intervalNs_, lateNs_, grid_); }

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

SenderClockIntake::Verdict SenderClockIntake::Judge(uint32_t senderStampMs, int64_t arrivalNs) {
  // Unwrap the 32-bit stamp; one that goes back, stands still or leaps is a clock we cannot
  // use (a frame counter, a constant, a sender that restarted its clock).
  bool steady = false;
  if (lastStamp_) {
    const int32_t step = static_cast<int32_t>(senderStampMs - *lastStamp_);
    steady = step > 0 && step * NS_PER_MS <= MAX_STEP_NS;
    stampNs_ += static_cast<int64_t>(step) * NS_PER_MS;
  }
  lastStamp_ = senderStampMs;
  if (!steady) {
    if (usable_) {
      senderGate_.Reset();
      lastStampTakenNs_.reset();
    }
    usable_ = false;
    floorNs_.reset();
    Reanchor(stampNs_, arrivalNs);
  } else if (const int64_t span = arrivalNs - anchorArrivalNs_; span >= JUDGE_AFTER_NS) {
    const int64_t stamped = stampNs_ - anchorStampNs_;
    const bool fits = stamped * MAX_RATE >= span && stamped <= span * MAX_RATE;
    if (fits && !usable_) {
      senderGate_.Reset();
      lastStampTakenNs_.reset();
    }
    usable_ = fits;
    if (span >= REANCHOR_AFTER_NS) Reanchor(stampNs_, arrivalNs);
  }

  if (!usable_) {
    if (!Spaced(arrivalGate_, lastArrivalTakenNs_, arrivalNs)) return Verdict::TooSoon;
    lastTakenNs_ = arrivalNs;
    return Verdict::Take;
  }
  const int64_t offset = arrivalNs - stampNs_;
  if (!floorNs_) {
    floorNs_ = windowFloorNs_ = offset;
    windowStartNs_ = arrivalNs;
  } else if (arrivalNs - windowStartNs_ >= FLOOR_WINDOW_NS) {
    floorNs_ = std::min(*windowFloorNs_, offset);  // the window before, and now
    windowFloorNs_ = offset;
    windowStartNs_ = arrivalNs;
  } else {
    windowFloorNs_ = std::min(*windowFloorNs_, offset);
    floorNs_ = std::min(*floorNs_, offset);
  }
  const int64_t lateBy = offset - *floorNs_;
  const bool starving = lastTakenNs_ && arrivalNs - *lastTakenNs_ >= 4 * lateNs_;
  if (lateBy > lateNs_ && !starving) return Verdict::Late;
  if (!Spaced(senderGate_, lastStampTakenNs_, stampNs_)) return Verdict::TooSoon;
  lastTakenNs_ = arrivalNs;
  return Verdict::Take;
}

}  // namespace orrin
