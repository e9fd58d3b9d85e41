#include "run/run_options.h"

#include <cstdint>
#include <cstring>
#include <thread>

#include "archivers/archiver_commands.h"
#include "config/settings_file.h"
#include "fs/file_tree.h"
#include "platform/os.h"
#include "platform/process.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

constexpr char kSettingsName[] = "zavo.ctl";

// The settings folder of the install prefix, given by the build.
#ifndef ZAVO_SYSCONFDIR
#define ZAVO_SYSCONFDIR "/usr/local/etc"
#endif

// Settings keys, in the order that gives them their indexes 1 to 24.
constexpr const char* kSettingKeys[] = {
    "Recurse",     "Nested",       "KeepTime",
    "StopOnError", "KillExist",    "Archives",
    "AddFile",     "DeleteFile",   "Scan",
    "FileList",    "Report",       "Verify",
    "Jobs",        "MaxNesting",   "MaxNestedArchives",
    "MaxFileSize", "KeepFree",     "MaxEntries",
    "MaxDepth",    "AnyExtension", "Fidelity",
    "Target",      "KeepOriginal", "ScanFailCodes"};
enum SettingKey {
  kKeyRecurse = 1,
  kKeyNested,
  kKeyKeepTime,
  kKeyStopOnError,
  kKeyKillExist,
  kKeyArchives,
  kKeyAddFile,
  kKeyDeleteFile,
  kKeyScan,
  kKeyFileList,
  kKeyReport,
  kKeyVerify,
  kKeyJobs,
  kKeyMaxNesting,
  kKeyMaxNestedArchives,
  kKeyMaxFileSize,
  kKeyKeepFree,
  kKeyMaxEntries,
  kKeyMaxDepth,
  kKeyAnyExtension,
  kKeyFidelity,
  kKeyTarget,
  kKeyKeepOriginal,
  kKeyScanFailCodes
};

// A limit from the settings: a whole number from 0 up, or `fallback` when
// the key is absent or its value is not one.
int LimitValue(const std::string& text, int fallback) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return fallback;
  }
  return static_cast<int>(TextToInt(text));
}

// A size from the settings: a whole number of bytes, or of KiB, MiB, GiB or
// TiB with the suffix K, M, G or T; -1 for anything else.
std::int64_t SizeValue(const std::string& text) {
  if (text.empty() || text.size() > 12) return -1;
  std::string digits = text;
  int shift = 0;
  switch (UpCaseChar(static_cast<unsigned char>(text.back()))) {
    case 'K':
      shift = 10;
      break;
    case 'M':
      shift = 20;
      break;
    case 'G':
      shift = 30;
      break;
    case 'T':
      shift = 40;
      break;
  }
  if (shift > 0) digits.pop_back();
  if (digits.empty() ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return -1;
  }
  std::int64_t value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value << shift;
}

// The parameters that take a value; they are not counted among the four.
constexpr char kReportSwitch[] = "--report";
constexpr char kReportParentSwitch[] = "--report-parent";
// A nested run's report and mask folder, handed on open by the parent.
constexpr char kReportHandleSwitch[] = "--report-handle";
constexpr char kMaskFolderSwitch[] = "--mask-folder";
constexpr char kJobsSwitch[] = "-j";
constexpr char kShardSwitch[] = "--shard";
constexpr char kTargetSwitch[] = "--to";
constexpr char kTargetDashSwitch[] = "-t";
// The Win32 forms of the jobs and target switches: "/j:N", "/t:KIND".
constexpr char kJobsColonSwitch[] = "/J:";
constexpr char kTargetColonSwitch[] = "/T:";
// More jobs than this is a typing mistake, not a machine.
constexpr int kMaxJobs = 1024;

// A whole number from 0 to `most` written in decimal digits alone; -1 for
// anything else.
int SmallNumber(const std::string& text, int most) {
  if (text.empty() || text.size() > 9) return -1;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value <= most ? value : -1;
}

// Jobs 0 stands for one job per processor.
int ResolvedJobs(int jobs) {
  if (jobs != 0) return jobs;
  unsigned processors = std::thread::hardware_concurrency();
  return processors == 0 ? 1 : static_cast<int>(processors);
}

