#include <gtest/gtest.h>

#include "os/base/error.h"
#include "os/ui/dialog.h"
#include "os/ui/gdi.h"
#include "os/ui/tty_front_end.h"
#include "os/ui/window.h"
#include "tests/support/ui_script.h"

namespace {
using pelisto::testing::UiTest;

class UiModelGdi : public UiTest {};

// The way the unzip dialog shows each member: fill the line, then write the name over it.
TEST_F(UiModelGdi, FillAndTextOutLeaveTheLastLineShown) {
  os::DialogTemplate t;
  t.title = "Pelisto Unzipper";
  t.cx = 247;
  t.cy = 37;
  t.controls = {{204, os::ControlKind::kProgress, "", 7, 7, 233, 9}};
  os::HWND dlg = os::CreateDialogIndirectParamA(t, nullptr, nullptr, 0);
  ASSERT_NE(dlg, nullptr);
  os::HDC dc = os::GetDC(dlg);
  ASSERT_NE(dc, nullptr);
  os::HBRUSH brush = os::CreateSolidBrush(os::GetSysColor(os::COLOR_BTNFACE));
  os::HFONT font = os::CreateFontA(10, 0, 0, 0, os::FW_NORMAL, 0, 0, 0, os::HANGUL_CHARSET, 0, 0, 0, 0, "Gulim");
  os::RECT line{15, 30, 450, 50};
  EXPECT_EQ(os::SelectObject(dc, font), nullptr);
  for (const char* name : {"sub\\a.txt", "sub\\dir\\b.dll", "c.ocx"}) {
    ASSERT_NE(os::FillRect(dc, &line, brush), 0);
    os::SetBkColor(dc, os::GetSysColor(os::COLOR_BTNFACE));
    ASSERT_TRUE(os::TextOutA(dc, 15, 30, name, static_cast<int>(std::string(name).size())));
  }
  os::TextOutA(dc, 15, 60, "only the first four bytes", 4);
  EXPECT_EQ(ui().TextsPainted("Pelisto Unzipper"),
            (std::vector<std::string>{"sub\\a.txt", "sub\\dir\\b.dll", "c.ocx", "only"}));
  os::ui::WindowSnapshot snap;
  ASSERT_TRUE(os::ui::SnapshotWindow(dlg, &snap));
  ASSERT_EQ(snap.painted.size(), 2u);
  EXPECT_EQ(snap.painted[0].text, "c.ocx");
  std::vector<std::string> lines = os::ui::RenderDialog(snap, 60);
  EXPECT_EQ(lines.back(), "only");
  EXPECT_EQ(lines[lines.size() - 2], "c.ocx");

  EXPECT_EQ(os::ReleaseDC(dlg, dc), 1);
  os::SetLastError(0);
  EXPECT_FALSE(os::TextOutA(dc, 0, 0, "stale", 5));  // a released context is not used again
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
  EXPECT_TRUE(os::DeleteObject(font));
  EXPECT_FALSE(os::DeleteObject(font));
  EXPECT_TRUE(os::DeleteObject(brush));
  os::DestroyWindow(dlg);
  EXPECT_EQ(os::GetDC(dlg), nullptr);
}

}  // namespace
