// A sorted list of texts without repeats: the converter's setting lists and
// its record of the archives made in the current folder.

#ifndef ZAVO_TEXT_SORTED_TEXT_LIST_H_
#define ZAVO_TEXT_SORTED_TEXT_LIST_H_

#include <string>
#include <vector>

namespace zavo {

class SortedTextList {
 public:
  // With fold_case, texts are ordered and told apart by their upper-cased
  // forms (two texts differing only in letter case are one, the first
  // inserted stays); otherwise by their bytes.
  explicit SortedTextList(bool fold_case = true) : fold_case_(fold_case) {}

  // Inserts text at its place; returns false when an equal text is there.
  bool Insert(const std::string& text);
  // Binary search; true when an equal text is in the list.
  bool Contains(const std::string& text) const;
  void Clear() { items_.clear(); }

  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  const std::string& operator[](std::size_t i) const { return items_[i]; }
  std::vector<std::string>::const_iterator begin() const {
    return items_.begin();
  }
  std::vector<std::string>::const_iterator end() const { return items_.end(); }

 private:
  int Compare(const std::string& a, const std::string& b) const;

  bool fold_case_;
  std::vector<std::string> items_;
};

}  // namespace zavo

#endif  // ZAVO_TEXT_SORTED_TEXT_LIST_H_
