#include "verify/member_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/process.h"
#include "text/text_utils.h"
#include "verify/deep_folder.h"

namespace zavo {

namespace {

constexpr std::size_t kPiece = 1 << 16;
constexpr std::uint32_t kSetIdBits = 06000;
const char kZeros[kPiece] = {};

using Kind = ArchiveMember::Kind;

const char* KindText(Kind kind) {
  switch (kind) {
    case Kind::kFile:
      return "a file";
    case Kind::kFolder:
      return "a folder";
    case Kind::kLink:
      return "a link";
    case Kind::kOther:
      break;
  }
  return "a pipe, device or socket";
}

Kind KindOf(EntryStatus::Kind kind) {
  switch (kind) {
    case EntryStatus::Kind::kFile:
      return Kind::kFile;
    case EntryStatus::Kind::kFolder:
      return Kind::kFolder;
    case EntryStatus::Kind::kLink:
      return Kind::kLink;
    default:
      return Kind::kOther;
  }
}

std::string Octal(std::uint32_t mode) {
  char text[16];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode));
  return text;
}

// A time as UTC, "2001-02-03 04:05:06" and the nanoseconds where there are
// any; the calendar is worked out here, as no C call takes every time_t.
std::string TimeText(std::int64_t seconds, std::int64_t nanoseconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const CivilDate date = CivilFromDays(days);
  char text[64];
  std::snprintf(
      text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
      static_cast<long long>(date.year), static_cast<long long>(date.month),
      static_cast<long long>(date.day), static_cast<long long>(rest / 3600),
      static_cast<long long>(rest / 60 % 60),
      static_cast<long long>(rest % 60));
  std::string out = text;
  if (nanoseconds != 0) {
    std::snprintf(text, sizeof text, ".%09lld",
                  static_cast<long long>(nanoseconds));
    out += text;
  }
  return out;
}

// A stored path as extractors write it: no "." parts, no empty ones (a
// leading "/" is dropped, as bsdtar drops it). False for a path with ".."
// in it, which no extractor may follow.
bool CleanPath(const std::string& stored, std::string* clean) {
  clean->clear();
  std::size_t start = 0;
  while (start <= stored.size()) {
    std::size_t end = stored.find('/', start);
    if (end == std::string::npos) end = stored.size();
    if (end > start) {
      std::string part = stored.substr(start, end - start);
      if (part == "..") return false;
      if (part != ".") {
        if (!clean->empty()) *clean += '/';
        *clean += part;
      }
    }
    start = end + 1;
  }
  return true;
}

// One open file of the tree read at the offsets the archive's pieces come
// at. Holes (SEEK_HOLE) read as zeros without reading: a 4 GiB sparse file
// costs its data, not its size.
class TreeFile {
 public:
  // `buffer` holds kPiece bytes; it is the check's, used by one file at a
  // time.
  TreeFile(const HeldFile* file, std::int64_t size, char* buffer)
      : file_(file), size_(size), buffer_(buffer), holes_(size >= kHoles) {}

  // Whether the file holds `data` at `offset`.
  bool Holds(std::int64_t offset, const char* data, std::size_t size) {
    while (size > 0) {
      std::size_t step = size < kPiece ? size : kPiece;
      std::int64_t stretch = Stretch(offset);
      if (stretch < 0) {
        // A hole: only zeros can match it.
        std::int64_t within = -stretch;
        if (static_cast<std::int64_t>(step) > within) {
          step = static_cast<std::size_t>(within);
        }
        if (std::memcmp(data, kZeros, step) != 0) return false;
      } else {
        if (static_cast<std::int64_t>(step) > stretch) {
          step = static_cast<std::size_t>(stretch);
        }
        if (!ReadAt(offset, step) || std::memcmp(data, buffer_, step) != 0) {
          return false;
        }
      }
      offset += static_cast<std::int64_t>(step);
      data += step;
      size -= step;
    }
    return true;
  }

