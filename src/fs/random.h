// The process-wide pseudo-random generator. It starts from a state of its
// own in every process (the time and the process id); work-folder names and
// new archive names draw from it. Jobs draw from it at once: each draw is
// one atomic step, so no two draws see the same state.

#ifndef ZAVO_FS_RANDOM_H_
#define ZAVO_FS_RANDOM_H_

#include <cstdint>

namespace zavo {

// Advances the generator one step and returns a number in 0..n-1 (n >= 1).
std::uint32_t RandomBelow(std::uint32_t n);

// Sets the generator's state; tests start a sequence afresh with it.
void SetRandomState(std::uint32_t state);

}  // namespace zavo

#endif  // ZAVO_FS_RANDOM_H_
