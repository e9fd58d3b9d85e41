// The reader of the keyword settings file: registered keys whose values are
// gathered from lines "Key value", with ";" comments and "@Define" macros.

#ifndef ZAVO_CONFIG_SETTINGS_FILE_H_
#define ZAVO_CONFIG_SETTINGS_FILE_H_

#include <string>
#include <vector>

#include "config/macro_engine.h"
#include "text/status.h"

namespace zavo {

// The reader knows nothing of what its keys mean and keeps every value as
// text. Key and value indexes are 1-based. Macros defined by "@Define" lines
// stay in this reader; they never reach command templates.
class SettingsFile {
 public:
  // An empty reader: no keys, no values, no macros; text functions off, so
  // that "@PAD{...}" in a value stays as written.
  SettingsFile();

  // Appends a key; its index is the number of keys registered so far. A
  // second key of the same name is accepted but never receives a value.
  void AddKey(const std::string& name);

  // Reads the file at path. Fails when no key is registered, when the file
  // does not exist (missing()), or when it cannot be read to its end; the
  // values and macros are then as they were before the call. Succeeds
  // however many bad lines were found. The bad lines of an earlier call
  // are forgotten; its values stay and the new ones follow them.
  Status Load(const std::string& path);

  // The number of values of key `key`; 0 for an index out of range.
  int ValueCount(int key) const;
  // Value `index` of key `key`: 1 to 255 characters, trimmed, without
  // enclosing double quotes. Empty when either index is out of range.
  std::string Value(int key, int index) const;

  // The 1-based numbers of the lines that fit no form (or would have been
  // longer than 255 characters), in file order. BadLine(i) for i in
  // 1..BadLineCount(); -1 for any other i.
  int BadLineCount() const;
  int BadLine(int i) const;

  MacroEngine& macros() { return macros_; }

 private:
  struct SettingKey {
    std::string name;
    std::vector<std::string> values;
  };

  // Returns false when the line is a bad line.
  bool ProcessLine(const std::string& raw);
  bool DefineLine(const std::string& rest);
  bool KeyLine(SettingKey* key, const std::string& rest);
  SettingKey* FindKey(const std::string& word);

  std::vector<SettingKey> keys_;
  std::vector<int> bad_lines_;
  MacroEngine macros_;
};

}  // namespace zavo

#endif  // ZAVO_CONFIG_SETTINGS_FILE_H_
