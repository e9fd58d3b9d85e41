#include "archivers/archiver_definition.h"

#include <algorithm>
#include <cstdio>

#include "config/macro_engine.h"
#include "config/shell_quote.h"
#include "fs/file_tree.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/os.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

// The words of `text` between commas; empty words are never produced.
std::vector<std::string> CommaWords(const std::string& text) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

bool IsAbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == kPathSeparator) return true;
  return kHasDrives && path.size() >= 2 && path[1] == ':';
}

// Whether the text calls one of the engine's text functions: a function
// name (any letter case) directly followed by "{".
bool CallsTextFunction(MacroEngine& engine, const std::string& text) {
  const std::string upper = UpperText(text);
  for (const MacroFunction& function : engine.functions().functions()) {
    if (upper.find(UpperText(function.name) + "{") != std::string::npos) {
      return true;
    }
  }
  return false;
}

// Characters that mean nothing to the shell and nothing to the text
// functions' argument syntax, so a value made only of them stays whole
// whatever a function does to the text around it.
bool IsInertCharacter(unsigned char c) {
  if (c >= 0x80) return true;  // letters of the console code page
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  return c == '.' || c == '_' || c == '-' || c == '+' || c == ',' || c == ':' ||
         c == '/' || c == '%';
}

// The regular file behind path, following links: anything else (a folder, a
// link to one, a pipe whose opening would block, a device) is not an archive.
bool IsRegularPath(const std::string& path) { return IsRegularFile(path); }

// Whether the file name of `path` ends in "." + extension, letter case
// ignored.
bool EndsWithExtension(const std::string& path, const std::string& extension) {
  const std::string name = PathFileName(path);
  if (name.size() <= extension.size()) return false;
  const std::size_t dot = name.size() - extension.size() - 1;
  return name[dot] == '.' && EqualNoCase(name.substr(dot + 1), extension);
}

}  // namespace

void DecodeIdent(const std::string& ident, std::int32_t* offset,
                 std::string* bytes) {
  *offset = 0;
  bytes->clear();
  if (ident.empty()) return;
  const std::vector<std::string> words = CommaWords(ident);
  if (!words.empty()) *offset = TextToInt(TrimBlanks(words[0]));
  std::string hex = words.size() > 1 ? TrimBlanks(words[1]) : std::string();
  // At least one byte, even from an empty hexadecimal text.
  do {
    const std::size_t take = std::min<std::size_t>(2, hex.size());
    const std::int32_t value = ParseNumber(hex.substr(0, take), 16);
    bytes->push_back(static_cast<char>(value & 0xFF));
    hex.erase(0, take);
  } while (!hex.empty());
}

bool CommandTemplateQuotable(const std::string& command_template,
                             const std::vector<std::string>& macro_names) {
  if (!kQuotesForShell) return true;
  return IsQuotablePlace(CheckShellTemplate(command_template, macro_names));
}

CommandNames NamesOf(const std::vector<CommandMacro>& macros) {
  CommandNames names;
  for (const CommandMacro& macro : macros) {
    if (EqualNoCase(macro.name, "@ArcName")) names.arc_name = macro.value;
    if (EqualNoCase(macro.name, "@FileName")) names.file_name = macro.value;
    if (EqualNoCase(macro.name, "@Folder")) names.folder = macro.value;
  }
  return names;
}

unsigned char BuildCommand(const std::string& command_template,
                           const std::vector<CommandMacro>& macros,
                           std::string* command) {
  std::vector<std::string> names;
  for (const CommandMacro& macro : macros) names.push_back(macro.name);
  if (!CommandTemplateQuotable(command_template, names)) {
    return kCommandRefused;
  }
  MacroEngine engine(MaxCommandLength());
  const bool calls_functions = CallsTextFunction(engine, command_template);
  for (const CommandMacro& macro : macros) {
    // A value is never read as template text again, so a name holding
    // "@ArcName" goes in as it is. A function's arguments are another
    // matter: "|" in a value standing among them would split them.
    if (calls_functions && macro.value.find('|') != std::string::npos) {
      return kCommandUnsafe;
    }
    // cmd.exe expands "%NAME%" (and "!NAME!" with delayed expansion) even
    // inside quotes, and a quote in the value would close the template's.
    if (!kQuotesForShell &&
        macro.value.find_first_of("%!\"") != std::string::npos) {
      return kCommandUnsafe;
    }
    if (kQuotesForShell && calls_functions &&
        !std::all_of(macro.value.begin(), macro.value.end(),
                     [](char c) { return IsInertCharacter(c); })) {
      return kCommandUnsafe;
    }
    engine.Define(macro.name, macro.value, false,
                  kQuotesForShell ? QuoteForShell : nullptr);
  }
  // Functions run after the macros, over the values too: a file called
  // "@NUM{...}.zip" would be rewritten. A template without calls of its own
  // needs none evaluated.
  engine.set_functions_enabled(calls_functions);
  *command = command_template;
  if (!engine.Expand(command)) return kCommandTooLong;
  return 0;
}

ArchiverDefinition::ArchiverDefinition(const std::string& extension,
                                       const std::string& ident,
                                       const std::string& extract,
                                       const std::string& add,
                                       const std::string& test)
    : extension_(extension),
      extract_command_(extract),
      add_command_(add),
      test_command_(test) {
  DecodeIdent(ident, &ident_offset_, &ident_bytes_);
}

bool FileProbe::IsRegularFile() {
  if (regular_ < 0) {
    // One query that follows links answers both questions: a path that is
    // a regular file behind any links exists and is no folder.
    // Win32 names never hold wildcards; POSIX names may.
    regular_ = !path_.empty() && !(kIsWin32 && HasWildcards(path_)) &&
               IsRegularPath(path_);
  }
  return regular_ != 0;
}

