// The window methods through the pelisto program: the browser's state and recorded calls it
// prints, several calls in one page, system commands sent to the frame, and bad input.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "actions/browser_version.h"
#include "tests/support/image_test.h"
#include "tests/support/program_run.h"

namespace {
using pelisto::testing::ProgramRun;
using pelisto::testing::RunBuiltProgram;
using pelisto::testing::TempDir;

class BrowserWindowProgram : public ::testing::Test {
 protected:
  ProgramRun Pelisto(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--prefix", image_.path() + "/image", "--ui", "none"};
    all.insert(all.end(), args.begin(), args.end());
    return RunBuiltProgram("pelisto", all);
  }
  void AppendConf(const std::string& lines) {
    ASSERT_EQ(Pelisto({"get", "selfUi"}).status, 0);  // makes the image
    std::ofstream(image_.path() + "/image/image.conf", std::ios::app) << lines;
  }
  static bool Has(const ProgramRun& r, const std::string& text) {
    return r.out.find(text) != std::string::npos;
  }

  TempDir image_;
};

TEST_F(BrowserWindowProgram, SetStyleBesideTheDefaultTaskbar) {
  // A browser older than 7 (none recorded), whose frame is placed without the newer steps.
  std::filesystem::create_directories(image_.path() + "/image");
  std::ofstream(image_.path() + "/image/image.conf") << "browser_version=\n";
  ProgramRun r = Pelisto({"--page-url", "http://example.test/app/index.html", "call", "setStyle"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "result: none\n"
            "browser address http://example.test/app/index.html\n"
            "browser frame 0,0 1024x731 visible normal wide own\n"
            "browser bars toolbar 0 addressbar 0 menubar 0 statusbar 0 resizable -1 fullscreen 0 "
            "visible -1\n"
            "browser call put_Left(0)\n"
            "browser call put_Top(0)\n"
            "browser call put_Width(1024)\n"
            "browser call put_Height(731)\n"
            "browser call put_ToolBar(0)\n"
            "browser call put_AddressBar(0)\n"
            "browser call put_MenuBar(0)\n"
            "browser call put_StatusBar(0)\n"
            "browser call get_HWND()\n");
}

TEST_F(BrowserWindowProgram, ThePageAddressIsReadWhole) {
  std::string url = "http://updates.example.test/";
  while (url.size() < 300) url += "section/";
  url += "index.html?lang=en&x=1";
  ProgramRun r = Pelisto({"--page-url", url, "call", "setIEResizable", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r, "browser address " + url + "\n")) << r.out;
  r = Pelisto({"call", "setIEResizable", "1"});
  EXPECT_TRUE(Has(r, "browser address \"\"\n")) << "none by default: " << r.out;
}

TEST_F(BrowserWindowProgram, SetStyleWithALeftTaskbarOnVersion7) {
  AppendConf("taskbar_edge=left\ntaskbar_size=48\ndesktop_width=1280\ndesktop_height=800\n");
  ProgramRun set = Pelisto({"reg", "set", std::string("HKLM\\") + pelisto::kBrowserVersionKey,
                            pelisto::kBrowserVersionValue, "7.0000"});
  ASSERT_EQ(set.status, 0) << set.err;
  ProgramRun r = Pelisto({"call", "setStyle"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r, "browser frame 48,0 1232x800 visible normal wide own\n")) << r.out;
  EXPECT_TRUE(Has(r,
                  "browser call put_Height(800)\n"
                  "browser call put_Visible(0)\n"
                  "browser call put_ToolBar(0)\n"
                  "browser call put_AddressBar(0)\n"
                  "browser call put_MenuBar(0)\n"
                  "browser call put_StatusBar(0)\n"
                  "browser call get_HWND()\n"
                  "browser message WM_SIZE(0,0)\n"
                  "browser call put_Visible(-1)\n"))
      << r.out;
}

TEST_F(BrowserWindowProgram, SetStyle2OptionGrammar) {
  ProgramRun r = Pelisto({"call", "setStyle2", "width=800,WIDTH=900,toolbar=YES,width=,=5,"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r,
                  "browser call put_Width(900)\n"
                  "browser call put_ToolBar(0)\n"
                  "browser call put_Width(800)\n"))
      << r.out;
  EXPECT_TRUE(Has(r, "browser frame 100,100 800x600 ")) << r.out;
  EXPECT_EQ(r.out.find("browser call", r.out.find("put_Width(800)")), std::string::npos)
      << "nothing more: " << r.out;
}

TEST_F(BrowserWindowProgram, ProtectSystemMenuTwiceInOnePage) {
  ProgramRun r = Pelisto({"--syscommand", "close", "--syscommand", "minimize", "--syscommand",
                          "restore", "--syscommand", "caption-restore", "--syscommand",
                          "0xF030", "call", "protectSystemMenu", "4", "--then",
                          "protectSystemMenu", "2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r,
                  "result: none\n"
                  "result: none\n"
                  "syscommand 0xF060 swallowed\n"
                  "syscommand 0xF020 swallowed\n"
                  "syscommand 0xF120 passed\n"
                  "syscommand 0xF122 passed\n"
                  "syscommand 0xF030 passed\n"))
      << r.out;
  EXPECT_TRUE(Has(r, "browser frame 100,100 800x600 visible maximized wide replaced\n")) << r.out;
  EXPECT_TRUE(Has(r, "browser message WM_SYSCOMMAND(0xF120,0)\n"
                     "browser message WM_SYSCOMMAND(0xF122,0)\n"
                     "browser message WM_SYSCOMMAND(0xF030,0)\n")) << r.out;

  // A new page is a new module: the mask starts empty again.
  r = Pelisto({"--frame", "narrow", "--syscommand", "minimize", "--syscommand", "close", "call",
               "protectSystemMenu", "8"});
  EXPECT_TRUE(Has(r, "syscommand 0xF020 passed\nsyscommand 0xF060 passed\n")) << r.out;
  EXPECT_TRUE(Has(r, "browser frame closed\n")) << r.out;
}

struct StateCase {
  const char* value;
  const char* frame;    // the frame line's ending
  const char* message;  // the recorded message, or null for none
};

class BrowserWindowProgramState : public BrowserWindowProgram,
                                  public ::testing::WithParamInterface<StateCase> {};

TEST_P(BrowserWindowProgramState, ChangeWindowState) {
  ProgramRun r = Pelisto({"call", "ChangeWindowState", GetParam().value});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r, GetParam().frame)) << r.out;
  if (GetParam().message == nullptr) {
    EXPECT_FALSE(Has(r, "browser message")) << r.out;
  } else {
    EXPECT_TRUE(Has(r, GetParam().message)) << r.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, BrowserWindowProgramState,
    ::testing::Values(
        StateCase{"1", "800x600 visible normal wide own\n", nullptr},
        StateCase{"16", "800x600 visible maximized wide own\n", "WM_SYSCOMMAND(0xF030,0)\n"},
        StateCase{"2", "800x600 visible minimized wide own\n", "WM_SYSCOMMAND(0xF020,0)\n"},
        StateCase{"8", "800x600 visible normal wide own\n", "WM_SYSCOMMAND(0xF120,0)\n"},
        StateCase{"4", "browser frame closed\n", "WM_CLOSE()\n"},
        StateCase{"-16", "800x600 visible normal wide own\n", nullptr},
        StateCase{"2147483647", "800x600 visible normal wide own\n", nullptr}));

TEST_F(BrowserWindowProgram, OneJsonObjectWithEventsJson) {
  ProgramRun r = Pelisto({"--events", "json", "--page-url", "http://a.test/\"q\"", "--syscommand",
                          "close", "call", "setIEResizable", "0", "--then", "protectSystemMenu",
                          "4"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"result\":null}\n"
            "{\"result\":null}\n"
            "{\"syscommand\":\"0xF060\",\"outcome\":\"swallowed\"}\n"
            "{\"browser\":{\"address\":\"http://a.test/\\\"q\\\"\",\"frame\":{\"open\":true,"
            "\"left\":100,\"top\":100,\"width\":800,\"height\":600,\"visible\":true,"
            "\"state\":\"normal\",\"unicode\":true,\"procedure\":\"replaced\"},\"toolbar\":-1,"
            "\"addressbar\":-1,\"menubar\":-1,\"statusbar\":-1,\"resizable\":0,\"fullscreen\":0,"
            "\"visible\":-1,\"calls\":[\"put_Resizable(0)\"]}}\n");
}

TEST_F(BrowserWindowProgram, OtherMethodsPrintNoBrowser) {
  ProgramRun r = Pelisto({"call", "setCustomDir", "{a}", "C:\\A", "--then", "setCustomDir", "{b}"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "result: 1\nresult: 2\n") << "the control lives on between the calls";
  r = Pelisto({"call", "AboutBox", "--then", "getConfig", "http://127.0.0.1:1/u.xml"});
  EXPECT_EQ(r.status, 1) << "the last call's result";
  EXPECT_EQ(r.out, "result: none\nresult: 0\n");
}

struct HostCase {
  const char* mode;
  bool browser;  // the browser object is reached
  bool window;   // the control has a window, so a frame
};

class BrowserWindowProgramHosts : public BrowserWindowProgram,
                                  public ::testing::WithParamInterface<HostCase> {};

TEST_P(BrowserWindowProgramHosts, MissingLinksDoNothing) {
  ProgramRun r = Pelisto({"--browser", GetParam().mode, "call", "setStyle", "--then", "setStyle2",
                          "width=5", "--then", "setIEResizable", "1", "--then",
                          "protectSystemMenu", "6", "--then", "ChangeWindowState", "16"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Has(r, "browser call put_Height(731)\n"), GetParam().browser) << r.out;
  EXPECT_EQ(Has(r, "browser call put_Resizable(-1)\n"), GetParam().browser) << r.out;
  EXPECT_EQ(Has(r, "maximized wide replaced"), GetParam().window) << r.out;
  EXPECT_EQ(Has(r, "visible normal wide own"), !GetParam().window) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Modes, BrowserWindowProgramHosts,
                         ::testing::Values(HostCase{"full", true, true},
                                           HostCase{"no-container", false, true},
                                           HostCase{"no-service-provider", false, true},
                                           HostCase{"no-web-browser", false, true},
                                           HostCase{"no-site", false, true},
                                           HostCase{"no-window", true, false},
                                           HostCase{"none", false, false}),
                         [](const ::testing::TestParamInfo<HostCase>& info) {
                           std::string name;
                           for (const char* c = info.param.mode; *c; ++c) {
                             if (*c != '-') name += *c;
                           }
                           return name;
                         });

TEST_F(BrowserWindowProgram, BadInputNeverCrashes) {
  ProgramRun r = Pelisto({"call", "setStyle2", std::string(99999, ',')});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Has(r, "browser call")) << r.out;
  // Bytes that are no UTF-8 never reach the control: a usage error.
  r = Pelisto({"call", "setStyle2", "\xB0\xA1=\xFF,width=\xC7\xD1,left=99999999999999999999"});
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_FALSE(Has(r, "browser call")) << r.out;
  r = Pelisto({"call", "setStyle2", "\xEA\xB0\x80=\xEA\xB0\x80,width=\xED\x95\x9C,left=99999999999999999999"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r, "browser call put_Left(2147483647)\nbrowser call put_Width(0)\n")) << r.out;
  EXPECT_TRUE(Has(r, "browser frame 32767,100 0x600 ")) << r.out;
  r = Pelisto({"call", "protectSystemMenu", "-1", "--then", "ChangeWindowState", "4"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r, "visible normal wide replaced\n")) << "close blocked: " << r.out;
}

class BrowserWindowProgramUsage : public BrowserWindowProgram,
                                  public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(BrowserWindowProgramUsage, ExitsWithTwoBeforeAnyCall) {
  ProgramRun r = Pelisto(GetParam());
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("pelisto: ", 0), 0u) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BrowserWindowProgramUsage,
    ::testing::Values(std::vector<std::string>{"--syscommand", "shut", "call", "setStyle"},
                      std::vector<std::string>{"--syscommand", "0x1FFFFFFFF", "call", "setStyle"},
                      std::vector<std::string>{"--browser", "half", "call", "setStyle"},
                      std::vector<std::string>{"--frame", "thin", "call", "setStyle"},
                      std::vector<std::string>{"call", "setStyle", "--then"},
                      std::vector<std::string>{"call", "setStyle", "--then", "noSuchMethod"},
                      std::vector<std::string>{"call", "ChangeWindowState", "99999999999"},
                      std::vector<std::string>{"call", "setStyle", "extra"}));

}  // namespace
