#include "archivers/archiver_commands.h"

#include <algorithm>

#include "config/macro_engine.h"
#include "config/shell_quote.h"
#include "platform/os.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

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

CommandOutcome::Kind KindOf(BuildOutcome built) {
  switch (built) {
    case BuildOutcome::kRefused:
      return CommandOutcome::Kind::kRefused;
    case BuildOutcome::kTooLong:
      return CommandOutcome::Kind::kTooLong;
    case BuildOutcome::kUnsafe:
      return CommandOutcome::Kind::kUnsafe;
    case BuildOutcome::kBuilt:
      break;
  }
  return CommandOutcome::Kind::kRan;
}

}  // namespace

bool CommandTemplateQuotable(const std::string& command_template,
                             const std::vector<std::string>& macro_names) {
  if (!kQuotesForShell) return true;
  return IsQuotablePlace(CheckShellTemplate(command_template, macro_names));
}

BuildOutcome BuildCommand(const std::string& command_template,
                          const std::vector<CommandMacro>& macros,
                          std::string* command) {
  std::vector<std::string> names;
  for (const CommandMacro& macro : macros) names.push_back(macro.name);
  if (!CommandTemplateQuotable(command_template, names)) {
    return BuildOutcome::kRefused;
  }
  MacroEngine engine(MaxCommandLength());
  const bool calls_functions = CallsTextFunction(engine, command_template);
  for (const CommandMacro& macro : macros) {
    // A value is never read as template text again, so a name holding
    // "@ArcName" goes in as it is. A function's arguments are another
    // matter: "|" in a value standing among them would split them.
    if (calls_functions && macro.value.find('|') != std::string::npos) {
      return BuildOutcome::kUnsafe;
    }
    // cmd.exe expands "%NAME%" (and "!NAME!" with delayed expansion) even
    // inside quotes, and a quote in the value would close the template's.
    if (!kQuotesForShell &&
        macro.value.find_first_of("%!\"") != std::string::npos) {
      return BuildOutcome::kUnsafe;
    }
    if (kQuotesForShell && calls_functions &&
        !std::all_of(macro.value.begin(), macro.value.end(),
                     [](char c) { return IsInertCharacter(c); })) {
      return BuildOutcome::kUnsafe;
    }
    engine.Define(macro.name, macro.value, false,
                  kQuotesForShell ? QuoteForShell : nullptr);
  }
  // Functions run after the macros, over the values too: a file called
  // "@NUM{...}.zip" would be rewritten. A template without calls of its own
  // needs none evaluated.
  engine.set_functions_enabled(calls_functions);
  *command = command_template;
  if (!engine.Expand(command)) return BuildOutcome::kTooLong;
  return BuildOutcome::kBuilt;
}

std::vector<std::string> MacroEnvironment(
    const std::vector<CommandMacro>& macros) {
  std::string arc_name, file_name, folder;
  for (const CommandMacro& macro : macros) {
    if (EqualNoCase(macro.name, "@ArcName")) arc_name = macro.value;
    if (EqualNoCase(macro.name, "@FileName")) file_name = macro.value;
    if (EqualNoCase(macro.name, "@Folder")) folder = macro.value;
  }
  return {"ZAVO_ARCNAME=" + arc_name, "ZAVO_FILENAME=" + file_name,
          "ZAVO_FOLDER=" + folder};
}

std::string CommandOutcome::Describe() const {
  switch (kind) {
    case Kind::kRan:
      return process.Describe();
    case Kind::kNoTemplate:
      return "no template";
    case Kind::kRefused:
      return "refused template";
    case Kind::kTooLong:
      return "command too long";
    case Kind::kUnsafe:
      return "a name the template cannot take safely";
  }
  return "";
}

CommandOutcome RunTemplate(const std::string& command_template,
                           const std::vector<CommandMacro>& macros,
                           ChildSpec launch, CommandRunner* runner) {
  CommandOutcome outcome;
  if (command_template.empty()) return outcome;
  BuildOutcome built = BuildCommand(command_template, macros, &launch.command);
  outcome.kind = KindOf(built);
  if (built != BuildOutcome::kBuilt) return outcome;
  std::vector<std::string> environment = MacroEnvironment(macros);
  launch.environment.insert(launch.environment.end(), environment.begin(),
                            environment.end());
  outcome.process = runner->Run(launch);
  return outcome;
}

namespace {

// The launch settings with a label that names the definition and its template,
// so that the child's messages can be told apart from the next one's.
ChildSpec Labelled(const ArchiverDefinition& definition, const char* key,
                   const ChildSpec& launch) {
  ChildSpec labelled = launch;
  labelled.label =
      (definition.name().empty() ? definition.extension() : definition.name()) +
      " " + key;
  return labelled;
}

}  // namespace

CommandOutcome ExtractArchive(const ArchiverDefinition& definition,
                              const std::string& archive,
                              const ChildSpec& launch, CommandRunner* runner) {
  return RunTemplate(definition.extract_command(),
                     {{"@ArcName", archive}, {"@FileName", kExtractFileName}},
                     Labelled(definition, "extract", launch), runner);
}

CommandOutcome ExtractVolumeSet(const ArchiverDefinition& definition,
                                const std::string& archive,
                                const ChildSpec& launch,
                                CommandRunner* runner) {
  const std::string& command = definition.extract_set_command().empty()
                                   ? definition.extract_command()
                                   : definition.extract_set_command();
  return RunTemplate(command,
                     {{"@ArcName", archive}, {"@FileName", kExtractFileName}},
                     launch, runner);
}

CommandOutcome PackArchive(const ArchiverDefinition& definition,
                           const std::string& archive, const ChildSpec& launch,
                           CommandRunner* runner) {
  return RunTemplate(definition.add_command(),
                     {{"@ArcName", archive}, {"@FileName", kPackFileName}},
                     Labelled(definition, "add", launch), runner);
}

CommandOutcome TestArchive(const ArchiverDefinition& definition,
                           const std::string& archive, const ChildSpec& launch,
                           CommandRunner* runner) {
  return RunTemplate(definition.test_command(), {{"@ArcName", archive}},
                     Labelled(definition, "test", launch), runner);
}

CommandOutcome ListArchive(const ArchiverDefinition& definition,
                           const std::string& archive, const ChildSpec& launch,
                           CommandRunner* runner) {
  return RunTemplate(definition.list_command(), {{"@ArcName", archive}}, launch,
                     runner);
}

}  // namespace zavo
