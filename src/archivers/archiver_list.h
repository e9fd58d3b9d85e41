// The archiver definitions of a run, in archivers-file order, and the
// recognition of an archive. Definition 0 is the target archiver: every
// converted archive is re-packed with it. The list is read once at start-up
// and never changes after: every job of a run reads the one list at once.

#ifndef ZAVO_ARCHIVERS_ARCHIVER_LIST_H_
#define ZAVO_ARCHIVERS_ARCHIVER_LIST_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archivers/archiver_definition.h"
#include "platform/dir_handle.h"

namespace zavo {

class ArchiverList {
 public:
  ArchiverList() = default;
  ArchiverList(const ArchiverList&) = delete;
  ArchiverList& operator=(const ArchiverList&) = delete;

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
  // "test" and "list" (and "anyextension": "no" clears it; "volumes" and
  // "extractset"), named after its section, and then, with `write_back`,
  // writes the file back in its normalised form (see
  // SectionedFileCache::Release). A missing or unreadable file adds nothing;
  // callers that need the file check that it exists first. Returns the
  // templates that will be refused at every use, in file order, for the
  // caller to report; their definitions are added all the same.
  std::vector<RefusedTemplate> AddDefinitionsFromFile(const std::string& path,
                                                      bool write_back = true);
  // The first "volumes" value AddDefinitionsFromFile could not read, naming
  // its section and the fault; success when all were read. A kind whose
  // sets are not known would have its later volumes converted alone, so the
  // caller stops.
  const Status& volume_fault() const { return volume_fault_; }

  // The index of the definition that recognises the file `name`, held open
  // as `file` in its folder (not owned; a file not held, or not a regular
  // file, matches nothing): zavo::Recognise over the definitions, with
  // any_extension(). -1 when none does, or when the list is empty.
  std::int32_t Recognise(const std::string& name, HeldFile* file) const;

  // Settings key AnyExtension: whether identifying bytes may make an archive
  // of a file whose extension names no kind. True until set.
  void set_any_extension(bool any) { any_extension_ = any; }
  bool any_extension() const { return any_extension_; }

  // Whether a definition other than `target` that goes by names alone
  // recognises the name `name`: a file of that name was meant to be an
  // archive, whatever it is when it is opened.
  bool NamesAnArchive(const std::string& name, std::size_t target) const;

  std::size_t size() const { return definitions_.size(); }
  // i must be below size().
  const ArchiverDefinition& definition(std::size_t i) const {
    return *definitions_[i];
  }
  ArchiverDefinition& definition(std::size_t i) { return *definitions_[i]; }

 private:
  std::vector<std::unique_ptr<ArchiverDefinition>> definitions_;
  bool any_extension_ = true;
  Status volume_fault_;
};

}  // namespace zavo

#endif  // ZAVO_ARCHIVERS_ARCHIVER_LIST_H_
