// The archiver definitions of a run, in archivers-file order, with the
// recognition of an archive and the commands that extract, pack and test it.
// Definition 0 is the target archiver: every converted archive is re-packed
// with it.

#ifndef ZAVO_ARCHIVERS_ARCHIVER_LIST_H_
#define ZAVO_ARCHIVERS_ARCHIVER_LIST_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archivers/archiver_definition.h"
#include "archivers/command_runner.h"

namespace zavo {

class ArchiverList {
 public:
  // An empty list with no archive name. `runner` runs every command; it is
  // not owned and must outlive the list.
  explicit ArchiverList(CommandRunner* runner);
  virtual ~ArchiverList() = default;

  ArchiverList(const ArchiverList&) = delete;
  ArchiverList& operator=(const ArchiverList&) = delete;

  // A list of copies of these definitions running commands through the
  // same runner, with no archive named yet: the list keeps the archive at
  // hand, so each of the jobs that run at once converts with a copy.
  std::unique_ptr<ArchiverList> Copy() const;

  // Appends a definition made from the five values of an archivers-file
  // section (see ArchiverDefinition). Nothing is validated or merged.
  void AddDefinition(const std::string& extension, const std::string& ident,
                     const std::string& extract, const std::string& add,
                     const std::string& test);

  // A command template of the archivers file that CommandTemplateQuotable
  // refuses: its section and key.
  struct RefusedTemplate {
    std::string section;
    std::string key;
  };

  // Appends a definition for each section of the archivers file at `path`,
  // in file order, from its keys "extension", "ident", "extract", "add",
  // "test" and "list", named after its section, and then, with `write_back`,
  // writes the file back in its normalised form (see
  // SectionedFileCache::Release). A missing or unreadable file adds nothing;
  // callers that need the file check that it exists first. Returns the
  // templates that will be refused at every use, in file order, for the caller
  // to report; their definitions are added all the same.
  std::vector<RefusedTemplate> AddDefinitionsFromFile(const std::string& path,
                                                      bool write_back = true);

  // Names the file the next operations are about and forgets which
  // definition recognised the previous one.
  void SetArchiveName(const std::string& name);

  // The index of the definition that recognises ArchiveName, asking from the
  // last definition to the first, so that a later one wins. When the winner
  // went by the extension, an earlier definition whose longer whole
  // extension also fits the name wins instead ("tar.gz" over "gz"; the
  // longest wins, the later at equal lengths); -1 when none
  // does (then the remembered index is left as it was), when there is no
  // name, or when the list is empty. The definitions asked have their
  // archive name set.
  std::int32_t Identify();

  // Extracts ArchiveName into `folder` with the recognising definition
  // (recognised now when it is not known yet). kNoArchiver when there is no
  // name or nothing recognises it; otherwise ArchiverDefinition::Extract.
  unsigned char Extract(const std::string& folder);
  // The same, with "@ArcName" standing for `source` instead of ArchiveName:
  // a name that leads the extractor to the very file that was recognised
  // (HeldFile::ChildPath).
  unsigned char ExtractFrom(const std::string& source,
                            const std::string& folder);

  // Lists ArchiveName with the recognising definition's "list" template, as
  // ExtractFrom extracts it (ArchiverDefinition::List).
  unsigned char ListFrom(const std::string& source, const std::string& folder,
                         const std::string& output);

  // Names a new archive inside `folder` (which ends in the separator) with
  // the target's extension, makes it the list's ArchiveName and packs the
  // folder into it with definition 0. The recognised index is kept.
  // kNoArchiver when there is no name or no definition; otherwise
  // ArchiverDefinition::Pack. The new name never belongs to an existing file,
  // folder or link.
  unsigned char Pack(const std::string& folder);

  // Tests ArchiveName with the recognising definition, as Extract.
  unsigned char Test();

  // A path in `folder` (ending in the separator, created when missing) made
  // of a time-stamp name and ".tmp" that no file has yet.
  std::string NewArchiveName(const std::string& folder);

  const std::string& archive_name() const { return archive_name_; }
  // The recognising definition's index, or -1.
  std::int32_t current() const { return current_; }
  std::size_t size() const { return definitions_.size(); }
  // i must be below size().
  ArchiverDefinition& definition(std::size_t i) { return *definitions_[i]; }
  const ArchiverDefinition& definition(std::size_t i) const {
    return *definitions_[i];
  }

 private:
  // Recognises ArchiveName when needed; the definition, or null.
  ArchiverDefinition* Recognised();

  CommandRunner* runner_;
  std::vector<std::unique_ptr<ArchiverDefinition>> definitions_;
  std::string archive_name_;
  std::int32_t current_ = -1;
};

}  // namespace zavo

#endif  // ZAVO_ARCHIVERS_ARCHIVER_LIST_H_
