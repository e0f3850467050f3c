#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/com/hresult.h"
#include "host/cli_options.h"
#include "host/event_printer.h"
#include "host/output_format.h"

namespace {
using pelisto::CliCommand;
using pelisto::CliOptions;

TEST(HostCli, OptionsThenCallWithVerbatimArguments) {
  CliOptions o;
  std::string error;
  ASSERT_TRUE(pelisto::ParseCommandLine(
      {"--prefix", "/tmp/img", "--param", "selfUi=-1", "--param=configDir=", "--set",
       "logLevel=0", "--custom-dir", "{data}=D:\\Data", "--os-version", "5", "--ui", "headless",
       "--events", "json", "--cancel-on", "isdownload#2=3", "--cancel-on", "StartDownload",
       "call", "getConfig", "--not-an-option", ""},
      &o, &error))
      << error;
  EXPECT_EQ(o.prefix, "/tmp/img");
  EXPECT_EQ(o.params, (std::vector<std::pair<std::string, std::string>>{{"selfUi", "-1"},
                                                                         {"configDir", ""}}));
  EXPECT_EQ(o.sets.at(0).second, "0");
  EXPECT_EQ(o.custom_dirs.at(0).first, "{data}");
  EXPECT_EQ(o.os_version, 5);
  EXPECT_EQ(o.ui, "headless");
  EXPECT_EQ(o.events, pelisto::EventFormat::kJson);
  ASSERT_EQ(o.cancel_rules.size(), 2u);
  EXPECT_EQ(o.cancel_rules[0].event, "IsDownload");
  EXPECT_EQ(o.cancel_rules[0].nth, 2);
  EXPECT_EQ(o.cancel_rules[0].value, 3);
  EXPECT_EQ(o.cancel_rules[1].nth, 1);
  EXPECT_EQ(o.cancel_rules[1].value, 1);
  EXPECT_EQ(o.command, CliCommand::kCall);
  EXPECT_EQ(o.name, "getConfig");
  EXPECT_EQ(o.args, (std::vector<std::string>{"--not-an-option", ""}));
}

TEST(HostCli, RegQueryTakesAKeyAndAnOptionalValue) {
  CliOptions o;
  std::string error;
  ASSERT_TRUE(pelisto::ParseCommandLine({"reg", "query", "HKLM\\SOFTWARE", "ver"}, &o, &error));
  EXPECT_EQ(o.command, CliCommand::kRegQuery);
  EXPECT_EQ(o.name, "HKLM\\SOFTWARE");
  EXPECT_EQ(o.args, std::vector<std::string>{"ver"});
}

TEST(HostCli, DownloadTakesUrlPathAndTypeWithItsSwitchesAnywhere) {
  CliOptions o;
  std::string error;
  ASSERT_TRUE(pelisto::ParseCommandLine({"download", "http://h/a.zip", "--dialogless", "C:\\a.zip", "zip"}, &o,
                                        &error))
      << error;
  EXPECT_EQ(o.command, CliCommand::kDownload);
  EXPECT_EQ(o.args, (std::vector<std::string>{"http://h/a.zip", "C:\\a.zip", "zip"}));
  EXPECT_TRUE(o.dialogless);
  EXPECT_FALSE(o.config_file);
  ASSERT_TRUE(pelisto::ParseCommandLine({"download", "--config", "h/u.xml", "C:\\u.xml"}, &o, &error));
  EXPECT_TRUE(o.config_file);
}

class HostCliErrors : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(HostCliErrors, AreUsageErrors) {
  CliOptions o;
  std::string error;
  EXPECT_FALSE(pelisto::ParseCommandLine(GetParam(), &o, &error));
  EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HostCliErrors,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"--prefix"},
                      std::vector<std::string>{"--param", "noequals", "get", "selfUi"},
                      std::vector<std::string>{"--events", "xml", "get", "selfUi"},
                      std::vector<std::string>{"--os-version", "six", "get", "selfUi"},
                      std::vector<std::string>{"--cancel-on", "Nope", "get", "selfUi"},
                      std::vector<std::string>{"--cancel-on", "EndUnZip", "get", "selfUi"},
                      std::vector<std::string>{"--cancel-on", "IsDownload#0", "get", "selfUi"},
                      std::vector<std::string>{"--cancel-on", "IsDownload=x", "get", "selfUi"},
                      std::vector<std::string>{"--frobnicate", "get", "selfUi"},
                      std::vector<std::string>{"get", "selfUi", "extra"},
                      std::vector<std::string>{"register", "now"},
                      std::vector<std::string>{"reg", "query"},
                      std::vector<std::string>{"--version", "get", "selfUi"},
                      std::vector<std::string>{"download", "http://h/a"},
                      std::vector<std::string>{"download", "--config", "http://h/a", "C:\\a", "zip"},
                      std::vector<std::string>{"launch"}));

TEST(HostOutput, EventsAsTextAndJson) {
  const std::vector<os::Variant> args = {os::Variant::Text("http://h/a.zip"),
                                         os::Variant::Text("C:\\w\\a.zip"),
                                         os::Variant::Long(1234)};
  EXPECT_EQ(pelisto::EventLine("StartDownload", args, true),
            R"({"event":"StartDownload","args":["http://h/a.zip","C:\\w\\a.zip",1234]})");
  EXPECT_EQ(pelisto::EventLine("StartDownload", args, false),
            R"(event StartDownload http://h/a.zip C:\w\a.zip 1234)");
  EXPECT_EQ(pelisto::EventLine("UnZipping", {os::Variant::Text("my file\t\"x\"")}, false),
            R"(event UnZipping "my file\t\"x\"")");
  EXPECT_EQ(pelisto::EventLine("UnZipping", {os::Variant::Text("")}, false),
            R"(event UnZipping "")");
  EXPECT_EQ(pelisto::ResultLine(os::Variant::Bool(true), true), R"({"result":1})");
  EXPECT_EQ(pelisto::ResultLine(os::Variant::Bool(false), false), "result: 0");
  EXPECT_EQ(pelisto::ResultLine(os::Variant(), false), "result: none");
  EXPECT_EQ(pelisto::ResultLine(os::Variant(), true), R"({"result":null})");
  EXPECT_EQ(pelisto::JsonString("\x01"), R"("\u0001")");
}

TEST(HostOutput, CancelRuleAnswersTheNthFiringOnly) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  pelisto::EventPrinter printer(out, pelisto::EventFormat::kText,
                                {{"Downloading", 2, 1}, {"IsDownload", 1, 2}});
  const pelisto::EventInfo& downloading = *pelisto::FindEventByName("Downloading");
  std::vector<os::LONG> answers;
  for (int i = 0; i < 3; ++i) {
    os::LONG cancel = 0;
    printer.OnEvent(downloading, {os::Variant::Long(1024 * (i + 1))}, &cancel);
    answers.push_back(cancel);
  }
  os::LONG cancel = 0;
  printer.OnEvent(*pelisto::FindEventByName("IsDownload"),
                  {os::Variant::Long(0), os::Variant::Text("viewer")}, &cancel);
  answers.push_back(cancel);
  EXPECT_EQ(answers, (std::vector<os::LONG>{0, 1, 0, 2}));
  std::rewind(out);
  char buf[256] = {};
  std::string text(buf, std::fread(buf, 1, sizeof buf - 1, out));
  std::fclose(out);
  EXPECT_EQ(text,
            "event Downloading 1024\nevent Downloading 2048\nevent Downloading 3072\n"
            "event IsDownload 0 viewer\n");
}

}  // namespace
