// A fresh temporary folder for one test, removed with everything in it when
// the test ends.

#ifndef ZAVO_TESTING_TEMP_DIR_H_
#define ZAVO_TESTING_TEMP_DIR_H_

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "platform/os.h"

namespace zavo {

class ScopedTempDir {
 public:
  ScopedTempDir() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    for (unsigned i = 0;; ++i) {
      std::filesystem::path p =
          base / ("zavo_test_" + std::to_string(std::rand()) + "_" +
                  std::to_string(i));
      if (std::filesystem::create_directory(p, ec)) {
        path_ = p.string();
        break;
      }
    }
  }
  ~ScopedTempDir() {
    std::error_code ec;
    // Tests make files read-only; open everything up before removing.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator();
         it.increment(ec)) {
      if (!it->is_symlink(ec)) {
        std::filesystem::permissions(it->path(),
                                     std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
      }
    }
    std::filesystem::remove_all(path_, ec);
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  // The folder, without a final separator.
  const std::string& path() const { return path_; }
  // A path inside the folder.
  std::string operator/(const std::string& name) const {
    return path_ + kPathSeparator + name;
  }

 private:
  std::string path_;
};

// Test helpers for whole files.
inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << data;
}

// Makes every missing folder of the path's folder part: "a/b/" makes a and
// a/b, "a/b" makes only a.
inline void MakeFoldersFor(const std::string& path) {
  std::filesystem::path folder(path);
  if (!path.empty() && path.back() != kPathSeparator && path.back() != '/') {
    folder = folder.parent_path();
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f),
                     std::istreambuf_iterator<char>());
}

}  // namespace zavo

#endif  // ZAVO_TESTING_TEMP_DIR_H_
