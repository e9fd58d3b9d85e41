#include "run/report_summary.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <tuple>
#include <utility>

#include "platform/file_handle.h"
#include "platform/os.h"
#include "text/printable.h"

namespace zavo {

namespace {

using Json = nlohmann::json;

constexpr char kSummarySwitch[] = "--report-summary";

// Chains of parents longer than this (or looping) come from a report that
// zavo did not write: they are not followed further.
constexpr int kMaxParentChain = 64;

// The longest line read: a report line holds a few paths and a message.
constexpr std::size_t kMaxLine = 1 << 20;

// RFC 4648 base64 without line breaks, as the report writes it; false for
// anything else.
bool DecodeBase64(const std::string& text, std::string* bytes) {
  if (text.size() % 4 != 0) return false;
  bytes->clear();
  std::uint32_t bits = 0;
  int count = 0;
  std::size_t padding = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    int value;
    if (c >= 'A' && c <= 'Z') {
      value = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      value = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      value = c - '0' + 52;
    } else if (c == '+') {
      value = 62;
    } else if (c == '/') {
      value = 63;
    } else if (c == '=' && i + 2 >= text.size()) {
      value = 0;
      ++padding;
    } else {
      return false;
    }
    if (padding > 0 && c != '=') return false;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    if (++count == 4) {
      bytes->push_back(static_cast<char>((bits >> 16) & 0xFF));
      bytes->push_back(static_cast<char>((bits >> 8) & 0xFF));
      bytes->push_back(static_cast<char>(bits & 0xFF));
      bits = 0;
      count = 0;
    }
  }
  bytes->resize(bytes->size() - padding);
  return true;
}

// The exact bytes of a text field: its "_b64" twin when there is one.
// False when the field is missing (and not `optional`) or malformed.
bool TextField(const Json& o, const std::string& key, bool optional,
               std::string* bytes) {
  auto it = o.find(key);
  if (it == o.end() || it->is_null()) {
    bytes->clear();
    return optional;
  }
  if (!it->is_string()) return false;
  auto exact = o.find(key + "_b64");
  if (exact == o.end()) {
    *bytes = it->get<std::string>();
    return true;
  }
  return exact->is_string() && DecodeBase64(exact->get<std::string>(), bytes);
}

// A size: a whole number, or null (-1) when unknown.
bool SizeField(const Json& o, const char* key, std::int64_t* size) {
  auto it = o.find(key);
  if (it == o.end() || it->is_null()) {
    *size = -1;
    return true;
  }
  if (!it->is_number_integer() || it->get<std::int64_t>() < 0) return false;
  *size = it->get<std::int64_t>();
  return true;
}

bool CountField(const Json& o, const char* key, std::int64_t* count) {
  auto it = o.find(key);
  if (it == o.end() || !it->is_number_integer()) return false;
  *count = it->get<std::int64_t>();
  return *count >= 0;
}

// The path of a nested archive below its work folder: the report names it
// inside a work folder beside `parent`, whose drawn name differs from one
// attempt to the next. A path elsewhere stays as it is.
std::string BelowWorkFolder(const std::string& old_path,
                            const std::string& parent) {
  // Win32 takes either slash between names.
  const char* separators = kIsWin32 ? "\\/" : "/";
  std::size_t cut = parent.find_last_of(separators);
  if (cut == std::string::npos) return old_path;
  std::string folder = parent.substr(0, cut + 1);
  if (old_path.compare(0, folder.size(), folder) != 0) return old_path;
  std::size_t work_end = old_path.find_first_of(separators, folder.size());
  if (work_end == std::string::npos) return old_path;
  return old_path.substr(work_end + 1);
}

// How a key shows: "[inner.zip] in [/arc/x.zip]", escaped.
std::string ShownKey(const std::string& key) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = key.find('\0', start);
    parts.push_back(key.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::string shown;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    shown += (shown.empty() ? "[" : " in [") + PrintableName(*it) + "]";
  }
  return shown;
}

// Whether an archive line's status says a new archive was made: in the old
// one's place, or beside it.
bool IsConverted(const std::string& status) {
  return status == "converted" || status == "kept";
}

