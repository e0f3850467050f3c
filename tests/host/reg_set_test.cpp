#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/cli_options.h"
#include "host/reg_set.h"
#include "os/base/error.h"
#include "os/reg/registry.h"
#include "platform/broker_client.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/image_test.h"
#include "tests/support/ui_script.h"

namespace {
using pelisto::CliCommand;
using pelisto::CliOptions;
using pelisto::testing::FakeRunContext;
using pelisto::testing::ReadHostFile;
using pelisto::testing::TempDir;
using pelisto::testing::WriteHostFile;

// ---------------------------------------------------------------------------------------------
// The command line

TEST(RegistryOpsRegSetCli, NumberFlagStandsAnywhereAfterSet) {
  for (const auto& argv : {std::vector<std::string>{"reg", "set", "HKCU\\S", "v", "12", "--number"},
                           std::vector<std::string>{"reg", "set", "--number", "HKCU\\S", "v", "12"}}) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(pelisto::ParseCommandLine(argv, &o, &error)) << error;
    EXPECT_EQ(o.command, CliCommand::kRegSet);
    EXPECT_EQ(o.name, "HKCU\\S");
    EXPECT_EQ(o.args, (std::vector<std::string>{"v", "12"}));
    EXPECT_TRUE(o.number);
  }
  CliOptions o;
  std::string error;
  ASSERT_TRUE(pelisto::ParseCommandLine({"--os-version", "5", "reg", "set", "K", "", "-5"}, &o, &error));
  EXPECT_EQ(o.args, (std::vector<std::string>{"", "-5"}));
  EXPECT_FALSE(o.number);
}

class RegistryOpsRegSetCliErrors : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(RegistryOpsRegSetCliErrors, AreUsageErrors) {
  CliOptions o;
  std::string error;
  EXPECT_FALSE(pelisto::ParseCommandLine(GetParam(), &o, &error));
  EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RegistryOpsRegSetCliErrors,
    ::testing::Values(std::vector<std::string>{"reg", "set"},
                      std::vector<std::string>{"reg", "set", "HKCU\\S", "v"},
                      std::vector<std::string>{"reg", "set", "HKCU\\S", "v", "--number"},
                      std::vector<std::string>{"reg", "set", "HKCU\\S", "v", "d", "e"},
                      std::vector<std::string>{"reg", "set", "HKCU\\S", "v", "d", "--number", "--number"},
                      std::vector<std::string>{"reg", "set", "", "v", "d"},
                      std::vector<std::string>{"reg", "add", "HKCU\\S", "v", "d"}));

// ---------------------------------------------------------------------------------------------
// The command against an image, in this process

class RegistryOpsRegSet : public pelisto::testing::UiTest {
 protected:
  void TearDown() override {
    pelisto::ReleaseBroker();
    UiTest::TearDown();
  }

  struct Output {
    int status = -1;
    std::string out;
    std::string err;
  };

  Output Run(int os_major, const std::string& key, const std::string& value,
             const std::string& data, bool number) {
    SetOsMajor(os_major);
    context_ = std::make_unique<FakeRunContext>();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Output o;
    o.status = pelisto::RegSet(*context_, key, value, data, number, out, err);
    o.out = Contents(out);
    o.err = Contents(err);
    return o;
  }

  static std::string Contents(std::FILE* f) {
    std::string text;
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
    std::fclose(f);
    return text;
  }

  std::unique_ptr<FakeRunContext> context_;
};

TEST_F(RegistryOpsRegSet, WritesAsAConfigurationEntryAndPrintsTheValue) {
  Output o = Run(5, "hkcu\\Software\\Vendor", "count", "12abc", true);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "\nHKEY_CURRENT_USER\\Software\\Vendor\n    count    REG_DWORD    0xc\n");
  EXPECT_FALSE(context_->state.number_mode) << "the run's mode is left as it was";
  EXPECT_TRUE(context_->Logged(" Registry Create Success."));

  o = Run(5, "HKEY_CURRENT_USER\\Software\\Vendor", "", "C:\\Program Files\\App", false);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out,
            "\nHKEY_CURRENT_USER\\Software\\Vendor\n    (Default)    REG_SZ    C:\\Program Files\\App\n");
}

