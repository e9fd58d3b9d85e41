#include "text/sorted_text_list.h"

#include <algorithm>

#include "text/text_utils.h"

namespace zavo {

int SortedTextList::Compare(const std::string& a, const std::string& b) const {
  return fold_case_ ? CompareNoCase(a, b) : CompareBytes(a, b);
}

bool SortedTextList::Insert(const std::string& text) {
  auto place =
      std::lower_bound(items_.begin(), items_.end(), text,
                       [this](const std::string& a, const std::string& b) {
                         return Compare(a, b) < 0;
                       });
  if (place != items_.end() && Compare(*place, text) == 0) return false;
  items_.insert(place, text);
  return true;
}

bool SortedTextList::Contains(const std::string& text) const {
  auto place =
      std::lower_bound(items_.begin(), items_.end(), text,
                       [this](const std::string& a, const std::string& b) {
                         return Compare(a, b) < 0;
                       });
  return place != items_.end() && Compare(*place, text) == 0;
}

}  // namespace zavo
