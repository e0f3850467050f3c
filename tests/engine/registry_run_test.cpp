// The registry-mode run against the loopback server, on Windows 5 and 6.
#include "engine/parse_by_registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "actions/registry_ops.h"
#include "os/reg/registry.h"
#include "tests/support/action_test.h"
#include "tests/support/http_server.h"

namespace pelisto::testing {
namespace {

constexpr char kConfig[] = "C:\\cfg\\update.xml";

class RegistryRun : public ActionTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    std::string error;
    ASSERT_TRUE(server_.Start(&error)) << error;
    WriteHostFile(server_.root() + "/a.txt", "full");
    WriteHostFile(server_.root() + "/a-patch.txt", "patch");
    context_ = &Context(GetParam());
    context_->settings.self_ui = os::FALSE;
  }
  // Records `ver` for `name` as an earlier run would have.
  void Record(const std::string& name, const std::string& ver) {
    FakeRunContext& old = Context(5);
    ASSERT_TRUE(old.Privileged().WriteRegString(os::HKEY_LOCAL_MACHINE, RecordKeyOf(name), "ver", ver));
    context_ = &Context(GetParam());
    context_->settings.self_ui = os::FALSE;
  }
  std::string Recorded(const std::string& name) {
    return ReadRegistryString(os::HKEY_LOCAL_MACHINE, RecordKeyOf(name), "ver");
  }
  os::BOOL Run(const std::string& entries) {
    PutFile(kConfig, "<config>" + entries + "</config>");
    server_.ClearLog();
    return ParseByRegistry(*context_, kConfig);
  }
  std::string Item(const std::string& ver, const std::string& more = "") {
    return "<item name='a' ver='" + ver + "' url='" + server_.Url("/files/a.txt") +
           "' target='C:\\Demo' " + more + "/>";
  }
  std::vector<std::string> Fetched() {
    std::vector<std::string> paths;
    for (const LoggedRequest& r : server_.Requests()) paths.push_back(r.path);
    return paths;
  }

  HttpServer server_;
  FakeRunContext* context_ = nullptr;
};

TEST_P(RegistryRun, InstallsRecordsAndThenSkipsAnEqualVersion) {
  ASSERT_EQ(Run(Item("1.0")), os::TRUE);
  EXPECT_TRUE(context_->Logged(" XML load success. "));
  EXPECT_EQ(GetFile("C:\\Demo\\a.txt"), "full");
  EXPECT_EQ(Recorded("a"), "1.0");
  EXPECT_TRUE(context_->Logged(" Type is not specified in config.xml, just copied "));
  if (GetParam() >= 6) {
    EXPECT_TRUE(context_->Logged(" SOFTWARE\\Veltrane\\Plo\\Config\\a ver 1.0 Registry Update Success."));
  }

  ASSERT_EQ(Run(Item("1.0")), os::TRUE);
  EXPECT_TRUE(Fetched().empty()) << "equal version, file present";
  Context(5);  // the file removed by hand is installed again
  std::remove(Host("C:\\Demo\\a.txt").c_str());
  context_ = &Context(GetParam());
  context_->settings.self_ui = os::FALSE;
  ASSERT_EQ(Run(Item("1.0")), os::TRUE);
  EXPECT_EQ(Fetched(), std::vector<std::string>{"/files/a.txt"});
}

struct VersionCase {
  const char* name;
  const char* recorded;
  const char* ver;
  const char* fetched;  // null: nothing
};


class RegistryRunVersions : public RegistryRun {};

