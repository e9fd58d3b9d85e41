// Fuzzes the number readers TextToInt and ParseNumber against plain
// reference readers written from their contracts.
//
// Input: one byte that picks the base for ParseNumber, then the text. Checked:
// TextToInt accepts exactly the texts " *[+-]?(\$hex{1,8}|dec)" with a
// decimal below 2^31 and gives their value, every other text 0; IntToText
// reads back; ParseNumber gives the digit sum modulo 2^32 whenever every
// power of the base stays below 2^31, and at any length for the bases that
// are powers of two (hexadecimal ident bytes); other bases only must not
// misbehave.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "text/text_utils.h"

namespace {

int DigitValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return -1;
}

std::int32_t ReferenceTextToInt(const std::string& text) {
  std::size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return 0;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  std::uint64_t value = 0;
  std::size_t digits = 0;
  if (i < text.size() && text[i] == '$') {
    for (++i; i < text.size(); ++i, ++digits) {
      int d = DigitValue(static_cast<unsigned char>(text[i]));
      if (d < 0 || d > 15 || digits == 8) return 0;
      value = value * 16 + static_cast<unsigned>(d);
    }
  } else {
    for (; i < text.size(); ++i, ++digits) {
      int d = DigitValue(static_cast<unsigned char>(text[i]));
      if (d < 0 || d > 9) return 0;
      value = value * 10 + static_cast<unsigned>(d);
      if (value >= 0x80000000u) return 0;
    }
  }
  if (digits == 0) return 0;
  std::uint32_t pattern = static_cast<std::uint32_t>(value);
  if (negative) pattern = 0u - pattern;
  return static_cast<std::int32_t>(pattern);
}

// The digit sum with exact powers; false when a power the text needs
// cannot be held.
bool ReferenceParseNumber(const std::string& text, int base,
                          std::uint32_t* sum) {
  *sum = 0;
  std::uint64_t power = 1;
  for (std::size_t i = text.size(); i-- > 0;) {
    int d = DigitValue(static_cast<unsigned char>(text[i]));
    if (d < 0 || d >= base) d = 0;
    *sum += static_cast<std::uint32_t>(d) * static_cast<std::uint32_t>(power);
    if (i == 0) break;
    power *= static_cast<std::uint64_t>(base);
    bool power_of_two = (base & (base - 1)) == 0;
    if (power_of_two) {
      // Past 2^32 every further digit adds a multiple of 2^32.
      if (power >= (1ull << 32)) power = 0;
    } else if (power >= 0x80000000u) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zavo;
  if (size == 0) return 0;
  const int base = 2 + data[0] % 35;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::int32_t value = TextToInt(text);
  ZAVO_FUZZ_CHECK(value == ReferenceTextToInt(text), text);
  if (value != INT32_MIN) {
    ZAVO_FUZZ_CHECK(TextToInt(IntToText(value)) == value, IntToText(value));
  }

  std::uint32_t expected;
  if (ReferenceParseNumber(text, base, &expected)) {
    const std::int32_t got = ParseNumber(text, base);
    ZAVO_FUZZ_CHECK(static_cast<std::uint32_t>(got) == expected,
                    text + " base " + std::to_string(base));
  }
  // Bases outside 2..36 settle no value; they must only be safe.
  (void)ParseNumber(text, static_cast<std::int8_t>(data[0]));
  return 0;
}
