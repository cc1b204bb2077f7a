#include "media/jitter_buffer.h"

#include <algorithm>
#include <cstdlib>

namespace orrin {
namespace {

// One cut takes out between 2 and 4 ms; where in the next 10 ms it goes, and how long it
// is, is chosen so that the sound just before the cut matches the sound just after it
// (quiet stretches match best). The seam is cross-faded over 1 ms.
constexpr size_t CUT_MIN = 32;
constexpr size_t CUT_MAX = 64;
constexpr size_t SEARCH = 160;
constexpr size_t FADE = 16;

}  // namespace

JitterBuffer::JitterBuffer(Settings settings)
    : settings_(settings), ring_(std::max<size_t>(settings.capSamples, 1)), level_(settings.startSamples) {}

template <typename SampleAt>
bool JitterBuffer::Append(size_t count, SampleAt sampleAt) {
  if (count == 0) return true;
  if (size_ > 0 && size_ + count > settings_.capSamples) return false;
  if (size_ == 0 && count > ring_.size()) {
    ring_.assign(count, 0);  // one long frame from a sender that paces itself
    head_ = 0;
  }
  for (size_t i = 0; i < count; ++i) ring_[(head_ + size_ + i) % ring_.size()] = sampleAt(i);
  size_ += count;
  starvedSamples_ = 0;
  if (dry_) {
    // Sound again after an underrun: the level rises to cover a stall as long as this one.
    // A longer silence is a pause (a screen turned off, a sender between tracks), not a
    // stall any level could cover.
    dry_ = false;
    const size_t ceiling = std::max(settings_.maxStartSamples, settings_.startSamples);
    if (drySamples_ <= ceiling) level_ = std::max(level_, std::min(level_ + drySamples_ + settings_.raiseMarginSamples, ceiling));
    steadyLow_ = SIZE_MAX;
    steadyPulled_ = 0;
  }
  return true;
}

bool JitterBuffer::Push(const int16_t* samples, size_t count) {
  return Append(count, [samples](size_t i) { return samples[i]; });
}

bool JitterBuffer::PushLittleEndian(const uint8_t* bytes, size_t count) {
  return Append(count, [bytes](size_t i) { return static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)); });
}

void JitterBuffer::Pull(int16_t* out, size_t count) {
  if (!playing_) {
    // A sender that stops with less than the start level queued still gets it played.
    const bool starved = size_ > 0 && starvedSamples_ >= level_;
    if (dry_) drySamples_ += count;
    if (size_ >= level_ || starved) {
      playing_ = true;
      everPlayed_ = true;
      lowWater_ = SIZE_MAX;
      sinceCheck_ = 0;
    } else {
      std::fill(out, out + count, int16_t{0});
      starvedSamples_ += count;
      if (everPlayed_ && size_ > 0) silenceSamples_ += count;
      return;
    }
  }

  lowWater_ = std::min(lowWater_, size_);
  sinceCheck_ += count;
  if (sinceCheck_ >= settings_.checkSamples) {
    if (lowWater_ != SIZE_MAX && lowWater_ > level_ + settings_.highSamples) {
      trimBudget_ = lowWater_ - level_;
    }
    lowWater_ = SIZE_MAX;
    sinceCheck_ = 0;
  }
  const bool farBehind = trimBudget_ > settings_.farBehindSamples;
  if (sinceCut_ < settings_.cutSpacing && !farBehind) {
    sinceCut_ += count;
  } else if (trimBudget_ > 0) {
    TrimOnce();
    sinceCut_ = count;
  }

  AdaptToSteadiness(count);

  const size_t take = std::min(count, size_);
  for (size_t i = 0; i < take; ++i) out[i] = At(i);
  head_ = (head_ + take) % ring_.size();
  size_ -= take;
  if (take < count) {
    std::fill(out + take, out + count, int16_t{0});
    silenceSamples_ += count - take;
    ++underruns_;
    playing_ = false;
    starvedSamples_ = 0;
    trimBudget_ = 0;
    dry_ = true;
    drySamples_ = count - take;
  }
}

void JitterBuffer::AdaptToSteadiness(size_t pulled) {
  steadyLow_ = std::min(steadyLow_, size_);
  steadyPulled_ += pulled;
  if (steadyPulled_ < settings_.steadySamples) return;
  // The whole window played without the queue coming near empty: half the spare goes.
  if (steadyLow_ != SIZE_MAX && steadyLow_ > settings_.spareSamples) {
    const size_t lower = (steadyLow_ - settings_.spareSamples) / 2;
    level_ = std::max(settings_.startSamples, level_ > lower ? level_ - lower : 0);
  }
  steadyLow_ = SIZE_MAX;
  steadyPulled_ = 0;
}

void JitterBuffer::TrimOnce() {
  if (size_ < SEARCH + CUT_MAX + FADE + level_) {
    trimBudget_ = 0;  // nothing to spare any more
    return;
  }
  size_t bestAt = 0;
  size_t bestCut = CUT_MIN;
  long bestScore = -1;
  for (size_t cut = CUT_MIN; cut <= CUT_MAX; ++cut) {
    for (size_t at = 0; at < SEARCH; ++at) {
      long score = 0;
      for (size_t j = 0; j < FADE && (bestScore < 0 || score < bestScore); ++j) {
        score += std::labs(static_cast<long>(At(at + j)) - static_cast<long>(At(at + cut + j)));
      }
      if (bestScore < 0 || score < bestScore) {
        bestScore = score;
        bestAt = at;
        bestCut = cut;
      }
    }
  }
  // Cross-fade from the samples before the cut into those after it, written where the latter
  // lie, then move what comes before the cut up to meet them.
  for (size_t j = 0; j < FADE; ++j) {
    const long before = At(bestAt + j);
    const long after = At(bestAt + bestCut + j);
    const long weight = static_cast<long>(j) + 1;
    At(bestAt + bestCut + j) =
        static_cast<int16_t>((before * (static_cast<long>(FADE) + 1 - weight) + after * weight) /
                             (static_cast<long>(FADE) + 1));
  }
  for (size_t i = bestAt + bestCut; i-- > bestCut;) At(i) = At(i - bestCut);
  head_ = (head_ + bestCut) % ring_.size();
  size_ -= bestCut;
  trimmedSamples_ += bestCut;
  trimBudget_ = bestCut >= trimBudget_ ? 0 : trimBudget_ - bestCut;
}

void JitterBuffer::Clear() {
  head_ = 0;
  size_ = 0;
  playing_ = false;
  starvedSamples_ = 0;
  lowWater_ = SIZE_MAX;
  sinceCheck_ = 0;
  trimBudget_ = 0;
  sinceCut_ = SIZE_MAX;
  // A new sender may come over another link: learn it afresh.
  level_ = settings_.startSamples;
  dry_ = false;
  drySamples_ = 0;
  steadyLow_ = SIZE_MAX;
  steadyPulled_ = 0;
}

}  // namespace orrin
