// The process-wide pseudo-random generator. It starts from a state of its
// own in every process (the time and the process id); work-folder names and
// new archive names draw from it.

#ifndef ZAVO_FS_RANDOM_H_
#define ZAVO_FS_RANDOM_H_

#include <cstdint>

namespace zavo {

// Advances the generator one step and returns a number in 0..n-1 (n >= 1).
std::uint32_t RandomBelow(std::uint32_t n);

// The generator's state; tests set it to start a sequence afresh.
std::uint32_t& RandomSeed();

}  // namespace zavo

#endif  // ZAVO_FS_RANDOM_H_
