// Fuzzes the sectioned definitions file: whatever a file holds, its
// normalised form, when it may be written at all, reads back as the same
// sections, keys and values, and normalising it again changes nothing.

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/sectioned_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zavo;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string path = ScratchPath("archivers.ini");
  WriteScratch(path, text);

  SectionedFile file;
  {
    zavo::Status loaded = file.Load(path);
    ZAVO_FUZZ_CHECK(loaded.ok(), loaded.message());
  }
  std::string name;
  int count = 0;
  for (bool more = file.NextSection(true, &name); more;
       more = file.NextSection(false, &name)) {
    ZAVO_FUZZ_CHECK(file.IndexOfSection(name) == count, name);
    ++count;
  }
  ZAVO_FUZZ_CHECK(count == static_cast<int>(file.sections().size()), "count");
  if (!file.complete()) {
    // Such a file is never written.
    ZAVO_FUZZ_CHECK(!file.SaveAs(path).ok(), "incomplete file was saved");
    return 0;
  }

  std::string normal = file.Text();
  std::string copy = ScratchPath("copy.ini");
  WriteScratch(copy, normal);
  SectionedFile reread;
  {
    zavo::Status loaded = reread.Load(copy);
    ZAVO_FUZZ_CHECK(loaded.ok(), loaded.message());
  }
  ZAVO_FUZZ_CHECK(reread.complete(), normal);
  ZAVO_FUZZ_CHECK(reread.Text() == normal, normal);
  ZAVO_FUZZ_CHECK(reread.sections().size() == file.sections().size(), normal);
  for (const Section& section : file.sections()) {
    for (const SectionEntry& entry : section.entries()) {
      ZAVO_FUZZ_CHECK(reread.ReadString(section.name(), entry.key) ==
                          file.ReadString(section.name(), entry.key),
                      section.name() + "/" + entry.key);
    }
  }

  // Saving writes exactly the normalised text.
  {
    zavo::Status saved_as = file.SaveAs(path);
    ZAVO_FUZZ_CHECK(saved_as.ok(), saved_as.message());
  }
  SectionedFile saved;
  {
    zavo::Status loaded = saved.Load(path);
    ZAVO_FUZZ_CHECK(loaded.ok(), loaded.message());
  }
  ZAVO_FUZZ_CHECK(saved.Text() == normal, normal);
  return 0;
}
