#include "support/tick.h"

#include <atomic>
#include <chrono>

namespace orrin {
namespace {

// Process-wide on purpose: every interval in the receiver reads this one clock, and tests
// replace it to step time (null: the steady clock).
std::atomic<TickSource> tickSource{nullptr};

uint32_t SteadyTick() {
  auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count();
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

}  // namespace

uint32_t Tick() {
  TickSource source = tickSource.load(std::memory_order_acquire);
  return source != nullptr ? source() : SteadyTick();
}

void SetTickSource(TickSource source) { tickSource.store(source, std::memory_order_release); }

int64_t TickNs() {
  if (TickSource source = tickSource.load(std::memory_order_acquire)) return int64_t{source()} * 1'000'000;
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace orrin
