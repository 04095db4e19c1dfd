// The per-thread pseudo-random generator behind the control's random digits:
// state = state * 214013 + 2531011 (mod 2^32); a draw is bits 16-30 (0-32767).
#pragma once

#include <cstdint>
#include <string>

namespace qardex::engine {

void SeedRandom(std::uint32_t seed);
// The calling thread's state: SeedRandom(RandomState()) later continues the same sequence.
std::uint32_t RandomState();
int NextRandom();
// Seeds the calling thread with the current time in whole seconds.
void SeedRandomWithTime();

// Four draws, each modulo 9999, written "%04d" each in reverse order of
// drawing: always 16 decimal digits.
std::string RandomDigits16();

}  // namespace qardex::engine
