// What the benchmarks share: a machine image of their own, medians and file comparison.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "os/image/machine.h"

namespace pelisto::bench {

// A fresh machine image that reports Windows 5.1 (the steps write their targets directly,
// as the tools compared with do) or, with `os_major` 6, Windows 6.1 (through the broker), in a
// new folder below `base`, made current for the process. The destructor removes it with
// everything in it.
class BenchImage {
 public:
  // `name` goes into the folder's name; ok() tells whether the image could be opened.
  BenchImage(const std::filesystem::path& base, const std::string& name, int os_major = 5);
  ~BenchImage();
  BenchImage(const BenchImage&) = delete;
  BenchImage& operator=(const BenchImage&) = delete;

  bool ok() const { return machine_ != nullptr; }
  const std::string& error() const { return error_; }
  const std::filesystem::path& prefix() const { return prefix_; }
  // The host folder behind C:\ + `folder`, created.
  std::filesystem::path Folder(const std::string& folder) const;

 private:
  std::filesystem::path prefix_;
  std::string error_;
  std::unique_ptr<os::Machine> machine_;
};

double Median(std::vector<double> values);
// True when the two host files hold the same bytes.
bool SameFiles(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace pelisto::bench
