// The update run through the pelisto program against the loopback server.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/http_server.h"
#include "tests/support/image_test.h"
#include "tests/support/program_process.h"
#include "tests/support/program_run.h"

namespace pelisto::testing {
namespace {

class EndToEnd : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    server_.Route("/site/update.xml", [this](const httplib::Request&, httplib::Response& res) {
      ServeBytes(res, "<list><content name='a.txt' ver='" + version_ +
                          "' url='./a.txt' target='C:\\Demo'/></list>");
    });
    server_.Route("/site/update.xml.txt", [this](const httplib::Request&, httplib::Response& res) {
      ServeBytes(res, "pre-check " + version_);
    });
    server_.Route("/site/reg.xml", [this](const httplib::Request&, httplib::Response& res) {
      // The registry-mode run takes addresses as they stand.
      ServeBytes(res, "<list><item name='a.txt' ver='" + version_ + "' url='" +
                          server_.Url("/site/a.txt") + "' target='C:\\Demo'/></list>");
    });
    server_.Route("/site/a.txt", [this](const httplib::Request&, httplib::Response& res) {
      ServeBytes(res, "alpha " + version_);
    });
    std::string error;
    ASSERT_TRUE(server_.Start(&error)) << error;
  }
  ProgramRun Pelisto(std::vector<std::string> args) {
    std::vector<std::string> all = {"--prefix", prefix(), "--os-version", std::to_string(GetParam()),
                                    "--ui", "none", "--param", "configDir=C:\\cfg",
                                    "--param", "selfUi=0"};
    all.insert(all.end(), args.begin(), args.end());
    return RunBuiltProgram("pelisto", all);
  }
  std::string prefix() const { return image_.path() + "/image"; }
  std::string Image(const std::string& relative) const {
    return ReadHostFile(prefix() + "/drive_c/" + relative);
  }
  bool ImageHas(const std::string& relative) const {
    return std::filesystem::exists(prefix() + "/drive_c/" + relative);
  }
  int Requests(const std::string& path) {
    int n = 0;
    for (const LoggedRequest& r : server_.Requests()) n += r.path == path;
    return n;
  }

  TempDir image_;
  HttpServer server_;
  std::string version_ = "1.0";
};

