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

}  // namespace orrin
