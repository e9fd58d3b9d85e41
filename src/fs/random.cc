#include "fs/random.h"

#include <atomic>

#include "platform/clock.h"

namespace zavo {

namespace {

std::atomic<std::uint32_t>& State() {
  // Two runs started together must not draw the same names: each process
  // starts from a state of its own.
  static std::atomic<std::uint32_t> state{ProcessSeed()};
  return state;
}

}  // namespace

void SetRandomState(std::uint32_t state) { State() = state; }

std::uint32_t RandomBelow(std::uint32_t n) {
  std::atomic<std::uint32_t>& state = State();
  std::uint32_t old = state.load();
  std::uint32_t next;
  do {
    next = old * 134775813u + 1u;
  } while (!state.compare_exchange_weak(old, next));
  return static_cast<std::uint32_t>((static_cast<std::uint64_t>(next) * n) >>
                                    32);
}

}  // namespace zavo
