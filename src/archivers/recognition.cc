#include "archivers/recognition.h"

#include "text/text_utils.h"

namespace zavo {

namespace {

// Of the rules whose extension `name` bears, the index of the longest
// extension (the later at equal lengths), among those `allowed` says; -1
// when none.
template <typename Allowed>
std::int32_t LongestBorne(const std::vector<RecognitionRule>& rules,
                          const std::string& name, Allowed allowed) {
  std::int32_t found = -1;
  std::size_t length = 0;
  for (std::size_t i = 0; i < rules.size(); ++i) {
    if (!allowed(i) || !NameBearsExtension(name, rules[i].extension)) {
      continue;
    }
    if (found < 0 || rules[i].extension.size() >= length) {
      found = static_cast<std::int32_t>(i);
      length = rules[i].extension.size();
    }
  }
  return found;
}

}  // namespace

bool NameBearsExtension(const std::string& name, const std::string& extension) {
  const std::string file = PathFileName(name);
  if (extension.empty() || file.size() <= extension.size()) return false;
  const std::size_t dot = file.size() - extension.size() - 1;
  return file[dot] == '.' && EqualNoCase(file.substr(dot + 1), extension);
}

Recognition Recognise(const std::vector<RecognitionRule>& rules,
                      const std::string& name, bool any_extension,
                      const HeadReader& read) {
  Recognition result;
  result.named = LongestBorne(rules, name, [](std::size_t) { return true; });
  result.definition = result.named;
  // A data file (GAME.DAT) is a program's, more often than a misnamed
  // archive: converting it would break the program that reads it.
  if (result.named < 0 && !any_extension) return result;

  std::vector<bool> fits(rules.size(), false);
  std::int32_t last_fit = -1;
  for (std::size_t i = 0; i < rules.size(); ++i) {
    const RecognitionRule& rule = rules[i];
    if (rule.ident_bytes.empty() || rule.ident_offset < 0) continue;
    if (result.named < 0 && !rule.any_extension) continue;
    std::string found;
    if (read(rule.ident_offset, rule.ident_bytes.size(), &found) &&
        found == rule.ident_bytes) {
      fits[i] = true;
      last_fit = static_cast<std::int32_t>(i);
    }
  }
  if (last_fit < 0) return result;
  const std::int32_t named_fit =
      LongestBorne(rules, name, [&fits](std::size_t i) { return fits[i]; });
  result.definition = named_fit >= 0 ? named_fit : last_fit;
  result.by_bytes = true;
  return result;
}

}  // namespace zavo
