#include "text/status.h"

namespace zavo {

std::string Status::Reason() const {
  std::size_t at = message_.rfind("): ");
  return at == std::string::npos ? message_ : message_.substr(at + 3);
}

}  // namespace zavo
