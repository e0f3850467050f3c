// The download dialog's worker thread: the shared request sequence on the dialog's path,
// with the dialog's status texts, its progress lines, its error texts from the string table,
// its abort flag checked after each handle and in the read loop, and the archive step for a
// file of type "zip". It ends by posting the completion message when it has one to give,
// and always by posting CHttpDownloadDlg::kWorkerEndedMessage last.
//
// Threads: made and started on the dialog's thread; Run() on a thread of its own. Done()
// and Join() are for the dialog's thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "download/download_archive_step.h"
#include "download/download_progress.h"
#include "download/http_request_sequence.h"

namespace pelisto {

class CHttpDownloadDlg;

class DownloadWorker : private HttpRequestSequence::Observer, private DownloadArchiveStep::View {
 public:
  explicit DownloadWorker(CHttpDownloadDlg& dialog) : dialog_(dialog) {}
  ~DownloadWorker() override;
  DownloadWorker(const DownloadWorker&) = delete;
  DownloadWorker& operator=(const DownloadWorker&) = delete;

  // Makes the thread, held before its first step until Resume(); false when it cannot be made.
  bool CreateSuspended();
  void Resume();
  // True once the thread's body has returned (its last message posted).
  bool Done() const { return done_.load(); }
  void Join();

 private:
  void Main();
  void Transfer();
  // The sequence's failure as the dialog words it; `posts` false for the failures after
  // which the worker ends without a completion message.
  std::string FailureText(bool* posts);
  void Post(os::WPARAM result);
  // Closes the output file of a transfer that is not to be placed; the dialog removes it.
  void Discard();

  // HttpRequestSequence::Observer
  void OnStatus(os::DWORD status, void* info, os::DWORD info_length) override;
  bool StopRequested() override;
  void OnStatusAccepted() override;
  void OnStart(os::LONG length) override;
  void OnChunk(std::int64_t received) override;
  bool Cancelled() const override;

  // DownloadArchiveStep::View
  void ShowUnzipping() override;
  void ShowMember(int written_before, const std::string& name) override;

  CHttpDownloadDlg& dialog_;
  std::unique_ptr<DownloadProgress> progress_;
  std::thread thread_;
  std::mutex gate_mu_;
  std::condition_variable gate_cv_;
  bool resumed_ = false;
  std::atomic<bool> done_{false};
};

}  // namespace pelisto
