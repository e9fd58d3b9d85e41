#include "text/text_utils.h"

#include <cmath>
#include <cstdint>

namespace zavo {

unsigned char UpCaseChar(unsigned char c) {
  if (c >= 0x61 && c <= 0x7A) return static_cast<unsigned char>(c - 0x20);
  if (c >= 0xA0 && c <= 0xAF) return static_cast<unsigned char>(c - 0x20);
  if (c >= 0xE0 && c <= 0xEF) return static_cast<unsigned char>(c - 0x50);
  if (c == 0xF1) return 0xF0;
  return c;
}

unsigned char LoCaseChar(unsigned char c) {
  if (c >= 0x41 && c <= 0x5A) return static_cast<unsigned char>(c + 0x20);
  if (c >= 0x80 && c <= 0x8F) return static_cast<unsigned char>(c + 0x20);
  if (c >= 0x90 && c <= 0x9F) return static_cast<unsigned char>(c + 0x50);
  if (c == 0xF0) return 0xF1;
  return c;
}

std::string UpperText(const std::string& text) {
  std::string result(text);
  for (char& c : result) {
    c = static_cast<char>(UpCaseChar(static_cast<unsigned char>(c)));
  }
  return result;
}

int CompareBytes(const std::string& a, const std::string& b) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int CompareNoCase(const std::string& a, const std::string& b) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = UpCaseChar(static_cast<unsigned char>(a[i]));
    unsigned char y = UpCaseChar(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

bool SamePath(const std::string& a, const std::string& b) {
  return kNamesIgnoreCase ? EqualNoCase(a, b) : a == b;
}

std::string IntToText(std::int32_t n) {
  // Work in 64 bits so that the most negative value has a positive partner.
  std::int64_t v = n;
  bool negative = v < 0;
  if (negative) v = -v;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + v % 10));
    v /= 10;
  } while (v != 0);
  if (negative) digits.insert(digits.begin(), '-');
  return digits;
}

std::int32_t TextToInt(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::uint32_t value = 0;
  std::size_t digits = 0;
  if (i < text.size() && text[i] == '$') {
    ++i;
    for (; i < text.size(); ++i, ++digits) {
      char c = text[i];
      int d;
      if (c >= '0' && c <= '9') {
        d = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        d = c - 'A' + 10;
      } else {
        return 0;
      }
      if (digits == 8) return 0;
      value = (value << 4) | static_cast<std::uint32_t>(d);
    }
  } else {
    std::uint64_t decimal = 0;
    for (; i < text.size(); ++i, ++digits) {
      char c = text[i];
      if (c < '0' || c > '9') return 0;
      decimal = decimal * 10 + static_cast<std::uint64_t>(c - '0');
      if (decimal > 0x7FFFFFFFu) return 0;
    }
    value = static_cast<std::uint32_t>(decimal);
  }
  if (digits == 0) return 0;
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

long double RealPower(long double x, long double y) {
  long double whole;
  if (std::modf(y / 2, &whole) == 0) x = std::fabs(x);
  if (y == 0) return 1;
  if (x == 0) return 0;
  long double t = std::exp(std::fabs(y) * std::log(std::fabs(x)));
  if (y < 0) t = 1 / t;
  if (x < 0) t = -t;
  // Round to a 40-bit mantissa (a hidden bit and 39 stored ones), which
  // makes powers of whole numbers exact again after exp and log.
  int exponent;
  long double mantissa = std::frexp(t, &exponent);
  mantissa = std::round(std::ldexp(mantissa, 40));
  return std::ldexp(mantissa, exponent - 40);
}

std::int32_t ParseNumber(const std::string& text, int base) {
  if (base < 2 || base > 36) return 0;
  std::uint32_t sum = 0;
  std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char c = LoCaseChar(static_cast<unsigned char>(text[i]));
    int digit = 0;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'z') {
      digit = c - 'a' + 10;
    }
    if (digit >= base) digit = 0;
    std::size_t position = n - 1 - i;
    if (digit == 0) continue;
    // Powers past 2^63 cannot be held; their digits fall outside the 32-bit
    // result anyway unless the base is a power of two, and those powers
    // reduce to 0 modulo 2^32 long before.
    long double power = RealPower(base, static_cast<long double>(position));
    std::uint32_t p32 = 0;
    if (power < 18446744073709551616.0L) {
      p32 = static_cast<std::uint32_t>(static_cast<std::uint64_t>(power));
    }
    sum += static_cast<std::uint32_t>(digit) * p32;
  }
  return static_cast<std::int32_t>(sum);
}

std::string NoTrailingBackslash(const std::string& text) {
  if (!text.empty() && text.back() == kPathSeparator) {
    return text.substr(0, text.size() - 1);
  }
  return text;
}

namespace {

bool IsSeparator(char c) {
  return c == kPathSeparator || (kHasDrives && c == ':');
}

// Position of the last separator (or drive colon), npos when none.
std::size_t LastSeparator(const std::string& path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1])) return i - 1;
  }
  return std::string::npos;
}

}  // namespace

std::string PathFileName(const std::string& path) {
  std::size_t p = LastSeparator(path);
  if (p == std::string::npos) return path;
  return path.substr(p + 1);
}

std::string PathFolder(const std::string& path) {
  std::size_t p = LastSeparator(path);
  if (p == std::string::npos) return std::string();
  if (p == 0) return path.substr(0, 1);
  if (path[p] == ':') return path.substr(0, p + 1);
  if (kHasDrives && path[p - 1] == ':') return path.substr(0, p + 1);
  return path.substr(0, p);
}

std::string WithBackslash(const std::string& path) {
  if (path.empty() || IsSeparator(path.back())) return path;
  return path + kPathSeparator;
}

bool HasExtension(const std::string& path, std::size_t* dot) {
  std::size_t d = path.rfind('.');
  if (d == std::string::npos) return false;
  if (path.find(kPathSeparator, d) != std::string::npos) return false;
  if (dot != nullptr) *dot = d;
  return true;
}

std::string PathExtension(const std::string& path) {
  std::size_t dot;
  if (!HasExtension(path, &dot)) return std::string();
  return path.substr(dot + 1);
}

std::string WithExtension(const std::string& path, const std::string& ext) {
  std::size_t dot;
  if (HasExtension(path, &dot)) return path.substr(0, dot + 1) + ext;
  if (path.empty()) return std::string();
  return path + "." + ext;
}

std::string TrimBlanks(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

std::string FirstLineEnd(const std::string& data, const std::string& fallback) {
  std::size_t end = data.find_first_of("\r\n");
  if (end == std::string::npos) return fallback;
  char partner = data[end] == '\r' ? '\n' : '\r';
  std::size_t length =
      end + 1 < data.size() && data[end + 1] == partner ? 2 : 1;
  return data.substr(end, length);
}

CivilDate CivilFromDays(std::int64_t days) {
  // H. Hinnant's days_from_civil, inverted.
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe =
      (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  CivilDate date;
  date.day = doy - (153 * mp + 2) / 5 + 1;
  date.month = mp < 10 ? mp + 3 : mp - 9;
  date.year = yoe + era * 400 + (date.month <= 2 ? 1 : 0);
  return date;
}

}  // namespace zavo
