#include "net/discovery/probe_rate_limiter.h"

#include <algorithm>

namespace orrin {

namespace {
constexpr uint64_t ANSWER = 1000;  // one answer in thousandths
}

ProbeRateLimiter::ProbeRateLimiter(uint32_t perSecond, uint32_t burst, size_t maxSources)
    : perSecond_(std::max<uint32_t>(perSecond, 1)),
      capacity_(uint64_t{std::max<uint32_t>(burst, 1)} * ANSWER),
      maxSources_(std::max<size_t>(maxSources, 1)),
      shared_{capacity_, 0} {}

bool ProbeRateLimiter::Take(Bucket& bucket, uint32_t nowMs) const {
  // perSecond answers a second are perSecond thousandths a millisecond.
  const uint64_t elapsed = static_cast<uint32_t>(nowMs - bucket.updatedMs);
  bucket.milliTokens = std::min(capacity_, bucket.milliTokens + elapsed * perSecond_);
  bucket.updatedMs = nowMs;
  if (bucket.milliTokens < ANSWER) return false;
  bucket.milliTokens -= ANSWER;
  return true;
}

void ProbeRateLimiter::ForgetIdle(uint32_t nowMs) {
  // A source whose bucket has filled up again is as good as new.
  const uint64_t refillMs = capacity_ / perSecond_ + 1;
  std::erase_if(buckets_, [&](const auto& entry) {
    const Bucket& bucket = entry.second;
    return bucket.milliTokens + uint64_t{static_cast<uint32_t>(nowMs - bucket.updatedMs)} * perSecond_ >= capacity_ ||
           static_cast<uint32_t>(nowMs - bucket.updatedMs) >= refillMs;
  });
}

bool ProbeRateLimiter::Allow(uint32_t source, uint32_t nowMs) {
  auto found = buckets_.find(source);
  if (found == buckets_.end()) {
    if (buckets_.size() >= maxSources_) ForgetIdle(nowMs);
    if (buckets_.size() >= maxSources_) return Take(shared_, nowMs);
    found = buckets_.emplace(source, Bucket{capacity_, nowMs}).first;
  }
  return Take(found->second, nowMs);
}

}  // namespace orrin
