#include "driver/converter.h"

#include <algorithm>
#include <utility>

#include "archivers/archiver_definition.h"
#include "config/sectioned_file.h"
#include "config/settings_file.h"
#include "driver/work_names.h"
#include "fs/file_tree.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

constexpr char kSettingsName[] = "zavo.ctl";

// Settings keys, in the order that gives them their indexes 1 to 10.
constexpr const char* kSettingKeys[] = {
    "Recurse", "Nested",     "KeepTime", "StopOnError", "KillExist",
    "Archives", "AddFile", "DeleteFile", "Scan",        "FileList"};
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
  kKeyFileList
};

// On Win32 the setting lists and remembered folders are upper-cased, as
// the file system ignores case there; POSIX names keep their case.
std::string ListText(const std::string& text) {
  return kHasDrives ? UpperText(text) : text;
}

bool IsSwitch(const std::string& parameter, char letter) {
  std::string p = UpperText(parameter);
  std::string slash = std::string("/") + letter;
  if (p == slash) return true;
#ifndef _WIN32
  if (p == std::string("-") + letter) return true;
#endif
  return false;
}

#ifndef _WIN32
bool IsAnySwitch(const std::string& parameter) {
  return IsSwitch(parameter, 'R') || IsSwitch(parameter, 'N') ||
         IsSwitch(parameter, 'K');
}
#endif

bool IsHelp(const std::string& parameter) {
#ifdef _WIN32
  return parameter == "/?";
#else
  return parameter == "-h" || parameter == "--help";
#endif
}

// Whether every folder of `relative` below `top` is a real folder: no link
// and no ".." may lead a mask of the settings out of the work folder.
bool StaysInside(const std::string& top, const std::string& relative) {
  std::string path = NoTrailingBackslash(top);
  std::size_t start = 0;
  while (start < relative.size()) {
    std::size_t end = relative.find(kPathSeparator, start);
    if (end == std::string::npos) break;  // the last part is the mask
    std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == ".." || (kHasDrives && part.find(':') != std::string::npos)) {
      return false;
    }
    path += kPathSeparator;
    path += part;
    FileAttributes a;
    if (!GetFileAttributes(path, &a) || (a.bits & kAttrFolder) == 0) {
      return false;
    }
  }
  return relative.empty() || relative[0] != kPathSeparator;
}

}  // namespace

Converter::Converter(std::vector<std::string> args, CommandRunner* runner,
                     std::ostream& out)
    : args_(std::move(args)),
      runner_(runner),
      out_(out),
      pause_(SleepMilliseconds),
      done_archives_(kHasDrives) {}

Converter::~Converter() = default;

void Converter::Print(const std::string& line) {
  // Flushed at once so that an archiver's own output, written to the same
  // console, comes after it.
  out_ << line << '\n';
  out_.flush();
}

bool Converter::Fatal(const std::string& message) {
  fatal_message_ = message;
  stopped_ = true;
  return false;
}

int Converter::Execute() {
  if (!Start()) {
    if (help_requested_) return kExitDone;
    Print(fatal_message_);
    Print("exiting...");
    return kExitFatal;
  }
  if (!Run()) {
    Print(fatal_message_);
    Print("exiting...");
    return kExitFatal;
  }
  return failed_archives_ > 0 ? kExitSomeFailed : kExitDone;
}

void Converter::PrintUsage() {
  Print("usage: zavo [/r] [/n] [/k] <filemask>");
  Print("");
  Print("       /r - recursive scan (with subfolders)");
  Print("       /n - convert nested archives");
  Print("       /k - don't keep archive filetime");
}

