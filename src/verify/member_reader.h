// The members of an archive as a stream: what a check compares with the
// tree they were unpacked into or packed from. A reader gives the members
// one after the other, each member's bytes in pieces as it goes, so that
// nothing is unpacked to disk and memory does not grow with the archive.
//
// Readers: an archive read in this process by libarchive from a held file
// (never a name), a tree of files below a held folder (an archive that was
// unpacked by its own extractor), and the listing a `list` template prints.

#ifndef ZAVO_VERIFY_MEMBER_READER_H_
#define ZAVO_VERIFY_MEMBER_READER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/dir_handle.h"

namespace zavo {

// One member as its archive records it.
struct ArchiveMember {
  enum class Kind { kFile, kFolder, kLink, kOther };
  // The name as stored: bytes, parts joined by '/', possibly with "./",
  // doubled or final separators, or a leading "/".
  std::string path;
  Kind kind = Kind::kFile;
  // kLink: the target as stored.
  std::string link_target;
  // A second name of an earlier member's file (tar's and cpio's hard
  // links): that member's path as stored; empty for none.
  std::string hard_link;
  // The names the member's file has, as the archive records it (cpio's
  // newc format gives the bytes with the last of them only).
  std::uint32_t links = 1;
  bool has_size = false;
  std::int64_t size = 0;
  bool has_mode = false;
  std::uint32_t mode = 0;  // permission bits, 07777
  bool has_time = false;
  std::int64_t seconds = 0;  // modification time, from 1970 UTC
  std::int64_t nanoseconds = 0;
  // A time the archive's readers misread, extractors included: what they
  // give (`seconds` is what the archive means).
  bool has_misread_time = false;
  std::int64_t misread_seconds = 0;
  // Whether the reader gives the member's bytes (a listing does not).
  bool has_data = false;
  // What a target may not keep: the owner the member records
  // ("uid:gid:user:group"; empty when it records none, or only root's
  // numbers without names), extended attributes, access control lists.
  std::string owner;
  bool extended_attributes = false;
  bool access_lists = false;
};

// A piece of the current member's bytes: `size` bytes at `offset`. Bytes
// between pieces, and after the last one up to the member's size, are
// zeros (a sparse file's holes).
struct DataPiece {
  const char* data = nullptr;
  std::size_t size = 0;
  std::int64_t offset = 0;
};

enum class ReadOutcome {
  kItem,   // a member, or a piece of its bytes
  kEnd,    // no more members, or no more pieces of this one
  kError,  // error() says what could not be read
};

class MemberReader {
 public:
  virtual ~MemberReader() = default;

  // The next member. Its bytes come from Read before the next call.
  virtual ReadOutcome Next(ArchiveMember* member) = 0;
  // The next piece of the current member's bytes; the piece stays valid
  // until the next call.
  virtual ReadOutcome Read(DataPiece* piece) = 0;
  // What the last kError could not read.
  virtual std::string error() const = 0;

  // Some readers hand on names, link targets included, in a normal form of
  // their own: libarchive composes Unicode (NFC) whatever bytes a 7z or a
  // UTF-8 zip holds. Gives *form, the form this reader would give the
  // bytes `name`, and true where it differs from `name`; false where the
  // reader keeps names as they are or `name` has no such form.
  virtual bool NameForm(const std::string& name, std::string* form) {
    (void)name;
    (void)form;
    return false;
  }

  // Whether the reader shows a time before 1970 as 1970 itself (libarchive
  // reads 7z times so): such a time cannot be told from the tree's.
  virtual bool ClampsEarlyTimes() const { return false; }

  // After kEnd: what the archive holds besides its members that a target
  // may not keep ("comments", "pax headers"), a short name each.
  virtual std::vector<std::string> ArchiveExtras() { return {}; }
};

// What became of opening an archive in this process.
enum class ReaderOpening {
  kOpened,       // *reader reads it
  kUnknownKind,  // the reader does not know its kind (arj, a user's kind)
  kUnavailable,  // no reader in this build (Win32)
};

// Opens `archive` for reading its members with libarchive, from its
// descriptor (read at offsets; the caller owns the file, which must stay
// open as long as *reader lives). *why says why for kUnknownKind.
ReaderOpening OpenArchiveReader(const HeldFile& archive,
                                std::unique_ptr<MemberReader>* reader,
                                std::string* why);

// The tree below `top` as members, in walk order: names as their bytes,
// files with their bytes, a file's second name as a hard link. `skip`
// names entries at the top that are left out. `top` is not owned and must
// outlive the reader; the tree is reached through it only.
std::unique_ptr<MemberReader> TreeReader(const HeldFolder* top,
                                         std::vector<std::string> skip);

// The members the JSON in `listing` names, as `lsar -j` prints it: names,
// kinds, link targets and sizes, no bytes. The file is read from its
// start to its end, in pieces; the caller owns it and keeps it open as
// long as *reader lives. False with *error when it is no such listing.
bool ListingReader(const HeldFile* listing,
                   std::unique_ptr<MemberReader>* reader, std::string* error);

}  // namespace zavo

#endif  // ZAVO_VERIFY_MEMBER_READER_H_
