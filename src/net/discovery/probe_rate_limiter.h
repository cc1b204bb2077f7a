#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace orrin {

// How often one source address gets an answer: a bucket of `burst` answers per source,
// refilled at `perSecond`. A probe flood (or a reflection attempt with a forged source)
// then costs at most a few answers a second per address. Sources are remembered up to
// `maxSources`; past that, idle ones are forgotten, and if none is idle new sources share one
// bucket, so a flood from many forged addresses stays bounded too. One thread only.
class ProbeRateLimiter {
 public:
  ProbeRateLimiter(uint32_t perSecond, uint32_t burst, size_t maxSources = 1024);

  // Whether a probe from `source` arriving at `nowMs` (wrapping millisecond ticks) may be
  // answered; counts the answer when it may.
  bool Allow(uint32_t source, uint32_t nowMs);

 private:
  struct Bucket {
    uint64_t milliTokens;
    uint32_t updatedMs;
  };
  bool Take(Bucket& bucket, uint32_t nowMs) const;
  void ForgetIdle(uint32_t nowMs);

  const uint32_t perSecond_;
  const uint64_t capacity_;  // in thousandths of an answer
  const size_t maxSources_;
  std::unordered_map<uint32_t, Bucket> buckets_;
  Bucket shared_;
};

}  // namespace orrin
