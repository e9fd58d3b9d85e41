#include "fs/tree_compare.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/dir_handle.h"
#include "platform/file_system.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

constexpr std::size_t kPiece = 1 << 16;

using Kind = EntryStatus::Kind;

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kFile:
      return "a file";
    case Kind::kFolder:
      return "a folder";
    case Kind::kLink:
      return "a link";
    case Kind::kOther:
      return "a pipe, device or socket";
    case Kind::kMissing:
      return "gone";
  }
  return "";
}

std::string Octal(std::uint32_t mode) {
  char text[16];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode));
  return text;
}

// One entry of a folder as the comparison needs it.
struct Entry {
  std::string name;
  bool read_only = false;  // the listing's attribute: Win32's permission
};

// The comparison walks both trees at once, each folder held open and every
// entry looked at relative to it, never through a link: a name swapped
// meanwhile leads nowhere outside the two trees.
class TreeComparison {
 public:
  explicit TreeComparison(const std::string& skip_name)
      : skip_name_(skip_name), piece_a_(kPiece), piece_b_(kPiece) {}

  bool Run(const HeldFolder& expected, const HeldFolder& actual,
           std::string* difference) {
    bool same = CompareFolder(expected, actual, std::string());
    if (!same) *difference = difference_;
    return same;
  }

 private:
  bool Differ(const std::string& rel, const std::string& what) {
    difference_ = "[" + rel + "] " + what;
    return false;
  }

