// What the zip tests share: a fresh image with a headless front end, a run context for the
// Windows version under test, archives put into the image, and a record of every file the
// image holds so a test can prove nothing was written where it does not belong.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/support/fake_run_context.h"
#include "tests/support/null_starter_download.h"
#include "tests/support/ui_script.h"

namespace pelisto::testing {

// The status dialog as a recorder; it answers UnZipping number `cancel_at` with a cancel.
class RecordingSink : public NullStarterDownload {
 public:
  int cancel_at = 0;
  std::vector<std::string> calls;
  void UnZipFileNumber(os::LONG n) override;
  void UnZipping(const std::string& name, os::LONG* cancel) override;

 private:
  int unzipping_ = 0;
};

// A run context whose UnZipping answers are scripted per event (1-based), with a status
// dialog to hand out and privileged steps that can be made to fail.
class ZipRunContext : public FakeRunContext {
 public:
  int cancel_at_unzipping = 0;  // the UnZipping event whose pCancel the page sets to 1
  int unzipping_count = 0;
  IStarterDownload* sink = nullptr;
  // Privileged copies, replacing moves / deletes whose source (or path) contains this text fail.
  std::string fail_copy_from;
  std::string fail_delete_of;
  std::vector<std::string> privileged_calls;  // "MoveFileReplacing(a,b)", "DeleteFile(a)", ...

  os::LONG FireUnZipping(const std::string& file_name) override;
  IStarterDownload* StatusSink() override { return sink; }
  PrivilegedOps& Privileged() override;

 private:
  std::unique_ptr<PrivilegedOps> recorder_;
};

class ZipTest : public UiTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Reopens the image as Windows `os_major` and makes a new context for it.
  ZipRunContext& Context(int os_major);
  ZipRunContext& context() { return *context_; }

  // Puts `bytes` at the Windows-form `path` (folders made) and returns the path.
  std::string PutZip(const std::string& path, const std::string& bytes);
  // Files and folders below the image's drive C (host paths relative to it), links included.
  std::set<std::string> Tree();
  // What appeared in Tree() since `before` outside `allowed` (Windows-form folders).
  std::vector<std::string> NewOutside(const std::set<std::string>& before,
                                      const std::vector<std::string>& allowed);
  // The log lines as "level:text".
  std::vector<std::string> LogLines() const;

 private:
  void MakeFirstUseFiles();

  std::unique_ptr<ZipRunContext> context_;
};

}  // namespace pelisto::testing
