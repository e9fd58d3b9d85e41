// Small operations on texts, characters, numbers and paths that every
// subsystem uses. Texts are std::string of single-byte console characters;
// an empty string stands for an absent text.

#ifndef ZAVO_TEXT_TEXT_UTILS_H_
#define ZAVO_TEXT_TEXT_UTILS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/os.h"

namespace zavo {

// The longest text the file formats carry: a settings line, an archivers-file
// line, a settings value. Paths and commands are not limited by it.
constexpr std::size_t kMaxText = 255;

// Case mapping of code page 866: Latin a..z, the Cyrillic letters and io.
// Every other character is returned unchanged.
unsigned char UpCaseChar(unsigned char c);
unsigned char LoCaseChar(unsigned char c);
std::string UpperText(const std::string& text);

// Compares texts as unsigned bytes; a prefix sorts first. Returns <0, 0, >0.
int CompareBytes(const std::string& a, const std::string& b);
// The same on the UpperText forms of both texts.
int CompareNoCase(const std::string& a, const std::string& b);
bool EqualNoCase(const std::string& a, const std::string& b);

// Whether two paths name the same file: UpperText-equal on Win32, where the
// file system ignores letter case; byte-equal on POSIX.
bool SamePath(const std::string& a, const std::string& b);

// The digits of n in decimal, with "-" when negative.
std::string IntToText(std::int32_t n);

// Reads a 32-bit signed decimal number (leading blanks and one sign allowed,
// "$" introduces up to eight hexadecimal digits). Any malformed text, a
// trailing character included, or a decimal overflow gives 0.
std::int32_t TextToInt(const std::string& text);

// Reads digits of the base (2..36) as a sum of digit * base^position; sums
// wrap modulo 2^32. Characters that are not digits of the base, and bases
// outside 2..36, count as digit 0 (the value for them is not settled).
std::int32_t ParseNumber(const std::string& text, int base);

// x raised to y, rounded to the precision of a 40-bit mantissa, so that whole
// powers below 2^31 are exact.
long double RealPower(long double x, long double y);

// The text less one final path separator.
std::string NoTrailingBackslash(const std::string& text);

// Path parts, with the platform's separator (and drive colon on Win32).
// PathFileName: the text after the last separator; the whole path without one.
std::string PathFileName(const std::string& path);
// PathFolder: the folder part without its final separator, except that a root
// ("/", "C:\") keeps it and a bare drive ("C:") is returned as it is.
std::string PathFolder(const std::string& path);
// WithBackslash: the path followed by a separator unless empty or already
// ending in one (or in a drive colon).
std::string WithBackslash(const std::string& path);
// HasExtension: true when the path has a "." after its last separator; *dot
// then receives the dot's 0-based position.
bool HasExtension(const std::string& path, std::size_t* dot = nullptr);
std::string PathExtension(const std::string& path);
// WithExtension: the path with its extension replaced by ext (no dot), or
// ".ext" appended when it has none; the empty path stays empty.
std::string WithExtension(const std::string& path, const std::string& ext);

// Trims blanks and tabs at both ends.
std::string TrimBlanks(const std::string& text);

// The line end that ends the first line of `data`, as the line readers see
// it: "\r\n", "\n\r", "\r" or "\n"; `fallback` when data holds none.
// Files zavo rewrites keep the line end they were read with.
std::string FirstLineEnd(const std::string& data, const std::string& fallback);

// The civil (proleptic Gregorian) date of a day counted from 1970-01-01,
// for any count: C's gmtime is neither thread-safe nor the same everywhere,
// and not every time_t fits it.
struct CivilDate {
  std::int64_t year;
  std::int64_t month;  // 1 to 12
  std::int64_t day;    // 1 to 31
};
CivilDate CivilFromDays(std::int64_t days);

}  // namespace zavo

#endif  // ZAVO_TEXT_TEXT_UTILS_H_
