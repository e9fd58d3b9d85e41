// Archives read in this process by libarchive, the reader every kind but
// arj is extracted with by default, from the descriptor the conversion
// holds.

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "verify/member_reader.h"
#include "verify/zip_trailer.h"

namespace zavo {

namespace {

constexpr std::size_t kBlock = 1 << 16;
// A tar header's block, its type flag and its magic (POSIX.1-2017, pax).
constexpr std::size_t kTarBlock = 512;
constexpr std::size_t kTarType = 156;
constexpr std::size_t kTarMagic = 257;

// libarchive hands names on in the character set of the calling thread's
// locale: in the "C" locale zavo runs in, a 7z's names (UTF-16) beyond
// ASCII cannot be given at all. Reading under a UTF-8 locale of this thread
// alone gives them as UTF-8, and leaves the bytes of the kinds that store
// bytes (tar, cpio, most zips) as they are.
//
// The locale is made once for the whole process and never freed: glibc
// shares a locale's loaded data between the locale objects made from it
// and frees it with the last of them, under a lock of its own, so jobs
// that made and freed their own would free in one thread what another
// loaded. Its character conversion is loaded here too, before any job can
// use it: glibc loads it on first use.
locale_t Utf8Locale() {
  static const locale_t made = [] {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      const locale_t candidate =
          newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
      if (candidate == static_cast<locale_t>(0)) continue;
      const locale_t previous = uselocale(candidate);
      std::mbstate_t state{};
      wchar_t wide = 0;
      std::mbrtowc(&wide, "a", 1, &state);
      uselocale(previous);
      return candidate;
    }
    return static_cast<locale_t>(0);
  }();
  return made;
}

class ThreadLocale {
 public:
  ThreadLocale() {
    const locale_t utf8 = Utf8Locale();
    if (utf8 == static_cast<locale_t>(0)) return;
    previous_ = uselocale(utf8);
    set_ = true;
  }
  ~ThreadLocale() {
    if (set_) uselocale(previous_);
  }
  ThreadLocale(const ThreadLocale&) = delete;
  ThreadLocale& operator=(const ThreadLocale&) = delete;

 private:
  locale_t previous_ = static_cast<locale_t>(0);
  bool set_ = false;
};

// The archive as one libarchive stream reads it: its own position in the
// file, since two streams read it (the members, then the first block
// again), and reads that say where they start.
struct Source {
  const HeldFile* file = nullptr;
  std::uint64_t size = 0;
  std::uint64_t position = 0;
  std::unique_ptr<char[]> buffer{new char[kBlock]};
};

class LibarchiveReader : public MemberReader {
 public:
  LibarchiveReader(const HeldFile* file, std::uint64_t size) {
    source_.file = file;
    source_.size = size;
  }
  ~LibarchiveReader() override {
    if (form_entry_ != nullptr) archive_entry_free(form_entry_);
    if (archive_ != nullptr) archive_read_free(archive_);
  }

  // Opens the archive and reads its first header, which tells its kind.
  ReaderOpening Open(std::string* why) {
    archive_ = archive_read_new();
    if (archive_ == nullptr) {
      *why = "no memory for a reader";
      return ReaderOpening::kUnknownKind;
    }
    archive_read_support_format_all(archive_);
    archive_read_support_filter_all(archive_);
    if (!Attach(archive_, &source_) ||
        archive_read_open1(archive_) != ARCHIVE_OK) {
      *why = Error();
      return ReaderOpening::kUnknownKind;
    }
    first_ = archive_read_next_header(archive_, &entry_);
    if (first_ == ARCHIVE_FATAL && archive_format(archive_) == 0) {
      *why = Error();
      return ReaderOpening::kUnknownKind;
    }
    if (first_ < ARCHIVE_WARN) error_ = Error();
    if ((archive_format(archive_) & ARCHIVE_FORMAT_BASE_MASK) ==
        ARCHIVE_FORMAT_ZIP) {
      zip_ = ReadZipFacts(*source_.file);
    }
    return ReaderOpening::kOpened;
  }