  // Whether the file holds only zeros from `from` to `to`.
  bool Zeros(std::int64_t from, std::int64_t to) {
    while (from < to) {
      std::int64_t stretch = Stretch(from);
      std::int64_t step = stretch < 0 ? -stretch : stretch;
      if (step > to - from) step = to - from;
      if (step > static_cast<std::int64_t>(kPiece) && stretch > 0) {
        step = static_cast<std::int64_t>(kPiece);
      }
      if (stretch > 0 &&
          (!ReadAt(from, static_cast<std::size_t>(step)) ||
           std::memcmp(buffer_, kZeros, static_cast<std::size_t>(step)) != 0)) {
        return false;
      }
      from += step;
    }
    return true;
  }

 private:
  // The length of the data (positive) or hole (negative) that `offset`
  // lies in, up to the end of the file; 0 past the end.
  std::int64_t Stretch(std::int64_t offset) {
    if (offset >= size_) return 0;
    if (offset < segment_start_ || offset >= segment_end_) {
      segment_start_ = offset;
      segment_hole_ = false;
      segment_end_ = size_;
      if (holes_) {
        std::uint64_t found = 0;
        std::int64_t hole =
            file_->NextRegion(static_cast<std::uint64_t>(offset),
                              FileRegion::kHole, &found)
                    .ok()
                ? static_cast<std::int64_t>(found)
                : -1;
        if (hole < 0) {
          // No holes to be told (a file system or platform without them).
          holes_ = false;
        } else if (hole > offset) {
          segment_end_ = std::min(hole, size_);
        } else {
          // A hole up to the next data, or to the end when none follows.
          // A file that changes meanwhile is read as it is.
          std::int64_t data =
              file_->NextRegion(static_cast<std::uint64_t>(offset),
                                FileRegion::kData, &found)
                      .ok()
                  ? static_cast<std::int64_t>(found)
                  : -1;
          segment_hole_ = data < 0 || data > offset;
          if (segment_hole_ && data > 0) segment_end_ = std::min(data, size_);
        }
      }
    }
    std::int64_t left = segment_end_ - offset;
    return segment_hole_ ? -left : left;
  }

  bool ReadAt(std::int64_t offset, std::size_t size) {
    std::size_t got = 0;
    return file_
               ->ReadAt(static_cast<std::uint64_t>(offset), buffer_, size, &got)
               .ok() &&
           got == size;
  }

  const HeldFile* file_;
  std::int64_t size_;
  char* buffer_;
  // Only files this large are asked for holes: a smaller one costs less
  // to read than to ask.
  static constexpr std::int64_t kHoles = 1 << 20;
  bool holes_;
  std::int64_t segment_start_ = 0;
  std::int64_t segment_end_ = 0;
  bool segment_hole_ = false;
};

class Check {
 public:
  Check(MemberReader* reader, const HeldFolder& tree,
        const MemberCheckSettings& settings)
      : reader_(reader), tree_(tree), settings_(settings) {
    if (settings.archive_is_expected) {
      expected_ = settings.archive_name;
      actual_ = "the work folder";
    } else {
      expected_ = "the work folder";
      actual_ = settings.archive_name;
    }
  }

  MemberCheckResult Run() {
    ArchiveMember member;
    for (;;) {
      if (Full()) return result_;
      // A run that is being stopped waits for no archive to be read whole.
      if (InterruptionSignal() != 0) {
        result_.losses.push_back("the check was interrupted");
        return result_;
      }
      ReadOutcome next = reader_->Next(&member);
      if (next == ReadOutcome::kEnd) break;
      if (next == ReadOutcome::kError) {
        result_.losses.push_back(settings_.archive_name +
                                 " cannot be read whole: " + reader_->error());
        return result_;
      }
      Compare(member);
    }
    for (const std::string& extra : reader_->ArchiveExtras()) {
      result_.extras.insert(extra);
    }
    // The files whose bytes no later name brought are empty in the archive.
    for (const auto& empty : deferred_) {
      Differs(empty.second.first, "size",
              Side("0", std::to_string(empty.second.second), true) + " bytes",
              Side("0", std::to_string(empty.second.second), false));
    }
    FindUnnamed();
    return result_;
  }

