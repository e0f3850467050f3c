// What the DownloadDialog* and DownloadStep* suites share: the transfer fixture on the
// Windows version of the test's parameter, with the control's per-user folders set as the
// folder resolution sets them, and queries over the download dialog's recorded changes.
#pragma once

#include <string>
#include <vector>

#include "tests/download/http_transfer_fixture.h"

namespace pelisto::testing {

class DownloadDialogTest : public HttpTransferTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override;

  bool Windows6() const { return GetParam() >= 6; }
  // The content-file step as the update run calls it (dialog and temporary file).
  os::LONG Entry(const std::string& url, const std::string& target = kTarget, const std::string& type = "exe");

  // Every text given to control `id` of the download dialog (0: its caption), in order.
  std::vector<std::string> Texts(int id);
  std::vector<int> Positions();
  // The upper bounds the bar was given.
  std::vector<int> Ranges();
  std::vector<std::string> BoxTexts();
  // The update log's lines, without the time stamp, each followed by "@" and its level.
  std::vector<std::string> LogLines() const;
  // The server's body at `path` served as a gzip-encoded body that does not decode.
  void ServeBrokenGzip(const std::string& path);
  // A body of `size` pattern bytes with its length, in pieces of `piece` bytes every `ms`.
  void ServeSlow(const std::string& path, size_t size, size_t piece, int ms);
  // A body of `size` pattern bytes without a length, in pieces of `piece` bytes every `ms`.
  void ServeSlowChunked(const std::string& path, size_t size, size_t piece, int ms);
};

std::string PrintOsMajor(const ::testing::TestParamInfo<int>& info);

}  // namespace pelisto::testing
