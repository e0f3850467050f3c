// Feeds arbitrary text, as a script for the headless front end, to its parser. Besides
// surviving every input: a failed parse leaves the script as it was and names a line of the
// text, a successful one is deterministic, and every rule it holds names a line of the text
// and keeps its counters and percentages in range.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_image.h"
#include "os/ui/headless_script.h"

namespace {

std::string Describe(const os::ui::HeadlessScript& s) {
  std::string out = std::to_string(s.timeout_ms) + "|" + s.transcript;
  for (const auto& b : s.boxes) {
    out += "|box " + std::to_string(b.answer) + " " + std::to_string(b.has_text) + b.text + " " +
           std::to_string(b.has_caption) + b.caption + " " + std::to_string(b.nth) + " " +
           std::to_string(b.repeat) + " " + std::to_string(b.line);
  }
  for (const auto& p : s.presses) {
    out += "|press " + std::to_string(p.button) + p.title + " " + std::to_string(p.appear) + " " +
           std::to_string(p.has_progress) + std::to_string(p.progress_is_percent) + " " +
           std::to_string(p.progress_control) + " " + std::to_string(p.progress_position) + " " +
           std::to_string(p.repeat) + " " + std::to_string(p.line);
  }
  for (const auto& f : s.fails) out += "|fail " + f.title + " " + std::to_string(f.nth) + " " + std::to_string(f.line);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Texts are converted to the image's code page as they are parsed.
  pelisto::fuzz::UseFuzzImage();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;

  os::ui::HeadlessScript script;
  script.timeout_ms = 1234;
  script.transcript = "before";
  script.fails.push_back({"before", 2, 9});
  const std::string before = Describe(script);
  std::string error;
  if (!os::ui::ParseHeadlessScript(text, &script, &error)) {
    FUZZ_REQUIRE(Describe(script) == before);
    FUZZ_REQUIRE(error.starts_with("line "));
    const int line = std::atoi(error.c_str() + 5);
    FUZZ_REQUIRE(line >= 1 && line <= lines);
    return 0;
  }
  os::ui::HeadlessScript again;
  std::string again_error;
  FUZZ_REQUIRE(os::ui::ParseHeadlessScript(text, &again, &again_error));
  FUZZ_REQUIRE(Describe(again) == Describe(script));
  for (const auto& b : script.boxes) FUZZ_REQUIRE(b.line >= 1 && b.line <= lines && b.nth >= 0);
  for (const auto& f : script.fails) FUZZ_REQUIRE(f.line >= 1 && f.line <= lines && f.nth >= 0);
  for (const auto& p : script.presses) {
    FUZZ_REQUIRE(p.line >= 1 && p.line <= lines && p.appear >= 0);
    if (p.progress_is_percent) FUZZ_REQUIRE(p.progress_position >= 0 && p.progress_position <= 100);
  }
  return 0;
}
