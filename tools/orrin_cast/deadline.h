#pragma once

#include <chrono>

namespace orrin::cast {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline` (0 once it has passed), for poll().
inline int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace orrin::cast
