// Volume sets: the parts of one archive split over several files, told
// apart by the naming that the archivers file's "volumes" key describes and
// by the marks some formats write into each volume's header. Pure
// functions: the caller lists the folder and reads the heads.
//
// The "volumes" value: namings separated by "|"; a naming is forms separated
// by blanks, in volume order. In a form, "*" stands for the set's name (the
// same in every volume) and one "{FIRST..LAST}" for the volume's number,
// written zero-padded to FIRST's width (a FIRST of one digit: any width, the
// same in the whole set); without LAST the range runs as far as there are
// volumes. Numbers have at most five digits. A form without a range is one
// volume. A leading ">" marks the form that names the set and is handed to the
// extractor; without one, the first volume does. Examples: "*.part{1..}.rar |
// *.rar *.r{00..99}",
// "*.z{01..} >*.zip", "*.7z.{001..}", "*.arj *.a{01..99} *.{100..}".

#ifndef ZAVO_ARCHIVERS_VOLUME_SETS_H_
#define ZAVO_ARCHIVERS_VOLUME_SETS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text/status.h"

namespace zavo {

// One form of a naming.
struct VolumeForm {
  std::string before;  // the text before "*"
  std::string middle;  // between "*" and the range (all after "*" without one)
  std::string after;   // after the range
  bool numbered = false;
  std::uint32_t first = 0;
  std::uint32_t last = 0;  // 0: open
  std::size_t width = 1;   // FIRST's digits; 1: any width
};

struct VolumeNaming {
  std::vector<VolumeForm> forms;
  std::size_t names_set = 0;  // the form marked ">" (or 0)
};

// Reads a "volumes" value. Fails, naming the fault ("form [x.{1..}] needs
// one \"*\""), for a form without "*" or with a malformed or second range,
// or a naming with no form; *namings then holds what was read before it. An
// empty value gives no namings.
Status ParseVolumeNamings(const std::string& value,
                          std::vector<VolumeNaming>* namings);

enum class VolumeRole {
  kNone,   // no volume of a set: convert it as it is
  kFirst,  // names the set: convert the set through it
  kLater,  // part of a set that another file names: never convert it alone
};

enum class VolumeSetEnd {
  kComplete,  // every volume up to a closing one (x.zip) is there
  kUnknown,   // no gap, but the names cannot tell whether more should follow
  kMissing,   // a volume is missing (see VolumeSet::missing)
};

struct VolumeSet {
  VolumeRole role = VolumeRole::kNone;
  // The "*" part: "x" for x.part1.rar, x.7z.001 or x.z01.
  std::string set_name;
  // The volumes found, as the folder names them, in volume order.
  std::vector<std::string> volumes;
  // The name that names the set and goes to the extractor (it may be
  // missing, then it is in `missing` too).
  std::string names_set;
  VolumeSetEnd end = VolumeSetEnd::kUnknown;
  // The names of the volumes missing before the last one found, and a
  // closing volume that is not there, as the naming writes them (the first
  // 100 of them).
  std::vector<std::string> missing;
};

// What `candidate` (a file name without folder) is in the folder whose
// entries are `folder_names` (file names; the candidate among them or not),
// by `namings` (tried in order; the first that makes a set of the candidate
// decides). Names compare ignoring letter case. A candidate that only a
// form without a range fits (x.rar, x.zip, x.arj) is a volume only when
// another volume of its naming is there; one in a numbered form always is.
VolumeSet FindVolumeSet(const std::vector<VolumeNaming>& namings,
                        const std::string& candidate,
                        const std::vector<std::string>& folder_names);

// The set names ("*") that `name` has under the forms of `naming`, one per
// form it fits (none: it is no volume of that naming). Names whose set
// names are equal ignoring case are all FindVolumeSet looks at, so a caller
// with many names can hand it those alone.
std::vector<std::string> VolumeSetNames(const VolumeNaming& naming,
                                        const std::string& name);

// What a volume's own header says, where the format writes it: RAR 4 and 5
// mark every volume and tell the first; ARJ marks each volume that goes on
// in the next file.
struct VolumeMarks {
  bool known = false;   // a RAR 4, RAR 5 or ARJ header was read
  bool volume = false;  // part of a set (RAR), or goes on (ARJ)
  bool first = false;   // RAR: the first volume (RAR 4 before 3.0 never says)
  bool continues = false;  // ARJ: the next volume holds the rest
  // ARJ: a volume that does not go on is the last of its set (or a whole
  // archive); RAR tells no last volume in its first bytes.
  bool tells_last = false;
};

// Reads the marks from the first bytes of a file (32 are enough); unknown
// bytes give known == false.
VolumeMarks ReadVolumeMarks(const std::string& head);

// Why the heads of a set's volumes contradict the set that their names
// make, or empty when they agree or tell nothing (unknown marks are passed
// over). `marks` holds one entry per name of `volumes`, in volume order. In
// a set of several volumes every RAR volume is marked a volume and none but
// the first is marked first; every ARJ volume goes on in the next, and the
// last does not. A RAR file marked whole is a set only alone; one that
// says so among several, or an ARJ set that stops early, would be read in
// part and its other volumes lost with it.
std::string VolumeMarksDisagree(const std::vector<std::string>& volumes,
                                const std::vector<VolumeMarks>& marks);

// Why the file `name`, which no naming puts in a set, is one volume of a
// set by its own head (a RAR volume, an ARJ volume that goes on), or empty:
// its other volumes are not there under any name zavo knows.
std::string LoneVolumeMark(const std::string& name, const VolumeMarks& marks);

}  // namespace zavo

#endif  // ZAVO_ARCHIVERS_VOLUME_SETS_H_
