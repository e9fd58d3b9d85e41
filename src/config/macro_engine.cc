#include "config/macro_engine.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "text/text_utils.h"

namespace zavo {

namespace {

// The text being expanded, with one mark per character: true for characters
// the expansion put there (macro values, function results, escaped names),
// false for characters of the template. Only template characters can form a
// macro name, a function call or an escaping "@", so a value is never read
// as template text: a file name holding "@Folder" or "@PAD{" stays as it is,
// and a value quoted for the shell cannot be broken up by a later macro.
struct MarkedText {
  std::string text;
  std::vector<bool> produced;

  void Replace(std::size_t pos, std::size_t count, const std::string& with) {
    text.replace(pos, count, with);
    produced.erase(produced.begin() + pos, produced.begin() + pos + count);
    produced.insert(produced.begin() + pos, with.size(), true);
  }
  void Erase(std::size_t pos) {
    text.erase(pos, 1);
    produced.erase(produced.begin() + pos);
  }
  void Protect(std::size_t pos, std::size_t count) {
    for (std::size_t i = pos; i < pos + count && i < produced.size(); ++i) {
      produced[i] = true;
    }
  }
  // Cuts at max_length; returns true when something was dropped.
  bool Cut(std::size_t max_length) {
    if (text.size() <= max_length) return false;
    text.resize(max_length);
    produced.resize(max_length);
    return true;
  }
  bool IsTemplateAt(std::size_t pos, char c) const {
    return pos < text.size() && !produced[pos] && text[pos] == c;
  }
};

// Whether `name` stands at pos in template characters only.
bool TemplateMatch(const MarkedText& t, std::size_t pos,
                   const std::string& name, bool case_sensitive) {
  if (pos + name.size() > t.text.size()) return false;
  for (std::size_t j = 0; j < name.size(); ++j) {
    if (t.produced[pos + j]) return false;
    unsigned char a = static_cast<unsigned char>(t.text[pos + j]);
    unsigned char b = static_cast<unsigned char>(name[j]);
    if (case_sensitive ? a != b : UpCaseChar(a) != UpCaseChar(b)) return false;
  }
  return true;
}

// Substitutes one macro through the text. Returns false when an insertion
// had to be cut at max_length.
bool Substitute(const Macro& macro, MarkedText* t, std::size_t max_length) {
  if (macro.name.empty()) return true;
  bool whole = true;
  std::size_t pos = 0;
  while (pos + macro.name.size() <= t->text.size()) {
    if (!TemplateMatch(*t, pos, macro.name, macro.case_sensitive)) {
      ++pos;
      continue;
    }
    if (pos > 0 && t->IsTemplateAt(pos - 1, '@')) {
      // "@@Name" is the literal "@Name": drop one "@" and keep the name
      // away from every later macro, shorter ones included.
      t->Erase(pos - 1);
      t->Protect(pos - 1, macro.name.size());
      pos += macro.name.size() - 1;
      continue;
    }
    std::string value = macro.value;
    if (macro.quoter != nullptr) {
      value = macro.quoter(t->text.substr(0, pos), value);
    }
    t->Replace(pos, macro.name.size(), value);
    pos += value.size();
    if (t->Cut(max_length)) whole = false;
  }
  return whole;
}

struct Call {
  std::size_t start = 0;  // first letter of the name
  std::size_t brace = 0;  // position of "{"
  const MacroFunction* function = nullptr;
};

// Finds the calls of the table's functions written in template characters.
// Escaped ones ("@@PAD{") are turned into their literal form on the way.
std::vector<Call> FindCalls(const MacroFunctionTable& table, MarkedText* t) {
  std::vector<Call> calls;
  for (std::size_t pos = 0; pos < t->text.size(); ++pos) {
    if (t->produced[pos]) continue;
    for (const MacroFunction& f : table.functions()) {
      if (f.name.empty() || !TemplateMatch(*t, pos, f.name, false) ||
          !t->IsTemplateAt(pos + f.name.size(), '{')) {
        continue;
      }
      if (pos > 0 && t->IsTemplateAt(pos - 1, '@')) {
        t->Erase(pos - 1);
        t->Protect(pos - 1, f.name.size() + 1);
        --pos;
      } else {
        calls.push_back(Call{pos, pos + f.name.size(), &f});
      }
      break;
    }
  }
  return calls;
}

// Evaluates the calls from the rightmost one inward, so that calls inside
// another call's arguments are done first. Returns false when a result had
// to be cut at max_length.
bool EvaluateFunctions(const MacroFunctionTable& table, MarkedText* t,
                       std::size_t max_length) {
  bool whole = true;
  // Every other call starts left of the rightmost one, and results are not
  // template text, so evaluating a call never moves or creates another.
  std::vector<Call> calls = FindCalls(table, t);
  for (; !calls.empty(); calls.pop_back()) {
    const Call& call = calls.back();
    // A "}" that a value or an inner result brought along does not close
    // the call.
    std::size_t close = call.brace + 1;
    while (close < t->text.size() && !t->IsTemplateAt(close, '}')) ++close;
    std::string arguments;
    std::size_t end = call.brace + 1;
    if (close < t->text.size()) {
      arguments = t->text.substr(call.brace + 1, close - call.brace - 1);
      end = close + 1;
    }
    std::string result = call.function->handler
                             ? call.function->handler(arguments)
                             : std::string();
    t->Replace(call.start, end - call.start, result);
    if (t->Cut(max_length)) whole = false;
  }
  return whole;
}

// The words of a function's argument text: maximal runs without "|".
std::vector<std::string> ArgumentWords(const std::string& arguments) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while (pos < arguments.size()) {
    std::size_t bar = arguments.find('|', pos);
    if (bar == std::string::npos) bar = arguments.size();
    if (bar > pos) words.push_back(arguments.substr(pos, bar - pos));
    pos = bar + 1;
  }
  return words;
}

std::string Word(const std::vector<std::string>& words, std::size_t i) {
  return i < words.size() ? words[i] : std::string();
}

// Like TextToInt, but decimal counts may use the whole 64-bit range, so
// that byte counts of 2 GiB and more are read as what they say.
std::int64_t TextToWideInt(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  std::size_t digits_at = i;
  if (digits_at < text.size() &&
      (text[digits_at] == '+' || text[digits_at] == '-')) {
    ++digits_at;
  }
  if (digits_at < text.size() && text[digits_at] == '$') {
    return TextToInt(text);
  }
  bool negative = i < text.size() && text[i] == '-';
  if (digits_at == text.size()) return 0;
  std::uint64_t value = 0;
  for (std::size_t j = digits_at; j < text.size(); ++j) {
    if (text[j] < '0' || text[j] > '9') return 0;
    std::uint64_t digit = static_cast<std::uint64_t>(text[j] - '0');
    if (value > (static_cast<std::uint64_t>(INT64_MAX) - digit) / 10) {
      return 0;
    }
    value = value * 10 + digit;
  }
  std::int64_t signed_value = static_cast<std::int64_t>(value);
  return negative ? -signed_value : signed_value;
}

bool AllDigits(const std::string& text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

void MacroList::Define(const std::string& name, const std::string& value,
                       bool case_sensitive, MacroQuoter quoter) {
  auto it = macros_.begin();
  while (it != macros_.end() && CompareNoCase(it->name, name) > 0) ++it;
  if (it != macros_.end() && CompareNoCase(it->name, name) == 0) {
    it->value = value;
    it->case_sensitive = case_sensitive;
    it->quoter = quoter;
    return;
  }
  macros_.insert(it, Macro{name, value, case_sensitive, quoter});
}

void MacroFunctionTable::Register(const std::string& name,
                                  MacroHandler handler) {
  for (MacroFunction& f : functions_) {
    if (EqualNoCase(f.name, name)) {
      f.handler = std::move(handler);
      return;
    }
  }
  functions_.push_back(MacroFunction{name, std::move(handler)});
}

MacroEngine::MacroEngine(std::size_t max_length) : max_length_(max_length) {
  // A result one longer than the limit is enough to show that it was cut,
  // and keeps a huge "@PAD" width from building a huge text.
  std::size_t limit = max_length + 1;
  functions_.Register("@PAD", [limit](const std::string& arguments) {
    return PadFunction(arguments, limit);
  });
  functions_.Register("@NUM", NumFunction);
  functions_.Register("@SIZE", SizeFunction);
}

void MacroEngine::Define(const std::string& name, const std::string& value,
                         bool case_sensitive, MacroQuoter quoter) {
  macros_.Define(name, value, case_sensitive, quoter);
}

bool MacroEngine::Expand(std::string* text) {
  MarkedText t{*text, std::vector<bool>(text->size(), false)};
  bool whole = !t.Cut(max_length_);
  for (const Macro& macro : macros_.macros()) {
    if (!Substitute(macro, &t, max_length_)) whole = false;
  }
  if (functions_enabled_ && !EvaluateFunctions(functions_, &t, max_length_)) {
    whole = false;
  }
  *text = std::move(t.text);
  return whole;
}

std::string PadFunction(const std::string& arguments) {
  return PadFunction(arguments, kMaxPadWidth);
}

std::string PadFunction(const std::string& arguments, std::size_t limit) {
  std::vector<std::string> words = ArgumentWords(arguments);
  std::string alignment = UpperText(Word(words, 0));
  std::string pad_word = Word(words, 1);
  char pad = pad_word.empty() ? ' ' : pad_word[0];
  std::int64_t width = TextToInt(Word(words, 2));
  std::string text = Word(words, 3);
  std::int64_t length = static_cast<std::int64_t>(text.size());
  bool named =
      alignment == "LEFT" || alignment == "RIGHT" || alignment == "CENTER";
  if (length > width) {
    if (!named) return text;
    if (width <= 0) return std::string();
    std::size_t w = static_cast<std::size_t>(width);
    if (alignment == "LEFT") return text.substr(text.size() - w);
    if (alignment == "RIGHT") return text.substr(0, w);
    std::size_t start = static_cast<std::size_t>((length - width + 1) / 2 - 1);
    return text.substr(start, w);
  }
  std::int64_t capped = width < static_cast<std::int64_t>(limit)
                            ? width
                            : static_cast<std::int64_t>(limit);
  std::size_t fill =
      capped > length ? static_cast<std::size_t>(capped - length) : 0;
  if (alignment == "LEFT") return std::string(fill, pad) + text;
  if (alignment == "RIGHT") return text + std::string(fill, pad);
  std::size_t before = fill / 2;
  return std::string(before, pad) + text + std::string(fill - before, pad);
}

std::string NumFunction(const std::string& arguments) {
  std::vector<std::string> words = ArgumentWords(arguments);
  std::string separator = Word(words, 0);
  std::string number = Word(words, 1);
  if (!AllDigits(number) || separator.empty()) return number;
  // Insert from the right so that the positions still to come stay valid.
  for (std::size_t pos = number.size(); pos > 3;) {
    pos -= 3;
    number.insert(pos, 1, separator[0]);
  }
  return number;
}

std::string SizeFunction(const std::string& arguments) {
  static const char* const kUnits[] = {"b", "Kb", "Mb", "Gb"};
  constexpr int kLastUnit = 3;
  std::vector<std::string> words = ArgumentWords(arguments);
  std::int64_t width = TextToInt(Word(words, 0));
  std::int64_t count = TextToWideInt(Word(words, 1));
  std::string result;
  for (int unit = 1; unit <= kLastUnit; ++unit) {
    count /= 1024;
    result = std::to_string(count) + kUnits[unit];
    std::int64_t difference = static_cast<std::int64_t>(result.size()) - width;
    if ((difference >= -1 && difference <= 1) || count == 0) break;
  }
  return result;
}

}  // namespace zavo
