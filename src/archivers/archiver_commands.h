// The commands of an archiver definition: its templates expanded with the
// names of one archive, and run. Nothing here keeps state: every call is
// told the definition, the archive and where the child runs.

#ifndef ZAVO_ARCHIVERS_ARCHIVER_COMMANDS_H_
#define ZAVO_ARCHIVERS_ARCHIVER_COMMANDS_H_

#include <string>
#include <vector>

#include "archivers/archiver_definition.h"
#include "archivers/command_runner.h"
#include "platform/process.h"

namespace zavo {

// One macro of a command template and its value.
struct CommandMacro {
  std::string name;
  std::string value;
};

// How building a command from a template went.
enum class BuildOutcome {
  kBuilt,
  // The template puts a macro where the shell's reading of its value cannot
  // be proven (see CommandTemplateQuotable). Nothing is run, for any value.
  kRefused,
  // The expansion would be longer than the interpreter takes; a cut command
  // is never run.
  kTooLong,
  // A value could not be put into the command safely: the template calls a
  // text function and the value holds characters that the function syntax
  // reads ("|" splits a function's arguments) or, on POSIX, that the shell
  // reads (the function could cut the value's quoting apart). On Win32 it is
  // also a value holding a character that cmd.exe reads even inside quotes:
  // "%", "!" or a quote. A macro name inside a value is no reason: values
  // are never substituted into again.
  kUnsafe,
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
// *command, which is to be run only on kBuilt.
BuildOutcome BuildCommand(const std::string& command_template,
                          const std::vector<CommandMacro>& macros,
                          std::string* command);

// The environment every command carries: ZAVO_ARCNAME, ZAVO_FILENAME and
// ZAVO_FOLDER with the values of its macros as they are (empty for one it
// does not have), so that a template can hand a name to a second parser
// (sh -c '... "$ZAVO_FOLDER"') where no quoting would hold.
std::vector<std::string> MacroEnvironment(
    const std::vector<CommandMacro>& macros);

// How running one of an archiver's templates went.
struct CommandOutcome {
  enum class Kind {
    kRan,         // the command ran; `process` tells how it ended
    kNoTemplate,  // the definition has no such template: nothing to run
    kRefused,     // see BuildOutcome
    kTooLong,
    kUnsafe,
  };
  Kind kind = Kind::kNoTemplate;
  ProcessResult process;

  bool succeeded() const { return kind == Kind::kRan && process.succeeded(); }
  // "exited with 2", "killed by signal 9", "refused template", ...
  std::string Describe() const;
};

// Builds the command of `command_template` with `macros` and runs it as
// `launch` says (where it runs, its output, the handles it gets, its limits),
// with the macros' environment added.
CommandOutcome RunTemplate(const std::string& command_template,
                           const std::vector<CommandMacro>& macros,
                           ChildSpec launch, CommandRunner* runner);

// The definition's "extract" template with "@ArcName" standing for
// `archive` (the name the child reads it by) and "@FileName" for
// kExtractFileName; the child unpacks into the folder `launch` starts it in.
CommandOutcome ExtractArchive(const ArchiverDefinition& definition,
                              const std::string& archive,
                              const ChildSpec& launch, CommandRunner* runner);

// The same for a volume set: the "extractset" template where the
// definition has one, else "extract"; `archive` is the volume that names the
// set, with the others beside it under their own names.
CommandOutcome ExtractVolumeSet(const ArchiverDefinition& definition,
                                const std::string& archive,
                                const ChildSpec& launch, CommandRunner* runner);

// The "add" template: "@ArcName" is `archive`, the new archive's name as
// the child reaches it from the folder `launch` starts it in (whose files it
// packs, "@FileName" being kPackFileName).
CommandOutcome PackArchive(const ArchiverDefinition& definition,
                           const std::string& archive, const ChildSpec& launch,
                           CommandRunner* runner);

// The "test" template with "@ArcName" as `archive` ("@FileName" stays as
// written).
CommandOutcome TestArchive(const ArchiverDefinition& definition,
                           const std::string& archive, const ChildSpec& launch,
                           CommandRunner* runner);

// The "list" template with "@ArcName" as `archive`: the members as
// `lsar -j` prints them, on the standard output `launch` gives the child
// (the caller points it at the file the listing is to be read from).
CommandOutcome ListArchive(const ArchiverDefinition& definition,
                           const std::string& archive, const ChildSpec& launch,
                           CommandRunner* runner);

}  // namespace zavo

#endif  // ZAVO_ARCHIVERS_ARCHIVER_COMMANDS_H_
