// One kind of archive as the archivers file describes it: how an archive of
// that kind is recognised, and the command templates that extract, pack and
// test it.

#ifndef ZAVO_ARCHIVERS_ARCHIVER_DEFINITION_H_
#define ZAVO_ARCHIVERS_ARCHIVER_DEFINITION_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archivers/command_runner.h"
#include "platform/os.h"

namespace zavo {

// Result codes of the archiver operations. Any other value is the low 8 bits
// of the command's exit code (an exit code of 256 thus counts as 0).
//
// The operation did not run a command: no template, no archive name, or the
// work folder could not be made.
constexpr unsigned char kNotRun = 66;
// The list has no archive name, or no definition recognises the archive.
constexpr unsigned char kNoArchiver = 255;
// The expanded command would be longer than the interpreter takes; a cut
// command is never run. Callers treat it as a failed command.
constexpr unsigned char kCommandTooLong = 254;
// A value could not be put into the command safely: the template calls a
// text function and the value holds characters that the function syntax
// reads ("|" splits a function's arguments) or, on POSIX, that the shell
// reads (the function could cut the value's quoting apart). A macro name
// inside a value is no reason: values are never substituted into again.
// Nothing is run.
// On Win32 it is also a value holding a character that cmd.exe reads even
// inside quotes: "%" (variables), "!" (delayed expansion) or a quote.
constexpr unsigned char kCommandUnsafe = 253;
// The template puts a macro where the shell's reading of its value cannot
// be proven (see CommandTemplateQuotable). Nothing is run, for any value.
constexpr unsigned char kCommandRefused = 252;

// Decodes an "ident" value: an offset, a comma and hexadecimal bytes, such as
// "0,504B0304". Words are split at commas (runs of commas count as one, and
// leading commas are skipped); the first word, trimmed, is read as a decimal
// number (anything else gives 0); the second, trimmed, is read two digits at
// a time (a last single digit is a byte of its own), and an empty or missing
// second word gives the one byte 0x00. Later words are ignored. An empty
// text gives offset 0 and no bytes.
void DecodeIdent(const std::string& ident, std::int32_t* offset,
                 std::string* bytes);

// What recognition learns about one file, learnt once however many
// definitions ask: whether it is a regular file, and its first bytes. A
// definition whose bytes lie beyond the first `head_size` bytes reads them
// on its own.
class FileProbe {
 public:
  FileProbe(const std::string& path, std::size_t head_size)
      : path_(path), head_size_(head_size) {}

  const std::string& path() const { return path_; }
  // PathExtension of the path.
  const std::string& extension();

  // Whether the path names a regular file, or a link to one: what
  // FileExists and a regular file's test answer together. A folder, a link
  // to one, a missing file, a device or a pipe is not.
  bool IsRegularFile();

  // Reads the `count` bytes at `offset` into *bytes. False when the file
  // ends before the last of them or cannot be read.
  bool ReadAt(std::int32_t offset, std::size_t count, std::string* bytes);

 private:
  std::string path_;
  std::size_t head_size_;
  int regular_ = -1;  // unknown until asked
  bool extension_known_ = false;
  std::string extension_;
  bool head_loaded_ = false;
  bool head_readable_ = false;
  std::string head_;
};

class ArchiverDefinition {
 public:
  // Keeps the texts as given (an empty text is an absent field) and decodes
  // `ident` with DecodeIdent. Nothing is validated.
  ArchiverDefinition(const std::string& extension, const std::string& ident,
                     const std::string& extract, const std::string& add,
                     const std::string& test);
  virtual ~ArchiverDefinition() = default;

  // The file the next Matches, Extract, Pack or Test is about.
  void SetArchiveName(const std::string& name) { archive_name_ = name; }

  // Whether ArchiveName is an archive of this kind. A definition without
  // ident bytes compares the extension (letter case ignored): a single
  // extension ("zip") with the path's own, a whole extension holding a dot
  // ("tar.gz") with the end of the file name, so that "x.tar.gz" matches
  // "tar.gz" and "gz" but not "tar". One with
  // ident bytes compares the bytes at the offset and ignores the extension;
  // one with neither matches nothing. Only regular files (or links to them)
  // that can be opened for reading match: a folder, a link to one, a
  // missing file, a device or a pipe never does, nor a file that ends before
  // the last ident byte, nor any file when the offset is negative. The file
  // is only read; its attributes and mode are never changed.
  bool Matches() const;
  // The same answer for the file `probe` looks at (ArchiveName is not read).
  bool Matches(FileProbe* probe) const;

