// Mask matching shared by every platform's listing.

#include <string>

#include "platform/file_system.h"
#include "text/text_utils.h"

namespace zavo {

bool HasWildcards(const std::string& text) {
  // Asked of every path the scan hands over; one pass over the text costs a
  // third of a library search for either of two characters.
  for (char c : text) {
    if (c == '*' || c == '?') return true;
  }
  return false;
}

bool MatchesMask(const std::string& mask, const std::string& name) {
  // "*.*" asks for every entry, names without a dot included, as it does in
  // the Win32 listing.
  if (mask == "*.*" || mask == "*") return true;
  // Iterative matching with one backtrack point keeps this linear-ish and
  // free of recursion on hostile masks.
  std::size_t m = 0, n = 0;
  std::size_t star = std::string::npos, resume = 0;
  while (n < name.size()) {
    if (m < mask.size() &&
        (mask[m] == '?' ||
         (mask[m] != '*' &&
          UpCaseChar(static_cast<unsigned char>(mask[m])) ==
              UpCaseChar(static_cast<unsigned char>(name[n]))))) {
      ++m;
      ++n;
    } else if (m < mask.size() && mask[m] == '*') {
      star = m++;
      resume = n;
    } else if (star != std::string::npos) {
      m = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  // A trailing ".*" or "." also matches a name without an extension, as the
  // Win32 listing lets "readme.*" find "readme".
  if (m < mask.size() && mask.compare(m, std::string::npos, ".*") == 0) {
    return true;
  }
  if (m + 1 == mask.size() && mask[m] == '.') return true;
  return m == mask.size();
}

}  // namespace zavo
