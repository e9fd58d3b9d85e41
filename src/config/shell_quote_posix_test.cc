#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config/macro_engine.h"
#include "config/shell_quote.h"
#include "fs/file_tree.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

// Values a file name can hold that mean something to a shell.
const char* const kNastyValues[] = {
    "plain",      "",           "a b",   "it's",  "a\"b",       "$(echo INJ)",
    "`echo INJ`", "\\",         "a\\",   "a\nb",  "*",          "~",
    "-n",         "'\\''",      "}{",    "$HOME", "a;echo INJ", "%s",
    "\\\"",       "\xe0\xf1 x", "a\\`b", "\\$x",
};

struct Context {
  const char* template_text;  // with @V where the value goes
  const char* before;         // what the command prints before the value
  const char* after;          // and after it
};

// Where a template can put a macro; each prints exactly the value between
// `before` and `after` when the value is quoted right.
const Context kContexts[] = {
    {"printf %s @V", "", ""},
    {"printf %s x@V.", "x", "."},
    {"printf %s \"<@V>\"", "<", ">"},
    {"printf %s '<@V>'", "<", ">"},
    {"printf %s \"$(printf %s @V; printf .)\"", "", "."},
    {"printf %s \"$(printf %s \"@V\"; printf .)\"", "", "."},
    {"printf %s \"`printf %s @V; printf .`\"", "", "."},
    {"printf %s \"`printf %s '@V'`.\"", "", "."},
    {"printf %s ${ZAVO_UNSET_VARIABLE:-@V}.", "", "."},
    {"printf %s '#'@V", "#", ""},
};

// Runs `command` as a script of `shell` and returns what it printed.
std::string RunScript(const ScopedTempDir& dir, const std::string& shell,
                      const std::string& command) {
  std::string script = dir / "script.sh";
  WriteFile(script, command + "\n");
  std::FILE* pipe = ::popen((shell + " " + script).c_str(), "r");
  if (pipe == nullptr) return "<popen failed>";
  std::string out;
  char buffer[256];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
    out.append(buffer, got);
  }
  ::pclose(pipe);
  return out;
}

std::vector<std::string> Shells() {
  std::vector<std::string> shells{"/bin/sh"};
  if (FileExists("/bin/bash")) shells.push_back("/bin/bash");
  return shells;
}

std::string ExpandShell(const std::string& text, const std::string& value) {
  MacroEngine engine(4096);
  engine.Define("@V", value, false, QuoteForShell);
  std::string command = text;
  EXPECT_TRUE(engine.Expand(&command));
  return command;
}

TEST(ShellQuoteTest, ShellReadsExactlyTheValue) {
  ScopedTempDir dir;
  for (const std::string& shell : Shells()) {
    for (const Context& c : kContexts) {
      for (const char* value : kNastyValues) {
        std::string command = ExpandShell(c.template_text, value);
        EXPECT_EQ(std::string(c.before) + value + c.after,
                  RunScript(dir, shell, command))
            << shell << ": " << command;
      }
    }
  }
}

// Where no quoting can give the value back whole, it still never runs as a
// command.
TEST(ShellQuoteTest, AwkwardPlacesNeverRunTheValue) {
  ScopedTempDir dir;
  const char* const kTemplates[] = {
      "printf %s $@V",      // "$'" would be bash's escape quotes
      "printf %s \"$@V\"",  // "$(" would be a command
      "printf %s ok # @V",  // a line end would end the comment
      "printf %s x\\@V",    // the "\" takes the first character
  };
  for (const std::string& shell : Shells()) {
    for (const char* text : kTemplates) {
      for (const char* value :
           {"(echo INJ)", "'echo INJ'", "\necho INJ", "{x}", "a\\'b"}) {
        std::string out = RunScript(dir, shell, ExpandShell(text, value));
        EXPECT_EQ(std::string::npos, out.find("INJ\n")) << shell << ": " << out;
        EXPECT_NE("INJ", out) << shell << ": " << text;
      }
    }
  }
}

TEST(ShellQuoteTest, QuotesForTheContext) {
  const struct {
    const char* before;
    const char* value;
    const char* expected;
  } kCases[] = {
      {"x ", "a'b", "'a'\\''b'"}, {"x \"", "a\"$b", "a\\\"\\$b"},
      {"x '", "a'b", "a'\\''b"},  {"x \"$(y ", "a b", "'a b'"},
      {"x $", "v", "'''v'"},      {"x \"$", "(v)", "\"\"(v)"},
      {"x # ", "a\nb", "a b"},    {"x \\", "ab", "a'b'"},
      {"x \\", "", ""},           {"x `y ", "a`b", "'a\\`b'"},
      {"x 'a\"' \"b'", "c", "c"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, QuoteForShell(c.before, c.value)) << c.before;
  }
}

}  // namespace
}  // namespace zavo
