#include "fs/tree_compare.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/file_system.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

constexpr std::size_t kPiece = 1 << 16;

const char* KindName(EntryKind kind) {
  switch (kind) {
    case EntryKind::kFile:
      return "a file";
    case EntryKind::kFolder:
      return "a folder";
    case EntryKind::kLink:
      return "a link";
    case EntryKind::kOther:
      return "a special file";
  }
  return "";
}

std::string Octal(std::uint32_t mode) {
  char text[16];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode));
  return text;
}

// Fills buffer as far as the file allows: fewer bytes only at its end.
std::int64_t ReadPiece(FileReader* reader, char* buffer, std::size_t size) {
  std::size_t filled = 0;
  while (filled < size) {
    std::int64_t got = reader->Read(buffer + filled, size - filled);
    if (got < 0) return -1;
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(filled);
}

class TreeComparison {
 public:
  TreeComparison(const std::string& expected, const std::string& actual,
                 const std::string& skip_name)
      : expected_(WithBackslash(expected)),
        actual_(WithBackslash(actual)),
        skip_name_(skip_name),
        piece_a_(kPiece),
        piece_b_(kPiece) {}

  bool Run(std::string* difference) {
    if (CompareFolder(std::string())) return true;
    *difference = difference_;
    return false;
  }

 private:
  bool Differ(const std::string& rel, const std::string& what) {
    difference_ = "[" + rel + "] " + what;
    return false;
  }

  // The sorted names of one folder; false when it cannot be listed.
  bool Names(const std::string& folder, bool top,
             std::vector<std::string>* names) {
    auto listing = ListFolder(folder + "*.*");
    if (listing == nullptr) return false;
    DirEntry entry;
    while (listing->Next(&entry)) {
      if (top && !skip_name_.empty() && entry.name == skip_name_) continue;
      names->push_back(entry.name);
    }
    std::sort(names->begin(), names->end());
    return true;
  }

  bool CompareFolder(const std::string& rel_folder) {
    std::vector<std::string> expected_names, actual_names;
    const std::string shown =
        rel_folder.empty() ? "." : NoTrailingBackslash(rel_folder);
    if (!Names(expected_ + rel_folder, rel_folder.empty(), &expected_names)) {
      return Differ(shown, "cannot be listed in the work folder");
    }
    if (!Names(actual_ + rel_folder, false, &actual_names)) {
      return Differ(shown, "cannot be listed in the new archive");
    }
    std::size_t i = 0, j = 0;
    while (i < expected_names.size() || j < actual_names.size()) {
      if (j == actual_names.size() ||
          (i < expected_names.size() && expected_names[i] < actual_names[j])) {
        return Differ(rel_folder + expected_names[i],
                      "is missing from the new archive");
      }
      if (i == expected_names.size() || actual_names[j] < expected_names[i]) {
        return Differ(rel_folder + actual_names[j],
                      "is in the new archive but not in the work folder");
      }
      if (!CompareEntry(rel_folder + expected_names[i])) return false;
      ++i;
      ++j;
    }
    return true;
  }

  bool CompareEntry(const std::string& rel) {
    EntryFacts want, got;
    if (!GetEntryFacts(expected_ + rel, &want)) {
      return Differ(rel, "cannot be read in the work folder");
    }
    if (!GetEntryFacts(actual_ + rel, &got)) {
      return Differ(rel, "cannot be read in the new archive");
    }
    if (want.kind != got.kind) {
      return Differ(rel, std::string("is ") + KindName(want.kind) +
                             " in the work folder but " + KindName(got.kind) +
                             " in the new archive");
    }
    if (want.kind == EntryKind::kOther) {
      // A pipe, device or socket has no bytes to compare, and what a
      // target makes of one (an empty file, a device with other numbers)
      // cannot be told from here: nothing vouches for it.
      return Differ(rel,
                    "is a pipe, device or socket, which cannot be "
                    "verified");
    }
    // A link's own mode means nothing on POSIX and is not kept anywhere.
    if (want.kind != EntryKind::kLink && want.permissions != got.permissions) {
      return Differ(rel, "differs in its permission bits (" +
                             Octal(want.permissions) + ", " +
                             Octal(got.permissions) + " in the new archive)");
    }
    switch (want.kind) {
      case EntryKind::kFile:
        if (want.size != got.size) {
          return Differ(rel, "differs in its size (" +
                                 std::to_string(want.size) + " bytes, " +
                                 std::to_string(got.size) +
                                 " in the new archive)");
        }
        return CompareBytes(rel);
      case EntryKind::kLink:
        if (want.link_target != got.link_target) {
          return Differ(rel, "differs in its link target ([" +
                                 want.link_target + "], [" + got.link_target +
                                 "] in the new archive)");
        }
        return true;
      case EntryKind::kFolder:
        return CompareFolder(WithBackslash(rel));
      case EntryKind::kOther:
        break;
    }
    return true;
  }

  bool CompareBytes(const std::string& rel) {
    FileReader want, got;
    if (!want.Open(expected_ + rel)) {
      return Differ(rel, "cannot be read in the work folder");
    }
    if (!got.Open(actual_ + rel)) {
      return Differ(rel, "cannot be read in the new archive");
    }
    for (;;) {
      std::int64_t a = ReadPiece(&want, piece_a_.data(), kPiece);
      std::int64_t b = ReadPiece(&got, piece_b_.data(), kPiece);
      if (a < 0) return Differ(rel, "cannot be read in the work folder");
      if (b < 0) return Differ(rel, "cannot be read in the new archive");
      if (a != b || !std::equal(piece_a_.begin(), piece_a_.begin() + a,
                                piece_b_.begin())) {
        return Differ(rel, "differs in its bytes");
      }
      if (a == 0) return true;
    }
  }

  const std::string expected_;
  const std::string actual_;
  const std::string skip_name_;
  std::vector<char> piece_a_;
  std::vector<char> piece_b_;
  std::string difference_;
};

}  // namespace

bool CompareTrees(const std::string& expected, const std::string& actual,
                  const std::string& skip_name, std::string* difference) {
  TreeComparison comparison(expected, actual, skip_name);
  return comparison.Run(difference);
}

}  // namespace zavo
