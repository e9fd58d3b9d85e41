#include "archivers/command_runner.h"

#include "platform/os.h"

namespace zavo {

std::size_t MaxCommandLength() { return kMaxCommandLength; }

}  // namespace zavo