// An abbreviated root is the key it abbreviates here, not the local machine a configuration's
// unknown root name would give.
TEST_F(RegistryOpsRegSet, AbbreviatedRootIsTheRootItNames) {
  Output o = Run(6, "HKCU\\Software\\V", "a", "x", false);
  EXPECT_EQ(o.status, 0) << o.err;
  os::HKEY key = nullptr;
  EXPECT_NE(os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, "Software\\V", 0, os::KEY_READ, &key),
            os::ERROR_SUCCESS);
  ASSERT_EQ(os::RegOpenKeyExA(os::HKEY_CURRENT_USER, "Software\\V", 0, os::KEY_READ, &key),
            os::ERROR_SUCCESS);
  os::RegCloseKey(key);
}

TEST_F(RegistryOpsRegSet, Failures) {
  Output o = Run(5, "HKEY_NOWHERE\\Software", "a", "x", false);
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.out, "");
  EXPECT_NE(o.err.find("does not start with a root key"), std::string::npos) << o.err;

  o = Run(5, "HKCU\\Software\\\\Vendor", "a", "x", false);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_NE(o.err.find("could not write 'a'"), std::string::npos) << o.err;

  os::ImageSettings s = machine().settings();
  s.refuse_elevation = true;
  Reconfigure(s);
  o = Run(6, "HKLM\\SOFTWARE\\Vendor", "a", "x", false);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("elevated broker"), std::string::npos) << o.err;
  EXPECT_EQ(ui().Boxes().size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// The pelisto program

class RegistryOpsRegSetProgram : public ::testing::Test {
 protected:
  struct Run {
    int status = -1;
    std::string out;
    std::string err;
  };

  static std::string Quote(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  }

  Run Pelisto(const std::vector<std::string>& args) {
    std::string line = Quote(std::string(PELISTO_BIN_DIR) + "/pelisto") + " --ui none --prefix " +
                       Quote(Prefix());
    for (const std::string& a : args) line += " " + Quote(a);
    const std::string out = io_.path() + "/out", err = io_.path() + "/err",
                      rc = io_.path() + "/rc";
    line += " >" + Quote(out) + " 2>" + Quote(err) + "; echo $? >" + Quote(rc);
    EXPECT_EQ(std::system(("sh -c " + Quote(line)).c_str()), 0);
    Run r;
    r.status = std::atoi(ReadHostFile(rc).c_str());
    r.out = ReadHostFile(out);
    r.err = ReadHostFile(err);
    return r;
  }

  std::string Prefix() const { return image_.path() + "/image"; }

  TempDir image_;
  TempDir io_;
};

TEST_F(RegistryOpsRegSetProgram, PreparesAnImageOnBothPaths) {
  Run r = Pelisto({"--os-version", "5", "reg", "set", "HKLM\\SOFTWARE\\Vendor\\App", "ver", "1.2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App\n    ver    REG_SZ    1.2\n");

  r = Pelisto({"reg", "set", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App", "build", "307", "--number"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Pelisto({"reg", "query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App"});
  EXPECT_EQ(r.out,
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App\n"
            "    ver    REG_SZ    1.2\n"
            "    build    REG_DWORD    0x133\n");

  WriteHostFile(Prefix() + "/image.conf",
                ReadHostFile(Prefix() + "/image.conf") + "refuse_elevation=1\n");
  r = Pelisto({"reg", "set", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App", "ver", "2.0"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  r = Pelisto({"reg", "query", "HKLM\\SOFTWARE\\Vendor\\App", "ver"});
  EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App\n    ver    REG_SZ    1.2\n");

  r = Pelisto({"reg", "set", "HKLM\\SOFTWARE", "ver"});
  EXPECT_EQ(r.status, 2);
  r = Pelisto({"--help"});
  EXPECT_NE(r.out.find("pelisto [OPTIONS] reg set KEY VALUE DATA [--number]\n"), std::string::npos);
}

}  // namespace
