// Macro substitution and the text functions "@PAD", "@NUM" and "@SIZE" of
// command templates and settings lines.

#ifndef ZAVO_CONFIG_MACRO_ENGINE_H_
#define ZAVO_CONFIG_MACRO_ENGINE_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "text/text_utils.h"

namespace zavo {

// How a macro's value is put into the text: given the expanded text before
// the macro's place and the value, returns the text to insert there. The
// engine itself only substitutes; a caller that builds a command hands in
// the quoting of its interpreter.
using MacroQuoter = std::string (*)(const std::string& before,
                                    const std::string& value);

struct Macro {
  std::string name;  // an empty name makes the macro inert
  std::string value;
  bool case_sensitive = false;
  MacroQuoter quoter = nullptr;  // none: the value goes in as it is
};

// Macros kept sorted by name in descending order of their upper-cased forms,
// so that a longer name that extends a shorter one is substituted first.
class MacroList {
 public:
  // Replaces the value, case flag and quoter of a macro of the same
  // upper-cased name (its name stays as first written), or inserts a new one.
  void Define(const std::string& name, const std::string& value,
              bool case_sensitive, MacroQuoter quoter);
  const std::vector<Macro>& macros() const { return macros_; }

 private:
  std::vector<Macro> macros_;
};

// A function handler receives the argument text and returns the result.
using MacroHandler = std::function<std::string(const std::string&)>;

struct MacroFunction {
  std::string name;
  MacroHandler handler;
};

class MacroFunctionTable {
 public:
  // Replaces the handler of a function of that name (letter case ignored)
  // or appends a new function.
  void Register(const std::string& name, MacroHandler handler);
  const std::vector<MacroFunction>& functions() const { return functions_; }

 private:
  std::vector<MacroFunction> functions_;
};

// Expands templates: every macro in descending name order, then, when
// enabled, the text-function calls from the rightmost inward.
class MacroEngine {
 public:
  // max_length is the longest text the engine produces: 255 for settings
  // lines; commands pass the longest command the platform can run.
  explicit MacroEngine(std::size_t max_length = kMaxText);
  virtual ~MacroEngine() = default;

  void Define(const std::string& name, const std::string& value,
              bool case_sensitive, MacroQuoter quoter = nullptr);

  // Expands *text in place. Returns false when some step had to cut the
  // text at max_length: the cut text is then in *text, and a caller that
  // would run it as a command must not.
  //
  // Only the template's own characters are read as macro names, "@"
  // escapes and function calls: a value once inserted (and a function's
  // result) is never substituted or evaluated again, so a file name that
  // holds "@Folder", "@PAD{" or "}" stays as it is, and a value quoted for
  // the shell stays quoted.
  bool Expand(std::string* text);

  bool functions_enabled() const { return functions_enabled_; }
  void set_functions_enabled(bool enabled) { functions_enabled_ = enabled; }

  MacroList& macros() { return macros_; }
  MacroFunctionTable& functions() { return functions_; }

 private:
  MacroList macros_;
  MacroFunctionTable functions_;
  bool functions_enabled_ = true;
  std::size_t max_length_;
};

// The built-in functions, exposed for tests: they take the argument text
// between the braces. None of them fails: missing or malformed arguments
// read as empty texts and 0.
std::string PadFunction(const std::string& arguments);
// "@PAD" pads to at most `limit` characters, however wide it is asked to;
// an engine passes one more than its max_length, so that the cut shows.
std::string PadFunction(const std::string& arguments, std::size_t limit);
constexpr std::size_t kMaxPadWidth = 65536;  // the limit of the first form
std::string NumFunction(const std::string& arguments);
std::string SizeFunction(const std::string& arguments);

}  // namespace zavo

#endif  // ZAVO_CONFIG_MACRO_ENGINE_H_