bool Converter::Start() {
  Print("");
  Print(kBannerTitle);
  Print("");
  std::size_t n = args_.size() - 1;
  if (n >= 1 && IsHelp(args_[1])) {
    PrintUsage();
    help_requested_ = true;
    return false;
  }
  if (n == 0 || n > 4) {
    PrintUsage();
    return Fatal("");
  }
#ifndef _WIN32
  // A shell expands an unquoted mask into many names; converting only the
  // last of them would look like success while ignoring the rest.
  std::vector<std::string> masks;
  for (std::size_t i = 1; i <= n; ++i) {
    if (!IsAnySwitch(args_[i])) masks.push_back(args_[i]);
  }
  if (masks.size() > 1) {
    std::string names;
    for (const std::string& m : masks) names += " [" + m + "]";
    return Fatal("more than one file mask:" + names +
                 "; quote the mask so that the shell does not expand it,"
                 " as in: zavo /r '/data/arc/*.*'");
  }
#endif
  program_folder_ = WithBackslash(PathFolder(args_[0]));
  if (start_folder_.empty()) start_folder_ = GetCurrentFolder();
  if (!LoadSettings() || !LoadArchivers()) return false;

  for (std::size_t i = 1; i <= n; ++i) {
    if (IsSwitch(args_[i], 'R')) {
      recurse_ = true;
    } else if (IsSwitch(args_[i], 'N')) {
      nested_ = true;
    } else if (IsSwitch(args_[i], 'K')) {
      keep_time_ = false;
    }
  }
  std::string mask = args_[n];
  if (PathFolder(mask).empty()) mask = WithBackslash(start_folder_) + mask;
  file_mask_ = mask;
  folder_lists_.clear();
  done_archives_.Clear();
  current_folder_ = " ";
  return true;
}

bool Converter::LoadSettings() {
  std::string settings = program_folder_ + kSettingsName;
  if (!FileExists(settings)) {
    return Fatal("config file [" + settings + "] not found");
  }
  SettingsFile file;
  for (const char* key : kSettingKeys) file.AddKey(key);
  if (file.Load(settings)) {
    return Fatal("can't load config file [" + settings + "]");
  }
  auto on = [&file](int key) { return EqualNoCase(file.Value(key, 1), "yes"); };
  recurse_ = on(kKeyRecurse);
  nested_ = on(kKeyNested);
  keep_time_ = on(kKeyKeepTime);
  stop_on_error_ = on(kKeyStopOnError);
  kill_exist_ = on(kKeyKillExist);
  archivers_file_ = file.Value(kKeyArchives, 1);
  if (PathFolder(archivers_file_).empty()) {
    archivers_file_ = program_folder_ + archivers_file_;
  }
  struct {
    int key;
    SortedTextList* list;
  } lists[] = {{kKeyAddFile, &add_masks_},
               {kKeyDeleteFile, &delete_masks_},
               {kKeyScan, &scan_commands_},
               {kKeyFileList, &list_file_names_}};
  for (auto& l : lists) {
    l.list->Clear();
    for (int i = 1; i <= file.ValueCount(l.key); ++i) {
      l.list->Insert(ListText(file.Value(l.key, i)));
    }
  }
  if (file.BadLineCount() > 0) {
    for (int i = 1; i <= file.BadLineCount(); ++i) {
      Print("wrong line [#" + IntToText(file.BadLine(i)) + "] in [" +
            settings + "]");
    }
    Print("pause (3 seconds)...");
    if (pause_) pause_(3000);
  }
  return true;
}

bool Converter::LoadArchivers() {
  if (!FileExists(archivers_file_)) {
    return Fatal("canot open archives file [" + archivers_file_ + "]");
  }
  archivers_.reset(new ArchiverList(runner_));
  SectionedFileCache cache;
  std::string section;
  cache.NextSection(true, archivers_file_, &section);
  while (!cache.at_end()) {
    archivers_->AddDefinition(
        cache.ReadString(archivers_file_, section, "extension"),
        cache.ReadString(archivers_file_, section, "ident"),
        cache.ReadString(archivers_file_, section, "extract"),
        cache.ReadString(archivers_file_, section, "add"),
        cache.ReadString(archivers_file_, section, "test"));
    cache.NextSection(false, archivers_file_, &section);
  }
  cache.Release();
  return true;
}

bool Converter::Run() {
  std::string pattern = PathFileName(file_mask_);
  std::string top = WithBackslash(PathFolder(file_mask_));
  ScanFolder(top, pattern);
  if (stopped_) return false;
  SaveFolderLists();
  return true;
}