const std::string& FileProbe::extension() {
  if (!extension_known_) {
    extension_ = PathExtension(path_);
    extension_known_ = true;
  }
  return extension_;
}

bool FileProbe::ReadAt(std::int32_t offset, std::size_t count,
                       std::string* bytes) {
  if (offset < 0) return false;
  const std::size_t start = static_cast<std::size_t>(offset);
  if (start + count <= head_size_) {
    if (!head_loaded_) {
      head_loaded_ = true;
      std::FILE* file = OpenFile(path_, FileOpenMode::kRead);
      head_readable_ = file != nullptr;
      if (file != nullptr) {
        // Unbuffered, the head is one read, with no buffer to size first.
        std::setvbuf(file, nullptr, _IONBF, 0);
        head_.resize(head_size_);
        head_.resize(std::fread(&head_[0], 1, head_size_, file));
        // The file was only read: closing it cannot lose anything.
        std::fclose(file);
      }
    }
    if (!head_readable_ || start + count > head_.size()) return false;
    bytes->assign(head_, start, count);
    return true;
  }
  // Opening for reading needs no change of attributes, so none is made: a
  // run killed between changing and restoring them would have altered the
  // user's archive.
  std::FILE* file = OpenFile(path_, FileOpenMode::kRead);
  if (file == nullptr) return false;
  bool ok = std::fseek(file, offset, SEEK_SET) == 0;
  if (ok) {
    bytes->assign(count, '\0');
    ok = std::fread(&(*bytes)[0], 1, count, file) == count;
  }
  // Nothing was written: a failed close loses nothing.
  std::fclose(file);
  return ok;
}

bool ArchiverDefinition::Matches() const {
  FileProbe probe(archive_name_, 0);
  return Matches(&probe);
}

bool ArchiverDefinition::HasWholeExtension() const {
  return ident_bytes_.empty() && extension_.find('.') != std::string::npos;
}

std::string ArchiverDefinition::RenamedPath(
    const std::string& path, const std::string& new_extension) const {
  if (!HasWholeExtension() || !EndsWithExtension(path, extension_)) {
    return WithExtension(path, new_extension);
  }
  return path.substr(0, path.size() - extension_.size()) + new_extension;
}

bool ArchiverDefinition::Matches(FileProbe* probe) const {
  if (!probe->IsRegularFile()) return false;
  if (ident_bytes_.empty()) {
    if (HasWholeExtension()) {
      return EndsWithExtension(probe->path(), extension_);
    }
    return !extension_.empty() && EqualNoCase(probe->extension(), extension_);
  }
  std::string found;
  return probe->ReadAt(ident_offset_, ident_bytes_.size(), &found) &&
         found == ident_bytes_;
}

unsigned char ArchiverDefinition::RunInFolder(
    const std::string& command_template, const std::string& arc_name,
    const std::string& file_name, const std::string& folder,
    CommandRunner* runner) {
  if (archive_name_.empty() || command_template.empty()) return kNotRun;
  const std::vector<CommandMacro> macros = {{"@ArcName", arc_name},
                                            {"@FileName", file_name}};
  std::string command;
  const unsigned char built = BuildCommand(command_template, macros, &command);
  if (built != 0) return built;
  const std::string work_folder = WithBackslash(folder);
  if (!ForceFolders(work_folder)) return kNotRun;
  // The child gets the folder; ours stays where it is, so that relative
  // paths the converter still holds keep their meaning. A root keeps its
  // separator, or it would read as "the current folder".
  const std::string run_folder = IsRootFolder(work_folder)
                                     ? work_folder
                                     : NoTrailingBackslash(work_folder);
  return runner->RunNamedCommand(command, run_folder, NamesOf(macros));
}

unsigned char ArchiverDefinition::Extract(const std::string& folder,
                                          CommandRunner* runner) {
  std::string arc_name = archive_name_;
  if (!arc_name.empty() && !IsAbsolutePath(arc_name)) {
    arc_name = WithBackslash(GetCurrentFolder()) + arc_name;
  }
  return RunInFolder(extract_command_, arc_name, kExtractFileName, folder,
                     runner);
}

unsigned char ArchiverDefinition::Pack(const std::string& folder,
                                       CommandRunner* runner) {
  return RunInFolder(add_command_, PathFileName(archive_name_), kPackFileName,
                     folder, runner);
}

unsigned char ArchiverDefinition::List(const std::string& folder,
                                       const std::string& output,
                                       CommandRunner* runner) {
  if (archive_name_.empty() || list_command_.empty()) return kNotRun;
  std::string arc_name = archive_name_;
  if (!IsAbsolutePath(arc_name)) {
    arc_name = WithBackslash(GetCurrentFolder()) + arc_name;
  }
  const std::vector<CommandMacro> macros = {{"@ArcName", arc_name}};
  std::string command;
  const unsigned char built = BuildCommand(list_command_, macros, &command);
  if (built != 0) return built;
  // A group takes the whole template's output, whatever it ends in (a
  // pipeline, a comment); the name is zavo's own and needs no quoting.
  return runner->RunNamedCommand("{ " + command + "\n} >" + output, folder,
                                 NamesOf(macros));
}

unsigned char ArchiverDefinition::Test(CommandRunner* runner) {
  if (archive_name_.empty() || test_command_.empty()) return kNotRun;
  const std::vector<CommandMacro> macros = {{"@ArcName", archive_name_}};
  std::string command;
  const unsigned char built = BuildCommand(test_command_, macros, &command);
  if (built != 0) return built;
  return runner->RunNamedCommand(command, std::string(), NamesOf(macros));
}

}  // namespace zavo
