// End-to-end: the pelisto program against a fresh machine image.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/http_server.h"
#include "tests/support/image_test.h"
#include "tests/support/program_run.h"

namespace {
using pelisto::testing::ProgramRun;
using pelisto::testing::ReadHostFile;
using pelisto::testing::RunBuiltProgram;
using pelisto::testing::TempDir;

class HostProgram : public ::testing::Test {
 protected:
  // Runs build/bin/pelisto with `--prefix <fresh image>` in front of `args`.
  ProgramRun Pelisto(const std::vector<std::string>& args, bool with_prefix = true) {
    std::vector<std::string> all;
    if (with_prefix) all = {"--prefix", image_.path() + "/image"};
    all.insert(all.end(), args.begin(), args.end());
    return RunBuiltProgram("pelisto", all);
  }

  TempDir image_;
  TempDir io_;
};

TEST_F(HostProgram, VersionPrintsTheDrawingText) {
  ProgramRun r = Pelisto({"--version"}, false);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Pelistomat_m Ver  2.6.1.3\n");
}

TEST_F(HostProgram, HelpShowsTheCommands) {
  ProgramRun r = Pelisto({"--help"}, false);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("pelisto [OPTIONS] call METHOD [ARG...]\n"), std::string::npos) << r.out;
}

TEST_F(HostProgram, GetReadsPropertiesAfterTheExchange) {
  EXPECT_EQ(Pelisto({"--param", "selfUi=-1", "get", "selfUi"}).out, "1\n");
  EXPECT_EQ(Pelisto({"--param", "selfUi=nonsense", "get", "selfUi"}).out, "1\n");
  EXPECT_EQ(Pelisto({"--param", "selfUi=0", "get", "SELFUI"}).out, "0\n");
  EXPECT_EQ(Pelisto({"get", "language"}).out, "KOR\n");
  EXPECT_EQ(Pelisto({"get", "logLevel"}).out, "1\n");
  EXPECT_EQ(Pelisto({"--set", "logLevel=2", "get", "logLevel"}).out, "2\n");
  EXPECT_EQ(Pelisto({"--events", "json", "get", "language"}).out, "{\"result\":\"KOR\"}\n");
  EXPECT_EQ(Pelisto({"--param", "configDir=C:\\Program Files\\X", "get", "configDir"}).out,
            "C:\\Program Files\\X\n");
}