void Converter::ScanFolder(const std::string& folder,
                           const std::string& pattern) {
  // Names are taken before anything is converted, so the listing never
  // races with the archives and work folders made beside them.
  std::vector<std::string> files;
  if (auto listing = ListFolderKinds(folder + pattern)) {
    DirEntry entry;
    while (listing->Next(&entry)) {
      // A link is not followed: converting through it would replace the
      // link with an archive and leave its target as it was.
      if ((entry.attributes & (kAttrFolder | kAttrVolume | kAttrLink)) == 0) {
        files.push_back(entry.name);
      }
    }
  }
  // Sorted, so that a run's order and its report do not depend on how the
  // file system happens to return names.
  std::sort(files.begin(), files.end());
  for (const std::string& name : files) {
    if (!ConvertArchive(folder + name)) return;
  }
  if (!recurse_) return;
  std::vector<std::string> folders;
  if (auto listing = ListFolderKinds(folder + "*.*")) {
    DirEntry entry;
    while (listing->Next(&entry)) {
      if (!entry.name.empty() && entry.name[0] != '.' &&
          (entry.attributes & kAttrFolder) != 0 &&
          !IsWorkFolderName(entry.name)) {
        folders.push_back(entry.name);
      }
    }
  }
  std::sort(folders.begin(), folders.end());
  for (const std::string& name : folders) {
    ScanFolder(folder + name + kPathSeparator, pattern);
    if (stopped_) return;
  }
}

void Converter::SaveFolderLists() {
  for (std::size_t i = 0; i < folder_lists_.size(); ++i) {
    std::string path = current_folder_ + list_file_names_[i];
    if (!FileExists(path)) continue;
    FileAttributes saved;
    bool read_only = GetFileAttributes(path, &saved) &&
                     (saved.bits & kAttrReadOnly) != 0;
    if (read_only) MakeFileWritable(path);
    SaveFileList(*folder_lists_[i], path, kListMarker);
    if (read_only) RestoreFileAttributes(path, saved);
  }
}

bool Converter::FailArchive(const std::string& work_folder,
                            const std::string& what,
                            const std::string& candidate) {
  RemoveTree(NoTrailingBackslash(work_folder), true);
  std::string message = what + " mistake on [" + candidate + "].";
  if (stop_on_error_) return Fatal(message);
  Print(message + " next archive!");
  ++failed_archives_;
  return true;
}

void Converter::DeleteUnwantedFiles(const std::string& work_folder) {
  for (const std::string& mask : delete_masks_) {
    std::string sub = WithBackslash(PathFolder(mask));
    if (!StaysInside(work_folder, mask)) continue;
    auto listing = ListFolder(work_folder + mask);
    if (listing == nullptr) continue;
    std::vector<std::string> doomed;
    DirEntry entry;
    while (listing->Next(&entry)) {
      if ((entry.attributes & (kAttrFolder | kAttrVolume)) == 0) {
        doomed.push_back(work_folder + sub + entry.name);
      }
    }
    for (const std::string& path : doomed) RemoveFile(path);
  }
}

void Converter::RunScanners(const std::string& work_folder) {
  for (const std::string& command : scan_commands_) {
    // The same expansion as the archivers' commands: the folder quoted for
    // the shell, and a command that would be cut, or whose folder name the
    // text functions could pull apart, is not run.
    std::string text;
    if (BuildCommand(command, {{"@Folder", NoTrailingBackslash(work_folder)}},
                     &text) != 0) {
      continue;
    }
    runner_->RunCommand(text, std::string());
  }
}

void Converter::AddFiles(const std::string& work_folder) {
  for (const std::string& mask : add_masks_) {
    std::string pattern = mask;
    // Relative masks name files of the folder the converter was started in.
    if (PathFolder(mask).empty() ||
        (mask[0] != kPathSeparator && !(kHasDrives && mask.size() > 1 &&
                                        mask[1] == ':'))) {
      pattern = WithBackslash(start_folder_) + mask;
    }
    std::string source_folder = WithBackslash(PathFolder(pattern));
    auto listing = ListFolder(pattern);
    if (listing == nullptr) continue;
    std::vector<std::string> names;
    DirEntry entry;
    while (listing->Next(&entry)) {
      if ((entry.attributes & (kAttrFolder | kAttrVolume)) == 0) {
        names.push_back(entry.name);
      }
    }
    for (const std::string& name : names) {
      CopyFileTo(source_folder + name, work_folder + name, false);
    }
  }
}

