#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "fs/tree_compare.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

// The trees below two folders, held.
bool Compare(const std::string& expected, const std::string& actual,
             const std::string& skip, std::string* difference) {
  HeldFolder want, got;
  EXPECT_TRUE(HeldFolder::Open(expected, &want));
  EXPECT_TRUE(HeldFolder::Open(actual, &got));
  return CompareTrees(want, got, skip, difference);
}

// Two equal trees: a large file (its bytes span several read pieces), a
// folder with an empty folder, a dot-name, links near and far.
void MakeTree(const std::string& top) {
  mkdir(top.c_str(), 0755);
  std::string big(200000, 'b');
  WriteFile(top + "/big", big);
  chmod((top + "/big").c_str(), 0640);
  mkdir((top + "/sub").c_str(), 0750);
  mkdir((top + "/sub/empty").c_str(), 0700);
  WriteFile(top + "/sub/.dot", "dot");
  EXPECT_EQ(0, symlink("/nonexistent/abs", (top + "/abs").c_str()));
  EXPECT_EQ(0, symlink("../big", (top + "/sub/near").c_str()));
}

TEST(TreeCompareTest, NamesTheFirstDifference) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> spoil;  // applied to `actual`
    std::string difference;
  };
  const Case cases[] = {
      {"equal", [](const std::string&) {}, ""},
      {"missing",
       [](const std::string& t) { unlink((t + "/sub/.dot").c_str()); },
       "[sub/.dot] is missing from the new archive"},
      {"extra", [](const std::string& t) { WriteFile(t + "/more", ""); },
       "[more] is in the new archive but not in the work folder"},
      {"empty folder gone",
       [](const std::string& t) { rmdir((t + "/sub/empty").c_str()); },
       "[sub/empty] is missing from the new archive"},
      {"size",
       [](const std::string& t) {
         EXPECT_EQ(0, truncate((t + "/big").c_str(), 5));
       },
       "[big] differs in its size (200000 bytes, 5 in the new archive)"},
      {"last byte",
       [](const std::string& t) {
         WriteFile(t + "/big", std::string(199999, 'b') + "X");
         chmod((t + "/big").c_str(), 0640);
       },
       "[big] differs in its bytes"},
      {"link target",
       [](const std::string& t) {
         unlink((t + "/abs").c_str());
         EXPECT_EQ(0, symlink("/nonexistent/other", (t + "/abs").c_str()));
       },
       "[abs] differs in its link target ([/nonexistent/abs], "
       "[/nonexistent/other] in the new archive)"},
      {"link made a file",
       [](const std::string& t) {
         unlink((t + "/sub/near").c_str());
         WriteFile(t + "/sub/near", "");
       },
       "[sub/near] is a link in the work folder but a file in the new "
       "archive"},
      {"mode", [](const std::string& t) { chmod((t + "/big").c_str(), 0644); },
       "[big] differs in its permission bits (0640, 0644 in the new archive)"},
      {"folder mode",
       [](const std::string& t) { chmod((t + "/sub").c_str(), 0755); },
       "[sub] differs in its permission bits (0750, 0755 in the new archive)"},
  };
  for (const Case& c : cases) {
    ScopedTempDir dir;
    MakeTree(dir / "want");
    MakeTree(dir / "got");
    c.spoil(dir / "got");
    std::string difference;
    EXPECT_EQ(c.difference.empty(),
              Compare(dir / "want", dir / "got", "", &difference))
        << c.what;
    EXPECT_EQ(c.difference, difference) << c.what;
  }
}

TEST(TreeCompareTest, SkipsTheNamedTopEntryAndRefusesSpecialFiles) {
  ScopedTempDir dir;
  MakeTree(dir / "want");
  MakeTree(dir / "got");
  WriteFile(dir / "want/new.7z", "the archive itself");
  WriteFile(dir / "want/sub/new.7z", "not at the top");
  std::string difference;
  EXPECT_FALSE(Compare(dir / "want", dir / "got", "new.7z", &difference));
  EXPECT_EQ("[sub/new.7z] is missing from the new archive", difference);
  unlink((dir / "want/sub/new.7z").c_str());
  EXPECT_TRUE(Compare(dir / "want", dir / "got", "new.7z", &difference));

  mkfifo((dir / "want/pipe").c_str(), 0644);
  mkfifo((dir / "got/pipe").c_str(), 0644);
  EXPECT_FALSE(Compare(dir / "want", dir / "got", "new.7z", &difference));
  EXPECT_EQ("[pipe] is a pipe, device or socket, which cannot be verified",
            difference);
}

}  // namespace
}  // namespace zavo