  ReadOutcome Next(ArchiveMember* member) override {
    int result = first_;
    if (started_) {
      result = archive_read_next_header(archive_, &entry_);
    }
    started_ = true;
    if (result == ARCHIVE_EOF) {
      ended_ = true;
      return ReadOutcome::kEnd;
    }
    if (result < ARCHIVE_WARN) {
      // A damaged header (ARCHIVE_RETRY) is as much a loss as a cut one:
      // whatever the extractor made of it, this reader cannot vouch for it.
      error_ = Error();
      return ReadOutcome::kError;
    }
    *member = ArchiveMember();
    const char* path = archive_entry_pathname(entry_);
    if (path == nullptr || *path == '\0') {
      error_ = "a member's name cannot be read: " + Error();
      return ReadOutcome::kError;
    }
    member->path = path;
    switch (archive_entry_filetype(entry_)) {
      case AE_IFREG:
        member->kind = ArchiveMember::Kind::kFile;
        break;
      case AE_IFDIR:
        member->kind = ArchiveMember::Kind::kFolder;
        break;
      case AE_IFLNK:
        member->kind = ArchiveMember::Kind::kLink;
        break;
      default:
        member->kind = ArchiveMember::Kind::kOther;
        break;
    }
    if (const char* target = archive_entry_symlink(entry_)) {
      member->link_target = target;
      member->kind = ArchiveMember::Kind::kLink;
    }
    member->links = archive_entry_nlink(entry_);
    if (const char* first = archive_entry_hardlink(entry_)) {
      member->hard_link = first;
      member->kind = ArchiveMember::Kind::kFile;
    }
    member->has_size = archive_entry_size_is_set(entry_) != 0;
    member->size = archive_entry_size(entry_);
    member->has_mode = true;
    member->mode =
        static_cast<std::uint32_t>(archive_entry_perm(entry_)) & 07777;
    member->has_time = archive_entry_mtime_is_set(entry_) != 0;
    member->seconds = static_cast<std::int64_t>(archive_entry_mtime(entry_));
    member->nanoseconds = archive_entry_mtime_nsec(entry_);
    // A zip time before 1970, read as one after 2038.
    auto early = zip_.early_times.find(member->path);
    if (early != zip_.early_times.end() &&
        member->seconds == (early->second & 0xffffffff)) {
      member->has_misread_time = true;
      member->misread_seconds = member->seconds;
      member->seconds = early->second;
    }
    member->has_data = member->kind == ArchiveMember::Kind::kFile;
    const char* user = archive_entry_uname(entry_);
    const char* group = archive_entry_gname(entry_);
    std::int64_t uid = archive_entry_uid(entry_);
    std::int64_t gid = archive_entry_gid(entry_);
    if (uid != 0 || gid != 0 || (user != nullptr && *user != '\0') ||
        (group != nullptr && *group != '\0')) {
      member->owner = std::to_string(uid) + ":" + std::to_string(gid) + ":" +
                      (user ? user : "") + ":" + (group ? group : "");
    }
    member->extended_attributes = archive_entry_xattr_count(entry_) > 0;
    member->access_lists = archive_entry_acl_types(entry_) != 0;
    return ReadOutcome::kItem;
  }

  ReadOutcome Read(DataPiece* piece) override {
    const void* data = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    int result = archive_read_data_block(archive_, &data, &size, &offset);
    if (result == ARCHIVE_EOF) return ReadOutcome::kEnd;
    if (result < ARCHIVE_WARN) {
      error_ = Error();
      return ReadOutcome::kError;
    }
    piece->data = static_cast<const char*>(data);
    piece->size = size;
    piece->offset = static_cast<std::int64_t>(offset);
    return ReadOutcome::kItem;
  }

  std::string error() const override { return error_; }

  bool NameForm(const std::string& name, std::string* form) override {
    if (form_entry_ == nullptr) form_entry_ = archive_entry_new2(archive_);
    // The same conversion the reader puts names through: from UTF-8 to the
    // thread's UTF-8, composed. Bytes that are no UTF-8 have no form.
    if (form_entry_ == nullptr ||
        archive_entry_update_pathname_utf8(form_entry_, name.c_str()) == 0) {
      return false;
    }
    const char* made = archive_entry_pathname(form_entry_);
    if (made == nullptr) return false;
    *form = made;
    return *form != name;
  }

  bool ClampsEarlyTimes() const override {
    // libarchive gives a 7z time before 1970 as 1970 itself.
    return (archive_format(archive_) & ARCHIVE_FORMAT_BASE_MASK) ==
           ARCHIVE_FORMAT_7ZIP;
  }