// A path the run keeps beyond the start: relative ones start from
// `start_folder`.
std::string FullPath(const std::string& path, const std::string& start) {
  bool absolute =
      !path.empty() && (path[0] == kPathSeparator ||
                        (kHasDrives && path.size() > 1 && path[1] == ':'));
  return absolute ? path : WithBackslash(start) + path;
}

bool IsSwitch(const std::string& parameter, char letter) {
  std::string p = UpperText(parameter);
  if (p == std::string("/") + letter) return true;
  return kDashSwitches && p == std::string("-") + letter;
}

bool IsAnySwitch(const std::string& parameter) {
  return IsSwitch(parameter, 'R') || IsSwitch(parameter, 'N') ||
         IsSwitch(parameter, 'K');
}

// A switch that has a long form and a one-letter form: "--quiet", "-q"
// where dashes start switches, "/q" everywhere, as "/r" is.
bool IsLongOrShort(const std::string& parameter, const char* long_form,
                   char letter) {
  return parameter == long_form || IsSwitch(parameter, letter);
}

// Whether `parameter` starts with the colon form `prefix` ("/T:"), in any
// letter case; the value follows it.
bool HasColonPrefix(const std::string& parameter, const char* prefix) {
  return UpperText(parameter.substr(0, std::strlen(prefix))) == prefix;
}

bool IsHelp(const std::string& parameter) {
  for (const char* word : kHelpWords) {
    if (parameter == word) return true;
  }
  return false;
}

OptionsResult Fatal(const std::string& message) {
  return {OptionsStatus::kFatal, message};
}

