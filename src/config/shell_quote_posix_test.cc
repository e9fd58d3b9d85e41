#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "config/macro_engine.h"
#include "config/shell_quote.h"
#include "fs/file_tree.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

// Names a hostile user can give a file, each meaning something to a shell.
const char* const kHostileNames[] = {
    "plain",
    "",
    "a b",
    "it's",
    "a\"b",
    "$(touch PWNED)",
    "`touch PWNED`",
    "a;touch PWNED",
    "a&&touch PWNED",
    "a|touch PWNED",
    "\\",
    "a\\",
    "a\ntouch PWNED",
    "*",
    "?",
    "[a]*",
    "~",
    "-n",
    "'\\''",
    "'$(touch PWNED)'",
    "\"$(touch PWNED)\"",
    "}{",
    "$HOME",
    "${x:-$(touch PWNED)}",
    "$((1+1))",
    "$'\\x41'",
    "%s",
    "\\\"",
    "\xe0\xf1 x",
    "a\\`b",
    "\\$x",
    "!x",
    "#x",
    " lead",
    "trail ",
    "\ttab",
    "a'b\"c$d`e\\f",
    "--",
    "@V",
    "x\n#",
};

// Templates that put the value where its reading is proven; REC is a
// program that records its arguments, and `expect` builds them from the
// value.
struct Allowed {
  const char* text;
  std::vector<std::string> (*expect)(const std::string& v);
};

const Allowed kAllowed[] = {
    // A shell's arguments after its command string are values.
    {"sh -c 'REC \"$1\"' sh @V",
     [](const std::string& v) { return std::vector<std::string>{v}; }},
    {"REC @V",
     [](const std::string& v) { return std::vector<std::string>{v}; }},
    {"REC x@V.",
     [](const std::string& v) {
       return std::vector<std::string>{"x" + v + "."};
     }},
    {"REC \"<@V>\"",
     [](const std::string& v) {
       return std::vector<std::string>{"<" + v + ">"};
     }},
    {"REC '<@V>'",
     [](const std::string& v) {
       return std::vector<std::string>{"<" + v + ">"};
     }},
    {"REC a@V\"b@V\"'c@V' --f=@V",
     [](const std::string& v) {
       return std::vector<std::string>{"a" + v + "b" + v + "c" + v, "--f=" + v};
     }},
    {"# a comment @@V\nX=1; REC $X@V </dev/null",
     [](const std::string& v) { return std::vector<std::string>{"1" + v}; }},
    {"cd . && REC \"$HOME\" @V; true",
     [](const std::string& v) {
       return std::vector<std::string>{GetEnvironment("HOME"), v};
     }},
    {"REC x\\;@V \\$@V",
     [](const std::string& v) {
       return std::vector<std::string>{"x;" + v, "$" + v};
     }},
};

// Templates no quoting can make safe, with the place they are refused for.
const struct {
  const char* text;
  ShellPlace place;
} kRefused[] = {
    {"REC $(printf %s @V)", ShellPlace::kNested},
    {"REC \"$(printf %s @V)\"", ShellPlace::kNested},
    {"REC `printf %s @V`", ShellPlace::kNested},
    {"REC \"`printf %s '@V'`\"", ShellPlace::kNested},
    {"REC ${X:-@V}", ShellPlace::kNested},
    {"REC \"${x:-'@V'}\"", ShellPlace::kNested},
    {"REC $((@V))", ShellPlace::kNested},
    {"REC \"$((@V))\"", ShellPlace::kNested},
    {"REC $'@V'", ShellPlace::kNested},
    {"REC $\"@V\"", ShellPlace::kNested},
    {"REC <(printf %s @V)", ShellPlace::kNested},
    {"REC $(true) @V", ShellPlace::kNested},
    {"[[ @V == x ]] && REC", ShellPlace::kNested},
    {"(( @V )); REC", ShellPlace::kNested},
    {"REC x\\@V", ShellPlace::kAfterBackslash},
    {"REC \"x\\@V\"", ShellPlace::kAfterBackslash},
    {"REC $@V", ShellPlace::kAfterDollar},
    {"REC \"$@V\"", ShellPlace::kAfterDollar},
    {"REC ok # @V", ShellPlace::kComment},
    {"REC \\; # @V", ShellPlace::kComment},
    {"REC <<E\n@V\nE", ShellPlace::kHereDocument},
    {"sh -c 'REC @V'", ShellPlace::kSecondParser},
    {"/bin/bash -ec \"REC @V\"", ShellPlace::kSecondParser},
    {"find . -exec sh -c 'REC \"$1\" @V' sh {} \\;", ShellPlace::kSecondParser},
    {"eval REC @V", ShellPlace::kSecondParser},
    {"sudo -n eval REC @V", ShellPlace::kSecondParser},
    {"let x=@V", ShellPlace::kSecondParser},
    {"printf -v @V %s x", ShellPlace::kSecondParser},
    {"[ -v @V ]", ShellPlace::kSecondParser},
    {"ssh host REC @V", ShellPlace::kSecondParser},
    {"python3 -c 'import os; print(\"@V\")'", ShellPlace::kSecondParser},
    {"perl -w -e 'print \"@V\"' x", ShellPlace::kSecondParser},
    {"sed -i 's/a/@V/' f", ShellPlace::kSecondParser},
};

