// Which archiver definition a file belongs to, from its name and its first
// bytes: the decision alone, with no file system and no definition objects,
// so that any holder of a file (a path, a held descriptor) can ask it.

#ifndef ZAVO_ARCHIVERS_RECOGNITION_H_
#define ZAVO_ARCHIVERS_RECOGNITION_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zavo {

// What recognition uses of one definition of the archivers file.
struct RecognitionRule {
  // "zip", or a whole extension such as "tar.gz"; empty for none.
  std::string extension;
  // The identifying bytes ("ident") and where they stand; no bytes for none.
  std::int32_t ident_offset = 0;
  std::string ident_bytes;
  // Key "anyextension": whether the bytes may claim a file whose name bears
  // no definition's extension ("no" for bytes that documents and packages
  // begin with too). Such bytes still tell which kind a file named as an
  // archive really is.
  bool any_extension = true;
};

// Reads the `count` bytes at `offset` of the file into *bytes. False when the
// file ends before the last of them or cannot be read: no match.
using HeadReader = std::function<bool(std::int32_t offset, std::size_t count,
                                      std::string* bytes)>;

struct Recognition {
  // The index of the definition to use, or -1: not an archive.
  std::int32_t definition = -1;
  // The definition whose extension the name bears (the longest extension,
  // the later definition at equal lengths), or -1. It differs from
  // `definition` when the bytes call for another kind.
  std::int32_t named = -1;
  // Whether the bytes decided.
  bool by_bytes = false;
};

// Whether the name (a path's last part, or a whole path) ends in "." and the
// extension, letter case ignored, with something before that dot: "x.tar.gz"
// bears "tar.gz" and "gz", ".zip" bears "zip", "tar.gz" bears only "gz". An
// empty extension is borne by nothing.
bool NameBearsExtension(const std::string& name, const std::string& extension);

// Decides which of `rules` (in archivers-file order) `name` belongs to:
// - Bytes win over names. Of the definitions whose bytes fit, the one whose
//   extension the name bears wins (the longest extension, the later at equal
//   lengths), else the last: a .arj holding zip bytes is a zip, a .lha
//   holding lzh bytes is the "lha" definition when both share the bytes.
// - Bytes count only for a name that bears some definition's extension,
//   unless `any_extension` (the settings key AnyExtension) lets them claim
//   any name; even then only rules with `any_extension` do.
// - Without fitting bytes, the name decides (named).
// `read` is asked only for rules with bytes, and only when the bytes can
// count: a name that bears no extension is not read at all without
// `any_extension`. Whether the file is a regular file is the caller's
// question, asked first.
Recognition Recognise(const std::vector<RecognitionRule>& rules,
                      const std::string& name, bool any_extension,
                      const HeadReader& read);

}  // namespace zavo

#endif  // ZAVO_ARCHIVERS_RECOGNITION_H_
