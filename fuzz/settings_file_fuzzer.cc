// Fuzzes the settings file reader with arbitrary file contents.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/config_lines.h"
#include "config/settings_file.h"
#include "fuzz_support.h"
#include "text/text_utils.h"

namespace {

const char* const kKeys[] = {"Recurse",   "Nested",   "KeepTime", "StopOnError",
                             "KillExist", "Archives", "AddFile",  "DeleteFile",
                             "Scan",      "FileList", "scan",     "",
                             "@DefineX"};
constexpr int kKeyCount = sizeof(kKeys) / sizeof(kKeys[0]);

struct Result {
  std::vector<std::vector<std::string>> values;
  std::vector<int> bad_lines;
};

Result Read(const std::string& path) {
  zavo::SettingsFile settings;
  for (const char* key : kKeys) settings.AddKey(key);
  zavo::Status loaded = settings.Load(path);
  ZAVO_FUZZ_CHECK(loaded.ok(), loaded.message());
  Result result;
  for (int key = 0; key <= kKeyCount + 1; ++key) {
    std::vector<std::string> values;
    for (int i = 0; i <= settings.ValueCount(key) + 1; ++i) {
      std::string value = settings.Value(key, i);
      bool in_range = i >= 1 && i <= settings.ValueCount(key);
      ZAVO_FUZZ_CHECK(in_range != value.empty(), value);
      if (in_range) values.push_back(value);
    }
    result.values.push_back(values);
  }
  for (int i = 0; i <= settings.BadLineCount() + 1; ++i) {
    int line = settings.BadLine(i);
    bool in_range = i >= 1 && i <= settings.BadLineCount();
    ZAVO_FUZZ_CHECK(in_range == (line != -1), std::to_string(line));
    if (in_range) result.bad_lines.push_back(line);
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zavo;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string path = ScratchPath("zavo.ctl");
  WriteScratch(path, text);
  Result result = Read(path);

  // Keys that can never match: a duplicate, an empty name, one with "@".
  ZAVO_FUZZ_CHECK(result.values[11].empty(), "duplicate key got a value");
  ZAVO_FUZZ_CHECK(result.values[12].empty(), "empty key got a value");
  for (const std::vector<std::string>& values : result.values) {
    for (const std::string& value : values) {
      ZAVO_FUZZ_CHECK(!value.empty() && value.size() <= kMaxText, value);
      ZAVO_FUZZ_CHECK(value.find_first_of("\r\n") == std::string::npos, value);
      // Quotes go only in pairs, from a value written between them.
      ZAVO_FUZZ_CHECK(
          value.size() < 2 || value.front() != '"' || value.back() != '"',
          value);
    }
  }
  int lines = static_cast<int>(SplitConfigLines(text).size());
  int previous = 0;
  for (int line : result.bad_lines) {
    ZAVO_FUZZ_CHECK(line > previous && line <= lines, std::to_string(line));
    previous = line;
  }

  // Reading is deterministic.
  Result again = Read(path);
  ZAVO_FUZZ_CHECK(again.values == result.values, "values differ");
  ZAVO_FUZZ_CHECK(again.bad_lines == result.bad_lines, "bad lines differ");
  return 0;
}
