#include "verify/zip_trailer.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace zavo {

namespace {

// The record sizes and signatures of the zip format (APPNOTE.TXT 4.3.12,
// 4.3.14 to 4.3.16).
constexpr std::size_t kEndRecord = 22;
constexpr std::size_t kEnd64Locator = 20;
constexpr std::size_t kEnd64Record = 56;
constexpr std::size_t kCentralEntry = 46;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kEnd64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kEnd64Signature = 0x06064b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
// The extended timestamp extra field (Info-ZIP's extrafld.txt, "UT").
constexpr std::uint32_t kTimestampField = 0x5455;
constexpr std::size_t kMaxComment = 0xffff;
// Central directories are read in pieces of this size.
constexpr std::size_t kPiece = 1 << 16;

std::uint32_t Le(const unsigned char* p, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

std::uint64_t Le64(const unsigned char* p) {
  return (static_cast<std::uint64_t>(Le(p + 4, 4)) << 32) | Le(p, 4);
}

bool ReadAt(const HeldFile& file, std::int64_t offset, std::size_t size,
            std::vector<unsigned char>* out) {
  out->resize(size);
  std::size_t got = 0;
  return offset >= 0 &&
         file.ReadAt(static_cast<std::uint64_t>(offset),
                     reinterpret_cast<char*>(out->data()), size, &got)
             .ok() &&
         got == size;
}

}  // namespace

ZipFacts ReadZipFacts(const HeldFile& file) {
  ZipFacts found;
  EntryStatus status;
  if (!file.Stat(&status).ok()) return found;
  const std::int64_t end = status.size;
  if (end < static_cast<std::int64_t>(kEndRecord)) return found;
  // The end record sits before a comment of at most 65,535 bytes: the last
  // signature whose comment length reaches exactly to the end is it.
  std::int64_t tail_start = std::max<std::int64_t>(
      0, end - static_cast<std::int64_t>(kEndRecord + kMaxComment));
  std::vector<unsigned char> tail;
  if (!ReadAt(file, tail_start, static_cast<std::size_t>(end - tail_start),
              &tail)) {
    return found;
  }
  std::int64_t record = -1;
  for (std::size_t i = tail.size() - kEndRecord + 1; i-- > 0;) {
    if (Le(&tail[i], 4) == kEndSignature &&
        i + kEndRecord + Le(&tail[i + 20], 2) == tail.size()) {
      record = static_cast<std::int64_t>(i);
      break;
    }
  }
  if (record < 0) return found;
  const unsigned char* r = &tail[static_cast<std::size_t>(record)];
  found.archive_comment = Le(r + 20, 2) > 0;
  std::uint64_t entries = Le(r + 10, 2);
  std::uint64_t directory_size = Le(r + 12, 4);
  std::uint64_t directory_offset = Le(r + 16, 4);
  std::int64_t record_at = tail_start + record;
  if ((entries == 0xffff || directory_size == 0xffffffff ||
       directory_offset == 0xffffffff) &&
      record_at >= static_cast<std::int64_t>(kEnd64Locator)) {
    std::vector<unsigned char> locator, end64;
    if (ReadAt(file, record_at - static_cast<std::int64_t>(kEnd64Locator),
               kEnd64Locator, &locator) &&
        Le(locator.data(), 4) == kEnd64LocatorSignature &&
        ReadAt(file, static_cast<std::int64_t>(Le64(&locator[8])), kEnd64Record,
               &end64) &&
        Le(end64.data(), 4) == kEnd64Signature) {
      entries = Le64(&end64[32]);
      directory_size = Le64(&end64[40]);
      directory_offset = Le64(&end64[48]);
    }
  }
  // The directory is read in pieces; an entry that does not end within the
  // piece in hand starts the next one.
  std::uint64_t at = directory_offset;
  const std::uint64_t stop = directory_offset + directory_size;
  std::vector<unsigned char> piece;
  std::uint64_t piece_at = 0;
  auto bytes_at = [&](std::uint64_t offset,
                      std::size_t count) -> const unsigned char* {
    if (piece.empty() || offset < piece_at ||
        offset + count > piece_at + piece.size()) {
      std::uint64_t want = std::max<std::uint64_t>(
          count, std::min<std::uint64_t>(kPiece, stop - offset));
      if (!ReadAt(file, static_cast<std::int64_t>(offset),
                  static_cast<std::size_t>(want), &piece)) {
        piece.clear();
        return nullptr;
      }
      piece_at = offset;
    }
    return &piece[static_cast<std::size_t>(offset - piece_at)];
  };
  for (std::uint64_t n = 0; n < entries && at + kCentralEntry <= stop; ++n) {
    const unsigned char* e = bytes_at(at, kCentralEntry);
    if (e == nullptr || Le(e, 4) != kCentralSignature) break;
    const std::uint32_t name = Le(e + 28, 2);
    const std::uint32_t extra = Le(e + 30, 2);
    const std::uint32_t comment = Le(e + 32, 2);
    if (comment > 0) found.member_comments = true;
    e = bytes_at(at, kCentralEntry + name + extra);
    if (e == nullptr) break;
    // The extra fields: an id, a size and that many bytes each.
    const unsigned char* field = e + kCentralEntry + name;
    const unsigned char* fields_end = field + extra;
    while (fields_end - field >= 4) {
      const std::uint32_t id = Le(field, 2);
      const std::uint32_t size = Le(field + 2, 2);
      if (static_cast<std::uint32_t>(fields_end - field - 4) < size) break;
      // The extended timestamp: flags, then the modification time when
      // flag 1 says so.
      if (id == kTimestampField && size >= 5 && (field[4] & 1) != 0) {
        auto seconds = static_cast<std::int32_t>(Le(field + 5, 4));
        if (seconds < 0) {
          found.early_times[std::string(
              reinterpret_cast<const char*>(e + kCentralEntry), name)] =
              seconds;
        }
      }
      field += 4 + size;
    }
    at += kCentralEntry + name + extra + comment;
  }
  return found;
}

}  // namespace zavo