bool Converter::PutInPlace(const std::string& candidate,
                           const std::string& packed,
                           const std::string& final_name) {
  // The new archive stands complete under its final name before the old one
  // goes: a rename over the old name, or a move and then the removal.
  if (!MoveFileTo(packed, final_name)) return false;
  if (!SamePath(candidate, final_name)) RemoveFile(candidate);
  return true;
}

bool Converter::ConvertArchive(const std::string& candidate) {
  std::string archive_folder = WithBackslash(PathFolder(candidate));
  std::string folder_key = ListText(archive_folder);
  if (current_folder_ != folder_key) {
    Print("processing folder [" + PathFolder(candidate) + "]");
    SaveFolderLists();
    current_folder_ = folder_key;
    folder_lists_.clear();
    done_archives_.Clear();
  }

  archivers_->SetArchiveName(candidate);
  int kind = archivers_->Identify();
  if (kind <= 0) return true;
  if (done_archives_.Contains(ListText(candidate))) return true;

  if (folder_lists_.empty() && done_archives_.empty()) {
    for (const std::string& name : list_file_names_) {
      folder_lists_.emplace_back(new FileList());
      std::string path = archive_folder + name;
      if (FileExists(path)) {
        LoadFileList(folder_lists_.back().get(), path, kListMarker);
      }
    }
  }

  FileTime old_time;
  bool have_time = keep_time_ && GetFileTime(candidate, &old_time);

  std::string work_folder = archive_folder + WorkFolderName(archive_folder);

  if (archivers_->Extract(work_folder) != 0) {
    return FailArchive(work_folder, "extraction", candidate);
  }

  if (nested_) {
    std::vector<std::string> argv(args_.begin(), args_.end() - 1);
    argv.push_back(work_folder + "*.*");
    runner_->RunProgram(argv, std::string());
  }
  DeleteUnwantedFiles(work_folder);
  RunScanners(work_folder);
  AddFiles(work_folder);

  if (archivers_->Pack(work_folder) != 0) {
    return FailArchive(work_folder, "packing", candidate);
  }
  std::string packed = archivers_->archive_name();
  archivers_->SetArchiveName(packed);
  unsigned char tested = archivers_->Test();
  // kNotRun passes only a kind that has no tester. A tester that ran and
  // exited 66 (EX_NOINPUT to many tools: it could not read the archive) has
  // not vouched for it, and the old archive is about to be deleted.
  bool untested = tested == kNotRun && archivers_->current() >= 0 &&
                  archivers_->definition(archivers_->current())
                      .test_command()
                      .empty();
  if (tested != 0 && !untested) {
    return FailArchive(work_folder, "testing", candidate);
  }

  std::string new_extension = PathExtension(packed);
  std::string final_name = WithExtension(candidate, new_extension);
  std::string old_name = PathFileName(candidate);
  std::string new_name = WithExtension(old_name, new_extension);
  bool taken = FileExists(final_name) || FolderExists(final_name);
  if (taken && !kill_exist_) {
    // The old archive stays and the other file keeps its data, time and
    // list entry; the new archive goes with the work folder.
    RemoveTree(NoTrailingBackslash(work_folder), true);
    Print("[" + old_name + "] -> [" + new_name + "] exists, not replaced!");
    ++failed_archives_;
    return true;
  }
  // The time goes on before the name: a run that ends between putting the
  // new archive in place and cleaning up must not leave it with the wrong
  // time once the old archive, the only record of it, is gone.
  if (have_time) SetFileTime(packed, old_time);
  if (!PutInPlace(candidate, packed, final_name)) {
    return FailArchive(work_folder, "replacing", candidate);
  }
  RemoveTree(NoTrailingBackslash(work_folder), true);
  for (auto& list : folder_lists_) {
    RenameEntry(list.get(), old_name, new_name);
  }
  done_archives_.Insert(ListText(final_name));
  Print("[" + old_name + "] -> [" + new_name + "] done!");
  return true;
}

}  // namespace zavo
