#include "bench/bench_support.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>

#include "os/base/text.h"

namespace pelisto::bench {

namespace fs = std::filesystem;

BenchImage::BenchImage(const fs::path& base, const std::string& name, int os_major) {
  std::mt19937_64 rng(std::random_device{}());
  prefix_ = base / ("pelisto-bench-" + name + "-" + std::to_string(rng()));
  machine_ = os::Machine::Open(prefix_.string(), &error_);
  if (!machine_) return;
  machine_->mutable_settings().os_major = os_major;
  machine_->mutable_settings().os_minor = 1;
  // The broker process reads the settings from the image.
  if (os_major != 5 && !machine_->Save(&error_)) {
    machine_.reset();
    return;
  }
  os::SetCurrentMachine(machine_.get());
  os::SetAnsiCodePage(machine_->settings().code_page);
}

BenchImage::~BenchImage() {
  if (machine_) os::SetCurrentMachine(nullptr);
  machine_.reset();
  std::error_code ec;
  fs::remove_all(prefix_, ec);
}

fs::path BenchImage::Folder(const std::string& folder) const {
  const fs::path path = prefix_ / "drive_c" / folder;
  fs::create_directories(path);
  return path;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

bool SameFiles(const fs::path& a, const fs::path& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  std::vector<char> ba(1 << 20), bb(1 << 20);
  while (fa && fb) {
    fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
    fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
    if (fa.gcount() != fb.gcount() || std::memcmp(ba.data(), bb.data(), static_cast<size_t>(fa.gcount())) != 0) {
      return false;
    }
  }
  return fa.eof() && fb.eof();
}

}  // namespace pelisto::bench
