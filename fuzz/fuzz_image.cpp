#include "fuzz/fuzz_image.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>

#include "os/base/text.h"
#include "os/fs/file_util.h"
#include "os/image/integrity.h"
#include "os/image/machine.h"
#include "os/ui/front_end.h"
#include "os/ui/headless_front_end.h"

namespace pelisto::fuzz {
namespace {
namespace fs = std::filesystem;

struct FuzzImage {
  std::string dir;
  std::unique_ptr<os::Machine> machine;

  FuzzImage() {
    std::error_code ec;
    // Memory-backed where the host has it: the file layer syncs every whole-file write, which
    // on a disk would make each run wait for it.
    fs::path base = "/dev/shm";
    if (!fs::is_directory(base, ec)) base = fs::temp_directory_path(ec);
    if (ec) Broken("a temporary folder for the fuzz image");
    // A random name keeps parallel fuzzers (-jobs) apart.
    std::random_device random;
    for (unsigned attempt = 0; attempt < 100 && dir.empty(); ++attempt) {
      const fs::path candidate = base / ("pelisto-fuzz-" + std::to_string(random()));
      if (fs::create_directory(candidate, ec)) dir = candidate.string();
    }
    if (dir.empty()) Broken("a temporary folder for the fuzz image");
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace, ec);
    std::string error;
    machine = os::Machine::Open(dir, &error);
    if (!machine) {
      std::fprintf(stderr, "fuzz image: %s\n", error.c_str());
      Broken("the fuzz image opens");
    }
    os::SetCurrentMachine(machine.get());
    os::SetAnsiCodePage(machine->settings().code_page);
    os::ResetProcessIntegrity();
    os::ui::SetFrontEnd(std::make_shared<os::ui::HeadlessFrontEnd>());
  }
  ~FuzzImage() {
    os::ui::SetFrontEnd(nullptr);
    os::SetCurrentMachine(nullptr);
    machine.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

}  // namespace

void UseFuzzImage() {
  static FuzzImage image;
}

void PutImageFile(const std::string& path, std::string_view bytes) {
  UseFuzzImage();
  if (!os::WriteFileAtomically(path, bytes)) Broken("the fuzz input is written to the image");
}

void Broken(const char* rule) {
  std::fprintf(stderr, "rule broken: %s\n", rule);
  std::abort();
}

}  // namespace pelisto::fuzz
