// The request sequence both transfer paths run (the dialogless HttpDownload and the download
// dialog's worker): session, status callback, connection, request, the send with the secure
// re-sends, the status check with the 401/407 cache fetch, length and encoding, and the read
// loop of 1024-byte chunks with content decoding, written into the caller's output file.
//
// Bounds: the image's transfer bounds (os/image/transfer_bounds.h) hold for both paths. The
// WinINet layer ends a server that is too slow or an exchange that takes too long (a send or
// a read failing with ERROR_INTERNET_TIMEOUT) and refuses unsound framing; the read loop
// ends a body that writes more than the bounds allow (kTooLarge).
//
// The path that runs it supplies an Observer: it receives the WinINet status notifications
// and the progress, says when to stop, and words the failures in its own texts (the
// sequence only reports which step failed and the code). Closing the output file, deleting
// or copying it afterwards are the path's business.
//
// Threads: Run, CloseHandles and the destructor on one thread; the observer is called on
// that thread (the status notifications during the blocking calls). Interrupt may come from
// any thread. The handles stay open after Run until CloseHandles or destruction, in that
// order of closing: request, connection, session.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "download/url_parts.h"
#include "os/base/types.h"
#include "os/inet/wininet.h"

namespace pelisto {

class OutputFile;
class SequenceBodySource;  // where the read loop takes the body from

// The user agent of the sessions: the control's application name.
inline constexpr char kApplicationName[] = "Pelisto";
// After this many re-sends that a 401/407 answer and a failed cache fetch caused, the
// status is taken as the answer.
inline constexpr int kMaxAuthResends = 3;
// Bytes asked of each read.
inline constexpr os::DWORD kReadChunk = 1024;

// The step that failed; the path turns it into its message.
enum class SequenceFailure {
  kNone,
  kInternetOpen,       // code: GetLastError
  kStatusCallback,     // code: GetLastError
  kConnect,            // code: GetLastError
  kOpenRequest,        // code: GetLastError
  kSend,               // code: GetLastError
  kSetSecurityFlags,   // code: GetLastError (the option on the secure re-send)
  kSecureSend,         // code: GetLastError (the third, lenient send)
  kQueryStatus,        // code: GetLastError
  kHttpStatus,         // code: the status that is not accepted
  kRead,               // code: GetLastError
  kWrite,              // code: GetLastError
  kDecode,             // code: ERROR_INTERNET_DECODING_FAILED; the body's encoding could not be decoded
  kTooLarge,           // code: ERROR_FILE_TOO_LARGE; the body outgrew the image's transfer
                       // bounds (failure_detail() says which); nothing past them was written
};

struct SequenceRequest {
  std::string url;     // as parsed; fetched into the cache on 401/407
  UrlParts parts;      // server, port, service; user and password when the user is not empty
  std::string object;  // the object path as it is sent
  os::DWORD flags = 0;  // request flags (ChooseRequestFlags)
};

class HttpRequestSequence {
 public:
  class Observer {
   public:
    virtual ~Observer() = default;
    // A WinINet status notification of the connection or the request, as WinINet gives it.
    virtual void OnStatus(os::DWORD status, void* info, os::DWORD info_length) = 0;
    // Asked after the session, the callback registration, the connection and the request
    // are made; true ends the sequence there with Result::kStopped.
    virtual bool StopRequested() { return false; }
    // The status was accepted; length and encoding are queried next.
    virtual void OnStatusAccepted() {}
    // Before the first read: the body's length, -1 when unknown (or beyond a LONG).
    virtual void OnStart(os::LONG length) = 0;
    // After each chunk was written: the bytes received so far (undecoded).
    virtual void OnChunk(std::int64_t received) = 0;
    // Asked after each read and after each chunk: true ends the read loop with
    // Result::kCancelled, writing nothing more.
    virtual bool Cancelled() const = 0;
  };

  enum class Result {
    kCompleted,  // the whole body is written
    kCancelled,  // the observer cancelled in the read loop
    kStopped,    // StopRequested said so before the body
    kFailed,     // failure() and failure_code() say why
  };

  HttpRequestSequence() = default;
  ~HttpRequestSequence();
  HttpRequestSequence(const HttpRequestSequence&) = delete;
  HttpRequestSequence& operator=(const HttpRequestSequence&) = delete;

  // Runs the sequence once, writing the body into `out` (open), after closing the handles of
  // an earlier run. `observer` must outlive the handles (the status callback reaches it
  // until CloseHandles).
  Result Run(const SequenceRequest& request, OutputFile* out, Observer* observer);

  SequenceFailure failure() const { return failure_; }
  os::DWORD failure_code() const { return failure_code_; }
  // For kTooLarge: which bound was passed, in words ("the decoded body grew past ...").
  const std::string& failure_detail() const { return failure_detail_; }
  // The request flags as they stand after the sends (a lenient re-send adds 0xF180).
  os::DWORD flags() const { return flags_; }
  // True when the body came from the Internet cache after a 401/407 answer.
  bool from_cache() const { return from_cache_; }

  // Closes request, connection and session, each only if open, and forgets them.
  void CloseHandles();

  // Safe from any thread, at any time: closes the session under a Run in progress, so that
  // a send or read blocked on a server that went quiet returns at once (failing with
  // ERROR_INTERNET_OPERATION_CANCELLED). For a path whose observer has already decided to
  // stop (the download dialog's Cancel); the observer hears nothing of the closing.
  void Interrupt();

 private:
  Result Fail(SequenceFailure failure, os::DWORD code);
  bool Stop() const;
  bool OpenHandles(const SequenceRequest& request);
  bool SendRequest();
  bool AcceptStatus(const SequenceRequest& request, std::string* cache_path);
  Result ReadBody(SequenceBodySource& source, const std::string& encoding, OutputFile* out);

  static void StatusCallback(os::HINTERNET handle, os::DWORD_PTR context, os::DWORD status, void* info,
                             os::DWORD info_length);

  std::mutex session_mu_;  // guards session_ between Run and Interrupt
  os::HINTERNET session_ = nullptr;
  os::HINTERNET connection_ = nullptr;
  os::HINTERNET request_ = nullptr;
  Observer* observer_ = nullptr;
  os::DWORD flags_ = 0;
  bool from_cache_ = false;
  bool stopped_ = false;
  SequenceFailure failure_ = SequenceFailure::kNone;
  os::DWORD failure_code_ = 0;
  std::string failure_detail_;
};

}  // namespace pelisto