  // The sorted entries of a held folder; false when it cannot be listed.
  bool Entries(const HeldFolder& folder, bool top, std::vector<Entry>* out) {
    std::vector<DirEntry> listed;
    if (!folder.List(&listed).ok()) return false;
    for (const DirEntry& e : listed) {
      if (top && !skip_name_.empty() && e.name == skip_name_) continue;
      out->push_back({e.name, (e.attributes & kAttrReadOnly) != 0});
    }
    std::sort(out->begin(), out->end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return true;
  }

  bool CompareFolder(const HeldFolder& want, const HeldFolder& got,
                     const std::string& rel_folder) {
    std::vector<Entry> expected, actual;
    const std::string shown =
        rel_folder.empty() ? "." : NoTrailingBackslash(rel_folder);
    if (!Entries(want, rel_folder.empty(), &expected)) {
      return Differ(shown, "cannot be listed in the work folder");
    }
    if (!Entries(got, false, &actual)) {
      return Differ(shown, "cannot be listed in the new archive");
    }
    std::size_t i = 0, j = 0;
    while (i < expected.size() || j < actual.size()) {
      if (j == actual.size() ||
          (i < expected.size() && expected[i].name < actual[j].name)) {
        return Differ(rel_folder + expected[i].name,
                      "is missing from the new archive");
      }
      if (i == expected.size() || actual[j].name < expected[i].name) {
        return Differ(rel_folder + actual[j].name,
                      "is in the new archive but not in the work folder");
      }
      if (!CompareEntry(want, got, expected[i], actual[j], rel_folder)) {
        return false;
      }
      ++i;
      ++j;
    }
    return true;
  }

  bool CompareEntry(const HeldFolder& want_folder, const HeldFolder& got_folder,
                    const Entry& want_entry, const Entry& got_entry,
                    const std::string& rel_folder) {
    const std::string& name = want_entry.name;
    const std::string rel = rel_folder + name;
    EntryStatus want, got;
    if (!want_folder.Stat(name, &want).ok() || want.kind == Kind::kMissing) {
      return Differ(rel, "cannot be read in the work folder");
    }
    if (!got_folder.Stat(name, &got).ok() || got.kind == Kind::kMissing) {
      return Differ(rel, "cannot be read in the new archive");
    }
    if (want.kind == Kind::kOther) {
      // A pipe, device or socket has no bytes to compare, and what a
      // target makes of one (an empty file, a device with other numbers)
      // cannot be told from here: nothing vouches for it.
      return Differ(rel,
                    "is a pipe, device or socket, which cannot be "
                    "verified");
    }
    if (want.kind != got.kind) {
      return Differ(rel, std::string("is ") + KindName(want.kind) +
                             " in the work folder but " + KindName(got.kind) +
                             " in the new archive");
    }
    // A link's own mode means nothing on POSIX and is kept nowhere.
    if (want.kind != Kind::kLink) {
      if (want.mode != got.mode) {
        return Differ(rel, "differs in its permission bits (" +
                               Octal(want.mode) + ", " + Octal(got.mode) +
                               " in the new archive)");
      }
      if (want_entry.read_only != got_entry.read_only) {
        return Differ(rel, want_entry.read_only
                               ? "is read-only in the work folder only"
                               : "is read-only in the new archive only");
      }
    }
    switch (want.kind) {
      case Kind::kFile:
        return CompareFiles(want_folder, got_folder, name, rel);
      case Kind::kLink: {
        std::string want_target, got_target;
        if (!want_folder.ReadLink(name, &want_target).ok()) {
          return Differ(rel, "cannot be read in the work folder");
        }
        if (!got_folder.ReadLink(name, &got_target).ok()) {
          return Differ(rel, "cannot be read in the new archive");
        }
        if (want_target != got_target) {
          return Differ(rel, "differs in its link target ([" + want_target +
                                 "], [" + got_target + "] in the new archive)");
        }
        return true;
      }
      case Kind::kFolder: {
        HeldFolder want_sub, got_sub;
        if (!want_folder.OpenFolder(name, &want_sub).ok()) {
          return Differ(rel, "cannot be opened in the work folder");
        }
        if (!got_folder.OpenFolder(name, &got_sub).ok()) {
          return Differ(rel, "cannot be opened in the new archive");
        }
        return CompareFolder(want_sub, got_sub, WithBackslash(rel));
      }
      case Kind::kOther:
      case Kind::kMissing:
        break;
    }
    return true;
  }

  bool CompareFiles(const HeldFolder& want_folder, const HeldFolder& got_folder,
                    const std::string& name, const std::string& rel) {
    HeldFile want, got;
    EntryStatus want_status, got_status;
    // The open files are checked, not the names again: a file swapped for
    // a pipe meanwhile is opened without blocking and refused here.
    if (!want_folder.OpenFile(name, &want).ok() ||
        !want.Stat(&want_status).ok() || want_status.kind != Kind::kFile) {
      return Differ(rel, "cannot be read in the work folder");
    }
    if (!got_folder.OpenFile(name, &got).ok() || !got.Stat(&got_status).ok() ||
        got_status.kind != Kind::kFile) {
      return Differ(rel, "cannot be read in the new archive");
    }
    if (want_status.size != got_status.size) {
      return Differ(rel, "differs in its size (" +
                             std::to_string(want_status.size) + " bytes, " +
                             std::to_string(got_status.size) +
                             " in the new archive)");
    }
    for (std::uint64_t at = 0;;) {
      std::size_t a = 0, b = 0;
      if (!want.ReadAt(at, piece_a_.data(), kPiece, &a).ok()) {
        return Differ(rel, "cannot be read in the work folder");
      }
      if (!got.ReadAt(at, piece_b_.data(), kPiece, &b).ok()) {
        return Differ(rel, "cannot be read in the new archive");
      }
      if (a != b || !std::equal(piece_a_.begin(), piece_a_.begin() + a,
                                piece_b_.begin())) {
        return Differ(rel, "differs in its bytes");
      }
      if (a == 0) return true;
      at += a;
    }
  }

  const std::string skip_name_;
  std::vector<char> piece_a_;
  std::vector<char> piece_b_;
  std::string difference_;
};

}  // namespace

bool CompareTrees(const HeldFolder& expected, const HeldFolder& actual,
                  const std::string& skip_name, std::string* difference) {
  TreeComparison comparison(skip_name);
  return comparison.Run(expected, actual, difference);
}

}  // namespace zavo