TEST_P(EndToEnd, GetConfigInstallsThenFindsNothingToDo) {
  ProgramRun r = Pelisto({"call", "getConfig", server_.Url("/site/update.xml")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("TotalDownloadFileNumber"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("result: 1"), std::string::npos) << r.out;
  EXPECT_EQ(Image("Demo/a.txt"), "alpha 1.0");
  EXPECT_TRUE(ImageHas("cfg/Veltrane/pold/update.xml.old"));
  EXPECT_FALSE(ImageHas("cfg/Veltrane/pold/update.xml"));

  r = Pelisto({"call", "getConfig", server_.Url("/site/update.xml")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Requests("/site/a.txt"), 1) << "the second run finds the version equal";

  version_ = "1.1";
  r = Pelisto({"call", "getConfig", server_.Url("/site/update.xml")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Image("Demo/a.txt"), "alpha 1.1");
}

TEST_P(EndToEnd, ARelativeAddressResolvesAgainstTheSiteRootOfThePage) {
  // "../" climbs no level: the page's folder a/b plays no part.
  ProgramRun r = Pelisto({"--page-url", server_.Url("/a/b/page.htm"), "call", "getConfig",
                          "../site/update.xml"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Image("Demo/a.txt"), "alpha 1.0");
  EXPECT_EQ(Requests("/site/update.xml"), 1);
}

TEST_P(EndToEnd, ABadDotFormIsAUrlErrorBeforeAnyFolderIsMade) {
  ProgramRun r = Pelisto({"call", "getConfig", ".x/update.xml"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("result: 0"), std::string::npos) << r.out;
  EXPECT_FALSE(ImageHas("cfg"));
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_P(EndToEnd, CheckAndUpdateKeepsThePreCheckFileForTheNextRun) {
  ProgramRun r = Pelisto({"call", "checkAndUpdate", server_.Url("/site/update.xml"), "txt", "TEXTFILE"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Image("Demo/a.txt"), "alpha 1.0");
  r = Pelisto({"call", "getPreCheck", server_.Url("/site/update.xml.txt"), "TEXTFILE"});
  EXPECT_EQ(r.status, 0) << "the downloaded pre-check file became the stored copy: " << r.out;
  version_ = "1.1";
  r = Pelisto({"call", "getPreCheck", server_.Url("/site/update.xml.txt"), "TEXTFILE"});
  EXPECT_EQ(r.status, 1) << r.out;
  r = Pelisto({"call", "checkAndUpdate", server_.Url("/site/update.xml"), "txt", "TEXTFILE"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Image("Demo/a.txt"), "alpha 1.1");
}

TEST_P(EndToEnd, TheRegistryModeRecordsTheVersion) {
  ProgramRun r = Pelisto({"--param", "registry=1", "call", "getConfig", server_.Url("/site/reg.xml")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  r = Pelisto({"reg", "query", "HKLM\\SOFTWARE\\Veltrane\\Plo\\Config\\a.txt", "ver"});
  EXPECT_NE(r.out.find("1.0"), std::string::npos) << r.out << r.err;
}

// The status dialog of a run is a window of the machine: a run that another program starts on
// the same image meanwhile sees it and ends at once, asking the server for nothing.
TEST_P(EndToEnd, ARunStartedWhileAnotherShowsItsStatusDialogEndsAtOnce) {
  server_.Route("/site/held.xml", [this](const httplib::Request&, httplib::Response& res) {
    server_.WaitForStop(2500);
    ServeBytes(res, "<list><content name='a.txt' ver='1.0' url='./a.txt' target='C:\\Demo'/></list>");
  });
  std::vector<std::string> args = {"--prefix", prefix(), "--os-version", std::to_string(GetParam()), "--ui", "none",
                                   "--param", "configDir=C:\\cfg", "--param", "selfUi=1", "--param", "dlgNotClose=1",
                                   "call", "getConfig", server_.Url("/site/held.xml")};
  ProgramProcess first("pelisto", args, image_.path() + "/first");
  ASSERT_TRUE(first.started());
  for (int waited = 0; Requests("/site/held.xml") == 0 && waited < 10000; waited += 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(Requests("/site/held.xml"), 1) << "the first run never asked for its configuration";

  const auto start = std::chrono::steady_clock::now();
  ProgramRun second = Pelisto({"call", "getConfig", server_.Url("/site/update.xml")});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(second.status, 1) << second.out << second.err;
  EXPECT_NE(second.out.find("result: 0"), std::string::npos) << second.out;
  EXPECT_EQ(Requests("/site/update.xml"), 0);

  ASSERT_EQ(first.Wait(20000), std::optional<int>(0)) << first.Out() << first.Err();
  EXPECT_NE(first.Out().find("result: 1"), std::string::npos) << first.Out();
  EXPECT_EQ(Image("Demo/a.txt"), "alpha 1.0");
}

INSTANTIATE_TEST_SUITE_P(Windows, EndToEnd, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

// Texts from the terminal reach the control in the image's code page.
class EndToEndCodePage : public ::testing::Test {
 protected:
  ProgramRun Pelisto(std::vector<std::string> args) {
    std::filesystem::create_directories(image_.path() + "/image");
    WriteHostFile(image_.path() + "/image/image.conf", "code_page=949\n");
    std::vector<std::string> all = {"--prefix", image_.path() + "/image", "--ui", "none"};
    all.insert(all.end(), args.begin(), args.end());
    return RunBuiltProgram("pelisto", all);
  }
  TempDir image_;
};

TEST_F(EndToEndCodePage, ArgumentsAreConvertedAndUnrepresentableOnesRefused) {
  const std::string hangul = "\xED\x95\x9C\xEA\xB8\x80";  // two syllables, in UTF-8
  ProgramRun r = Pelisto({"--param", "configDir=C:\\" + hangul, "get", "configDir"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "C:\\" + hangul + "\n");
  r = Pelisto({"--param", "configDir=C:\\\xF0\x9F\x98\x80", "get", "configDir"});
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.err.find("--param"), std::string::npos) << r.err;
  r = Pelisto({"call", "setCustomDir", "{x}", "bad \xFF utf-8"});
  EXPECT_EQ(r.status, 2) << r.out;
}

}  // namespace
}  // namespace pelisto::testing
