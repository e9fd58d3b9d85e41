// The converter: start-up from the command line and the settings, the
// folder scan, and the conversion of one archive.

#ifndef ZAVO_DRIVER_CONVERTER_H_
#define ZAVO_DRIVER_CONVERTER_H_

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "archivers/archiver_list.h"
#include "archivers/command_runner.h"
#include "driver/sorted_text_list.h"
#include "filelists/file_list.h"

namespace zavo {

// Exit codes of the program.
constexpr int kExitDone = 0;         // everything asked for was done
constexpr int kExitSomeFailed = 1;   // the run completed, some archive failed
constexpr int kExitFatal = 2;        // start-up failed or StopOnError stopped

constexpr char kBannerTitle[] = "Orlo's archive converter v0.2";
constexpr char kListMarker[] = " >";

class Converter {
 public:
  // args[0] is the program's full path (its folder holds zavo.ctl); the
  // rest are the command-line parameters. Commands run through `runner`;
  // every message goes to `out`. Neither is owned.
  Converter(std::vector<std::string> args, CommandRunner* runner,
            std::ostream& out);
  virtual ~Converter();

  // Starts up, runs and reports: returns the process exit code. A fatal
  // stop has printed its message and "exiting..." by then.
  int Execute();

  // Start-up: banner, usage, settings, archivers, switches and mask.
  // Returns false on a fatal stop; fatal_message() then holds the message
  // to print before "exiting..." (empty for the usage stop).
  bool Start();

  // The folder scan. Returns false when a conversion stopped the run
  // (StopOnError); fatal_message() then holds the message.
  bool Run();

  // Converts the file at `path` when it is an archive of a known kind that
  // is not the target kind. Returns false only on a stop (StopOnError).
  bool ConvertArchive(const std::string& path);

  // Writes back the list files of the current folder.
  void SaveFolderLists();

  // Replaces the 3-second pause after settings warnings (tests).
  void set_pause(std::function<void(int)> pause) { pause_ = std::move(pause); }
  // The folder the conversion calls "current" for relative AddFile masks;
  // the process's current folder unless set.
  void set_start_folder(const std::string& folder) { start_folder_ = folder; }

  const std::string& fatal_message() const { return fatal_message_; }
  bool help_requested() const { return help_requested_; }
  int failed_archives() const { return failed_archives_; }

  // Settings and run state, named as the settings keys name them.
  bool stop_on_error() const { return stop_on_error_; }
  bool kill_exist() const { return kill_exist_; }
  bool recurse() const { return recurse_; }
  bool nested() const { return nested_; }
  bool keep_time() const { return keep_time_; }
  const std::string& archivers_file() const { return archivers_file_; }
  const std::string& file_mask() const { return file_mask_; }
  const std::string& current_folder() const { return current_folder_; }
  const SortedTextList& list_file_names() const { return list_file_names_; }
  const SortedTextList& scan_commands() const { return scan_commands_; }
  const SortedTextList& delete_masks() const { return delete_masks_; }
  const SortedTextList& add_masks() const { return add_masks_; }
  const SortedTextList& done_archives() const { return done_archives_; }
  ArchiverList* archivers() { return archivers_.get(); }

 private:
  void Print(const std::string& line);
  bool Fatal(const std::string& message);
  void PrintUsage();
  bool LoadSettings();
  bool LoadArchivers();
  void ScanFolder(const std::string& folder, const std::string& pattern);
  // Reports a failed step: removes the work folder, prints the message with
  // " next archive!" or, with StopOnError, makes it the fatal message.
  bool FailArchive(const std::string& work_folder, const std::string& what,
                   const std::string& candidate);
  void DeleteUnwantedFiles(const std::string& work_folder);
  void RunScanners(const std::string& work_folder);
  void AddFiles(const std::string& work_folder);
  bool PutInPlace(const std::string& candidate, const std::string& packed,
                  const std::string& final_name);

  std::vector<std::string> args_;
  CommandRunner* runner_;
  std::ostream& out_;
  std::function<void(int)> pause_;
  std::string start_folder_;
  std::string program_folder_;
  std::string fatal_message_;
  bool help_requested_ = false;
  bool stopped_ = false;
  int failed_archives_ = 0;

  std::vector<std::unique_ptr<FileList>> folder_lists_;
  bool stop_on_error_ = false;
  bool kill_exist_ = false;
  bool recurse_ = false;
  bool nested_ = false;
  bool keep_time_ = false;
  std::string archivers_file_;
  std::string file_mask_;
  std::string current_folder_ = " ";
  SortedTextList list_file_names_;
  SortedTextList scan_commands_;
  SortedTextList delete_masks_;
  SortedTextList add_masks_;
  SortedTextList done_archives_;
  std::unique_ptr<ArchiverList> archivers_;
};

}  // namespace zavo

#endif  // ZAVO_DRIVER_CONVERTER_H_
