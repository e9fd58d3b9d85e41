#include "run/report.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/os.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

using Json = nlohmann::ordered_json;

// The length of the valid UTF-8 sequence at s[i], or 0 when the byte there
// does not begin one (RFC 3629: no overlong forms, no surrogates, nothing
// above U+10FFFF).
std::size_t Utf8SequenceAt(const std::string& s, std::size_t i) {
  auto byte = [&s](std::size_t k) {
    return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u;
  };
  unsigned b0 = byte(i);
  auto tail = [&](std::size_t k) { return (byte(k) & 0xC0) == 0x80; };
  if (b0 < 0x80) return 1;
  if (b0 >= 0xC2 && b0 <= 0xDF) return tail(i + 1) ? 2 : 0;
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    unsigned b1 = byte(i + 1);
    unsigned low = b0 == 0xE0 ? 0xA0 : 0x80;
    unsigned high = b0 == 0xED ? 0x9F : 0xBF;
    return b1 >= low && b1 <= high && tail(i + 2) ? 3 : 0;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    unsigned b1 = byte(i + 1);
    unsigned low = b0 == 0xF0 ? 0x90 : 0x80;
    unsigned high = b0 == 0xF4 ? 0x8F : 0xBF;
    return b1 >= low && b1 <= high && tail(i + 2) && tail(i + 3) ? 4 : 0;
  }
  return 0;
}

std::string Base64(const std::string& bytes) {
  static const char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size())
      n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
  }
  return out;
}

// Sets object[key] to the text, and object[key + "_b64"] to its exact bytes
// when they are not all UTF-8 (see the header). An empty `bytes` with
// `null_when_empty` is written as null.
void PutText(Json* object, const std::string& key, const std::string& bytes,
             bool null_when_empty = false) {
  if (null_when_empty && bytes.empty()) {
    (*object)[key] = nullptr;
    return;
  }
  std::string shown;
  bool exact = true;
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t n = Utf8SequenceAt(bytes, i);
    if (n == 0) {
      shown += "\xEF\xBF\xBD";  // U+FFFD
      exact = false;
      ++i;
    } else {
      shown.append(bytes, i, n);
      i += n;
    }
  }
  (*object)[key] = shown;
  if (!exact) (*object)[key + "_b64"] = Base64(bytes);
}

Json Number(std::int64_t n) { return n < 0 ? Json(nullptr) : Json(n); }

double Milliseconds(double seconds) {
  return std::round(seconds * 1000.0) / 1000.0;
}