  std::vector<std::string> ArchiveExtras() override {
    std::vector<std::string> extras;
    if (!ended_) return extras;
    int kind = archive_format(archive_) & ARCHIVE_FORMAT_BASE_MASK;
    if (kind == ARCHIVE_FORMAT_ZIP) {
      if (zip_.archive_comment || zip_.member_comments) {
        extras.push_back("comments");
      }
    } else if (kind == ARCHIVE_FORMAT_TAR && StartsWithGlobalHeader()) {
      extras.push_back("pax headers");
    }
    return extras;
  }

 private:
  static bool Attach(struct archive* archive, Source* source) {
    return archive_read_set_callback_data(archive, source) == ARCHIVE_OK &&
           archive_read_set_read_callback(archive, ReadBlock) == ARCHIVE_OK &&
           archive_read_set_seek_callback(archive, SeekTo) == ARCHIVE_OK &&
           archive_read_set_skip_callback(archive, SkipOn) == ARCHIVE_OK;
  }

  std::string Error() const {
    const char* text = archive_error_string(archive_);
    return text != nullptr ? text : "unknown error";
  }

  // A pax global header (`git archive` writes one holding the commit) is
  // read past by libarchive; it comes first where tools write one, and the
  // first block of the unpacked stream shows it.
  bool StartsWithGlobalHeader() {
    Source start;
    start.file = source_.file;
    start.size = source_.size;
    struct archive* raw = archive_read_new();
    if (raw == nullptr) return false;
    archive_read_support_filter_all(raw);
    archive_read_support_format_raw(raw);
    bool global = false;
    struct archive_entry* entry = nullptr;
    char block[kTarBlock];
    if (Attach(raw, &start) && archive_read_open1(raw) == ARCHIVE_OK &&
        archive_read_next_header(raw, &entry) == ARCHIVE_OK) {
      std::size_t filled = 0;
      while (filled < kTarBlock) {
        la_ssize_t got =
            archive_read_data(raw, block + filled, kTarBlock - filled);
        if (got <= 0) break;
        filled += static_cast<std::size_t>(got);
      }
      global = filled == kTarBlock && block[kTarType] == 'g' &&
               std::memcmp(block + kTarMagic, "ustar", 5) == 0;
    }
    archive_read_free(raw);
    return global;
  }

  static la_ssize_t ReadBlock(struct archive*, void* data,
                              const void** buffer) {
    auto* source = static_cast<Source*>(data);
    *buffer = source->buffer.get();
    std::size_t got = 0;
    if (!source->file
             ->ReadAt(source->position, source->buffer.get(), kBlock, &got)
             .ok()) {
      return ARCHIVE_FATAL;
    }
    source->position += got;
    return static_cast<la_ssize_t>(got);
  }

  static la_int64_t SeekTo(struct archive*, void* data, la_int64_t offset,
                           int whence) {
    auto* source = static_cast<Source*>(data);
    const std::int64_t base =
        whence == SEEK_CUR   ? static_cast<std::int64_t>(source->position)
        : whence == SEEK_END ? static_cast<std::int64_t>(source->size)
                             : 0;
    const std::int64_t at = base + offset;
    if (at < 0) return ARCHIVE_FATAL;
    source->position = static_cast<std::uint64_t>(at);
    return static_cast<la_int64_t>(at);
  }

  static la_int64_t SkipOn(struct archive*, void* data, la_int64_t request) {
    auto* source = static_cast<Source*>(data);
    // Never past the end, so that the next read says where the data ends.
    if (request <= 0) return 0;
    const std::uint64_t left =
        source->size > source->position ? source->size - source->position : 0;
    const std::uint64_t skipped =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(request), left);
    source->position += skipped;
    return static_cast<la_int64_t>(skipped);
  }

  ThreadLocale locale_;
  Source source_;
  struct archive* archive_ = nullptr;
  struct archive_entry* entry_ = nullptr;
  struct archive_entry* form_entry_ = nullptr;
  int first_ = ARCHIVE_OK;
  bool started_ = false;
  bool ended_ = false;
  ZipFacts zip_;
  std::string error_;
};

}  // namespace

ReaderOpening OpenArchiveReader(const HeldFile& archive,
                                std::unique_ptr<MemberReader>* reader,
                                std::string* why) {
  EntryStatus status;
  Status looked = archive.Stat(&status);
  if (!looked.ok()) {
    *why = looked.message();
    return ReaderOpening::kUnknownKind;
  }
  auto opened = std::make_unique<LibarchiveReader>(
      &archive, static_cast<std::uint64_t>(status.size));
  ReaderOpening result = opened->Open(why);
  if (result == ReaderOpening::kOpened) *reader = std::move(opened);
  return result;
}

}  // namespace zavo
