#include "run/target_kind.h"

#include "text/text_utils.h"

namespace zavo {

Status ChooseTarget(const ArchiverList& archivers, const std::string& name,
                    const std::string& file, std::size_t* target) {
  std::size_t exact = archivers.size();
  std::size_t loose = archivers.size();
  int loose_count = 0;
  std::string names;
  for (std::size_t i = 0; i < archivers.size(); ++i) {
    const std::string& section = archivers.definition(i).name();
    names += (names.empty() ? "" : ", ") + section;
    if (section == name && exact == archivers.size()) exact = i;
    if (EqualNoCase(section, name)) {
      loose = i;
      ++loose_count;
    }
  }
  std::size_t found = exact != archivers.size() ? exact
                      : loose_count == 1        ? loose
                                                : archivers.size();
  if (found == archivers.size()) {
    return Status::Error("unknown target [" + name + "]: the sections of [" +
                         file + "] are " +
                         (names.empty() ? std::string("none") : names));
  }
  if (archivers.definition(found).add_command().empty()) {
    return Status::Error("target [" + name + "] can't pack: its section in [" +
                         file + "] has no add command");
  }
  *target = found;
  return Status();
}

}  // namespace zavo
