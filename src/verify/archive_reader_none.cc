// Builds without libarchive (Win32) read no archive in the process: the
// conversion checks a new archive by unpacking it with its own extractor.

#include "verify/member_reader.h"

namespace zavo {

ReaderOpening OpenArchiveReader(const HeldFile&, std::unique_ptr<MemberReader>*,
                                std::string* why) {
  *why = "this build reads no archive itself";
  return ReaderOpening::kUnavailable;
}

}  // namespace zavo
