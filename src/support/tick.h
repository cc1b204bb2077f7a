#pragma once

#include <cstdint>

namespace orrin {

// Milliseconds of a steady clock as an unsigned 32-bit value; it wraps after about 49.7
// days, so intervals are always taken with TicksBetween.
uint32_t Tick();

// now - then as unsigned 32-bit: correct across the wrap.
constexpr uint32_t TicksBetween(uint32_t then, uint32_t now) { return now - then; }

// Tests replace the clock; nullptr restores the steady clock.
using TickSource = uint32_t (*)();
void SetTickSource(TickSource source);

// The same steady clock in nanoseconds, for spacings the millisecond tick is too coarse
// for (it rounds down, so "33 ms" could be 32.01). While a test has replaced the tick, this
// follows the test's milliseconds.
int64_t TickNs();

}  // namespace orrin
