#include "archivers/volume_sets.h"

#include <algorithm>
#include <map>

#include "text/text_utils.h"

namespace zavo {

namespace {

constexpr std::uint32_t kMaxNumber = 99999;
constexpr std::size_t kMaxMissingNames = 100;

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> SplitAt(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

bool StartsNoCase(const std::string& text, const std::string& start) {
  return text.size() >= start.size() &&
         EqualNoCase(text.substr(0, start.size()), start);
}

bool EndsNoCase(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         EqualNoCase(text.substr(text.size() - end.size()), end);
}

// A number as a form writes it: zero-padded to `width`.
std::string Padded(std::uint32_t number, std::size_t width) {
  std::string digits = std::to_string(number);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

Status ParseForm(std::string text, VolumeForm* form, bool* names_set) {
  const std::string whole = text;
  *names_set = !text.empty() && text[0] == '>';
  if (*names_set) text.erase(0, 1);
  const std::size_t star = text.find('*');
  if (star == std::string::npos ||
      text.find('*', star + 1) != std::string::npos) {
    return Status::Error("form [" + whole + "] needs one \"*\"");
  }
  form->before = text.substr(0, star);
  const std::string rest = text.substr(star + 1);
  const std::size_t open = rest.find('{');
  if (open == std::string::npos) {
    form->middle = rest;
    if (rest.find('}') == std::string::npos) return Status();
  } else {
    const std::size_t close = rest.find('}', open);
    const std::size_t dots = rest.find("..", open);
    if (close != std::string::npos && dots != std::string::npos &&
        dots < close && rest.find('{', open + 1) == std::string::npos) {
      const std::string first = rest.substr(open + 1, dots - open - 1);
      const std::string last = rest.substr(dots + 2, close - dots - 2);
      if (AllDigits(first) && (last.empty() || AllDigits(last))) {
        form->middle = rest.substr(0, open);
        form->after = rest.substr(close + 1);
        form->numbered = true;
        form->first = static_cast<std::uint32_t>(TextToInt(first));
        form->last =
            last.empty() ? 0 : static_cast<std::uint32_t>(TextToInt(last));
        form->width = first.size();
        if (form->last == 0 || form->last >= form->first) return Status();
      }
    }
  }
  return Status::Error("form [" + whole + "] has a wrong {FIRST..LAST}");
}

// How `name` fits `form`: the set's name, the number and its digits.
struct FormMatch {
  std::string star;
  std::uint32_t number = 0;
  std::size_t digits = 0;
};

bool MatchForm(const VolumeForm& form, const std::string& name,
               FormMatch* match) {
  if (!StartsNoCase(name, form.before)) return false;
  std::string rest = name.substr(form.before.size());
  if (!EndsNoCase(rest, form.after)) return false;
  rest.erase(rest.size() - form.after.size());
  if (form.numbered) {
    std::size_t start = rest.size();
    while (start > 0 && rest[start - 1] >= '0' && rest[start - 1] <= '9') {
      --start;
    }
    const std::string digits = rest.substr(start);
    if (!AllDigits(digits)) return false;
    const std::uint32_t number = static_cast<std::uint32_t>(TextToInt(digits));
    // Written as the form pads it: "001" for {001..}, never "0001".
    if (form.width > 1 && digits != Padded(number, form.width)) return false;
    if (number < form.first || (form.last != 0 && number > form.last)) {
      return false;
    }
    match->number = number;
    match->digits = digits.size();
    rest.erase(start);
  }
  if (!EndsNoCase(rest, form.middle) || rest.size() == form.middle.size()) {
    return false;
  }
  match->star = rest.substr(0, rest.size() - form.middle.size());
  return true;
}

std::string VolumeName(const VolumeForm& form, const std::string& star,
                       std::uint32_t number, std::size_t width) {
  return form.before + star + form.middle +
         (form.numbered ? Padded(number, width) : std::string()) + form.after;
}

// The set that `naming` makes of the candidate; role kNone when none.
VolumeSet SetOf(const VolumeNaming& naming, const std::string& candidate,
                const std::vector<std::string>& names) {
  VolumeSet set;
  std::size_t candidate_form = naming.forms.size();
  FormMatch candidate_match;
  for (std::size_t f = 0; f < naming.forms.size(); ++f) {
    if (MatchForm(naming.forms[f], candidate, &candidate_match)) {
      candidate_form = f;
      break;
    }
  }
  if (candidate_form == naming.forms.size()) return set;
  const std::string& star = candidate_match.star;

  // Per form: the volumes found, by number, and the width the set writes.
  struct Found {
    std::map<std::uint32_t, std::string> by_number;
    std::size_t width = 1;
  };
  std::vector<Found> found(naming.forms.size());
  for (std::size_t f = 0; f < naming.forms.size(); ++f) {
    const VolumeForm& form = naming.forms[f];
    // A form of any width: the candidate's, else the first volume's, else
    // the narrowest there is.
    std::map<std::size_t, std::map<std::uint32_t, std::string>> by_width;
    for (const std::string& name : names) {
      FormMatch m;
      if (MatchForm(form, name, &m) && EqualNoCase(m.star, star)) {
        // Of two names for one volume, the one with the candidate's case.
        auto& slot = by_width[form.numbered ? m.digits : 0][m.number];
        if (slot.empty() || m.star == star) slot = name;
      }
    }
    if (by_width.empty()) continue;
    std::size_t width = by_width.begin()->first;
    if (form.numbered && form.width == 1) {
      for (const auto& group : by_width) {
        if (group.second.count(form.first) != 0) width = group.first;
      }
      if (f == candidate_form) width = candidate_match.digits;
    }
    for (const auto& group : by_width) {
      for (const auto& entry : group.second) {
        // Numbers wider than the set's width are written unpadded.
        if (!form.numbered || group.first == width ||
            (group.first > width &&
             std::to_string(entry.first).size() == group.first)) {
          found[f].by_number.insert(entry);
        }
      }
    }
    found[f].width = form.numbered ? std::max(width, form.width) : 0;
  }

  std::size_t count = 0;
  for (const Found& f : found) count += f.by_number.size();
  // x.rar, x.zip or x.arj alone is an archive like any other.
  if (!naming.forms[candidate_form].numbered && count < 2) return set;

  // The volumes in order, with the missing ones where they belong; a fixed
  // range is filled up when a later form has volumes, an open one runs to
  // its highest number found.
  std::size_t last_found_form = 0;
  for (std::size_t f = 0; f < found.size(); ++f) {
    if (!found[f].by_number.empty()) last_found_form = f;
  }
  // A slot names its volume only when it is there; the names of missing
  // ones are made when listed, so that one hostile "x.part99999.rar" costs
  // no more than a count.
  struct Slot {
    const std::string* found;  // null: missing
    std::size_t form;
    std::uint32_t number;
  };
  std::vector<Slot> slots;
  std::string names_set;
  for (std::size_t f = 0; f < naming.forms.size(); ++f) {
    const VolumeForm& form = naming.forms[f];
    const Found& here = found[f];
    if (!form.numbered) {
      slots.push_back(
          {here.by_number.empty() ? nullptr : &here.by_number.begin()->second,
           f, 0});
      if (f == naming.names_set) {
        names_set = slots.back().found != nullptr
                        ? *slots.back().found
                        : VolumeName(form, star, 0, 0);
      }
      continue;
    }
    // Signed: a range from 0 with nothing found has no volume at all.
    std::int64_t upper = static_cast<std::int64_t>(form.first) - 1;
    if (!here.by_number.empty()) upper = here.by_number.rbegin()->first;
    if (form.last != 0 && f < last_found_form) upper = form.last;
    for (std::uint32_t n = form.first;
         static_cast<std::int64_t>(n) <= upper && n <= kMaxNumber; ++n) {
      auto it = here.by_number.find(n);
      slots.push_back(
          {it != here.by_number.end() ? &it->second : nullptr, f, n});
      if (f == naming.names_set && n == form.first) {
        names_set = slots.back().found != nullptr
                        ? *slots.back().found
                        : VolumeName(form, star, n, here.width);
      }
    }
    if (f == naming.names_set && names_set.empty()) {
      names_set =
          VolumeName(form, star, form.first, std::max(form.width, here.width));
    }
  }
  std::size_t last_present = 0;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (slots[i].found != nullptr) last_present = i;
  }
  bool any_missing = false;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    const Slot& slot = slots[i];
    const VolumeForm& form = naming.forms[slot.form];
    if (slot.found != nullptr) {
      set.volumes.push_back(*slot.found);
    } else if (i < last_present || !form.numbered) {
      any_missing = true;
      if (set.missing.size() < kMaxMissingNames) {
        set.missing.push_back(
            VolumeName(form, star, slot.number,
                       std::max(form.width, found[slot.form].width)));
      }
    }
  }
  set.set_name = star;
  set.names_set = names_set;
  set.role = EqualNoCase(candidate, names_set) && candidate != "" &&
                     std::find(set.missing.begin(), set.missing.end(),
                               names_set) == set.missing.end()
                 ? VolumeRole::kFirst
                 : VolumeRole::kLater;
  if (any_missing) {
    set.end = VolumeSetEnd::kMissing;
  } else if (!slots.empty() && !naming.forms[slots.back().form].numbered) {
    set.end = VolumeSetEnd::kComplete;
  }
  return set;
}

// A RAR 5 variable-length number at *pos.
bool ReadVint(const std::string& bytes, std::size_t* pos,
              std::uint64_t* value) {
  *value = 0;
  for (int shift = 0; shift < 64 && *pos < bytes.size(); shift += 7) {
    const unsigned char c = static_cast<unsigned char>(bytes[(*pos)++]);
    *value |= static_cast<std::uint64_t>(c & 0x7F) << shift;
    if ((c & 0x80) == 0) return true;
  }
  return false;
}

}  // namespace

Status ParseVolumeNamings(const std::string& value,
                          std::vector<VolumeNaming>* namings) {
  namings->clear();
  for (const std::string& alternative : SplitAt(value, '|')) {
    VolumeNaming naming;
    std::string word;
    const std::string text = alternative + " ";
    for (char c : text) {
      if (c != ' ' && c != '\t') {
        word += c;
        continue;
      }
      if (word.empty()) continue;
      VolumeForm form;
      bool names_set = false;
      Status parsed = ParseForm(word, &form, &names_set);
      if (!parsed.ok()) return parsed;
      if (names_set) naming.names_set = naming.forms.size();
      naming.forms.push_back(form);
      word.clear();
    }
    if (naming.forms.empty()) {
      if (TrimBlanks(value).empty()) return Status();
      return Status::Error("a naming without forms in [" + value + "]");
    }
    namings->push_back(naming);
  }
  return Status();
}

VolumeSet FindVolumeSet(const std::vector<VolumeNaming>& namings,
                        const std::string& candidate,
                        const std::vector<std::string>& folder_names) {
  std::vector<std::string> names = folder_names;
  if (std::find(names.begin(), names.end(), candidate) == names.end()) {
    names.push_back(candidate);
  }
  for (const VolumeNaming& naming : namings) {
    VolumeSet set = SetOf(naming, candidate, names);
    if (set.role != VolumeRole::kNone) return set;
  }
  return VolumeSet();
}

std::vector<std::string> VolumeSetNames(const VolumeNaming& naming,
                                        const std::string& name) {
  std::vector<std::string> stars;
  for (const VolumeForm& form : naming.forms) {
    FormMatch match;
    if (MatchForm(form, name, &match)) stars.push_back(match.star);
  }
  return stars;
}

VolumeMarks ReadVolumeMarks(const std::string& head) {
  VolumeMarks marks;
  auto byte = [&head](std::size_t i) {
    return i < head.size() ? static_cast<unsigned char>(head[i]) : 0u;
  };
  if (head.compare(0, 7, std::string("Rar!\x1A\x07\x00", 7)) == 0) {
    // The archive header follows the mark: CRC, type 0x73, flags.
    if (byte(9) != 0x73) return marks;
    const unsigned flags = byte(10) | (byte(11) << 8);
    marks.known = true;
    marks.volume = (flags & 0x0001) != 0;
    marks.first = marks.volume && (flags & 0x0100) != 0;
    return marks;
  }
  if (head.compare(0, 8, std::string("Rar!\x1A\x07\x01\x00", 8)) == 0) {
    std::size_t pos = 12;  // past the mark and the header's CRC
    std::uint64_t size, type, flags, skip, archive_flags, number = 0;
    if (!ReadVint(head, &pos, &size) || !ReadVint(head, &pos, &type) ||
        type != 1 || !ReadVint(head, &pos, &flags)) {
      return marks;
    }
    if ((flags & 1) != 0 && !ReadVint(head, &pos, &skip)) return marks;
    if ((flags & 2) != 0 && !ReadVint(head, &pos, &skip)) return marks;
    if (!ReadVint(head, &pos, &archive_flags)) return marks;
    // The volume number is written for every volume but the first.
    if ((archive_flags & 2) != 0 && !ReadVint(head, &pos, &number)) {
      return marks;
    }
    marks.known = true;
    marks.volume = (archive_flags & 1) != 0;
    marks.first = marks.volume && ((archive_flags & 2) == 0 || number == 0);
    return marks;
  }
  if (byte(0) == 0x60 && byte(1) == 0xEA && head.size() > 8 &&
      (byte(2) | byte(3)) != 0) {
    marks.known = true;
    marks.continues = (byte(8) & 0x04) != 0;
    marks.volume = marks.continues;
    marks.tells_last = true;
  }
  return marks;
}

std::string VolumeMarksDisagree(const std::vector<std::string>& volumes,
                                const std::vector<VolumeMarks>& marks) {
  const std::size_t count = std::min(volumes.size(), marks.size());
  for (std::size_t i = 0; i < count; ++i) {
    const VolumeMarks& m = marks[i];
    const std::string name = "[" + volumes[i] + "]";
    if (!m.known) continue;
    if (m.tells_last) {
      const bool last = i + 1 == volumes.size();
      if (m.continues && last) return name + " goes on in a volume not there";
      if (!m.continues && !last) {
        return name + " ends its set before [" + volumes[i + 1] + "]";
      }
    } else if (volumes.size() > 1 && !m.volume) {
      return name + " is a whole archive, no volume of a set";
    } else if (i > 0 && m.first) {
      return name + " is marked as the first volume of a set";
    }
  }
  return std::string();
}

std::string LoneVolumeMark(const std::string& name, const VolumeMarks& marks) {
  if (!marks.known || !marks.volume) return std::string();
  if (marks.tells_last) return "[" + name + "] goes on in a volume not there";
  return "[" + name + "] is one volume of a set whose others are not there";
}

}  // namespace zavo