TEST_F(HostProgram, CallPrintsTheResultAndExitsByIt) {
  ProgramRun r = Pelisto({"call", "setCustomDir", "{data}", "D:\\Data"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "result: 1\n");
  r = Pelisto({"--custom-dir", "{a}=C:\\A", "--events", "json", "call", "setCustomDir", "{b}"});
  EXPECT_EQ(r.out, "{\"result\":2}\n");
  r = Pelisto({"call", "getConfig", "http://127.0.0.1:1/update.xml"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "result: 0\n");
  r = Pelisto({"call", "AboutBox"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "result: none\n");
}

TEST_F(HostProgram, DownloadRunsTheStepAndAScriptCanCancelItsDialog) {
  pelisto::testing::HttpServer server;
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  const std::string target = "C:\\Users\\user\\Desktop\\setup.exe";
  ProgramRun r = Pelisto({"--ui", "headless", "--os-version", "5", "--param", "language=ENG", "download",
                          server.Url("/pattern/3000"), target, "exe"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "result: 1\n");
  EXPECT_TRUE(ReadHostFile(image_.path() + "/image/drive_c/Users/user/Desktop/setup.exe") ==
              pelisto::testing::HttpServer::Pattern(3000));

  r = Pelisto({"--ui", "headless", "download", "--dialogless", server.Url("/pattern/1500"), target});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("StartDownload"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Downloading"), std::string::npos) << r.out;

  const std::string script = io_.path() + "/cancel.ui";
  pelisto::testing::WriteHostFile(script, "press esc on \"File Download\" percent 1003 10\n");
  r = Pelisto({"--ui-script", script, "--os-version", "5", "download", server.Url("/slow/20000?every_ms=2"),
               "C:\\Users\\user\\Desktop\\other.exe"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "result: 0\n");
  EXPECT_FALSE(std::ifstream(image_.path() + "/image/drive_c/Users/user/Desktop/other.exe").good());
}

class HostProgramUsage : public HostProgram,
                         public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(HostProgramUsage, BadCallsExitWithTwo) {
  ProgramRun r = Pelisto(GetParam());
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("pelisto: ", 0), 0u) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HostProgramUsage,
    ::testing::Values(std::vector<std::string>{"call", "noSuchMethod"},
                      std::vector<std::string>{"call", "getConfig"},
                      std::vector<std::string>{"call", "setIEResizable", "wide"},
                      std::vector<std::string>{"call", "selfUi"},
                      std::vector<std::string>{"get", "getConfig"},
                      std::vector<std::string>{"get", "noSuchProperty"},
                      std::vector<std::string>{"--set", "selfUi=maybe", "get", "selfUi"},
                      std::vector<std::string>{"--set", "getConfig=1", "get", "selfUi"},
                      std::vector<std::string>{"--events", "yaml", "get", "selfUi"},
                      std::vector<std::string>{"reg", "query", "HKEY_NOWHERE\\X"}));

TEST_F(HostProgram, RegisterThenQueryFindsTheProgId) {
  ProgramRun r = Pelisto({"register"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Pelisto({"reg", "query", "HKEY_CLASSES_ROOT\\PELISTO.PelistoCtrl.1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "\nHKEY_CLASSES_ROOT\\PELISTO.PelistoCtrl.1\n"
            "    (Default)    REG_SZ    Pelisto Control\n"
            "\n"
            "HKEY_CLASSES_ROOT\\PELISTO.PelistoCtrl.1\\CLSID\n");
  r = Pelisto({"reg", "query", "HKCR\\PELISTO.PelistoCtrl.1\\CLSID", ""});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("    (Default)    REG_SZ    {"), std::string::npos) << r.out;

  EXPECT_EQ(Pelisto({"unregister"}).status, 0);
  r = Pelisto({"reg", "query", "HKEY_CLASSES_ROOT\\PELISTO.PelistoCtrl.1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "ERROR: The system was unable to find the specified registry key or value.\n");
}

TEST_F(HostProgram, RegisterFailsWhenElevationIsRefused) {
  ASSERT_EQ(Pelisto({"get", "selfUi"}).status, 0);  // creates the image
  std::ofstream(image_.path() + "/image/image.conf", std::ios::app) << "refuse_elevation=1\n";
  ProgramRun r = Pelisto({"register"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("elevation"), std::string::npos) << r.err;
  EXPECT_EQ(Pelisto({"reg", "query", "HKCR\\PELISTO.PelistoCtrl.1"}).status, 1);
  EXPECT_EQ(Pelisto({"--os-version", "5", "register"}).status, 0)
      << "before Windows 6 no elevation is needed";
}

TEST_F(HostProgram, UiScriptIsLoadedForTheRunAndBadScriptsAreUsageErrors) {
  const std::string bad = io_.path() + "/bad.script";
  std::ofstream(bad) << "press nothing\n";
  ProgramRun r = Pelisto({"--ui-script", bad, "get", "selfUi"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("bad.script"), std::string::npos) << r.err;

  const std::string good = io_.path() + "/good.script", transcript = io_.path() + "/transcript";
  std::ofstream(good) << "transcript \"" << transcript << "\"\nbox ok repeat\n";
  r = Pelisto({"--ui-script", good, "get", "selfUi"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1\n");
  std::ifstream written(transcript);
  EXPECT_TRUE(written.good()) << "the script's transcript was not opened";
}

}  // namespace
