#include "archivers/recognition.h"

#include <gtest/gtest.h>

namespace zavo {
namespace {

// The shipped archivers file's recognition, cut down: the target, a zip
// whose bytes never widen, arj, lzh and lha sharing their bytes, tars.
const std::vector<RecognitionRule> kRules = {
    {"7z", 0, "7z\xBC\xAF\x27\x1C", true},  // 0
    {"zip", 0, "PK\x03\x04", false},        // 1
    {"tar", 0, "", true},                   // 2
    {"tar.gz", 0, "", true},                // 3
    {"arj", 0, "\x60\xEA", true},           // 4
    {"lzh", 2, "-lh", true},                // 5
    {"lha", 2, "-lh", true},                // 6
    {"cpio", 0, "", true},                  // 7
};

HeadReader ReaderOf(const std::string& head, int* reads) {
  return [head, reads](std::int32_t offset, std::size_t count,
                       std::string* bytes) {
    ++*reads;
    const std::size_t start = static_cast<std::size_t>(offset);
    if (start + count > head.size()) return false;
    *bytes = head.substr(start, count);
    return true;
  };
}

TEST(RecognitionTest, BytesWinAmongArchiveNamesAndWidenOnlyWhenAsked) {
  const std::string zip = "PK\x03\x04rest";
  const std::string arj = "\x60\xEA\x20\x00";
  const std::string lzh = "xx-lh5-";
  struct Case {
    const char* name;
    std::string head;
    bool any_extension;
    std::int32_t definition;
    std::int32_t named;
    bool by_bytes;
  };
  const Case cases[] = {
      {"a.zip", zip, false, 1, 1, true},
      {"b.ZIP", "not a zip", false, 1, 1,
       false},                               // the name alone still counts
      {"c.arj", zip, false, 1, 4, true},     // a .arj that is a zip
      {"d.zip", arj, false, 4, 1, true},     // a .zip that is an arj
      {"e.tar.gz", lzh, false, 6, 3, true},  // of two that fit: the later
      {"f.lha", lzh, false, 6, 6, true},     // shared bytes: the named one
      {"g.lzh", lzh, false, 5, 5, true},
      {"h.zip", "7z\xBC\xAF\x27\x1C", false, 0, 1, true},  // the target kind
      {"GAME.DAT", arj, false, -1, -1, false},  // a program's data, left alone
      {"GAME.DAT", arj, true, 4, -1, true},     // unless asked
      {"doc.docx", zip, true, -1, -1, false},   // zip bytes never widen
      {"noext", lzh, true, 6, -1, true},        // the later of two that fit
      {"x.tar", "", false, 2, 2, false},
      {"y.tar.gz", "", false, 3, 3, false},  // the longest extension
      {"z.gz", "", true, -1, -1, false},
      {"short.dat", "\x60", true, -1, -1, false},  // ends before the bytes
  };
  for (const Case& c : cases) {
    int reads = 0;
    const Recognition r =
        Recognise(kRules, c.name, c.any_extension, ReaderOf(c.head, &reads));
    EXPECT_EQ(c.definition, r.definition) << c.name;
    EXPECT_EQ(c.named, r.named) << c.name;
    EXPECT_EQ(c.by_bytes, r.by_bytes) << c.name;
  }
}

TEST(RecognitionTest, ANameOfNoKindIsNotReadUnlessAsked) {
  int reads = 0;
  Recognise(kRules, "/data/GAME.DAT", false, ReaderOf("\x60\xEA", &reads));
  EXPECT_EQ(0, reads);
  // Asked, only the rules whose bytes may widen are read.
  Recognise(kRules, "/data/GAME.DAT", true, ReaderOf("\x60\xEA", &reads));
  EXPECT_EQ(4, reads);  // 7z, arj, lzh, lha; never zip
}

TEST(RecognitionTest, NegativeOffsetsAndEmptyRulesMatchNothing) {
  const std::vector<RecognitionRule> rules = {{"", -1, "A", true},
                                              {"", 0, "", true}};
  int reads = 0;
  EXPECT_EQ(-1,
            Recognise(rules, "a.x", true, ReaderOf("AAAA", &reads)).definition);
  EXPECT_EQ(0, reads);
  EXPECT_EQ(-1, Recognise({}, "a.zip", true, ReaderOf("", &reads)).definition);
}

TEST(RecognitionTest, NamesBearExtensionsAfterADot) {
  struct Case {
    const char* name;
    const char* extension;
    bool bears;
  };
  const Case cases[] = {
      {"x.tar.gz", "tar.gz", true}, {"x.tar.gz", "gz", true},
      {"x.tar.gz", "tar", false},   {"fx.tar.gz", "x.tar.gz", false},
      {".zip", "zip", true},        {"zip", "zip", false},
      {"A.ZIP", "zip", true},       {"/d.zip/readme", "zip", false},
      {"x.zip", "", false},         {"x.", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.bears, NameBearsExtension(c.name, c.extension))
        << c.name << " " << c.extension;
  }
}

}  // namespace
}  // namespace zavo