std::string Expand(const std::string& text, const std::string& value) {
  MacroEngine engine(65536);
  engine.Define("@V", value, false, QuoteForShell);
  std::string command = text;
  EXPECT_TRUE(engine.Expand(&command));
  return command;
}

// The arguments REC recorded, one per NUL-ended field.
std::vector<std::string> Recorded(const std::string& path) {
  std::vector<std::string> args;
  const std::string data = ReadFile(path);
  std::size_t start = 0;
  for (std::size_t end; (end = data.find('\0', start)) != std::string::npos;
       start = end + 1) {
    args.push_back(data.substr(start, end - start));
  }
  return args;
}

TEST(ShellQuoteTest, HostileNamesReadBackExactlyUnderDashAndBash) {
  ScopedTempDir dir;
  const std::string rec = dir / "rec";
  WriteFile(rec, "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$REC_OUT\"\n");
  ASSERT_EQ(0, chmod(rec.c_str(), 0755));
  const std::size_t count = sizeof(kHostileNames) / sizeof(kHostileNames[0]);
  for (const Allowed& a : kAllowed) {
    std::string text = a.text;
    text.replace(text.find("REC"), 3, rec);
    ASSERT_EQ(ShellPlace::kWord, CheckShellTemplate(text, {"@V"})) << text;
    // One script per template runs the command for every name, each
    // recording into a file of its own.
    std::string script;
    for (std::size_t i = 0; i < count; ++i) {
      script += "REC_OUT=" + (dir / ("args" + std::to_string(i))) +
                "; export REC_OUT\n" + Expand(text, kHostileNames[i]) + "\n";
    }
    for (const char* shell : {"/bin/dash", "/bin/bash"}) {
      for (std::size_t i = 0; i < count; ++i) {
        EraseFile(dir / ("args" + std::to_string(i)));
      }
      const ProcessResult result =
          RunProgram({shell, "-c", script}, dir.path());
      EXPECT_EQ(0, result.Code()) << shell << ": " << text;
      for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(a.expect(kHostileNames[i]),
                  Recorded(dir / ("args" + std::to_string(i))))
            << shell << ": " << Expand(text, kHostileNames[i]);
      }
      EXPECT_FALSE(FileExists(dir / "PWNED")) << shell << ": " << text;
    }
  }
}

TEST(ShellQuoteTest, TemplatesWithoutAProvenReadingAreRefused) {
  for (const auto& r : kRefused) {
    EXPECT_EQ(r.place, CheckShellTemplate(r.text, {"@V"})) << r.text;
    EXPECT_FALSE(IsQuotablePlace(r.place)) << r.text;
  }
  // "@@V" is the literal "@V", no macro; other macros' places are not asked.
  EXPECT_EQ(ShellPlace::kWord, CheckShellTemplate("REC $(x @@V) @W", {"@V"}));
  // Letter case does not hide a macro.
  EXPECT_EQ(ShellPlace::kNested, CheckShellTemplate("REC $(x @v)", {"@V"}));
}

}  // namespace
}  // namespace zavo