// Reads the first settings file of SettingsPlaces into *options.
OptionsResult LoadSettings(const std::string& program_folder, OutputSink* out,
                           const std::function<void(int)>& pause,
                           RunOptions* options) {
  std::vector<std::string> places = SettingsPlaces(program_folder);
  std::string settings;
  for (const std::string& place : places) {
    if (FileExists(place)) {
      settings = place;
      break;
    }
  }
  if (settings.empty()) {
    std::string looked;
    for (const std::string& place : places) {
      looked += (looked.empty() ? "[" : " or [") + place + "]";
    }
    return Fatal("config file " + looked + " not found");
  }
  options->settings_file = settings;
  std::string unread;
  Status read = ReadWholeFile(settings, &unread);
  if (!read.ok()) {
    // Another place's settings would not be the ones the user wrote.
    return Fatal("can't read config file [" + settings + "]: " + read.Reason());
  }
  SettingsFile file;
  for (const char* key : kSettingKeys) file.AddKey(key);
  if (!file.Load(settings).ok()) {
    return Fatal("can't load config file [" + settings + "]");
  }
  auto on = [&file](int key) { return EqualNoCase(file.Value(key, 1), "yes"); };
  ConversionSettings& conversion = options->conversion;
  options->recurse = on(kKeyRecurse);
  conversion.nested = on(kKeyNested);
  conversion.keep_time = on(kKeyKeepTime);
  conversion.stop_on_error = on(kKeyStopOnError);
  conversion.kill_exist = on(kKeyKillExist);
  options->report_file = file.Value(kKeyReport, 1);
  conversion.verify = on(kKeyVerify);
  conversion.fidelity_exact = EqualNoCase(file.Value(kKeyFidelity, 1), "exact");
  conversion.keep_original = on(kKeyKeepOriginal);
  options->target_name = file.Value(kKeyTarget, 1);
  // Absent, identifying bytes claim files of any name, as they always did.
  const std::string any_extension = file.Value(kKeyAnyExtension, 1);
  options->any_extension = any_extension.empty() || on(kKeyAnyExtension);
  std::string jobs = file.Value(kKeyJobs, 1);
  if (!jobs.empty()) {
    int value = SmallNumber(jobs, kMaxJobs);
    if (value < 0) {
      return Fatal("wrong Jobs value [" + jobs + "] in [" + settings +
                   "]: a number from 0 (one job per processor) to " +
                   std::to_string(kMaxJobs));
    }
    options->jobs = ResolvedJobs(value);
  }
  options->max_nesting =
      LimitValue(file.Value(kKeyMaxNesting, 1), kDefaultMaxNesting);
  options->max_nested_archives = LimitValue(
      file.Value(kKeyMaxNestedArchives, 1), kDefaultMaxNestedArchives);
  // The unpacking limits: a value that is no size is a fatal stop, since a
  // run without the bound it was given could fill the disk.
  UnpackLimits& limits = conversion.limits;
  struct {
    int key;
    std::int64_t* value;
    bool size;  // takes K, M, G, T
  } bounds[] = {{kKeyMaxFileSize, &limits.max_file_size, true},
                {kKeyKeepFree, &limits.keep_free, true},
                {kKeyMaxEntries, &limits.max_entries, false}};
  for (auto& bound : bounds) {
    std::string text = file.Value(bound.key, 1);
    if (text.empty()) continue;
    std::int64_t value = bound.size ? SizeValue(text) : LimitValue(text, -1);
    if (value < 0) {
      return Fatal("wrong " + std::string(kSettingKeys[bound.key - 1]) +
                   " value [" + text + "] in [" + settings + "]: " +
                   (bound.size ? "bytes, or a number with K, M, G or T"
                               : "a whole number"));
    }
    *bound.value = value;
  }
  std::string depth = file.Value(kKeyMaxDepth, 1);
  if (!depth.empty()) {
    limits.max_depth = LimitValue(depth, -1);
    if (limits.max_depth < 0) {
      return Fatal("wrong MaxDepth value [" + depth + "] in [" + settings +
                   "]: a whole number");
    }
  }
  // The exit codes with which a scanner says it could not scan: blanks or
  // commas between them, on one line or several.
  conversion.scan_fail_codes.clear();
  for (int i = 1; i <= file.ValueCount(kKeyScanFailCodes); ++i) {
    const std::string codes = file.Value(kKeyScanFailCodes, i);
    std::string code;
    for (std::size_t at = 0; at <= codes.size(); ++at) {
      if (at < codes.size() && codes[at] != ' ' && codes[at] != '\t' &&
          codes[at] != ',') {
        code += codes[at];
        continue;
      }
      if (code.empty()) continue;
      const std::int64_t value = LimitValue(code, -1);
      if (value < 1 || value > 255) {
        return Fatal("wrong ScanFailCodes value [" + codes + "] in [" +
                     settings + "]: exit codes from 1 to 255");
      }
      conversion.scan_fail_codes.push_back(static_cast<int>(value));
      code.clear();
    }
  }
  options->archivers_file = file.Value(kKeyArchives, 1);
  if (PathFolder(options->archivers_file).empty()) {
    options->archivers_file =
        WithBackslash(PathFolder(settings)) + options->archivers_file;
  }
  struct {
    int key;
    SortedTextList* list;
  } lists[] = {{kKeyAddFile, &conversion.add_masks},
               {kKeyDeleteFile, &conversion.delete_masks},
               {kKeyScan, &conversion.scan_commands},
               {kKeyFileList, &options->list_file_names}};
  for (auto& l : lists) {
    l.list->Clear();
    for (int i = 1; i <= file.ValueCount(l.key); ++i) {
      // A value given twice is one entry: Insert keeps the first.
      l.list->Insert(ListText(file.Value(l.key, i)));
    }
  }
  // A Scan template that puts @Folder where its reading is not proven is
  // kept, and fails every archive it would scan.
  std::vector<std::string> refused;
  for (int i = 1; i <= file.ValueCount(kKeyScan); ++i) {
    if (!CommandTemplateQuotable(file.Value(kKeyScan, i), {"@Folder"})) {
      refused.push_back(file.Value(kKeyScan, i));
    }
  }
  if (file.BadLineCount() > 0 || !refused.empty()) {
    for (int i = 1; i <= file.BadLineCount(); ++i) {
      out->Line("wrong line [#" + IntToText(file.BadLine(i)) + "] in [" +
                settings + "]");
    }
    for (const std::string& command : refused) {
      out->Line("refused command [Scan " + command + "] in [" + settings + "]");
    }
    out->Line("pause (3 seconds)...");
    if (pause) pause(3000);
  }
  return {};
}

}  // namespace

