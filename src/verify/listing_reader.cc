// The members an archiver's own lister names: `lsar -j` prints them as
// JSON. A listing has names, kinds, link targets and sizes, which is enough
// to see that the extraction left nothing out and cut nothing short.

#include <istream>
#include <nlohmann/json.hpp>
#include <streambuf>
#include <utility>

#include "verify/member_reader.h"

namespace zavo {

namespace {

using Json = nlohmann::json;

// Picks the members out of the listing as the parser goes, so that the
// listing is never held as a tree of values.
class ListingHandler : public nlohmann::json_sax<Json> {
 public:
  explicit ListingHandler(std::vector<ArchiveMember>* members)
      : members_(members) {}

  bool found_contents() const { return found_contents_; }

  bool null() override { return true; }
  bool boolean(bool value) override { return Flag(value); }
  bool number_integer(number_integer_t value) override {
    return Number(static_cast<std::int64_t>(value));
  }
  bool number_unsigned(number_unsigned_t value) override {
    return Number(static_cast<std::int64_t>(value));
  }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t& value) override {
    if (!InMember()) return true;
    if (key_ == "XADFileName") member_.path = value;
    if (key_ == "XADLinkDestination") member_.link_target = value;
    return true;
  }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override {
    ++depth_;
    if (in_contents_ && depth_ == kMemberDepth) {
      member_ = ArchiveMember();
      resource_fork_ = false;
    }
    return true;
  }
  bool key(string_t& value) override {
    if (depth_ == 1 && value == "lsarContents") contents_next_ = true;
    key_ = value;
    return true;
  }
  bool end_object() override {
    if (InMember()) {
      // A resource fork is a second stream of a file that the extractor
      // writes as it pleases, or not at all.
      if (!resource_fork_ && !member_.path.empty()) {
        members_->push_back(std::move(member_));
      }
    }
    --depth_;
    return true;
  }
  bool start_array(std::size_t) override {
    ++depth_;
    if (contents_next_ && depth_ == 2) {
      in_contents_ = true;
      found_contents_ = true;
    }
    contents_next_ = false;
    return true;
  }
  bool end_array() override {
    if (in_contents_ && depth_ == 2) in_contents_ = false;
    --depth_;
    return true;
  }
  bool parse_error(std::size_t, const std::string&,
                   const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  static constexpr int kMemberDepth = 3;

  bool InMember() const { return in_contents_ && depth_ == kMemberDepth; }

  bool Flag(bool value) {
    if (!InMember()) return true;
    if (key_ == "XADIsDirectory" && value) {
      member_.kind = ArchiveMember::Kind::kFolder;
    } else if (key_ == "XADIsLink" && value) {
      member_.kind = ArchiveMember::Kind::kLink;
    } else if (key_ == "XADIsResourceFork") {
      resource_fork_ = value;
    }
    return true;
  }

  bool Number(std::int64_t value) {
    if (!InMember()) return true;
    if (key_ == "XADFileSize") {
      member_.has_size = true;
      member_.size = value;
    } else if (key_ == "XADIsDirectory" || key_ == "XADIsLink" ||
               key_ == "XADIsResourceFork") {
      return Flag(value != 0);
    }
    return true;
  }

  std::vector<ArchiveMember>* members_;
  ArchiveMember member_;
  std::string key_;
  int depth_ = 0;
  bool contents_next_ = false;
  bool in_contents_ = false;
  bool found_contents_ = false;
  bool resource_fork_ = false;
};

class ListedMembers : public MemberReader {
 public:
  explicit ListedMembers(std::vector<ArchiveMember> members)
      : members_(std::move(members)) {}

  ReadOutcome Next(ArchiveMember* member) override {
    if (next_ == members_.size()) return ReadOutcome::kEnd;
    *member = std::move(members_[next_++]);
    // A listing gives no bytes, and sizes only for files.
    if (member->kind != ArchiveMember::Kind::kFile) member->has_size = false;
    return ReadOutcome::kItem;
  }
  ReadOutcome Read(DataPiece*) override { return ReadOutcome::kEnd; }
  std::string error() const override { return std::string(); }

 private:
  std::vector<ArchiveMember> members_;
  std::size_t next_ = 0;
};

// The listing's bytes as a stream, read from its descriptor a piece at a
// time: a listing of many members is never held whole.
class HeldFileBuffer : public std::streambuf {
 public:
  explicit HeldFileBuffer(const HeldFile* file) : file_(file) {}

 protected:
  int_type underflow() override {
    std::size_t got = 0;
    if (!file_->ReadAt(at_, piece_, sizeof piece_, &got).ok() || got == 0) {
      return traits_type::eof();
    }
    at_ += got;
    setg(piece_, piece_, piece_ + got);
    return traits_type::to_int_type(piece_[0]);
  }

 private:
  const HeldFile* file_;
  std::uint64_t at_ = 0;
  char piece_[1 << 16];
};

}  // namespace

bool ListingReader(const HeldFile* listing,
                   std::unique_ptr<MemberReader>* reader, std::string* error) {
  HeldFileBuffer buffer(listing);
  std::istream stream(&buffer);
  std::vector<ArchiveMember> members;
  ListingHandler handler(&members);
  if (!Json::sax_parse(stream, &handler) || !handler.found_contents()) {
    *error = "the listing is no lsar -j listing";
    return false;
  }
  *reader = std::make_unique<ListedMembers>(std::move(members));
  return true;
}

}  // namespace zavo
