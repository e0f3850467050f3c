#include "engine/pre_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/action_test.h"
#include "tests/support/http_server.h"

namespace pelisto::testing {
namespace {

constexpr char kOld[] = "C:\\pc\\check.txt.old";
constexpr char kNew[] = "C:\\pc\\check.txt";

struct CompareCase {
  const char* name;
  std::string old_text;
  std::string new_text;
  const char* type;
  os::BOOL equal;
  const char* line;  // the last log line
};

void PrintTo(const CompareCase& c, std::ostream* out) { *out << c.name; }

class PreCheckCompare : public ActionTest, public ::testing::WithParamInterface<CompareCase> {};

TEST_P(PreCheckCompare, AnswersAndLogs) {
  const CompareCase& c = GetParam();
  FakeRunContext& context = Context(5);
  context.state.pre_check_state = 9;
  PutFile(kOld, c.old_text);
  PutFile(kNew, c.new_text);
  EXPECT_EQ(ComparePreCheckFile(context, kOld, kNew, c.type), c.equal);
  EXPECT_EQ(context.state.pre_check_state, 0);
  ASSERT_FALSE(context.log.empty());
  EXPECT_EQ(context.log.back().text, context.log_time + c.line);
}

const std::string kLong(200000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Files, PreCheckCompare,
    ::testing::Values(
        CompareCase{"Equal", "v=1.2\r\n", "v=1.2\r\n", "TEXTFILE", os::TRUE, "Equal Pre Check File Content"},
        CompareCase{"TypeInAnyCase", "a", "a", "textfile", os::TRUE, "Equal Pre Check File Content"},
        CompareCase{"Unsupported", "a", "a", "BINARY", os::FALSE, "Not Support Pre Check TypeBINARY"},
        CompareCase{"Length", "a", "ab", "TEXTFILE", os::FALSE, "Different Pre check File length "},
        CompareCase{"LetterCase", "Ab", "ab", "TEXTFILE", os::FALSE, "Different Pre Check File Content"},
        CompareCase{"EqualUpToAZeroByte", std::string("ab\0x", 4), std::string("ab\0y", 4),
                    "TEXTFILE", os::TRUE, "Equal Pre Check File Content"},
        CompareCase{"ZeroBytesApart", std::string("a\0cd", 4), std::string("ab\0d", 4),
                    "TEXTFILE", os::FALSE, "Different Pre Check File Content"},
        CompareCase{"EmptyFiles", "", "", "TEXTFILE", os::TRUE, "Equal Pre Check File Content"},
        CompareCase{"LastByteOfALargeFile", kLong + "a", kLong + "b", "TEXTFILE", os::FALSE,
                    "Different Pre Check File Content"},
        CompareCase{"LargeEqual", kLong, kLong, "TEXTFILE", os::TRUE, "Equal Pre Check File Content"}),
    [](const auto& info) { return std::string(info.param.name); });

class PreCheckFiles : public ActionTest {};

TEST_F(PreCheckFiles, AFileThatCannotBeOpenedIsState3) {
  FakeRunContext& context = Context(5);
  PutFile(kNew, "a");
  EXPECT_EQ(ComparePreCheckFile(context, kOld, kNew, "TEXTFILE"), os::FALSE);
  EXPECT_EQ(context.state.pre_check_state, 3);
  EXPECT_EQ(context.log.back().text, context.log_time + "Failed Open File : " + kOld);
  EXPECT_EQ(context.log.back().level, 2u);
}

// getPreCheck and UpdateConfigFile against a server, on Windows 5 and 6.
class PreCheckRun : public ActionTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    std::string error;
    server_.Route("/site/check.txt", [this](const httplib::Request&, httplib::Response& res) {
      ServeBytes(res, published_);
    });
    ASSERT_TRUE(server_.Start(&error)) << error;
    context_ = &Context(GetParam());
    context_->settings.config_dir = "C:\\cfg";
  }
  // Where the pre-check file is downloaded to.
  std::string Downloaded() {
    return PreCheckFilePath(*context_, "C:\\cfg\\pold", url());
  }
  std::string url() { return server_.Url("/site/check.txt"); }

  HttpServer server_;
  std::string published_ = "release 7\n";
  FakeRunContext* context_ = nullptr;
};

TEST_P(PreCheckRun, NoStoredCopyIsState2ThenUpdateConfigFileMakesIt) {
  EXPECT_EQ(GetPreCheck(*context_, url(), "TEXTFILE"), os::FALSE);
  EXPECT_EQ(context_->state.pre_check_state, 2);
  EXPECT_EQ(context_->state.work_folder, "C:\\cfg\\pold");
  EXPECT_TRUE(context_->Logged("Not Exist old Pre Config File : " + Downloaded() + ".old"));
  if (GetParam() >= 6) {
    EXPECT_EQ(Downloaded().find(context_->protected_mode.writable_folder + "\\Veltrane\\pold\\"), 0u);
  } else {
    EXPECT_EQ(Downloaded(), "C:\\cfg\\pold\\check.txt");
  }
  ASSERT_EQ(GetFile(Downloaded()), published_);

  EXPECT_EQ(UpdateConfigFile(*context_, url(), "C:\\cfg\\pold", "old"), os::TRUE);
  EXPECT_FALSE(HostExists(Downloaded()));
  EXPECT_EQ(GetFile(Downloaded() + ".old"), published_);

  EXPECT_EQ(GetPreCheck(*context_, url(), "TEXTFILE"), os::TRUE);
  EXPECT_EQ(context_->state.pre_check_state, 0);

  published_ = "release 8\n";
  EXPECT_EQ(GetPreCheck(*context_, url(), "TEXTFILE"), os::FALSE);
  EXPECT_EQ(context_->state.pre_check_state, 0);
  EXPECT_EQ(UpdateConfigFile(*context_, url(), "C:\\cfg\\pold", "old"), os::TRUE);
  EXPECT_EQ(GetFile(Downloaded() + ".old"), "release 8\n") << "an older stored copy is replaced";
}

TEST_P(PreCheckRun, AFailedDownloadIsState1) {
  EXPECT_EQ(GetPreCheck(*context_, server_.Url("/status/404"), "TEXTFILE"), os::FALSE);
  EXPECT_EQ(context_->state.pre_check_state, 1);
  EXPECT_TRUE(context_->Logged("Failed to Download :"));
}

TEST_P(PreCheckRun, UpdateConfigFileWithoutTheDownloadedFileIsFalse) {
  EXPECT_EQ(UpdateConfigFile(*context_, url(), "C:\\cfg\\pold", "old"), os::FALSE);
}

INSTANTIATE_TEST_SUITE_P(Windows, PreCheckRun, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

}  // namespace
}  // namespace pelisto::testing
