#include "fs/random.h"

#include "platform/clock.h"

namespace zavo {

std::uint32_t& RandomSeed() {
  // Two runs started together must not draw the same names: each process
  // starts from a state of its own.
  static std::uint32_t seed = ProcessSeed();
  return seed;
}

std::uint32_t RandomBelow(std::uint32_t n) {
  std::uint32_t& seed = RandomSeed();
  seed = seed * 134775813u + 1u;
  return static_cast<std::uint32_t>((static_cast<std::uint64_t>(seed) * n) >>
                                    32);
}

}  // namespace zavo