 private:
  bool Full() const { return result_.losses.size() >= kMaxLosses; }

  void Lose(const std::string& path, const std::string& what) {
    if (!Full()) result_.losses.push_back("[" + path + "] " + what);
  }
  void Differs(const std::string& path, const std::string& what,
               const std::string& expected, const std::string& actual) {
    Lose(path, "differs in its " + what + " (" + expected + ", " + actual +
                   " in " + actual_ + ")");
  }
  // A name that one side has and the other lacks.
  void OnlyInArchive(const std::string& path) {
    Lose(path, settings_.archive_is_expected
                   ? "is missing from the work folder"
                   : "is in " + actual_ + " but not in the work folder");
  }
  void OnlyInTree(const std::string& path) {
    Lose(path, settings_.archive_is_expected
                   ? "is in the work folder but not in " + expected_
                   : "is missing from " + actual_);
  }

  void Compare(const ArchiveMember& member) {
    NoteWhatItRecords(member);
    std::string path;
    if (!CleanPath(member.path, &path)) {
      Lose(member.path, "climbs out of the folder it is unpacked into");
      return;
    }
    // The top folder itself ("./") is the work folder, whose mode and
    // time are zavo's own.
    if (path.empty()) return;
    auto known = kinds_.emplace(path, member.kind);
    if (!known.second) {
      if (known.first->second == Kind::kFolder &&
          member.kind == Kind::kFolder) {
        return;
      }
      Lose(path, "has two members of one name and one was lost");
      return;
    }
    std::size_t slash = path.rfind('/');
    std::string member_folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash);
    std::string name =
        slash == std::string::npos ? path : path.substr(slash + 1);
    std::string tree_name;
    EntryStatus status;
    if (!Resolve(member_folder) || !Find(name, &tree_name, &status)) {
      OnlyInArchive(path);
      return;
    }
    const std::string tree_path = JoinRelative(folder_tree_path_, tree_name);
    claimed_.insert(tree_path);
    Kind kind = KindOf(status.kind);
    if (kind == Kind::kOther || member.kind == Kind::kOther) {
      Lose(tree_path, "is a pipe, device or socket, which cannot be verified");
      return;
    }
    if (kind != member.kind) {
      Lose(tree_path,
           std::string("is ") +
               KindText(settings_.archive_is_expected ? member.kind : kind) +
               " in " + expected_ + " but " +
               KindText(settings_.archive_is_expected ? kind : member.kind) +
               " in " + actual_);
      return;
    }
    if (kind != Kind::kLink && member.has_mode &&
        !SameMode(member, tree_name, tree_path, &status)) {
      return;
    }
    const std::size_t losses = result_.losses.size();
    if (kind == Kind::kLink) {
      CompareLink(member, tree_name, tree_path);
    } else if (kind == Kind::kFile) {
      CompareFile(member, path, tree_name, tree_path, status);
    }
    // The time last: a file whose bytes differ has another time too.
    if (result_.losses.size() == losses && kind == Kind::kFile &&
        settings_.mend && member.has_misread_time &&
        status.modified_seconds == member.misread_seconds &&
        MendTime(member, tree_name, &status)) {
      ++result_.times_mended;
    }
    if (result_.losses.size() == losses && kind != Kind::kLink &&
        member.has_time && !SameTime(member, status)) {
      std::string archive_time = TimeText(member.seconds, member.nanoseconds);
      std::string tree_time =
          TimeText(status.modified_seconds, status.modified_nanoseconds);
      Differs(tree_path, "modification time",
              Side(archive_time, tree_time, true),
              Side(archive_time, tree_time, false));
    }
  }

  // The text of the expected side (first) or the actual side, of a value
  // the archive gives as `archive` and the tree as `tree`.
  std::string Side(const std::string& archive, const std::string& tree,
                   bool expected_side) const {
    return expected_side == settings_.archive_is_expected ? archive : tree;
  }

  void NoteWhatItRecords(const ArchiveMember& member) {
    if (!member.owner.empty() && result_.owners.size() < kMaxOwners) {
      result_.owners.insert(member.owner);
    }
    if (member.extended_attributes) {
      result_.extras.insert("extended attributes");
    }
    if (member.access_lists) result_.extras.insert("access control lists");
    if (!member.hard_link.empty()) result_.extras.insert("hard links");
  }

  // Makes folder_ the tree's folder for `member_folder`: the folder of that
  // very name, else one whose name has it as the reader's form. The last
  // few folders stay open, as members of several folders often alternate.
  bool Resolve(const std::string& member_folder) {
    for (std::size_t i = cache_.size(); i-- > 0;) {
      if (cache_[i]->member_path == member_folder) {
        std::unique_ptr<CachedFolder> hit = std::move(cache_[i]);
        cache_.erase(cache_.begin() + static_cast<std::ptrdiff_t>(i));
        cache_.push_back(std::move(hit));
        Use(*cache_.back());
        return true;
      }
    }
    folder_ = nullptr;
    auto entry = std::make_unique<CachedFolder>();
    entry->member_path = member_folder;
    auto formed = folder_forms_.find(member_folder);
    std::string tree_path =
        formed == folder_forms_.end() ? member_folder : formed->second;
    if (!OpenFolderBelow(tree_, tree_path, &entry->folder)) {
      // Part by part, each part by its name or its form.
      tree_path.clear();
      HeldFolder probe;
      std::size_t start = 0;
      while (start < member_folder.size()) {
        std::size_t end = member_folder.find('/', start);
        if (end == std::string::npos) end = member_folder.size();
        std::string part = member_folder.substr(start, end - start);
        start = end + 1;
        std::string found;
        EntryStatus status;
        folder_ = &probe;
        folder_tree_path_ = tree_path;
        bool found_folder = OpenFolderBelow(tree_, tree_path, &probe) &&
                            Find(part, &found, &status) &&
                            status.kind == EntryStatus::Kind::kFolder;
        folder_ = nullptr;
        if (!found_folder) return false;
        tree_path = JoinRelative(tree_path, found);
      }
      if (!OpenFolderBelow(tree_, tree_path, &entry->folder)) return false;
      folder_forms_[member_folder] = tree_path;
    }
    entry->tree_path = tree_path;
    // The folders on the way are named by the member, if not by one of
    // their own.
    std::string claim = tree_path;
    while (!claim.empty() && claimed_.insert(claim).second) {
      std::size_t slash = claim.rfind('/');
      claim =
          slash == std::string::npos ? std::string() : claim.substr(0, slash);
    }
    if (cache_.size() == kCachedFolders) cache_.erase(cache_.begin());
    cache_.push_back(std::move(entry));
    Use(*cache_.back());
    return true;
  }

  struct CachedFolder {
    std::string member_path;
    std::string tree_path;
    HeldFolder folder;
  };

  void Use(CachedFolder& cached) {
    folder_ = &cached.folder;
    folder_tree_path_ = cached.tree_path;
  }

  // Finds the entry for the member name `name` in folder_.
  bool Find(const std::string& name, std::string* found, EntryStatus* status) {
    if (folder_->Stat(name, status) &&
        status->kind != EntryStatus::Kind::kMissing) {
      *found = name;
      return true;
    }
    if (forms_folder_ != folder_tree_path_ || !forms_ready_) {
      forms_.clear();
      forms_folder_ = folder_tree_path_;
      forms_ready_ = true;
      std::vector<DirEntry> entries;
      if (folder_->List(&entries)) {
        std::string form;
        for (const DirEntry& entry : entries) {
          if (reader_->NameForm(entry.name, &form)) {
            forms_.emplace(form, entry.name);
          }
        }
      }
    }
    // Two tree names of one form are two members: the one not taken yet
    // first, and a folder may be named again by the members inside it.
    auto range = forms_.equal_range(name);
    for (int pass = 0; pass < 2; ++pass) {
      for (auto it = range.first; it != range.second; ++it) {
        if ((pass == 1 || claimed_.count(JoinRelative(folder_tree_path_,
                                                      it->second)) == 0) &&
            folder_->Stat(it->second, status) &&
            status->kind != EntryStatus::Kind::kMissing) {
          *found = it->second;
          return true;
        }
      }
    }
    return false;
  }

  bool SameMode(const ArchiveMember& member, const std::string& tree_name,
                const std::string& tree_path, EntryStatus* status) {
    if (member.mode == status->mode) return true;
    std::uint32_t lacking = member.mode & kSetIdBits & ~status->mode;
    if (settings_.mend && lacking != 0 &&
        (status->mode | lacking) == member.mode) {
      std::uint32_t now = RestoreSetId(tree_name, *status, member.mode);
      if (now == member.mode) {
        status->mode = now;
        ++result_.set_id_restored;
        return true;
      }
      status->mode = now;
    }
    Differs(tree_path, "permission bits",
            Side(Octal(member.mode), Octal(status->mode), true),
            Side(Octal(member.mode), Octal(status->mode), false));
    return false;
  }

  // Gives the entry `name` of folder_ the bits `mode` through a descriptor
  // of its own, once that shows the entry seen before; the bits it has
  // afterwards.
  std::uint32_t RestoreSetId(const std::string& name, const EntryStatus& seen,
                             std::uint32_t mode) {
    EntryStatus after;
    if (seen.kind == EntryStatus::Kind::kFolder) {
      HeldFolder folder;
      if (!folder_->OpenFolder(name, &folder) || !folder.SelfStat(&after) ||
          after.identity != seen.identity) {
        return seen.mode;
      }
      folder.SetMode(mode);
      return folder.SelfStat(&after) ? after.mode : seen.mode;
    }
    HeldFile file;
    if (!folder_->OpenFile(name, &file) || !file.Stat(&after) ||
        after.kind != EntryStatus::Kind::kFile ||
        after.identity != seen.identity) {
      return seen.mode;
    }
    // The kernel may drop a set-group-ID bit for a group the process is
    // not in: what the file has afterwards is the answer.
    file.SetMode(mode);
    return file.Stat(&after) ? after.mode : seen.mode;
  }

  // Gives the file `name` of folder_ the member's time through a
  // descriptor of its own, once that shows the file seen before.
  bool MendTime(const ArchiveMember& member, const std::string& name,
                EntryStatus* status) {
    HeldFile file;
    EntryStatus opened;
    FileTime time;
    time.seconds = member.seconds;
    time.nanoseconds = member.nanoseconds;
    if (!folder_->OpenFile(name, &file) || !file.Stat(&opened) ||
        opened.kind != EntryStatus::Kind::kFile ||
        opened.identity != status->identity || !file.SetTime(time) ||
        !file.Stat(&opened)) {
      return false;
    }
    *status = opened;
    return true;
  }

  bool SameTime(const ArchiveMember& member, const EntryStatus& status) const {
    if (member.seconds != status.modified_seconds) {
      // A time before 1970 that the reader gives as 1970 itself.
      return reader_->ClampsEarlyTimes() && member.seconds == 0 &&
             member.nanoseconds == 0 && status.modified_seconds < 0;
    }
    // Recorded to the second (DOS, tar, cpio) or to 100 ns (7z, NTFS):
    // compared to the step the archive keeps.
    return member.nanoseconds == 0 ||
           member.nanoseconds / 100 == status.modified_nanoseconds / 100;
  }

  void CompareLink(const ArchiveMember& member, const std::string& tree_name,
                   const std::string& tree_path) {
    std::string target;
    if (!folder_->ReadLink(tree_name, &target)) {
      Lose(tree_path, "cannot be read in the work folder");
      return;
    }
    std::string form;
    if (target == member.link_target ||
        (reader_->NameForm(target, &form) && form == member.link_target)) {
      return;
    }
    Differs(tree_path, "link target",
            "[" + Side(member.link_target, target, true) + "]",
            "[" + Side(member.link_target, target, false) + "]");
  }

  void CompareFile(const ArchiveMember& member, const std::string& path,
                   const std::string& tree_name, const std::string& tree_path,
                   EntryStatus status) {
    const auto identity =
        std::make_pair(status.identity.device, status.identity.inode);
    if (!member.hard_link.empty()) {
      std::string first;
      CleanPath(member.hard_link, &first);
      auto earlier = files_.find(first);
      if (earlier == files_.end()) {
        Lose(tree_path, "is a second name of [" + first +
                            "], which is not in " + settings_.archive_name +
                            " before it");
        return;
      }
      if (earlier->second.second != identity || !status.identity.known()) {
        // A copy where the archive has one file under two names: the bytes
        // are kept, the link is not.
        result_.not_kept.insert("hard links");
        if (!SameFiles(earlier->second.first, tree_name, tree_path)) return;
      }
      // A hard link's member seldom carries the bytes again; where it does,
      // they are the file's (cpio's newc format puts them on the last
      // name of a file).
      if (!member.has_size || member.size == 0) return;
      deferred_.erase(identity);
    } else if (status.links > 1 && status.identity.known()) {
      // Two names of one file in the tree that the archive has as two
      // files: a copy, unless the tree's second name is no member at all.
      auto first = linked_.emplace(identity, tree_path);
      if (!first.second) result_.not_kept.insert("hard links");
    }
    files_[path] = std::make_pair(tree_path, identity);
    if (member.links > 1 && member.has_size && member.size == 0 &&
        status.size != 0 && status.identity.known()) {
      // An empty first name of a file with more: its bytes may come with a
      // later name.
      deferred_[identity] = std::make_pair(tree_path, status.size);
      return;
    }
    if (member.has_size && member.size != status.size) {
      Differs(
          tree_path, "size",
          Side(std::to_string(member.size), std::to_string(status.size), true) +
              " bytes",
          Side(std::to_string(member.size), std::to_string(status.size),
               false));
      return;
    }
    if (!member.has_data) return;
    HeldFile file;
    EntryStatus opened;
    if (!folder_->OpenFile(tree_name, &file) || !file.Stat(&opened) ||
        opened.kind != EntryStatus::Kind::kFile ||
        opened.identity != status.identity) {
      Lose(tree_path, "cannot be read in the work folder");
      return;
    }
    CompareData(&file, opened.size, member, tree_path);
  }

  void CompareData(HeldFile* file, std::int64_t size,
                   const ArchiveMember& member, const std::string& tree_path) {
    TreeFile tree_file(file, size, piece_.get());
    std::int64_t covered = 0;
    DataPiece piece;
    for (;;) {
      ReadOutcome got = reader_->Read(&piece);
      if (got == ReadOutcome::kEnd) break;
      if (got == ReadOutcome::kError) {
        Lose(tree_path, "cannot be read in " + settings_.archive_name + ": " +
                            reader_->error());
        return;
      }
      if (piece.offset < covered ||
          (piece.offset > covered && !tree_file.Zeros(covered, piece.offset)) ||
          piece.offset + static_cast<std::int64_t>(piece.size) > size ||
          !tree_file.Holds(piece.offset, piece.data, piece.size)) {
        Lose(tree_path, "differs in its bytes");
        return;
      }
      covered = piece.offset + static_cast<std::int64_t>(piece.size);
    }
    std::int64_t length = member.has_size ? member.size : covered;
    if (length != size) {
      Differs(
          tree_path, "size",
          Side(std::to_string(length), std::to_string(size), true) + " bytes",
          Side(std::to_string(length), std::to_string(size), false));
    } else if (!tree_file.Zeros(covered, size)) {
      Lose(tree_path, "differs in its bytes");
    }
  }

  // Whether the tree's files `first` (a tree path) and folder_'s `name`
  // hold the same bytes; a loss where not.
  bool SameFiles(const std::string& first, const std::string& name,
                 const std::string& tree_path) {
    std::size_t slash = first.rfind('/');
    HeldFolder first_folder;
    HeldFile a, b;
    EntryStatus sa, sb;
    if (!OpenFolderBelow(
            tree_,
            slash == std::string::npos ? std::string() : first.substr(0, slash),
            &first_folder) ||
        !first_folder.OpenFile(
            slash == std::string::npos ? first : first.substr(slash + 1), &a) ||
        !folder_->OpenFile(name, &b) || !a.Stat(&sa) || !b.Stat(&sb) ||
        sa.kind != EntryStatus::Kind::kFile ||
        sb.kind != EntryStatus::Kind::kFile) {
      Lose(tree_path, "cannot be read in the work folder");
      return false;
    }
    std::unique_ptr<char[]> other(new char[kPiece]);
    bool same = sa.size == sb.size;
    for (std::uint64_t at = 0;;) {
      std::size_t got_a = 0, got_b = 0;
      same = same && a.ReadAt(at, piece_.get(), kPiece, &got_a).ok() &&
             b.ReadAt(at, other.get(), kPiece, &got_b).ok() && got_a == got_b &&
             std::memcmp(piece_.get(), other.get(), got_a) == 0;
      if (!same) {
        Lose(tree_path, "differs in its bytes");
        return false;
      }
      if (got_a == 0) return true;
      at += got_a;
    }
  }

  // Every entry of the tree must have been named by a member.
  void FindUnnamed() {
    if (Full()) return;
    std::string failed;
    bool walked = WalkTree(
        tree_, settings_.skip,
        [this](const std::string& path, const DirEntry&, const HeldFolder&) {
          if (Full()) return false;
          if (claimed_.count(path) != 0) return true;
          OnlyInTree(path);
          return false;
        },
        &failed);
    if (!walked) Lose(failed, "cannot be listed in the work folder");
  }

  MemberReader* reader_;
  const HeldFolder& tree_;
  const MemberCheckSettings& settings_;
  // The tree's bytes are read into this, a piece at a time.
  std::unique_ptr<char[]> piece_{new char[kPiece]};
  std::string expected_;
  std::string actual_;
  MemberCheckResult result_;
  // The members' cleaned paths and kinds: a name given twice.
  std::unordered_map<std::string, Kind> kinds_;
  // The tree paths that members named, their folders included.
  std::unordered_set<std::string> claimed_;
  // Files by their members' paths: their tree paths and identities, for
  // the hard links that name them.
  std::unordered_map<
      std::string,
      std::pair<std::string, std::pair<std::uint64_t, std::uint64_t>>>
      files_;
  // Tree files with more than one name, by identity: the first tree path.
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> linked_;
  // Files named empty by their first member whose bytes a later name is
  // to bring, by identity: the tree path and the size the tree has.
  std::map<std::pair<std::uint64_t, std::uint64_t>,
           std::pair<std::string, std::int64_t>>
      deferred_;
  // The folders the last members lay in, held, the last used last; a few,
  // whatever the depth.
  static constexpr std::size_t kCachedFolders = 8;
  std::vector<std::unique_ptr<CachedFolder>> cache_;
  // The folder the member at hand lies in, and its path in the tree.
  HeldFolder* folder_ = nullptr;
  std::string folder_tree_path_;
  // Member folders found under another name (the reader's form).
  std::unordered_map<std::string, std::string> folder_forms_;
  // The forms of the names of one folder, for names not found as they are.
  std::string forms_folder_;
  bool forms_ready_ = false;
  std::multimap<std::string, std::string> forms_;
};

}  // namespace

MemberCheckResult CheckMembers(MemberReader* reader, const HeldFolder& tree,
                               const MemberCheckSettings& settings) {
  Check check(reader, tree, settings);
  return check.Run();
}

}  // namespace zavo
