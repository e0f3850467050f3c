#include "control/style_options.h"

#include <cstdint>
#include <limits>

#include "os/base/text.h"

namespace pelisto {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

os::VARIANT_BOOL Flag(const std::string& value) {
  return value == "yes" ? os::VARIANT_TRUE : os::VARIANT_FALSE;
}

}  // namespace

StyleOptions ParseStyleOptions(std::string_view status) {
  StyleOptions options;
  size_t start = 0;
  while (true) {
    const size_t comma = status.find(',', start);
    const std::string_view piece =
        status.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    const size_t eq = piece.find('=');
    if (eq != std::string_view::npos) {
      const std::string_view name = Trim(piece.substr(0, eq));
      const std::string_view value = Trim(piece.substr(eq + 1));
      if (!name.empty() && !value.empty()) options.try_emplace(std::string(name), value);
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return options;
}

os::LONG StyleOptionNumber(std::string_view value) {
  constexpr std::int64_t kMax = std::numeric_limits<os::LONG>::max();
  std::int64_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') break;
    n = n * 10 + (c - '0');
    if (n > kMax) return static_cast<os::LONG>(kMax);
  }
  return static_cast<os::LONG>(n);
}

void ApplyStyleOptions(const StyleOptions& options, os::IWebBrowser2& browser) {
  for (const auto& [name, value] : options) {
    const std::string key = os::AsciiLower(name);
    if (key == "width") {
      browser.put_Width(StyleOptionNumber(value));
    } else if (key == "height") {
      browser.put_Height(StyleOptionNumber(value));
    } else if (key == "left") {
      browser.put_Left(StyleOptionNumber(value));
    } else if (key == "top") {
      browser.put_Top(StyleOptionNumber(value));
    } else if (key == "resizable") {
      browser.put_Resizable(Flag(value));
    } else if (key == "status") {
      browser.put_StatusBar(Flag(value));
    } else if (key == "toolbar") {
      browser.put_ToolBar(Flag(value));
    } else if (key == "location") {
      browser.put_AddressBar(Flag(value));
    } else if (key == "fullscreen") {
      browser.put_FullScreen(Flag(value));
    } else if (key == "menubar") {
      browser.put_MenuBar(Flag(value));
    }
  }
}

}  // namespace pelisto
