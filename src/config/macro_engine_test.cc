#include "config/macro_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zavo {
namespace {

struct MacroDef {
  const char* name;
  const char* value;
  bool case_sensitive;
};

struct ExpandCase {
  std::vector<MacroDef> macros;
  const char* text;
  const char* expected;
};

std::string Expanded(const std::vector<MacroDef>& macros, const char* text,
                     bool functions = true) {
  MacroEngine engine;
  engine.set_functions_enabled(functions);
  for (const MacroDef& m : macros) {
    engine.Define(m.name, m.value, m.case_sensitive);
  }
  std::string result = text;
  EXPECT_TRUE(engine.Expand(&result)) << text;
  return result;
}

TEST(MacroEngineTest, SubstitutesMacros) {
  const ExpandCase kCases[] = {
      // The longer name wins whatever the order of definition.
      {{{"@File", "x", false}, {"@FileName", "y", false}},
       "@FileName @File",
       "y x"},
      {{{"@FileName", "y", false}, {"@File", "x", false}},
       "@FileName @File",
       "y x"},
      {{{"@ArcName", "a.zip", false}},
       "@arcname @ARCNAME @ArcName",
       "a.zip a.zip a.zip"},
      {{{"@ArcName", "a.zip", true}},
       "@arcname @ARCNAME @ArcName",
       "@arcname @ARCNAME a.zip"},
      {{{"@ArcName", "", false}}, "x@ArcName y @ArcName", "x y "},
      {{{"@ArcName", "v", false}}, "no macro here", "no macro here"},
      // Only the character right before a name is looked at.
      {{{"@ArcName", "v", false}}, "@@ArcName", "@ArcName"},
      {{{"@ArcName", "v", false}}, "@@@ArcName", "@@ArcName"},
      {{{"@ArcName", "v", false}}, "@@ArcName @ArcName", "@ArcName v"},
      // An escaped name is safe from a shorter macro too.
      {{{"@FileName", "y", false}, {"@File", "x", false}},
       "@@FileName",
       "@FileName"},
      // An "@" that a value brought along escapes nothing.
      {{{"X", "a@", true}}, "XX", "a@a@"},
      // Settings macros need not start with "@".
      {{{"ROOT", "c:\\arc", false}}, "root\\defs.ini", "c:\\arc\\defs.ini"},
      {{{"", "v", false}}, "text", "text"},
  };
  for (const ExpandCase& c : kCases) {
    EXPECT_EQ(c.expected, Expanded(c.macros, c.text)) << c.text;
  }
}

TEST(MacroEngineTest, InsertedValuesAreNotExpandedAgain) {
  const ExpandCase kCases[] = {
      // A folder whose name holds another macro's name stays as it is.
      {{{"@Folder", "/w/@ArcName", false}, {"@ArcName", "a.zip", false}},
       "@Folder @ArcName",
       "/w/@ArcName a.zip"},
      // A value holding its own name neither loops nor grows.
      {{{"ARC", "ARC", false}}, "ARC ARC", "ARC ARC"},
      {{{"@A", "<@A>", false}}, "@A", "<@A>"},
      // Function calls brought in by a value are text.
      {{{"@N", "@NUM{,|1000}", false}}, "@N", "@NUM{,|1000}"},
  };
  for (const ExpandCase& c : kCases) {
    EXPECT_EQ(c.expected, Expanded(c.macros, c.text)) << c.text;
  }
}

TEST(MacroEngineTest, DefineKeepsNamesSortedAndReplacesValues) {
  MacroEngine engine;
  engine.Define("@File", "1", false);
  engine.Define("@ArcName", "2", false);
  engine.Define("@Folder", "3", false);
  engine.Define("@FileName", "4", false);
  engine.Define("@ARCNAME", "5", true);
  std::vector<std::string> names;
  for (const Macro& m : engine.macros().macros()) names.push_back(m.name);
  EXPECT_EQ(
      (std::vector<std::string>{"@Folder", "@FileName", "@File", "@ArcName"}),
      names);
  const Macro& arc = engine.macros().macros().back();
  EXPECT_EQ("5", arc.value);
  EXPECT_TRUE(arc.case_sensitive);
}

TEST(MacroEngineTest, ExpandReportsACut) {
  MacroEngine engine(10);
  engine.Define("@A", "123456789012", false);
  std::string text = "x@A";
  EXPECT_FALSE(engine.Expand(&text));
  EXPECT_EQ("x123456789", text);

  MacroEngine wide(40);
  text = "@PAD{RIGHT|.|2000000000|x}";
  EXPECT_FALSE(wide.Expand(&text));
  EXPECT_EQ("x" + std::string(39, '.'), text);

  text = "0123456789";
  EXPECT_TRUE(engine.Expand(&text));
  text = "0123456789A";
  EXPECT_FALSE(engine.Expand(&text));
  EXPECT_EQ("0123456789", text);
}

TEST(MacroEngineTest, EvaluatesFunctions) {
  const ExpandCase kCases[] = {
      {{}, "@PAD{RIGHT|.|6|ab}", "ab...."},
      {{}, "@PAD{LEFT|.|6|ab}", "....ab"},
      {{}, "@PAD{CENTER|.|6|abc}", ".abc.."},
      {{}, "@PAD{RIGHT|.|3|abcdef}", "abc"},
      {{}, "@PAD{LEFT|.|3|abcdef}", "def"},
      {{}, "@PAD{CENTER|.|4|abcdefghij}", "cdef"},
      {{}, "@pad{right| |4|ab}|", "ab  |"},
      {{}, "@PAD{RIGHT| |8|@NUM{,|12345}}", "12,345  "},
      {{{"@FileName", "report.txt", false}},
       "@PAD{LEFT|.|12|@FileName}",
       "..report.txt"},
      // A "}" brought in by a value does not end the call.
      {{{"@N", "a}b", false}}, "@PAD{RIGHT|.|5|@N}", "a}b.."},
      {{}, "@@PAD{x} @NUM{,|1000}", "@PAD{x} 1,000"},
      {{}, "@@@NUM{,|1000}", "@@NUM{,|1000}"},
      {{}, "@NUM{,|1000} and @NUM{.|2000}", "1,000 and 2.000"},
      // Without a closing brace the handler gets no arguments.
      {{}, "@NUM{,|1234", ",|1234"},
      {{}, "@FOO{x} @NUM", "@FOO{x} @NUM"},
  };
  for (const ExpandCase& c : kCases) {
    EXPECT_EQ(c.expected, Expanded(c.macros, c.text)) << c.text;
  }
}

TEST(MacroEngineTest, FunctionsCanBeSwitchedOffAndReplaced) {
  EXPECT_EQ("@PAD{LEFT|.|6|ab}", Expanded({}, "@PAD{LEFT|.|6|ab}", false));

  MacroEngine engine;
  engine.functions().Register(
      "@num", [](const std::string& a) { return "<" + a + ">"; });
  engine.functions().Register("@UP",
                              [](const std::string& a) { return a + "!"; });
  EXPECT_EQ(4u, engine.functions().functions().size());
  std::string text = "@NUM{1} @up{2}";
  EXPECT_TRUE(engine.Expand(&text));
  EXPECT_EQ("<1> 2!", text);
}

TEST(MacroEngineTest, PadFunction) {
  const std::pair<const char*, const char*> kCases[] = {
      {"CENTER|.|5|abc", ".abc."},
      {"center|-|7|ab", "--ab---"},
      {"CENTER|.|0|abc", ""},
      {"LEFT|.|-1|abc", ""},
      {"RIGHT|.|-1|", ""},
      {"OTHER|.|-1|abc", "abc"},
      {"OTHER|.|2|abc", "abc"},
      {"OTHER|.|6|abc", ".abc.."},
      {"RIGHT|.|3|abc", "abc"},
      {"RIGHT|.|x|abc", ""},
      {"RIGHT||.||4||ab", "ab.."},
      {"LEFT|.|4", "...."},
      {"", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.second, PadFunction(c.first)) << c.first;
  }
  EXPECT_EQ(kMaxPadWidth, PadFunction("LEFT|.|2147483647|x").size());
}

TEST(MacroEngineTest, NumFunction) {
  const std::pair<const char*, const char*> kCases[] = {
      {",|1234567", "1,234,567"},
      {",|123456", "123,456"},
      {",|123", "123"},
      {".|1000", "1.000"},
      {",|12a4", "12a4"},
      {",|-1000", "-1000"},
      {",|", ""},
      {"1000", ""},
      {"abc|0000", "0a000"},
      {"'|12345678901234", "12'345'678'901'234"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.second, NumFunction(c.first)) << c.first;
  }
}

TEST(MacroEngineTest, SizeFunction) {
  const std::pair<const char*, const char*> kCases[] = {
      {"5|123456789", "117Mb"},
      {"8|500", "0Kb"},
      {"3|5000", "4Kb"},
      {"0|0", "0Kb"},
      {"4|3221225472", "3Gb"},        // past the 32-bit range
      {"1|5497558138880", "5120Gb"},  // no unit after "Gb"
      {"4|-5000", "-4Kb"},
      {"9|$FFFF", "0Mb"},                 // stops at a count of 0
      {"5|99999999999999999999", "0Kb"},  // beyond any count: 0
      {"5|12x", "0Kb"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.second, SizeFunction(c.first)) << c.first;
  }
}

}  // namespace
}  // namespace zavo
