// The run's options: what the command line and the settings file ask for,
// in one value that the rest of the run reads and never changes.

#ifndef ZAVO_RUN_RUN_OPTIONS_H_
#define ZAVO_RUN_RUN_OPTIONS_H_

#include <functional>
#include <string>
#include <vector>

#include "conversion/conversion_settings.h"
#include "conversion/output_sink.h"
#include "text/sorted_text_list.h"

namespace zavo {

// How deep nested runs may go, and how many archives the nested runs of one
// archive may convert, when the settings do not say.
constexpr int kDefaultMaxNesting = 16;
constexpr int kDefaultMaxNestedArchives = 1000;

struct RunOptions {
  // What each conversion reads: KeepTime, StopOnError, KillExist, Verify,
  // Nested, the AddFile, DeleteFile and Scan lists, the start folder and the
  // unpacking limits.
  ConversionSettings conversion;
  // Settings and switches, named as the settings keys name them.
  bool recurse = false;
  // --dry-run: show what would be converted and change nothing.
  bool dry_run = false;
  // --summary: print the summary at the end, terminal or not.
  bool summary = false;
  // -q: standard output keeps only the lines of archives that failed or
  // were left, and the summary is printed at the end. A nested run is told
  // by its parent (NestingLimits::InheritedQuiet).
  bool quiet = false;
  // -v: every archiver's collected output is shown on standard error under
  // a line naming its archive and step, also when standard error is not a
  // terminal and with -q.
  bool verbose = false;
  // Whether the archivers' collected output is shown on standard error
  // under a line naming its archive and step: when standard error is a
  // terminal, with -v, or when the parent run does so. Set at start-up.
  bool group_messages = false;
  // -t KIND or the Target key: the archivers-file section to convert to;
  // empty for the first. Resolved into conversion.target once the
  // archivers file is read.
  std::string target_name;
  // Settings key AnyExtension: identifying bytes may make an archive of a
  // file whose extension names no kind (GAME.DAT holding arj data). On when
  // the key is absent; the shipped settings turn it off.
  bool any_extension = true;
  // How many archives are converted at once (Jobs, -j); never below 1.
  int jobs = 1;
  // --shard K/N: this run converts only the folders of shard K of N
  // (ShardOfFolder); 0 of 0 when the run converts every folder.
  int shard_index = 0;
  int shard_count = 0;
  // MaxNesting: a nested run deeper than this converts nothing.
  int max_nesting = kDefaultMaxNesting;
  // MaxNestedArchives: the most archives that the nested runs below one
  // archive of the top run may convert, at every depth together.
  int max_nested_archives = kDefaultMaxNestedArchives;
  // How deep this run is: 0 for the run a person started, 1 for a run on
  // an archive's work folder, and so on (from the environment).
  int nesting_depth = 0;
  // The settings file read, the first of SettingsPlaces that exists.
  std::string settings_file;
  // The archivers file; a bare name is completed with the settings file's
  // folder.
  std::string archivers_file;
  // The file mask, completed with the start folder when it has no folder.
  std::string file_mask;
  // The report file (--report or the Report key), a full path; empty for
  // none.
  std::string report_file;
  // In a nested run that writes a report: the archive whose unpacked files
  // it converts, as the parent run named it (--report-parent), and the
  // report the parent handed on open (--report-handle).
  std::string report_parent;
  long report_handle = -1;
  // In a nested run: the unpacked archive's folder, which the parent handed
  // on open (--mask-folder); the mask's folder is then only its name.
  long mask_handle = -1;
  // The command line of a nested run, without its mask: the program's path
  // and the switches.
  std::vector<std::string> nested_command;
  // The description lists looked after in every folder (FileList).
  SortedTextList list_file_names;
};

// What loading the options came to.
enum class OptionsStatus {
  kReady,  // the options hold the run's settings
  kHelp,   // the usage was asked for: print it and stop, all done
  kUsage,  // wrong parameters: print the message (if any), the usage, and
           // stop, fatal
  kFatal,  // a fatal stop; the message says why
};

struct OptionsResult {
  OptionsStatus status = OptionsStatus::kReady;
  std::string message;  // for kFatal; for kUsage, what was wrong
};

// Reads the command line `args` (args[0] is the program's full path) and
// the first settings file of SettingsPlaces into *options.
// `start_folder` is the folder relative masks start from. Warnings about
// bad settings lines go to `out`, followed by a 3-second `pause` (none when
// empty). *options is complete only for kReady.
OptionsResult LoadRunOptions(const std::vector<std::string>& args,
                             const std::string& start_folder, OutputSink* out,
                             const std::function<void(int)>& pause,
                             RunOptions* options);

// The places the settings file is looked for, in this order: beside the
// program (in `program_folder`, which ends with a separator); on POSIX then
// `xdg_config_home`/zavo/zavo.ctl, where an empty or relative
// `xdg_config_home` stands for `home`/.config (left out when `home` is empty
// too), and last the settings folder of the install prefix.
std::vector<std::string> SettingsPlaces(const std::string& program_folder,
                                        const std::string& xdg_config_home,
                                        const std::string& home);
// The same with XDG_CONFIG_HOME and HOME from the environment.
std::vector<std::string> SettingsPlaces(const std::string& program_folder);

// Whether the command line asks for the version (--version anywhere).
bool AsksForVersion(const std::vector<std::string>& args);
// Whether the command line asks for a quiet run (-q, /q or --quiet
// anywhere), known before the rest is read: a quiet run prints no banner.
bool AsksForQuiet(const std::vector<std::string>& args);

// The usage lines: printed for --help and for a command line that is not
// understood.
std::vector<std::string> UsageLines();

// The lines --help prints after the usage: the other switches, the exit
// codes and where the settings are looked for (`program_folder` ends with a
// separator).
std::vector<std::string> HelpDetails(const std::string& program_folder);

// The shard, from 1 to `count`, of a folder whose path relative to the
// mask's folder is `relative` ("" for that folder itself, parts joined by
// '/', no separator at the end): FNV-1a 64 of its bytes, modulo `count`,
// plus one. Stable across runs, machines and versions.
int ShardOfFolder(const std::string& relative, int count);

// The form a name or setting takes in lists and folder keys: upper-cased
// where names ignore case, as they are.
std::string ListText(const std::string& text);

}  // namespace zavo

#endif  // ZAVO_RUN_RUN_OPTIONS_H_
