#include "net/websocket/sender_liveness.h"

#include <algorithm>

#include "support/tick.h"

namespace orrin {

void SenderLiveness::Restart(uint32_t now) {
  heard_ = now;
  spoke_ = now;
  lastPing_.reset();
}

void SenderLiveness::Heard(uint32_t now) {
  heard_ = now;
  lastPing_.reset();
}

void SenderLiveness::Spoke(uint32_t now) {
  Heard(now);
  spoke_ = now;
}

uint32_t SenderLiveness::SilentFor(uint32_t now) const { return TicksBetween(heard_, now); }

SenderLiveness::Due SenderLiveness::Next(uint32_t now) {
  const uint32_t silent = SilentFor(now);
  if (silent >= settings_.giveUpMs) return Due::LetGo;
  if (TicksBetween(spoke_, now) >= settings_.quietLineMs) {
    spoke_ = now;
    return Due::QuietLine;
  }
  if (silent >= settings_.pingAfterMs && (!lastPing_ || TicksBetween(*lastPing_, now) >= settings_.pingEveryMs)) {
    lastPing_ = now;
    return Due::Ping;
  }
  return Due::Nothing;
}

uint32_t SenderLiveness::WaitMs(uint32_t now) const {
  auto until = [now](uint32_t from, uint32_t after) {
    const uint32_t passed = TicksBetween(from, now);
    return passed >= after ? 0u : after - passed;
  };
  uint32_t wait = std::min(until(heard_, settings_.giveUpMs), until(spoke_, settings_.quietLineMs));
  wait = std::min(wait, lastPing_ ? until(*lastPing_, settings_.pingEveryMs) : until(heard_, settings_.pingAfterMs));
  return std::max(wait, 1u);
}

}  // namespace orrin