std::string Line(const Json& object) {
  // Control characters in names come out as escapes, so a record is always
  // one line.
  return object.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

const char* StatusName(ArchiveStatus status) {
  switch (status) {
    case ArchiveStatus::kConverted:
      return "converted";
    case ArchiveStatus::kKept:
      return "kept";
    case ArchiveStatus::kFailed:
      return "failed";
    case ArchiveStatus::kLeft:
      return "left";
  }
  return "failed";
}

std::string UtcTimestamp() {
  using namespace std::chrono;
  std::int64_t ms =
      duration_cast<milliseconds>(system_clock::now().time_since_epoch())
          .count();
  std::int64_t days = ms / 86400000;
  std::int64_t in_day = ms % 86400000;
  if (in_day < 0) {
    in_day += 86400000;
    --days;
  }
  const CivilDate date = CivilFromDays(days);
  char text[40];
  std::snprintf(
      text, sizeof(text), "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ",
      static_cast<long long>(date.year), static_cast<long long>(date.month),
      static_cast<long long>(date.day),
      static_cast<long long>(in_day / 3600000),
      static_cast<long long>(in_day / 60000 % 60),
      static_cast<long long>(in_day / 1000 % 60),
      static_cast<long long>(in_day % 1000));
  return text;
}

std::string FormatRecord(const ReportRecord& r, const std::string& time,
                         const std::string& parent) {
  Json o;
  o["type"] = "archive";
  o["time"] = time;
  PutText(&o, "old", r.old_path);
  PutText(&o, "definition", r.definition);
  PutText(&o, "new", r.new_path, true);
  o["status"] = StatusName(r.status);
  o["step"] = nullptr;
  o["reason"] = nullptr;
  if (r.status == ArchiveStatus::kFailed) PutText(&o, "step", r.detail);
  if (r.status == ArchiveStatus::kLeft) PutText(&o, "reason", r.detail);
  PutText(&o, "message", r.message);
  o["old_size"] = Number(r.old_size);
  o["new_size"] = Number(r.new_size);
  o["old_sha256"] = r.old_sha256.empty() ? Json(nullptr) : Json(r.old_sha256);
  o["new_sha256"] = r.new_sha256.empty() ? Json(nullptr) : Json(r.new_sha256);
  if (r.files < 0) {
    o["unpacked"] = nullptr;
  } else {
    o["unpacked"] = {
        {"files", r.files}, {"folders", r.folders}, {"links", r.links}};
  }
  o["tested"] = r.tested;
  o["verified"] = r.verified;
  if (r.extraction_check.empty() && r.packing_check.empty()) {
    o["checks"] = nullptr;
    o["not_kept"] = nullptr;
  } else {
    auto check = [](const std::string& how) {
      return how.empty() ? Json(nullptr) : Json(how);
    };
    o["checks"] = {{"extraction", check(r.extraction_check)},
                   {"packing", check(r.packing_check)}};
    // Known once the new archive was read.
    o["not_kept"] = r.packing_check.empty() ? Json(nullptr) : Json(r.not_kept);
  }
  o["changes"] = {{"deleted", Number(r.deleted)},
                  {"added", Number(r.added)},
                  {"nested", Number(r.nested_converted)},
                  {"scan", Number(r.scanned)}};
  o["seconds"] = Milliseconds(r.seconds);
  if (r.nested_run) {
    o["nested"] = {{"count", Number(r.nested_count)},
                   {"failed", Number(r.nested_failed)}};
  } else {
    o["nested"] = nullptr;
  }
  if (!parent.empty()) PutText(&o, "parent", parent);
  return Line(o);
}

std::string FormatTotals(const ReportTotals& t, int exit_code, double seconds,
                         const std::string& time, const std::string& parent,
                         const NestedCounts* nested) {
  Json o;
  o["type"] = parent.empty() ? "totals" : "nested_totals";
  o["time"] = time;
  o["converted"] = t.converted;
  o["kept"] = t.kept;
  o["failed"] = t.failed;
  o["left"] = t.left;
  o["bytes_before"] = t.bytes_before;
  o["bytes_after"] = t.bytes_after;
  o["seconds"] = Milliseconds(seconds);
  o["exit_code"] = exit_code;
  if (nested != nullptr) {
    o["nested"] = {{"converted", nested->converted},
                   {"failed", nested->failed},
                   {"left", nested->left}};
  } else if (parent.empty()) {
    o["nested"] = nullptr;
  }
  if (!parent.empty()) PutText(&o, "parent", parent);
  return Line(o);
}

Status ReportWriter::Open(const std::string& path, const std::string& parent) {
  parent_ = parent;
  totals_ = ReportTotals();
  if (!file_.Open(path)) return Status::Error(file_.error());
  return Status();
}

Status ReportWriter::Adopt(long handle, const std::string& path,
                           const std::string& parent) {
  parent_ = parent;
  totals_ = ReportTotals();
  if (!file_.Adopt(handle, path)) return Status::Error(file_.error());
  return Status();
}

bool ReportWriter::Append(const std::string& line) {
  if (file_.Append(line)) return true;
  std::lock_guard<std::mutex> hold(mutex_);
  error_ = file_.error();
  return false;
}

bool ReportWriter::Write(const ReportRecord& record) {
  // The line is formatted and written outside the lock: the write itself
  // keeps lines whole.
  std::string line = FormatRecord(record, UtcTimestamp(), parent_);
  {
    std::lock_guard<std::mutex> hold(mutex_);
    Count(record);
  }
  return Append(line);
}

void ReportWriter::Count(const ReportRecord& record) {
  switch (record.status) {
    case ArchiveStatus::kConverted:
    case ArchiveStatus::kKept:
      ++(record.status == ArchiveStatus::kKept ? totals_.kept
                                               : totals_.converted);
      if (record.old_size > 0) totals_.bytes_before += record.old_size;
      if (record.new_size > 0) totals_.bytes_after += record.new_size;
      break;
    case ArchiveStatus::kFailed:
      ++totals_.failed;
      break;
    case ArchiveStatus::kLeft:
      ++totals_.left;
      break;
  }
}

bool ReportWriter::Finish(int exit_code, double seconds,
                          const NestedCounts* nested) {
  return Append(FormatTotals(totals(), exit_code, seconds, UtcTimestamp(),
                             parent_, nested));
}

std::int64_t ReportWriter::Mark() { return file_.Size(); }

bool ReportWriter::FindNestedTotals(std::int64_t mark,
                                    const std::string& parent, int* count,
                                    int* failed, int* converted) {
  std::string appended;
  if (mark < 0 || !file_.ReadFrom(mark, &appended)) return false;
  // The parent field as the nested run wrote it, to compare with.
  Json expected;
  PutText(&expected, "parent", parent);
  bool found = false;
  std::size_t start = 0;
  while (start < appended.size()) {
    std::size_t end = appended.find('\n', start);
    if (end == std::string::npos) break;  // a line still being written
    Json line = Json::parse(appended.begin() + start, appended.begin() + end,
                            nullptr, false);
    start = end + 1;
    if (line.is_discarded() || !line.is_object()) continue;
    // Other programs' lines may hold anything: look, never convert.
    auto field = [&line](const char* key) {
      auto it = line.find(key);
      return it == line.end() ? Json() : *it;
    };
    auto number = [&field](const char* key) {
      Json n = field(key);
      return n.is_number_integer() ? n.get<int>() : 0;
    };
    if (field("type") != "nested_totals" ||
        field("parent") != expected["parent"] ||
        field("parent_b64") != expected.value("parent_b64", Json())) {
      continue;
    }
    *count = number("converted") + number("kept") + number("failed") +
             number("left");
    *failed = number("failed");
    if (converted != nullptr) *converted = number("converted");
    found = true;  // the last one wins: a parent converted twice is rerun
  }
  return found;
}

}  // namespace zavo