std::string Plural(std::int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

// The counts of one kind of archives (top-level or nested).
struct KindCounts {
  std::int64_t converted = 0;
  std::int64_t kept = 0;  // converted beside an original that stays
  std::int64_t failed = 0;
  std::int64_t left = 0;
  std::int64_t bytes_before = 0;
  std::int64_t bytes_after = 0;

  void Add(const std::string& status, std::int64_t old_size,
           std::int64_t new_size) {
    if (status == "converted" || status == "kept") {
      ++(status == "kept" ? kept : converted);
      if (old_size > 0) bytes_before += old_size;
      if (new_size > 0) bytes_after += new_size;
    } else if (status == "failed") {
      ++failed;
    } else {
      ++left;
    }
  }
  std::string Text() const {
    // Kept archives are named only where there are some, so that the line
    // of a run without --keep reads as it always did.
    return std::to_string(converted) + " converted, " +
           (kept > 0 ? std::to_string(kept) + " kept, " : std::string()) +
           std::to_string(failed) + " failed, " + std::to_string(left) +
           " left; " + std::to_string(bytes_before) + " bytes before, " +
           std::to_string(bytes_after) + " after";
  }
};

struct ReportSummary::Outcome {
  KindCounts top;
  KindCounts nested;
  std::int64_t seen_again = 0;
  std::int64_t converted_again = 0;  // top-level archives only
  // "failed (step) [x]" and "left (reason) [x]", in the order of the keys.
  std::vector<std::string> failed;
  std::vector<std::string> left;
  std::vector<std::string> cut_short;  // lines naming the files
  std::int64_t runs_not_zero = 0;
};

void ReportSummary::Keep(const std::string& key, const ArchiveLine& line,
                         std::map<std::string, Latest>* kept,
                         std::int64_t* seen_again) {
  auto found = kept->find(key);
  if (found == kept->end()) {
    Latest& latest = (*kept)[key];
    latest.line = line;
    latest.converted = IsConverted(line.status) ? 1 : 0;
    return;
  }
  ++*seen_again;
  Latest& latest = found->second;
  if (IsConverted(line.status)) ++latest.converted;
  if (std::tie(line.time, line.order) >
      std::tie(latest.line.time, latest.line.order)) {
    latest.line = line;
  }
}

void ReportSummary::ReadLine(FileCount* file, std::int64_t number,
                             const char* begin, const char* end) {
  ++lines_;
  Json o = Json::parse(begin, end, nullptr, false);
  auto refuse = [&] { NotReportLine(*file, number); };
  if (o.is_discarded() || !o.is_object()) return refuse();
  auto type = o.find("type");
  auto time = o.find("time");
  if (type == o.end() || !type->is_string() || time == o.end() ||
      !time->is_string()) {
    return refuse();
  }
  const std::string kind = type->get<std::string>();
  if (kind == "archive") {
    ArchiveLine line;
    auto status = o.find("status");
    if (status == o.end() || !status->is_string()) return refuse();
    line.status = status->get<std::string>();
    const char* detail = line.status == "failed" ? "step"
                         : line.status == "left" ? "reason"
                                                 : nullptr;
    if (!IsConverted(line.status) && detail == nullptr) return refuse();
    if (!TextField(o, "old", false, &line.old_path) || line.old_path.empty() ||
        !TextField(o, "parent", true, &line.parent) ||
        (detail != nullptr && !TextField(o, detail, true, &line.detail)) ||
        !SizeField(o, "old_size", &line.old_size) ||
        !SizeField(o, "new_size", &line.new_size)) {
      return refuse();
    }
    line.time = time->get<std::string>();
    line.order = order_++;
    ++file->archive_lines;
    if (line.parent.empty()) {
      Keep(line.old_path, line, &top_, &top_seen_again_);
    } else {
      nested_.push_back(std::move(line));
    }
    return;
  }
  if (kind != "totals" && kind != "nested_totals") return refuse();
  std::int64_t converted, failed, left, kept = 0;
  auto exit_code = o.find("exit_code");
  if (!CountField(o, "converted", &converted) ||
      !CountField(o, "failed", &failed) || !CountField(o, "left", &left) ||
      exit_code == o.end() || !exit_code->is_number_integer() ||
      (o.contains("kept") && !CountField(o, "kept", &kept))) {
    return refuse();
  }
  file->accounted += converted + kept + failed + left;
  // A nested run's totals belong to its archive's conversion, not to a run
  // of its own.
  if (kind == "totals") {
    ++runs_;
    ++exit_codes_[exit_code->get<int>()];
  }
}

// The lines of one report, split from the pieces it is read in.
struct ReportSummary::Splitter {
  explicit Splitter(FileCount* counted) : file(counted) {}
  FileCount* file;
  std::string pending;  // the start of a line whose end is still to come
  std::int64_t number = 0;
  bool too_long = false;  // the pending line is being skipped
};

void ReportSummary::Feed(Splitter* s, const char* data, std::size_t size) {
  const char* end = data + size;
  while (data < end) {
    const char* line_end =
        static_cast<const char*>(std::memchr(data, '\n', end - data));
    if (line_end == nullptr) {
      if (!s->too_long) s->pending.append(data, end);
      // No line zavo writes comes near this: such a line is skipped, not
      // kept whole, so that a file that is no report cannot take all memory.
      if (!s->too_long && s->pending.size() > kMaxLine) {
        s->too_long = true;
        s->pending.clear();
      }
      return;
    }
    ++s->number;
    if (s->too_long) {
      ++lines_;
      NotReportLine(*s->file, s->number);
      s->too_long = false;
    } else if (s->pending.empty()) {
      ReadLine(s->file, s->number, data, line_end);
    } else {
      s->pending.append(data, line_end);
      ReadLine(s->file, s->number, s->pending.data(),
               s->pending.data() + s->pending.size());
      s->pending.clear();
    }
    data = line_end + 1;
  }
}

void ReportSummary::End(Splitter* s) {
  if (s->pending.empty() && !s->too_long) return;
  // Never read a cut line: its end might have changed what it says.
  problems_.push_back("line " + std::to_string(s->number + 1) + " of [" +
                      PrintableName(s->file->name) +
                      "] is cut: the file ends inside it");
}

void ReportSummary::NotReportLine(const FileCount& file, std::int64_t number) {
  problems_.push_back("line " + std::to_string(number) + " of [" +
                      PrintableName(file.name) + "] is no report line");
}

void ReportSummary::ReadText(const std::string& name, const std::string& text) {
  files_.push_back(FileCount{name});
  Splitter s(&files_.back());
  Feed(&s, text.data(), text.size());
  End(&s);
}

void ReportSummary::ReadFile(const std::string& path) {
  std::FILE* in = OpenFile(path, FileOpenMode::kRead);
  if (in == nullptr) {
    problems_.push_back("can't read report [" + PrintableName(path) +
                        "]: " + std::strerror(errno));
    return;
  }
  // Read in pieces: a report of a big collection may hold millions of
  // lines.
  files_.push_back(FileCount{path});
  Splitter s(&files_.back());
  char buffer[65536];
  std::size_t got;
  do {
    got = std::fread(buffer, 1, sizeof(buffer), in);
    Feed(&s, buffer, got);
  } while (got == sizeof(buffer));
  bool failed = std::ferror(in) != 0;
  int read_error = errno;
  std::fclose(in);
  if (failed) {
    problems_.push_back("can't read report [" + PrintableName(path) +
                        "]: " + std::strerror(read_error));
  } else {
    End(&s);
  }
}

ReportSummary::Outcome ReportSummary::Tally() const {
  Outcome o;
  o.seen_again = top_seen_again_;
  auto list = [&o](const std::string& key, const ArchiveLine& line) {
    if (line.status == "failed") {
      o.failed.push_back("failed (" + PrintableName(line.detail) + ") " +
                         ShownKey(key));
    } else if (line.status == "left") {
      o.left.push_back("left (" + PrintableName(line.detail) + ") " +
                       ShownKey(key));
    }
  };
  for (const auto& kept : top_) {
    const ArchiveLine& line = kept.second.line;
    o.top.Add(line.status, line.old_size, line.new_size);
    if (kept.second.converted > 1) ++o.converted_again;
    list(kept.first, line);
  }
  // Nested paths are unique to their work folders: index the parents once
  // instead of searching the lines for each one.
  std::map<std::string, Latest> nested;
  std::map<std::string, std::string> parent_of;
  for (const ArchiveLine& line : nested_)
    parent_of[line.old_path] = line.parent;
  for (const ArchiveLine& line : nested_) {
    std::string key = BelowWorkFolder(line.old_path, line.parent);
    std::string parent = line.parent;
    for (int depth = 0;; ++depth) {
      auto up = parent_of.find(parent);
      if (up == parent_of.end() || depth == kMaxParentChain) {
        key = parent + '\0' + key;
        break;
      }
      key = BelowWorkFolder(parent, up->second) + '\0' + key;
      parent = up->second;
    }
    Keep(key, line, &nested, &o.seen_again);
  }
  for (const auto& kept : nested) {
    o.nested.Add(kept.second.line.status, kept.second.line.old_size,
                 kept.second.line.new_size);
    list(kept.first, kept.second.line);
  }
  for (const FileCount& file : files_) {
    if (file.archive_lines > file.accounted) {
      o.cut_short.push_back("cut short: [" + PrintableName(file.name) +
                            "] holds " +
                            Plural(file.archive_lines - file.accounted,
                                   "archive line", "archive lines") +
                            " that no totals line accounts for");
    } else if (file.archive_lines < file.accounted) {
      o.cut_short.push_back(
          "lines missing: the totals lines of [" + PrintableName(file.name) +
          "] count " +
          Plural(file.accounted - file.archive_lines, "archive", "archives") +
          " more than it holds lines for");
    }
  }
  for (const auto& code : exit_codes_) {
    if (code.first != 0) o.runs_not_zero += code.second;
  }
  return o;
}

std::vector<std::string> ReportSummary::Lines() const {
  Outcome o = Tally();
  std::vector<std::string> lines;
  lines.push_back("reports: " + Plural(files_.size(), "file", "files") + ", " +
                  Plural(lines_, "line", "lines"));
  std::string runs = "runs: " + std::to_string(runs_) + " finished";
  std::string codes;
  for (const auto& code : exit_codes_) {
    codes += (codes.empty() ? " (" : ", ") + std::string("exit code ") +
             std::to_string(code.first) + ": " + std::to_string(code.second);
  }
  lines.push_back(runs + codes + (codes.empty() ? "" : ")"));
  lines.insert(lines.end(), o.cut_short.begin(), o.cut_short.end());
  lines.push_back("archives: " + o.top.Text());
  lines.push_back("nested archives: " + o.nested.Text());
  lines.push_back(
      "seen again: " + Plural(o.seen_again, "line names", "lines name") +
      " an archive that another line names too; " +
      Plural(o.converted_again, "archive", "archives") +
      " converted more than once");
  lines.insert(lines.end(), o.failed.begin(), o.failed.end());
  lines.insert(lines.end(), o.left.begin(), o.left.end());

  std::vector<std::string> why = Reasons(o);
  if (why.empty()) {
    lines.push_back(
        "all done: every archive converted, every run finished with exit "
        "code 0");
  } else {
    std::string text;
    for (const std::string& reason : why) {
      text += (text.empty() ? "" : ", ") + reason;
    }
    lines.push_back("not all done: " + text);
  }
  return lines;
}

std::vector<std::string> ReportSummary::Reasons(const Outcome& o) const {
  std::vector<std::string> why;
  if (!o.failed.empty())
    why.push_back(std::to_string(o.failed.size()) + " failed");
  if (!o.left.empty()) why.push_back(std::to_string(o.left.size()) + " left");
  if (o.runs_not_zero > 0) {
    why.push_back(Plural(o.runs_not_zero, "run", "runs") +
                  " ended with an exit code other than 0");
  }
  if (!o.cut_short.empty()) why.push_back("lines without their totals");
  if (runs_ == 0) why.push_back("no run finished");
  if (!problems_.empty()) why.push_back("lines that could not be read");
  return why;
}

int ReportSummary::ExitCode() const {
  if (!problems_.empty()) return 2;
  return Reasons(Tally()).empty() ? 0 : 1;
}

bool AsksForReportSummary(const std::vector<std::string>& args) {
  return std::find(args.begin() + (args.empty() ? 0 : 1), args.end(),
                   kSummarySwitch) != args.end();
}

int RunReportSummary(const std::vector<std::string>& args, std::ostream& out,
                     std::ostream& err) {
  const char* usage = "usage: zavo --report-summary FILE...";
  std::vector<std::string> files;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == kSummarySwitch) continue;
    for (const char* word : kHelpWords) {
      if (args[i] == word) {
        out << usage << '\n'
            << "       the totals of a set of reports written by --report\n";
        return 0;
      }
    }
    if (kDashSwitches && !args[i].empty() && args[i][0] == '-') {
      err << "unknown switch [" << PrintableName(args[i]) << "]\n"
          << usage << '\n';
      return 2;
    }
    files.push_back(args[i]);
  }
  if (files.empty()) {
    err << usage << '\n';
    return 2;
  }
  ReportSummary summary;
  for (const std::string& file : files) summary.ReadFile(file);
  for (const std::string& problem : summary.problems()) err << problem << '\n';
  for (const std::string& line : summary.Lines()) out << line << '\n';
  out.flush();
  return summary.ExitCode();
}

}  // namespace zavo
