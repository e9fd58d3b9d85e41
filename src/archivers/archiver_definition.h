// One kind of archive as the archivers file describes it: how an archive of
// that kind is recognised, and the command templates that extract, pack and
// test it.

#ifndef ZAVO_ARCHIVERS_ARCHIVER_DEFINITION_H_
#define ZAVO_ARCHIVERS_ARCHIVER_DEFINITION_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "archivers/volume_sets.h"
#include "platform/dir_handle.h"

namespace zavo {

// Decodes an "ident" value: an offset, a comma and hexadecimal bytes, such as
// "0,504B0304". Words are split at commas (runs of commas count as one, and
// leading commas are skipped); the first word, trimmed, is read as a decimal
// number (anything else gives 0); the second, trimmed, is read two digits at
// a time (a last single digit is a byte of its own), and an empty or missing
// second word gives the one byte 0x00. Later words are ignored. An empty
// text gives offset 0 and no bytes.
void DecodeIdent(const std::string& ident, std::int32_t* offset,
                 std::string* bytes);

// What recognition learns about one file, learnt once however many
// definitions ask: whether it is a regular file, and its first bytes. The
// file is the one the caller holds open; nothing is looked up by name. A
// definition whose bytes lie beyond the first `head_size` bytes reads them
// on its own.
class FileProbe {
 public:
  // `name` is the file's name, whose extension the definitions without
  // bytes go by; `file` (not owned, may be null for a name alone) is the
  // file itself, opened for reading.
  FileProbe(std::string name, HeldFile* file, std::size_t head_size)
      : name_(std::move(name)), file_(file), head_size_(head_size) {}

  const std::string& name() const { return name_; }
  // PathExtension of the name.
  const std::string& extension();

  // Whether the held file is a regular file: a folder, a pipe, a device or
  // no file at all is not.
  bool IsRegularFile();

  // Reads the `count` bytes at `offset` into *bytes. False when the file
  // ends before the last of them or cannot be read.
  bool ReadAt(std::int32_t offset, std::size_t count, std::string* bytes);

 private:
  std::string name_;
  HeldFile* file_;
  std::size_t head_size_;
  int regular_ = -1;  // unknown until asked
  bool extension_known_ = false;
  std::string extension_;
  bool head_loaded_ = false;
  std::string head_;
};

class ArchiverDefinition {
 public:
  // Keeps the texts as given (an empty text is an absent field) and decodes
  // `ident` with DecodeIdent. Nothing is validated.
  ArchiverDefinition(const std::string& extension, const std::string& ident,
                     const std::string& extract, const std::string& add,
                     const std::string& test);
  virtual ~ArchiverDefinition() = default;

  // Whether the file `probe` looks at is an archive of this kind. A
  // definition without ident bytes compares the extension (letter case
  // ignored): a single extension ("zip") with the name's own, a whole
  // extension holding a dot ("tar.gz") with the end of the name, so that
  // "x.tar.gz" matches "tar.gz" and "gz" but not "tar". One with ident
  // bytes compares the bytes at the offset and ignores the extension; one
  // with neither matches nothing. Only regular files match, and only when
  // they do not end before the last ident byte; a negative offset matches
  // nothing. The file is only read.
  bool Matches(FileProbe* probe) const;

  // Whether the definition recognises files by a whole extension: no ident
  // bytes, and an extension holding a dot.
  bool HasWholeExtension() const;

  // The name a file that this definition recognised gets with the
  // extension `new_extension`: a whole extension is replaced as a whole
  // ("x.tar.gz" with "7z" gives "x.7z"); otherwise WithExtension.
  std::string RenamedPath(const std::string& path,
                          const std::string& new_extension) const;

  // The name of the archivers-file section it came from ("zip"), shown to
  // the user; empty for a definition made otherwise.
  const std::string& name() const { return name_; }
  void set_name(const std::string& name) { name_ = name; }

  const std::string& extension() const { return extension_; }
  // Key "anyextension" (RecognitionRule::any_extension): true unless the
  // archivers file says "no".
  bool any_extension() const { return any_extension_; }
  void set_any_extension(bool any) { any_extension_ = any; }
  const std::string& extract_command() const { return extract_command_; }
  const std::string& add_command() const { return add_command_; }
  const std::string& test_command() const { return test_command_; }
  // The optional "list" template: a command that prints the archive's
  // members as `lsar -j` does, for kinds that no reader in the process
  // knows. Empty for none.
  const std::string& list_command() const { return list_command_; }
  void set_list_command(const std::string& list) { list_command_ = list; }
  // Key "volumes": how the volumes of this kind's sets are named (none: the
  // kind has no sets zavo knows of).
  const std::vector<VolumeNaming>& volume_namings() const {
    return volume_namings_;
  }
  void set_volume_namings(std::vector<VolumeNaming> namings) {
    volume_namings_ = std::move(namings);
  }
  // Key "extractset": the template that extracts a whole set, for a kind
  // whose "extract" reads single archives only; empty: "extract" reads sets
  // too.
  const std::string& extract_set_command() const {
    return extract_set_command_;
  }
  void set_extract_set_command(const std::string& command) {
    extract_set_command_ = command;
  }
  std::int32_t ident_offset() const { return ident_offset_; }
  // One character per byte, in file order; empty when there is no ident.
  const std::string& ident_bytes() const { return ident_bytes_; }

 private:
  std::string name_;
  std::string extension_;
  std::string extract_command_;
  std::string add_command_;
  std::string test_command_;
  std::string list_command_;
  std::vector<VolumeNaming> volume_namings_;
  std::string extract_set_command_;
  std::int32_t ident_offset_ = 0;
  std::string ident_bytes_;
  bool any_extension_ = true;
};

}  // namespace zavo

#endif  // ZAVO_ARCHIVERS_ARCHIVER_DEFINITION_H_
