#include "archivers/archiver_list.h"

#include "config/sectioned_file.h"
#include "fs/file_tree.h"
#include "fs/work_names.h"
#include "platform/file_system.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

// Identifying bytes further into a file than this are read apart, so that
// one far-off ident does not make every file read in large part.
constexpr std::size_t kMaxHeadSize = 4096;

}  // namespace

ArchiverList::ArchiverList(CommandRunner* runner) : runner_(runner) {}

void ArchiverList::AddDefinition(const std::string& extension,
                                 const std::string& ident,
                                 const std::string& extract,
                                 const std::string& add,
                                 const std::string& test) {
  definitions_.push_back(std::make_unique<ArchiverDefinition>(
      extension, ident, extract, add, test));
}

std::unique_ptr<ArchiverList> ArchiverList::Copy() const {
  std::unique_ptr<ArchiverList> copy(new ArchiverList(runner_));
  for (const auto& definition : definitions_) {
    copy->definitions_.push_back(
        std::make_unique<ArchiverDefinition>(*definition));
    copy->definitions_.back()->SetArchiveName(std::string());
  }
  return copy;
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
    const std::string list = cache.ReadString(path, section, "list");
    definitions_.back()->set_list_command(list);
    if (!CommandTemplateQuotable(list, {"@ArcName"})) {
      refused.push_back({section, "list"});
    }
    // The macros each command has (Extract, Pack, Test).
    if (!CommandTemplateQuotable(extract, {"@ArcName", "@FileName"})) {
      refused.push_back({section, "extract"});
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
  const bool unwritten = cache.Release();
  (void)unwritten;
  return refused;
}

void ArchiverList::SetArchiveName(const std::string& name) {
  archive_name_ = name;
  current_ = -1;
}

std::int32_t ArchiverList::Identify() {
  if (archive_name_.empty()) return -1;
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
  FileProbe probe(archive_name_, head_size);
  std::int32_t found = -1;
  // The length of the extension the winner so far went by; 0 when it went
  // by its bytes, which no extension overrides.
  std::size_t found_extension = 0;
  for (std::size_t i = definitions_.size(); i-- > 0;) {
    ArchiverDefinition& definition = *definitions_[i];
    if (found >= 0) {
      if (found_extension == 0) break;
      if (!definition.HasWholeExtension() ||
          definition.extension().size() <= found_extension) {
        continue;
      }
    }
    definition.SetArchiveName(archive_name_);
    if (definition.Matches(&probe)) {
      found = static_cast<std::int32_t>(i);
      found_extension =
          definition.ident_bytes().empty() ? definition.extension().size() : 0;
    }
  }
  if (found >= 0) current_ = found;
  return found;
}

ArchiverDefinition* ArchiverList::Recognised() {
  if (archive_name_.empty()) return nullptr;
  if (current_ == -1) current_ = Identify();
  if (current_ == -1) return nullptr;
  return definitions_[static_cast<std::size_t>(current_)].get();
}

unsigned char ArchiverList::Extract(const std::string& folder) {
  ArchiverDefinition* definition = Recognised();
  if (definition == nullptr) return kNoArchiver;
  return definition->Extract(folder, runner_);
}

unsigned char ArchiverList::ExtractFrom(const std::string& source,
                                        const std::string& folder) {
  ArchiverDefinition* definition = Recognised();
  if (definition == nullptr) return kNoArchiver;
  definition->SetArchiveName(source);
  unsigned char result = definition->Extract(folder, runner_);
  definition->SetArchiveName(archive_name_);
  return result;
}

unsigned char ArchiverList::ListFrom(const std::string& source,
                                     const std::string& folder,
                                     const std::string& output) {
  ArchiverDefinition* definition = Recognised();
  if (definition == nullptr) return kNoArchiver;
  definition->SetArchiveName(source);
  unsigned char result = definition->List(folder, output, runner_);
  definition->SetArchiveName(archive_name_);
  return result;
}

unsigned char ArchiverList::Test() {
  ArchiverDefinition* definition = Recognised();
  if (definition == nullptr) return kNoArchiver;
  return definition->Test(runner_);
}

unsigned char ArchiverList::Pack(const std::string& folder) {
  if (archive_name_.empty() || definitions_.empty()) return kNoArchiver;
  ArchiverDefinition& target = *definitions_[0];
  // NewArchiveName checks the ".tmp" name only; the archive is made under
  // the target's extension, which an unpacked file (or folder) may hold.
  std::string name;
  FileAttributes attributes;
  do {
    name = WithExtension(NewArchiveName(folder), target.extension());
  } while (GetFileAttributes(name, &attributes));
  archive_name_ = name;
  target.SetArchiveName(name);
  return target.Pack(folder, runner_);
}

std::string ArchiverList::NewArchiveName(const std::string& folder) {
  // A folder that cannot be made shows when the archiver is started in it:
  // Pack then answers kNotRun.
  const bool made = ForceFolders(folder);
  (void)made;
  std::string name;
  do {
    name = folder + TimeStampName() + ".tmp";
  } while (FileExists(name));
  return name;
}

}  // namespace zavo
