#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host/cli_options.h"
#include "tests/support/image_test.h"
#include "tests/support/program_run.h"

namespace {
using pelisto::testing::ReadHostFile;

TEST(RegistryOpsRegSetCli, TakesKeyValueDataAndTheNumberFlagAnywhere) {
  pelisto::CliOptions o;
  std::string error;
  ASSERT_TRUE(pelisto::ParseCommandLine({"reg", "set", "--number", "HKCU\\S", "", "-5"}, &o, &error));
  EXPECT_EQ(o.command, pelisto::CliCommand::kRegSet);
  EXPECT_EQ(o.name, "HKCU\\S");
  EXPECT_EQ(o.args, (std::vector<std::string>{"", "-5"}));
  EXPECT_TRUE(o.number);
  for (const auto& argv : {std::vector<std::string>{"reg", "set", "K", "v"},
                           std::vector<std::string>{"reg", "set", "K", "v", "--number"},
                           std::vector<std::string>{"reg", "set", "K", "v", "d", "e"},
                           std::vector<std::string>{"reg", "set", "K", "v", "d", "--number", "--number"},
                           std::vector<std::string>{"reg", "set", "", "v", "d"}}) {
    EXPECT_FALSE(pelisto::ParseCommandLine(argv, &o, &error)) << argv.size();
  }
}

// The program: Windows 5 writes directly, Windows 6 through the broker, and a refused
// elevation writes nothing.
TEST(RegistryOpsRegSetProgram, PreparesAnImageOnBothPaths) {
  pelisto::testing::TempDir dir;
  std::string last_out;
  const auto pelisto = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--ui", "none", "--prefix", dir.path() + "/image"});
    pelisto::testing::ProgramRun run = pelisto::testing::RunBuiltProgram("pelisto", args);
    last_out = run.out;
    return run.status;
  };
  const auto out = [&] { return last_out; };
  EXPECT_EQ(pelisto({"--os-version", "5", "reg", "set", "HKLM\\SOFTWARE\\Vendor", "ver", "1.2"}), 0);
  EXPECT_EQ(out(), "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\n    ver    REG_SZ    1.2\n");
  EXPECT_EQ(pelisto({"reg", "set", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor", "build", "307", "--number"}), 0);
  pelisto::testing::WriteHostFile(dir.path() + "/image/image.conf",
                                  ReadHostFile(dir.path() + "/image/image.conf") + "refuse_elevation=1\n");
  EXPECT_EQ(pelisto({"reg", "set", "HKLM\\SOFTWARE\\Vendor", "ver", "2.0"}), 1);
  EXPECT_EQ(pelisto({"reg", "query", "HKLM\\SOFTWARE\\Vendor"}), 0);
  EXPECT_EQ(out(),
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\n    ver    REG_SZ    1.2\n"
            "    build    REG_DWORD    0x133\n");
  // An abbreviated root is the key it names here; a configuration's regRoot would mean the
  // local machine by it.
  EXPECT_EQ(pelisto({"--os-version", "5", "reg", "set", "hkcu\\Software\\V", "n", "12abc", "--number"}), 0);
  EXPECT_EQ(out(), "\nHKEY_CURRENT_USER\\Software\\V\n    n    REG_DWORD    0xc\n");
  EXPECT_EQ(pelisto({"--os-version", "5", "reg", "set", "HKCU\\Software\\\\V", "n", "1"}), 1);
  EXPECT_EQ(pelisto({"reg", "set", "HKEY_NOWHERE\\V", "n", "1"}), 2);
  EXPECT_EQ(pelisto({"reg", "set", "HKLM\\SOFTWARE", "ver"}), 2);
  EXPECT_EQ(pelisto({"--help"}), 0);
  EXPECT_NE(out().find("pelisto [OPTIONS] reg set KEY VALUE DATA [--number]\n"), std::string::npos);
}

}  // namespace
