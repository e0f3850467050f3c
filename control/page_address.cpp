#include "control/page_address.h"

#include "os/base/text.h"
#include "os/ui/window.h"

namespace pelisto {
namespace {

constexpr int kClassNameChars = 100;

os::BOOL FindFirstEdit(os::HWND hwnd, os::LPARAM lparam) {
  std::string class_name;
  os::GetClassNameA(hwnd, &class_name, kClassNameChars);
  if (!os::EqualsIgnoreCase(class_name, "EDIT")) return os::TRUE;
  *reinterpret_cast<os::HWND*>(lparam) = hwnd;
  return os::FALSE;
}

}  // namespace

std::string ReadPageAddress(os::HWND main_window) {
  if (main_window == nullptr) return {};
  os::HWND edit = nullptr;
  os::EnumChildWindows(main_window, FindFirstEdit, reinterpret_cast<os::LPARAM>(&edit));
  if (edit == nullptr) return {};
  const int length = os::GetWindowTextLengthA(edit);
  std::string text;
  // The field's length plus the terminator, as the text calls count it.
  if (length > 0) os::GetWindowTextA(edit, &text, length + 1);
  return text;
}

}  // namespace pelisto