TEST_P(RegistryRunVersions, PatchThresholdAndNumbers) {
  for (const VersionCase& c : {
           VersionCase{"Patch", "1.0", "1.05", "/files/a-patch.txt"},
           VersionCase{"PatchAtTheThreshold", "1.0", "1.1", "/files/a-patch.txt"},
           VersionCase{"FullAboveTheThreshold", "1.0", "1.2", "/files/a.txt"},
           VersionCase{"LeadingNumberOnly", "1.2", "1.2.9", nullptr},
           VersionCase{"RecordNotANumberReadsAsZero", "garbage", "0.05", "/files/a-patch.txt"},
           VersionCase{"Lower", "2.0", "1.0", nullptr},
       }) {
    Record("a", c.recorded);
    PutFile("C:\\Demo\\a.txt", "present");
    ASSERT_EQ(Run(Item(c.ver, "patchURL='" + server_.Url("/files/a-patch.txt") + "'")), os::TRUE)
        << c.name;
    if (c.fetched == nullptr) {
      EXPECT_TRUE(Fetched().empty()) << c.name;
      EXPECT_EQ(Recorded("a"), c.recorded) << c.name;
    } else {
      EXPECT_EQ(Fetched(), std::vector<std::string>{c.fetched}) << c.name;
      EXPECT_EQ(Recorded("a"), c.ver) << c.name;
    }
  }
}

TEST_P(RegistryRun, TheConfirmationIsAskedWhateverSelfUiSays) {
  Script("box no caption \"Pelisto/Check\"\n");
  ASSERT_EQ(Run(Item("1.0", "q='yes'")), os::TRUE);
  EXPECT_TRUE(Fetched().empty());
  EXPECT_TRUE(context_->Logged(" user cancle to install."));
  ASSERT_FALSE(ui().Boxes().empty());
  EXPECT_EQ(ui().Boxes().back().text, "New [a] version 1.0 found! Would you like to install [a]?");
  EXPECT_EQ(Recorded("a"), "");

  Script("");
  ASSERT_EQ(Run(Item("1.0", "q='Yes'")), os::TRUE) << "only \"yes\" asks";
  EXPECT_EQ(Fetched().size(), 1u);
}

TEST_P(RegistryRun, DeleteZipFileSkipsAnEqualVersionEvenWhenMissing) {
  Record("a", "1.0");
  context_->settings.delete_zip_file = os::TRUE;
  ASSERT_EQ(Run(Item("1.0", "type='alwaysSetREG' isDown='true'")), os::TRUE);
  EXPECT_TRUE(Fetched().empty());
}

TEST_P(RegistryRun, AFailedDownloadEndsTheRunAndKeepsWhatWasDone) {
  const std::string missing = "<item name='b' ver='1' url='" + server_.Url("/files/none.txt") +
                              "' target='C:\\Demo'/>";
  EXPECT_EQ(Run(Item("1.0") + missing + "<item name='c' ver='1' url='x' target='C:\\Demo'/>"),
            os::FALSE);
  EXPECT_EQ(Recorded("a"), "1.0");
  EXPECT_EQ(Recorded("b"), "");
  EXPECT_TRUE(context_->Logged(" C:\\Demo\\none.txt is not copyed !!!"));
}

TEST_P(RegistryRun, ANameThatIsNoFileNameIsNotDownloaded) {
  EXPECT_EQ(Run("<item name='a' ver='1' url='" + server_.Url("/files/") + "..\\..\\x.txt' target='C:\\Demo'/>"),
            os::FALSE);
  EXPECT_TRUE(Fetched().empty());
}

TEST_P(RegistryRun, ADocumentThatDoesNotParseLogsTheParsersMessage) {
  PutFile(kConfig, "<config><item name='a'></config>");
  EXPECT_EQ(ParseByRegistry(*context_, kConfig), os::FALSE);
  EXPECT_TRUE(context_->Logged(" XML load error Error in " + std::string(kConfig) + ": "));
}

TEST_P(RegistryRun, EveryChildElementCountsAndAnEmptyNameIsSkipped) {
  ASSERT_EQ(Run("<!-- c --><content name='' ver='1' url='" + server_.Url("/files/a.txt") +
                "' target='C:\\Demo'/>text" + Item("1.0")),
            os::TRUE);
  EXPECT_EQ(Fetched(), std::vector<std::string>{"/files/a.txt"});
}

INSTANTIATE_TEST_SUITE_P(Windows, RegistryRun, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });
INSTANTIATE_TEST_SUITE_P(Windows, RegistryRunVersions, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

}  // namespace
}  // namespace pelisto::testing