std::vector<std::string> SettingsPlaces(const std::string& program_folder,
                                        const std::string& xdg_config_home,
                                        const std::string& home) {
  std::vector<std::string> places = {program_folder + kSettingsName};
  if (kIsWin32) return places;
  // An XDG_CONFIG_HOME that is not an absolute path counts as unset.
  std::string config = xdg_config_home;
  if (config.empty() || config[0] != '/') {
    config = home.empty() ? std::string() : WithBackslash(home) + ".config";
  }
  if (!config.empty()) {
    places.push_back(WithBackslash(config) + "zavo/" + kSettingsName);
  }
  places.push_back(WithBackslash(ZAVO_SYSCONFDIR) + "zavo/" + kSettingsName);
  return places;
}

std::vector<std::string> SettingsPlaces(const std::string& program_folder) {
  return SettingsPlaces(program_folder, GetEnvironment("XDG_CONFIG_HOME"),
                        GetEnvironment("HOME"));
}

int ShardOfFolder(const std::string& relative, int count) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : relative) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return static_cast<int>(hash % static_cast<std::uint64_t>(count)) + 1;
}

std::string ListText(const std::string& text) {
  return kNamesIgnoreCase ? UpperText(text) : text;
}

bool AsksForVersion(const std::vector<std::string>& args) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--version") return true;
  }
  return false;
}

bool AsksForQuiet(const std::vector<std::string>& args) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (IsLongOrShort(args[i], "--quiet", 'Q')) return true;
  }
  return false;
}

std::vector<std::string> UsageLines() {
  return {
      kDashSwitches ? "usage: zavo [/r] [/n] [/k] [-j N] [--shard K/N] "
                      "[--report FILE] <filemask>"
                    : "usage: zavo [/r] [/n] [/k] [/j:N] [--shard K/N] "
                      "[--report FILE] <filemask>",
      "",
      "       /r - recursive scan (with subfolders)",
      "       /n - convert nested archives",
      "       /k - don't keep archive filetime",
      kDashSwitches
          ? "       -j N - convert N archives at once (0: one per processor)"
          : "       /j:N - convert N archives at once (0: one per processor)",
      "       --shard K/N - convert only the folders of shard K of N",
      "       --report FILE - append a JSON line per archive to FILE",
  };
}

std::vector<std::string> HelpDetails(const std::string& program_folder) {
  std::vector<std::string> lines;
  if (kDashSwitches) {
    lines.push_back("       -r, -n, -k - the same switches");
  }
  lines.push_back(kDashSwitches
                      ? "       -t KIND, --to KIND - convert to the archivers "
                        "file's section KIND"
                      : "       /t:KIND, --to KIND - convert to the archivers "
                        "file's section KIND");
  lines.push_back(
      "       --keep - put each new archive beside the old one, which stays");
  lines.push_back(kDashSwitches
                      ? "       -q, --quiet - print only the archives that "
                        "failed or were left, and the summary"
                      : "       /q, --quiet - print only the archives that "
                        "failed or were left, and the summary");
  lines.push_back(kDashSwitches
                      ? "       -v, --verbose - show the archivers' output "
                        "under its archive and step"
                      : "       /v, --verbose - show the archivers' output "
                        "under its archive and step");
  lines.push_back(
      "       --dry-run - show what would be converted, change nothing");
  lines.push_back(
      "       --summary - print a summary on standard error at the end");
  lines.push_back(
      "       --report-summary FILE... - the totals of a set of reports");
  lines.push_back("       --version - print the version");
  std::string help;
  for (const char* word : kHelpWords) {
    help += (help.empty() ? "" : ", ") + std::string(word);
  }
  lines.push_back("       " + help + " - print this help");
  lines.push_back("");
  lines.push_back(
      "exit codes: 0 all done, 1 some archive failed or was left as it was,");
  lines.push_back(
      "            2 fatal stop (command line, settings, StopOnError)");
  if (!kIsWin32) {
    // The one setting whose choice a user meets in the output itself.
    lines.push_back("");
    lines.push_back(
        "Verify yes checks each extraction and each new archive; what the");
    lines.push_back(
        "new archive does not keep is named (Fidelity exact: it fails)");
  }
  lines.push_back("");
  lines.push_back("settings: the first of these files that exists");
  for (const std::string& place : SettingsPlaces(program_folder)) {
    lines.push_back("       " + place);
  }
  // The keys it reads, named as the manual page describes them.
  std::string keys = "keys:";
  for (const char* key : kSettingKeys) {
    if (keys.size() + 1 + std::strlen(key) > 72) {
      lines.push_back(keys);
      keys = "     ";
    }
    keys += " " + std::string(key);
  }
  lines.push_back(keys + " (man zavo)");
  return lines;
}

