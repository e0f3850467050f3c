// The status dialog's progress sink as a test stands it in: every call answers "go on"
// (cancel 0) and records nothing. The tests' sinks derive from it and override what they watch.
#pragma once

#include <string>

#include "download/starter_download.h"

namespace pelisto::testing {

class NullStarterDownload : public IStarterDownload {
 public:
  void StartDownload(const std::string&, const std::string&, os::LONG, os::LONG* cancel) override {
    *cancel = 0;
  }
  void Downloading(os::LONG, os::LONG* cancel) override { *cancel = 0; }
  void ChangeStatus(os::LONG, os::LONG, os::LONG, os::LONG* cancel) override { *cancel = 0; }
  void UnZipFileNumber(os::LONG) override {}
  void UnZipping(const std::string&, os::LONG* cancel) override { *cancel = 0; }
  void EndUnZip(os::LONG) override {}
  void TotalDownloadFileNumber(os::LONG, os::LONG* cancel) override { *cancel = 0; }
  void IsDownload(os::LONG, const std::string&, os::LONG* cancel) override { *cancel = 0; }
  void ErrorNotify(const std::string&) override {}
};

}  // namespace pelisto::testing
