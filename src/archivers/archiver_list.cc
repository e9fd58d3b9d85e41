#include "archivers/archiver_list.h"

#include "archivers/archiver_commands.h"
#include "archivers/recognition.h"
#include "config/sectioned_file.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

// Identifying bytes further into a file than this are read apart, so that
// one far-off ident does not make every file read in large part.
constexpr std::size_t kMaxHeadSize = 4096;

}  // namespace

void ArchiverList::AddDefinition(const std::string& extension,
                                 const std::string& ident,
                                 const std::string& extract,
                                 const std::string& add,
                                 const std::string& test) {
  definitions_.push_back(std::make_unique<ArchiverDefinition>(
      extension, ident, extract, add, test));
}

std::vector<ArchiverList::RefusedTemplate> ArchiverList::AddDefinitionsFromFile(
    const std::string& path, bool write_back) {
  std::vector<RefusedTemplate> refused;
  SectionedFileCache cache;
  std::string section;
  for (bool more = cache.NextSection(true, path, &section); more;
       more = cache.NextSection(false, path, &section)) {
    const std::string extract = cache.ReadString(path, section, "extract");
    const std::string add = cache.ReadString(path, section, "add");
    const std::string test = cache.ReadString(path, section, "test");
    AddDefinition(cache.ReadString(path, section, "extension"),
                  cache.ReadString(path, section, "ident"), extract, add, test);
    definitions_.back()->set_name(section);
    definitions_.back()->set_any_extension(!EqualNoCase(
        TrimBlanks(cache.ReadString(path, section, "anyextension")), "no"));
    const std::string list = cache.ReadString(path, section, "list");
    definitions_.back()->set_list_command(list);
    if (!CommandTemplateQuotable(list, {"@ArcName"})) {
      refused.push_back({section, "list"});
    }
    std::vector<VolumeNaming> namings;
    Status parsed = ParseVolumeNamings(
        cache.ReadString(path, section, "volumes"), &namings);
    if (!parsed.ok() && volume_fault_.ok()) {
      volume_fault_ = parsed.Within("[" + section + "/volumes]: ");
    }
    definitions_.back()->set_volume_namings(std::move(namings));
    const std::string extract_set =
        cache.ReadString(path, section, "extractset");
    definitions_.back()->set_extract_set_command(extract_set);
    // The macros each command has (Extract, Pack, Test).
    if (!CommandTemplateQuotable(extract, {"@ArcName", "@FileName"})) {
      refused.push_back({section, "extract"});
    }
    if (!CommandTemplateQuotable(extract_set, {"@ArcName", "@FileName"})) {
      refused.push_back({section, "extractset"});
    }
    if (!CommandTemplateQuotable(add, {"@ArcName", "@FileName"})) {
      refused.push_back({section, "add"});
    }
    if (!CommandTemplateQuotable(test, {"@ArcName"})) {
      refused.push_back({section, "test"});
    }
  }
  if (!write_back) {
    cache.Discard();
    return refused;
  }
  // The write-back only normalises the file's form: one that cannot be
  // written, or whose text would not survive it, is left as it was, and the
  // definitions are read already, so the run goes on without a word.
  const Status written = cache.Release();
  (void)written;
  return refused;
}

std::int32_t ArchiverList::Recognise(const std::string& name,
                                     HeldFile* file) const {
  if (name.empty()) return -1;
  // The file is looked at once for all definitions: a dozen of them would
  // otherwise open and read every file of a large tree a dozen times.
  std::size_t head_size = 0;
  for (const auto& definition : definitions_) {
    const std::int32_t offset = definition->ident_offset();
    const std::size_t end = offset < 0 ? 0
                                       : static_cast<std::size_t>(offset) +
                                             definition->ident_bytes().size();
    if (end <= kMaxHeadSize && end > head_size) head_size = end;
  }
  FileProbe probe(PathFileName(name), file, head_size);
  // Only a regular file is recognised; a name that no bytes may claim is
  // not even read.
  if (!probe.IsRegularFile()) return -1;
  std::vector<RecognitionRule> rules;
  rules.reserve(definitions_.size());
  for (const auto& definition : definitions_) {
    rules.push_back({definition->extension(), definition->ident_offset(),
                     definition->ident_bytes(), definition->any_extension()});
  }
  return zavo::Recognise(rules, PathFileName(name), any_extension_,
                         [&probe](std::int32_t offset, std::size_t count,
                                  std::string* bytes) {
                           return probe.ReadAt(offset, count, bytes);
                         })
      .definition;
}

bool ArchiverList::NamesAnArchive(const std::string& name,
                                  std::size_t target) const {
  for (std::size_t i = 0; i < definitions_.size(); ++i) {
    const ArchiverDefinition& definition = *definitions_[i];
    if (i == target || definition.extension().empty()) continue;
    if (NameBearsExtension(PathFileName(name), definition.extension())) {
      return true;
    }
  }
  return false;
}

}  // namespace zavo
