// Fuzzes template expansion and shell quoting.
//
// Input: three flag bytes, then texts separated by NUL: the template, and
// then names and values of macros in turn. Flag byte 0: bit 0 text
// functions on, bits 1-2 the longest text (16, 64, 255 or 4096). Byte 1:
// which of the first eight macros are case-sensitive; byte 2: which are
// quoted for the shell.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/macro_engine.h"
#include "config/shell_quote.h"
#include "fuzz_support.h"

namespace zavo {
namespace {

struct Input {
  bool functions = false;
  std::size_t max_length = 255;
  std::string text;
  std::vector<Macro> macros;
};

Input Parse(const std::uint8_t* data, std::size_t size) {
  Input input;
  if (size < 3) return input;
  static const std::size_t kLengths[] = {16, 64, 255, 4096};
  input.functions = (data[0] & 1) != 0;
  input.max_length = kLengths[(data[0] >> 1) & 3];
  std::vector<std::string> parts(1);
  for (std::size_t i = 3; i < size; ++i) {
    if (data[i] == 0) {
      parts.emplace_back();
    } else {
      parts.back() += static_cast<char>(data[i]);
    }
  }
  input.text = parts[0];
  for (std::size_t i = 1; i + 1 < parts.size(); i += 2) {
    std::size_t n = input.macros.size();
    Macro m;
    m.name = parts[i];
    m.value = parts[i + 1];
    m.case_sensitive = n < 8 && (data[1] >> n & 1) != 0;
    if (n < 8 && (data[2] >> n & 1) != 0) m.quoter = QuoteForShell;
    input.macros.push_back(m);
  }
  return input;
}

bool Expand(const Input& input, std::size_t max_length, std::string* text) {
  MacroEngine engine(max_length);
  engine.set_functions_enabled(input.functions);
  for (const Macro& m : input.macros) {
    engine.Define(m.name, m.value, m.case_sensitive, m.quoter);
  }
  *text = input.text;
  return engine.Expand(text);
}

// Reads s as one shell word in which nothing may be expanded: quotes and
// escapes are removed; false when the word holds anything else that the
// shell would act on.
bool Unquote(const std::string& s, std::string* out) {
  enum { kBare, kSingle, kDouble } state = kBare;
  out->clear();
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    char next = i + 1 < s.size() ? s[i + 1] : '\0';
    if (state == kSingle) {
      if (c == '\'') {
        state = kBare;
      } else {
        *out += c;
      }
    } else if (state == kDouble) {
      if (c == '"') {
        state = kBare;
      } else if (c == '\\' && next != '\0' &&
                 std::string("$`\"\\\n").find(next) != std::string::npos) {
        if (next != '\n') *out += next;
        ++i;
      } else if (c == '$' || c == '`') {
        return false;
      } else {
        *out += c;
      }
    } else if (c == '\'') {
      state = kSingle;
    } else if (c == '"') {
      state = kDouble;
    } else if (c == '\\' && i + 1 < s.size()) {
      if (next != '\n') *out += next;
      ++i;
    } else {
      return false;
    }
  }
  return state == kBare;
}

void CheckQuoting(const std::string& value) {
  std::string read;
  std::string bare = QuoteForShell("x ", value);
  ZAVO_FUZZ_CHECK(Unquote(bare, &read) && read == value, bare);
  std::string dq = QuoteForShell("x \"", value);
  ZAVO_FUZZ_CHECK(Unquote("\"" + dq + "\"", &read) && read == value, dq);
  std::string sq = QuoteForShell("x '", value);
  ZAVO_FUZZ_CHECK(Unquote("'" + sq + "'", &read) && read == value, sq);
}

}  // namespace
}  // namespace zavo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zavo;
  Input input = Parse(data, size);

  std::string first;
  bool whole = Expand(input, input.max_length, &first);
  ZAVO_FUZZ_CHECK(first.size() <= input.max_length, first);

  std::string again;
  ZAVO_FUZZ_CHECK(Expand(input, input.max_length, &again) == whole, input.text);
  ZAVO_FUZZ_CHECK(again == first, input.text);

  // A text that was never cut does not depend on the limit.
  if (whole) {
    std::string wider;
    ZAVO_FUZZ_CHECK(Expand(input, input.max_length * 4, &wider), input.text);
    ZAVO_FUZZ_CHECK(wider == first, input.text);
  }

  // Nothing to substitute and nothing to call: the text stays as it is.
  if (!input.functions && input.macros.empty() &&
      input.text.size() <= input.max_length) {
    ZAVO_FUZZ_CHECK(whole && first == input.text, input.text);
  }

  for (const Macro& m : input.macros) CheckQuoting(m.value);
  // The quoting of a value anywhere in a template never throws or loops.
  for (const Macro& m : input.macros) QuoteForShell(input.text, m.value);
  return 0;
}