OptionsResult LoadRunOptions(const std::vector<std::string>& given,
                             const std::string& start_folder, OutputSink* out,
                             const std::function<void(int)>& pause,
                             RunOptions* options) {
  // The report's parameters come out first; the rest are read as ever.
  std::vector<std::string> args;
  std::string report, report_parent, report_handle, mask_folder, jobs, shard,
      target;
  bool keep = false;
  for (std::size_t i = 0; i < given.size(); ++i) {
    // The long switches may stand anywhere and count for nothing else: not
    // as parameters, not as the mask, and nested runs do not get them (a
    // nested run neither pretends nor sums up on its own).
    if (i > 0 && given[i] == "--dry-run") {
      options->dry_run = true;
      continue;
    }
    if (i > 0 && given[i] == "--summary") {
      options->summary = true;
      continue;
    }
    // Nested runs learn of these from their parent's environment, or not
    // at all (--keep: the originals inside an archive that is kept stay in
    // it anyway).
    if (i > 0 && given[i] == "--keep") {
      keep = true;
      continue;
    }
    if (i > 0 && IsLongOrShort(given[i], "--quiet", 'Q')) {
      options->quiet = true;
      continue;
    }
    if (i > 0 && IsLongOrShort(given[i], "--verbose", 'V')) {
      options->verbose = true;
      continue;
    }
    if (i > 0 && HasColonPrefix(given[i], kJobsColonSwitch)) {
      jobs = given[i].substr(sizeof(kJobsColonSwitch) - 1);
      if (jobs.empty()) return {OptionsStatus::kUsage, ""};
      continue;
    }
    if (i > 0 && HasColonPrefix(given[i], kTargetColonSwitch)) {
      target = given[i].substr(sizeof(kTargetColonSwitch) - 1);
      if (target.empty()) return {OptionsStatus::kUsage, ""};
      continue;
    }
    bool takes_value =
        i > 0 &&
        (given[i] == kReportSwitch || given[i] == kReportParentSwitch ||
         given[i] == kReportHandleSwitch || given[i] == kMaskFolderSwitch ||
         (kDashSwitches && given[i] == kJobsSwitch) ||
         given[i] == kShardSwitch || given[i] == kTargetSwitch ||
         (kDashSwitches && given[i] == kTargetDashSwitch));
    if (!takes_value) {
      args.push_back(given[i]);
      continue;
    }
    if (i + 1 == given.size() || given[i + 1].empty()) {
      return {OptionsStatus::kUsage, ""};
    }
    std::string* value = given[i] == kReportSwitch         ? &report
                         : given[i] == kReportParentSwitch ? &report_parent
                         : given[i] == kReportHandleSwitch ? &report_handle
                         : given[i] == kMaskFolderSwitch   ? &mask_folder
                         : given[i] == kShardSwitch        ? &shard
                         : given[i] == kJobsSwitch         ? &jobs
                                                           : &target;
    *value = given[++i];
  }
  int jobs_value = -1;
  if (!jobs.empty()) {
    jobs_value = SmallNumber(jobs, kMaxJobs);
    if (jobs_value < 0) {
      return Fatal("wrong jobs value [" + jobs +
                   "]: a number from 0 (one job per processor) to " +
                   std::to_string(kMaxJobs));
    }
  }
  int shard_index = 0, shard_count = 0;
  if (!shard.empty()) {
    std::size_t slash = shard.find('/');
    if (slash != std::string::npos) {
      shard_index = SmallNumber(shard.substr(0, slash), 1 << 20);
      shard_count = SmallNumber(shard.substr(slash + 1), 1 << 20);
    }
    if (slash == std::string::npos || shard_index < 1 || shard_count < 1 ||
        shard_index > shard_count) {
      return Fatal("wrong shard [" + shard +
                   "]: K/N with K from 1 to N, as in --shard 2/8");
    }
  }
  // Switches are recognised wherever they stand; every other parameter is
  // a mask, of which there must be one. Where "-" starts switches, a
  // parameter equal to one is never a mask, and one that starts with "-"
  // and is no switch of this program is a mistyped switch, not a file.
  std::size_t n = args.size() - 1;
  std::vector<std::string> masks;
  std::vector<std::string> switches;
  for (std::size_t i = 1; i <= n; ++i) {
    if (IsHelp(args[i])) return {OptionsStatus::kHelp, ""};
  }
  for (std::size_t i = 1; i <= n; ++i) {
    if (IsAnySwitch(args[i])) {
      switches.push_back(args[i]);
    } else if (kDashSwitches && !args[i].empty() && args[i][0] == '-') {
      return {OptionsStatus::kUsage, "unknown switch [" + args[i] + "]"};
    } else {
      masks.push_back(args[i]);
    }
  }
  if (masks.empty() || n > 4) return {OptionsStatus::kUsage, ""};
  if (masks.size() > 1) {
    // A shell expands an unquoted mask into many names; converting only one
    // of them would look like success while ignoring the rest.
    if (!kShellExpandsWildcards) return {OptionsStatus::kUsage, ""};
    std::string names;
    for (const std::string& m : masks) names += " [" + m + "]";
    return Fatal("more than one file mask:" + names +
                 "; quote the mask so that the shell does not expand it,"
                 " as in: zavo /r '/data/arc/*.*'");
  }
  OptionsResult settings =
      LoadSettings(WithBackslash(PathFolder(args[0])), out, pause, options);
  if (settings.status != OptionsStatus::kReady) return settings;

  for (const std::string& parameter : switches) {
    if (IsSwitch(parameter, 'R')) {
      options->recurse = true;
    } else if (IsSwitch(parameter, 'N')) {
      options->conversion.nested = true;
    } else if (IsSwitch(parameter, 'K')) {
      options->conversion.keep_time = false;
    }
  }
  if (jobs_value >= 0) options->jobs = ResolvedJobs(jobs_value);
  if (!target.empty()) options->target_name = target;
  if (keep) options->conversion.keep_original = true;
  options->shard_index = shard_index;
  options->shard_count = shard_count;
  options->conversion.start_folder = start_folder;
  // Handles that only a parent run hands on: a number that is no handle
  // here is found out when it is used.
  options->report_handle =
      report_handle.empty() ? -1 : SmallNumber(report_handle, 1 << 20);
  options->mask_handle =
      mask_folder.empty() ? -1 : SmallNumber(mask_folder, 1 << 20);
  std::string mask = masks[0];
  if (PathFolder(mask).empty()) mask = WithBackslash(start_folder) + mask;
  options->file_mask = mask;
  if (!report.empty()) options->report_file = report;
  if (!options->report_file.empty()) {
    options->report_file = FullPath(options->report_file, start_folder);
  }
  if (!options->report_file.empty() || options->report_handle >= 0) {
    options->report_parent = report_parent;
  }
  if (options->report_handle >= 0 && options->report_file.empty()) {
    options->report_file = "/dev/fd/" + report_handle;
  }
  // A nested run gets the switches; its mask is the work folder's. It
  // converts an unpacked archive whole, whatever the shard, with this run's
  // number of jobs; with more than one it draws them from this run's budget
  // (JobTokens).
  options->nested_command.assign(1, args[0]);
  options->nested_command.insert(options->nested_command.end(),
                                 switches.begin(), switches.end());
  options->nested_command.push_back(kDashSwitches ? kJobsSwitch : "/j:");
  if (kDashSwitches) {
    options->nested_command.push_back(std::to_string(options->jobs));
  } else {
    options->nested_command.back() += std::to_string(options->jobs);
  }
  if (!options->target_name.empty()) {
    // The same target at every depth, whatever settings a nested run reads.
    if (kDashSwitches) {
      options->nested_command.push_back(kTargetSwitch);
      options->nested_command.push_back(options->target_name);
    } else {
      options->nested_command.push_back("/t:" + options->target_name);
    }
  }
  if (!options->report_file.empty() && kIsWin32) {
    // Nested runs may read other settings: they are told the very file.
    // On POSIX they get the report itself, open (--report-handle).
    options->nested_command.push_back(kReportSwitch);
    options->nested_command.push_back(options->report_file);
  }
  return {};
}

}  // namespace zavo
