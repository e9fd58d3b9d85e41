// zpack: a tiny archiver for the Win32 end-to-end tests, so that they need
// no archiver that Wine may lack. It stores a folder tree uncompressed:
//
//   "ZPK1", then records: 'D' name | 'F' name size data, then 'E' and the
//   FNV-1a sum (32 bits, little-endian) of every byte before it.
//   A name is a 16-bit little-endian length and the relative path, "\"
//   between folders; sizes are 64-bit little-endian.
//
//   zpack a ARCHIVE [NAME...]  packs files and folders of the current folder;
//                              "*", "*.*" or no name means all of it. The
//                              archive itself is never packed.
//   zpack x ARCHIVE [MASK...]  unpacks everything into the current folder.
//   zpack t ARCHIVE            checks the archive.
//
// Exit codes: 0 done, 1 usage, 2 damaged archive, 3 file error.

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr char kMagic[] = "ZPK1";

std::uint32_t Fnv(const std::string& data) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : data) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

void PutNumber(std::string* out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out->push_back(char((value >> (8 * i)) & 0xFF));
}

bool ReadAll(const std::string& path, std::string* data) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    data->append(buffer, got);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool WriteAll(const std::string& path, const std::string& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  return s;
}

struct Packer {
  std::string skip;  // the archive's own full path, upper-cased
  std::string out;
  int files = 0;

  bool AddName(const std::string& name) {
    char full[MAX_PATH];
    if (GetFullPathNameA(name.c_str(), MAX_PATH, full, nullptr) == 0)
      return false;
    if (Upper(full) == skip) return true;
    DWORD a = GetFileAttributesA(name.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
      std::fprintf(stderr, "zpack: no such file: %s\n", name.c_str());
      return false;
    }
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
      out += 'D';
      PutNumber(&out, name.size(), 2);
      out += name;
      return AddFolder(name + "\\");
    }
    std::string data;
    if (!ReadAll(name, &data)) return false;
    out += 'F';
    PutNumber(&out, name.size(), 2);
    out += name;
    PutNumber(&out, data.size(), 8);
    out += data;
    ++files;
    return true;
  }

  // Everything in `prefix` (empty for the current folder), hidden and
  // system entries included, sorted so that archives are reproducible.
  bool AddFolder(const std::string& prefix) {
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((prefix + "*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE)
      return GetLastError() == ERROR_FILE_NOT_FOUND;
    std::vector<std::string> names;
    do {
      std::string n = d.cFileName;
      if (n != "." && n != "..") names.push_back(n);
    } while (FindNextFileA(h, &d));
    bool ended = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(h);
    if (!ended) return false;
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
      if (!AddName(prefix + n)) return false;
    }
    return true;
  }
};

struct Reader {
  const std::string& data;
  std::size_t pos = 4;
  bool Take(std::size_t n, std::string* out) {
    if (data.size() - pos < n) return false;
    if (out != nullptr) *out = data.substr(pos, n);
    pos += n;
    return true;
  }
  bool Number(int bytes, std::uint64_t* value) {
    std::string raw;
    if (!Take(bytes, &raw)) return false;
    *value = 0;
    for (int i = bytes - 1; i >= 0; --i)
      *value = (*value << 8) | static_cast<unsigned char>(raw[i]);
    return true;
  }
};

bool SafeName(const std::string& name) {
  if (name.empty() || name[0] == '\\' || name.find(':') != std::string::npos)
    return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('\\', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

// Walks the archive; with `unpack`, creates what it holds. Returns the exit
// code.
int Walk(const std::string& archive, bool unpack, int* files) {
  std::string data;
  if (!ReadAll(archive, &data)) {
    std::fprintf(stderr, "zpack: cannot read %s\n", archive.c_str());
    return 3;
  }
  if (data.size() < 9 || data.compare(0, 4, kMagic) != 0) return 2;
  Reader r{data};
  for (;;) {
    std::string type;
    if (!r.Take(1, &type)) return 2;
    if (type == "E") {
      std::uint64_t sum;
      std::size_t end = r.pos - 1;
      if (!r.Number(4, &sum) || r.pos != data.size()) return 2;
      if (sum != Fnv(data.substr(0, end))) return 2;
      return 0;
    }
    std::uint64_t length;
    std::string name;
    if (!r.Number(2, &length) || !r.Take(length, &name) || !SafeName(name))
      return 2;
    if (type == "D") {
      if (unpack && !CreateDirectoryA(name.c_str(), nullptr) &&
          GetLastError() != ERROR_ALREADY_EXISTS) {
        return 3;
      }
    } else if (type == "F") {
      std::uint64_t size;
      std::string body;
      if (!r.Number(8, &size) || !r.Take(size, &body)) return 2;
      if (unpack && !WriteAll(name, body)) return 3;
      ++*files;
    } else {
      return 2;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || std::string(argv[1]).size() != 1) {
    std::fprintf(stderr, "usage: zpack a|x|t ARCHIVE [NAME...]\n");
    return 1;
  }
  char command = argv[1][0];
  std::string archive = argv[2];
  int files = 0;
  int code = 1;
  if (command == 'a') {
    Packer p;
    char full[MAX_PATH];
    GetFullPathNameA(archive.c_str(), MAX_PATH, full, nullptr);
    p.skip = Upper(full);
    p.out = kMagic;
    bool ok = true;
    bool all = argc == 3;
    for (int i = 3; i < argc; ++i) {
      std::string n = argv[i];
      if (n == "*" || n == "*.*") {
        all = true;
      } else {
        ok = ok && p.AddName(n);
      }
    }
    if (all) ok = ok && p.AddFolder("");
    p.out += 'E';
    PutNumber(&p.out, Fnv(p.out.substr(0, p.out.size() - 1)), 4);
    code = ok && WriteAll(archive, p.out) ? 0 : 3;
    files = p.files;
  } else if (command == 'x' || command == 't') {
    // An archive is checked whole before anything of it is unpacked.
    code = Walk(archive, false, &files);
    if (code == 0 && command == 'x') {
      files = 0;
      code = Walk(archive, true, &files);
    }
  }
  if (code == 0) {
    std::printf("zpack %c %s: %d files\n", command, archive.c_str(), files);
  } else if (code == 2) {
    std::printf("zpack %c %s: damaged archive\n", command, archive.c_str());
  }
  return code;
}
