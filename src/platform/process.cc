// The parts of the process service that are the same on every platform.

#include "platform/process.h"

namespace zavo {

unsigned char ProcessResult::Code() const {
  switch (outcome) {
    case Outcome::kExited:
      return static_cast<unsigned char>(exit_code & 0xFF);
    case Outcome::kSignaled:
      return static_cast<unsigned char>(128 + (signal & 0x7F));
    case Outcome::kNotStarted:
      break;
  }
  return 127;
}

}  // namespace zavo
