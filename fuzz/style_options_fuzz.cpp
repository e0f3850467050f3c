// Feeds arbitrary text, as the option string a page hands setStyle2, to the option grammar
// and applies the options to a browser that records the calls. Besides surviving every
// input: every option kept is a trimmed, non-empty name and value from one piece of the
// text, parsing twice gives the same map, numbers are never negative, flags are true or false,
// and each known option, whatever its case, is applied once per spelling.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "control/style_options.h"
#include "fuzz/fuzz_image.h"
#include "os/base/text.h"
#include "os/com/unknown.h"
#include "os/ui/browser/web_browser.h"

namespace {

class RecordingBrowser : public os::ComObject<os::IWebBrowser2> {
 public:
  std::map<std::string, int> calls;

  os::HRESULT put_Left(os::LONG v) override { return Number("left", v); }
  os::HRESULT put_Top(os::LONG v) override { return Number("top", v); }
  os::HRESULT put_Width(os::LONG v) override { return Number("width", v); }
  os::HRESULT put_Height(os::LONG v) override { return Number("height", v); }
  os::HRESULT put_Resizable(os::VARIANT_BOOL v) override { return Flag("resizable", v); }
  os::HRESULT put_StatusBar(os::VARIANT_BOOL v) override { return Flag("status", v); }
  os::HRESULT put_ToolBar(int v) override { return Flag("toolbar", v); }
  os::HRESULT put_AddressBar(os::VARIANT_BOOL v) override { return Flag("location", v); }
  os::HRESULT put_FullScreen(os::VARIANT_BOOL v) override { return Flag("fullscreen", v); }
  os::HRESULT put_MenuBar(os::VARIANT_BOOL v) override { return Flag("menubar", v); }
  os::HRESULT put_Visible(os::VARIANT_BOOL) override { return Unexpected(); }
  os::HRESULT get_HWND(os::SHANDLE_PTR*) override { return Unexpected(); }

 private:
  os::HRESULT Number(const char* name, os::LONG value) {
    FUZZ_REQUIRE(value >= 0);
    ++calls[name];
    return os::S_OK;
  }
  os::HRESULT Flag(const char* name, int value) {
    FUZZ_REQUIRE(value == os::VARIANT_TRUE || value == os::VARIANT_FALSE);
    ++calls[name];
    return os::S_OK;
  }
  os::HRESULT Unexpected() {
    FUZZ_REQUIRE(!"the options touch only placement and bars");
    return os::E_FAIL;
  }
};

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const pelisto::StyleOptions options = pelisto::ParseStyleOptions(text);
  FUZZ_REQUIRE(pelisto::ParseStyleOptions(text) == options);
  std::map<std::string, int> expected;
  for (const auto& [name, value] : options) {
    for (const std::string* part : {&name, &value}) {
      FUZZ_REQUIRE(!part->empty() && !IsBlank(part->front()) && !IsBlank(part->back()));
      FUZZ_REQUIRE(part->find(',') == std::string::npos);
    }
    FUZZ_REQUIRE(name.find('=') == std::string::npos);
    FUZZ_REQUIRE(text.find(name) != std::string_view::npos);
    FUZZ_REQUIRE(text.find(value) != std::string_view::npos);
    FUZZ_REQUIRE(pelisto::StyleOptionNumber(value) >= 0);
    const std::string key = os::AsciiLower(name);
    static const char* const kKnown[] = {"width", "height", "left", "top", "resizable",
                                         "status", "toolbar", "location", "fullscreen", "menubar"};
    for (const char* known : kKnown) {
      if (key == known) ++expected[key];
    }
  }
  auto browser = os::MakeCom<RecordingBrowser>();
  pelisto::ApplyStyleOptions(options, *browser.Get());
  FUZZ_REQUIRE(browser->calls == expected);
  return 0;
}
