// What the fuzz targets share: a failed property stops the run with a
// message, and inputs that must be files are written to a scratch file.

#ifndef ZAVO_FUZZ_FUZZ_SUPPORT_H_
#define ZAVO_FUZZ_FUZZ_SUPPORT_H_

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace zavo {

// Aborts, so that libFuzzer keeps the input, when a property does not hold.
#define ZAVO_FUZZ_CHECK(condition, what)                                  \
  do {                                                                    \
    if (!(condition)) {                                                   \
      std::fprintf(stderr, "%s:%d: property failed: %s (%s)\n", __FILE__, \
                   __LINE__, #condition, std::string(what).c_str());      \
      std::abort();                                                       \
    }                                                                     \
  } while (false)

// The scratch folder of this process, removed when the process ends
// normally (a crashing run leaves it, with the input that crashed).
class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    std::random_device seed;
    for (;;) {
      std::filesystem::path p = base / ("zavo_fuzz_" + std::to_string(seed()));
      if (std::filesystem::create_directory(p, ec)) {
        path_ = p.string();
        return;
      }
    }
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A path in the scratch folder; the folder is made once and stays for the
// process's life (fuzzing runs millions of inputs).
inline std::string ScratchPath(const std::string& name) {
  static const ScratchFolder folder;
  return folder.path() + "/" + name;
}

inline void WriteScratch(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

}  // namespace zavo

#endif  // ZAVO_FUZZ_FUZZ_SUPPORT_H_
