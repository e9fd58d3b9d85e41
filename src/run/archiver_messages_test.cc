#include "run/archiver_messages.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

namespace zavo {
namespace {

// Plays the children: each writes what it is told to the two captures.
class Writer : public CommandRunner {
 public:
  Writer(CaptureFile* output, CaptureFile* errors)
      : output_(output), errors_(errors) {}
  ProcessResult Run(const ChildSpec& launch) override {
    output_->Append(launch.argv.at(0));
    errors_->Append(launch.argv.at(1));
    ProcessResult result;
    result.outcome = ProcessResult::Outcome::kExited;
    return result;
  }

 private:
  CaptureFile* output_;
  CaptureFile* errors_;
};

class ArchiverMessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CaptureFile::Create(&output_).ok());
    ASSERT_TRUE(CaptureFile::Create(&errors_).ok());
    writer_.reset(new Writer(output_.get(), errors_.get()));
    runner_.reset(
        new SegmentRunner(writer_.get(), output_.get(), errors_.get()));
  }
  // A child labelled `label` (none: a command) that writes `out` and `err`.
  void Child(const std::string& label, const std::string& out,
             const std::string& err) {
    ChildSpec launch;
    launch.argv = {out, err};
    launch.label = label;
    if (label.empty()) launch.command = "scanner";
    runner_->Run(launch);
  }
  std::string Show(bool archivers) {
    out_.str("");
    err_.str("");
    EXPECT_TRUE(ShowArchiverMessages("/arc/a\x1b.zip", output_.get(),
                                     errors_.get(), runner_->segments(),
                                     archivers, out_, err_));
    return out_.str() + "|" + err_.str();
  }

  std::unique_ptr<CaptureFile> output_;
  std::unique_ptr<CaptureFile> errors_;
  std::unique_ptr<Writer> writer_;
  std::unique_ptr<SegmentRunner> runner_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(ArchiverMessagesTest, EachChildUnderItsArchiveAndStepInOrder) {
  Child("zip extract", "listing a.txt\nlisting b.txt\n", "warning\r\n");
  output_->Append("a line of zavo's own\n");
  Child("", "", "found a virus");  // no line end: it gets one
  Child(kNestedRunLabel, "[in.zip] -> [in.7z] done!\n", "a note\n");
  Child("7z add", "", "");  // said nothing: no heading
  errors_->Append("note of zavo's own\n");
  ASSERT_FALSE(runner_->broken());
  ASSERT_EQ(4u, runner_->segments().size());

  EXPECT_EQ(
      "a line of zavo's own\n"
      "[in.zip] -> [in.7z] done!\n"
      "|"
      "[/arc/a\\x1b.zip] zip extract:\n"
      "    listing a.txt\n"
      "    listing b.txt\n"
      "    warning\n"
      "[/arc/a\\x1b.zip] scan:\n"
      "    found a virus\n"
      "a note\n"
      "note of zavo's own\n",
      Show(true));
  // Left out, the archivers say nothing; zavo's lines and the nested run's
  // stay.
  EXPECT_EQ(
      "a line of zavo's own\n[in.zip] -> [in.7z] done!\n|a note\nnote of "
      "zavo's own\n",
      Show(false));
}

}  // namespace
}  // namespace zavo
