#include "engine/random_generator.h"

#include <cstdio>
#include <ctime>

namespace qardex::engine {

namespace {
thread_local std::uint32_t generatorState = 1;
}

void SeedRandom(std::uint32_t seed) { generatorState = seed; }

std::uint32_t RandomState() { return generatorState; }

int NextRandom() {
  generatorState = generatorState * 214013u + 2531011u;
  return static_cast<int>((generatorState >> 16) & 0x7FFF);
}

void SeedRandomWithTime() { SeedRandom(static_cast<std::uint32_t>(std::time(nullptr))); }

std::string RandomDigits16() {
  int draws[4];
  for (int& draw : draws) draw = NextRandom() % 9999;
  char text[17] = {};
  std::snprintf(text, sizeof text, "%04d%04d%04d%04d", draws[3], draws[2], draws[1], draws[0]);
  return text;
}

}  // namespace qardex::engine
