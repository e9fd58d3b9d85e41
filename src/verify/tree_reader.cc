// A tree of files read as the members of an archive: what an extractor
// made of an archive that no reader in this process knows.

#include <map>
#include <utility>

#include "verify/deep_folder.h"
#include "verify/member_reader.h"

namespace zavo {

namespace {

constexpr std::size_t kPiece = 1 << 16;

class FolderTreeReader : public MemberReader {
 public:
  FolderTreeReader(const HeldFolder* top, std::vector<std::string> skip)
      : top_(top), skip_(std::move(skip)), buffer_(kPiece) {}

  ReadOutcome Next(ArchiveMember* member) override {
    file_.Close();
    if (!listed_) {
      // The names come first, the members one by one: only the paths are
      // kept meanwhile, never an open folder per level.
      listed_ = true;
      std::string failed;
      if (!WalkTree(
              *top_, skip_,
              [this](const std::string& path, const DirEntry&,
                     const HeldFolder&) {
                paths_.push_back(path);
                return true;
              },
              &failed)) {
        error_ = "[" + failed + "] cannot be listed in the unpacked archive";
        return ReadOutcome::kError;
      }
    }
    if (next_ == paths_.size()) return ReadOutcome::kEnd;
    const std::string& path = paths_[next_++];
    *member = ArchiveMember();
    member->path = path;
    std::size_t slash = path.rfind('/');
    std::string name =
        slash == std::string::npos ? path : path.substr(slash + 1);
    std::string folder_path =
        slash == std::string::npos ? std::string() : path.substr(0, slash);
    if ((folder_path != folder_path_ || !folder_.is_open()) &&
        !OpenFolderBelow(*top_, folder_path, &folder_)) {
      return Unreadable(path);
    }
    folder_path_ = folder_path;
    EntryStatus status;
    if (!folder_.Stat(name, &status)) return Unreadable(path);
    member->has_mode = true;
    member->mode = status.mode;
    member->has_time = true;
    member->seconds = status.modified_seconds;
    member->nanoseconds = status.modified_nanoseconds;
    switch (status.kind) {
      case EntryStatus::Kind::kFolder:
        member->kind = ArchiveMember::Kind::kFolder;
        return ReadOutcome::kItem;
      case EntryStatus::Kind::kLink:
        member->kind = ArchiveMember::Kind::kLink;
        if (!folder_.ReadLink(name, &member->link_target)) {
          return Unreadable(path);
        }
        return ReadOutcome::kItem;
      case EntryStatus::Kind::kFile:
        break;
      default:
        member->kind = ArchiveMember::Kind::kOther;
        return ReadOutcome::kItem;
    }
    member->kind = ArchiveMember::Kind::kFile;
    member->has_size = true;
    member->size = status.size;
    // The second name of a file already given is a hard link to it.
    if (status.links > 1) {
      auto known = seen_.emplace(
          std::make_pair(status.identity.device, status.identity.inode), path);
      if (!known.second) {
        member->hard_link = known.first->second;
        return ReadOutcome::kItem;
      }
    }
    EntryStatus opened;
    if (!folder_.OpenFile(name, &file_) || !file_.Stat(&opened) ||
        opened.kind != EntryStatus::Kind::kFile ||
        opened.identity != status.identity) {
      file_.Close();
      return Unreadable(path);
    }
    member->has_data = true;
    offset_ = 0;
    return ReadOutcome::kItem;
  }

  ReadOutcome Read(DataPiece* piece) override {
    if (!file_.is_open()) return ReadOutcome::kEnd;
    std::size_t got = 0;
    Status read = file_.ReadAt(static_cast<std::uint64_t>(offset_),
                               buffer_.data(), buffer_.size(), &got);
    if (!read.ok()) {
      error_ = read.message();
      return ReadOutcome::kError;
    }
    if (got == 0) return ReadOutcome::kEnd;
    piece->data = buffer_.data();
    piece->size = got;
    piece->offset = offset_;
    offset_ += static_cast<std::int64_t>(got);
    return ReadOutcome::kItem;
  }

  std::string error() const override { return error_; }

 private:
  ReadOutcome Unreadable(const std::string& path) {
    error_ = "[" + path + "] cannot be read in the unpacked archive";
    return ReadOutcome::kError;
  }

  const HeldFolder* top_;
  std::vector<std::string> skip_;
  std::vector<char> buffer_;
  bool listed_ = false;
  std::vector<std::string> paths_;
  std::size_t next_ = 0;
  std::string folder_path_;
  HeldFolder folder_;
  HeldFile file_;
  std::int64_t offset_ = 0;
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> seen_;
  std::string error_;
};

}  // namespace

std::unique_ptr<MemberReader> TreeReader(const HeldFolder* top,
                                         std::vector<std::string> skip) {
  return std::make_unique<FolderTreeReader>(top, std::move(skip));
}

}  // namespace zavo