  // Whether the definition recognises files by a whole extension: no ident
  // bytes, and an extension holding a dot.
  bool HasWholeExtension() const;

  // The name a file that this definition recognised gets with the
  // extension `new_extension`: a whole extension is replaced as a whole
  // ("x.tar.gz" with "7z" gives "x.7z"); otherwise WithExtension.
  std::string RenamedPath(const std::string& path,
                          const std::string& new_extension) const;

  // Expands the "extract" template ("@ArcName": the archive's full path;
  // "@FileName": kExtractFileName), makes `folder` with every missing
  // parent, and runs the command through `runner` with the child in that
  // folder. The process's own current folder never changes. A relative
  // archive name is made absolute first, since the child runs elsewhere.
  // Returns kNotRun (no template, no name, folder not made),
  // kCommandRefused, kCommandTooLong, kCommandUnsafe, or the command's
  // result. The command's environment carries the macros' values.
  unsigned char Extract(const std::string& folder, CommandRunner* runner);

  // The same with the "add" template; "@ArcName" is the bare file name of
  // ArchiveName, which the command creates inside `folder`; "@FileName" is
  // kPackFileName.
  unsigned char Pack(const std::string& folder, CommandRunner* runner);

  // Expands the "test" template with "@ArcName" as ArchiveName ("@FileName"
  // stays as written) and runs it in the current folder. Same codes.
  unsigned char Test(CommandRunner* runner);

  // Expands the "list" template with "@ArcName" as ArchiveName, made
  // absolute as Extract does, and runs it in `folder` with its standard
  // output written to the file `output` there (a plain name). Same codes.
  unsigned char List(const std::string& folder, const std::string& output,
                     CommandRunner* runner);

  // The name of the archivers-file section it came from ("zip"), shown to
  // the user; empty for a definition made otherwise.
  const std::string& name() const { return name_; }
  void set_name(const std::string& name) { name_ = name; }

  const std::string& extension() const { return extension_; }
  const std::string& extract_command() const { return extract_command_; }
  const std::string& add_command() const { return add_command_; }
  const std::string& test_command() const { return test_command_; }
  // The optional "list" template: a command that prints the archive's
  // members as `lsar -j` does, for kinds that no reader in the process
  // knows. Empty for none.
  const std::string& list_command() const { return list_command_; }
  void set_list_command(const std::string& list) { list_command_ = list; }
  const std::string& archive_name() const { return archive_name_; }
  std::int32_t ident_offset() const { return ident_offset_; }
  // One character per byte, in file order; empty when there is no ident.
  const std::string& ident_bytes() const { return ident_bytes_; }

 private:
  unsigned char RunInFolder(const std::string& command_template,
                            const std::string& arc_name,
                            const std::string& file_name,
                            const std::string& folder, CommandRunner* runner);

  std::string name_;
  std::string extension_;
  std::string extract_command_;
  std::string add_command_;
  std::string test_command_;
  std::string list_command_;
  std::string archive_name_;
  std::int32_t ident_offset_ = 0;
  std::string ident_bytes_;
};

// One macro of a command template and its value.
struct CommandMacro {
  std::string name;
  std::string value;
};

// Whether `command_template` puts each of `macro_names` only where the
// interpreter's reading of a value is proven: on POSIX as or within a plain
// word, or inside "..." or '...' at the top level of the command
// (CheckShellTemplate). Always true on Win32, where the template's author
// quotes the macros. A false template is refused at every use; callers
// report it when they load it.
bool CommandTemplateQuotable(const std::string& command_template,
                             const std::vector<std::string>& macro_names);

// Expands `command_template` with `macros` (case-insensitive; on POSIX each
// value quoted for the shell where it stands) and the text functions into
// *command. Returns 0 on success, else kCommandRefused, kCommandTooLong or
// kCommandUnsafe (see above), with *command not to be run. Exposed for the
// converter's own commands and for tests.
unsigned char BuildCommand(const std::string& command_template,
                           const std::vector<CommandMacro>& macros,
                           std::string* command);

// The names of a command's macros ("@ArcName", "@FileName", "@Folder") for
// its environment.
CommandNames NamesOf(const std::vector<CommandMacro>& macros);

}  // namespace zavo

#endif  // ZAVO_ARCHIVERS_ARCHIVER_DEFINITION_H_
