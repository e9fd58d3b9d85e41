#include "fs/random.h"

namespace zavo {

std::uint32_t& RandomSeed() {
  static std::uint32_t seed = 0;
  return seed;
}

std::uint32_t RandomBelow(std::uint32_t n) {
  std::uint32_t& seed = RandomSeed();
  seed = seed * 134775813u + 1u;
  return static_cast<std::uint32_t>((static_cast<std::uint64_t>(seed) * n) >>
                                    32);
}

}  // namespace zavo
