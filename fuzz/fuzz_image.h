// A machine image for fuzz targets whose parser reads a file or needs the image's code page:
// made once per process in a fresh temporary folder and removed when the process ends.
#pragma once

#include <string>
#include <string_view>

namespace pelisto::fuzz {

// Opens the image on first use and makes it current; aborts when it cannot be made.
void UseFuzzImage();

// Writes `bytes` to the Windows-form `path` inside the image (its folder must exist, C:\ does);
// aborts on failure.
void PutImageFile(const std::string& path, std::string_view bytes);

// Aborts with `rule` on stderr: a broken invariant must reach libFuzzer as a crash.
[[noreturn]] void Broken(const char* rule);

}  // namespace pelisto::fuzz

#define FUZZ_REQUIRE(condition) ((condition) ? void() : ::pelisto::fuzz::Broken(#condition))
