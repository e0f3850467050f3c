#include "download/http_request_sequence.h"

#include <charconv>
#include <cstdlib>
#include <limits>

#include "download/body_size_bound.h"
#include "download/content_decoder.h"
#include "download/output_file.h"
#include "os/base/error.h"
#include "os/base/handle.h"
#include "os/fs/file_api.h"
#include "os/image/machine.h"
#include "os/inet/urlmon.h"

namespace pelisto {
namespace {

// Added to the request flags when the secure re-send fails: ignore an unknown certificate
// authority, revocation, the certificate's name and date, and redirects between http and
// https.
constexpr os::DWORD kLenientSecurityFlags = 0xF180;
constexpr os::DWORD kStatusBufferSize = 32;
constexpr os::DWORD kLengthBufferSize = 32;

bool Succeeded(os::HRESULT hr) { return hr >= 0; }

// A Content-Length text as the event reports it: -1 when it is not a number or does not fit.
os::LONG LengthFromText(const char* text, size_t size) {
  std::int64_t value = 0;
  auto [end, ec] = std::from_chars(text, text + size, value);
  if (ec != std::errc() || end != text + size || value < 0 || value > std::numeric_limits<os::LONG>::max()) {
    return -1;
  }
  return static_cast<os::LONG>(value);
}

std::string QueryText(os::HINTERNET request, os::DWORD level) {
  std::string text(256, '\0');
  os::DWORD length = static_cast<os::DWORD>(text.size());
  if (!os::HttpQueryInfoA(request, level, text.data(), &length, nullptr)) {
    if (os::GetLastError() != os::ERROR_INSUFFICIENT_BUFFER) return "";
    text.assign(length, '\0');
    if (!os::HttpQueryInfoA(request, level, text.data(), &length, nullptr)) return "";
  }
  text.resize(length);
  return text;
}

}  // namespace

class SequenceBodySource {
 public:
  virtual ~SequenceBodySource() = default;
  // False with the last error set when the read failed; *got 0 at the end.
  virtual bool Read(char* buffer, os::DWORD size, os::DWORD* got) = 0;
};

namespace {

class ResponseBody : public SequenceBodySource {
 public:
  explicit ResponseBody(os::HINTERNET request) : request_(request) {}
  bool Read(char* buffer, os::DWORD size, os::DWORD* got) override {
    return os::InternetReadFile(request_, buffer, size, got) != 0;
  }

 private:
  os::HINTERNET request_;
};

// The file the cache fetch stored: what the server gave the browser's own request.
class CachedBody : public SequenceBodySource {
 public:
  ~CachedBody() override {
    if (file_ != os::INVALID_HANDLE_VALUE) os::CloseHandle(file_);
  }
  bool Open(const std::string& path, os::LONG* length) {
    file_ = os::CreateFileA(path, os::GENERIC_READ, os::FILE_SHARE_READ, nullptr, os::OPEN_EXISTING,
                            os::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == os::INVALID_HANDLE_VALUE) return false;
    os::DWORD high = 0;
    os::DWORD low = os::GetFileSize(file_, &high);
    *length = high != 0 || low > static_cast<os::DWORD>(std::numeric_limits<os::LONG>::max())
                  ? -1
                  : static_cast<os::LONG>(low);
    return true;
  }
  bool Read(char* buffer, os::DWORD size, os::DWORD* got) override {
    return os::ReadFile(file_, buffer, size, got, nullptr) != 0;
  }

 private:
  os::HANDLE file_ = os::INVALID_HANDLE_VALUE;
};

}  // namespace

HttpRequestSequence::~HttpRequestSequence() { CloseHandles(); }

HttpRequestSequence::Result HttpRequestSequence::Fail(SequenceFailure failure, os::DWORD code) {
  failure_ = failure;
  failure_code_ = code;
  return Result::kFailed;
}

bool HttpRequestSequence::Stop() const { return observer_ != nullptr && observer_->StopRequested(); }

HttpRequestSequence::Result HttpRequestSequence::Run(const SequenceRequest& request, OutputFile* out,
                                                     Observer* observer) {
  CloseHandles();
  observer_ = observer;
  flags_ = request.flags;
  from_cache_ = false;
  failure_ = SequenceFailure::kNone;
  failure_code_ = 0;
  failure_detail_.clear();
  stopped_ = false;
  if (!OpenHandles(request)) return stopped_ ? Result::kStopped : Result::kFailed;

  std::string cache_path;
  if (!AcceptStatus(request, &cache_path)) return Result::kFailed;
  observer_->OnStatusAccepted();

  if (!cache_path.empty()) {
    // The answer on the request handle is the challenge page, not the file: the body
    // comes from what the cache fetch stored.
    CachedBody cached;
    os::LONG length = -1;
    if (!cached.Open(cache_path, &length)) return Fail(SequenceFailure::kRead, os::GetLastError());
    from_cache_ = true;
    observer_->OnStart(length);
    return ReadBody(cached, "", out);
  }

  char length_text[kLengthBufferSize] = {};
  os::DWORD length_size = sizeof length_text;
  os::LONG length = -1;
  if (os::HttpQueryInfoA(request_, os::HTTP_QUERY_CONTENT_LENGTH, length_text, &length_size, nullptr)) {
    length = LengthFromText(length_text, length_size);
  }
  std::string encoding = QueryText(request_, os::HTTP_QUERY_CONTENT_ENCODING);
  observer_->OnStart(length);
  ResponseBody body(request_);
  return ReadBody(body, encoding, out);
}

bool HttpRequestSequence::OpenHandles(const SequenceRequest& request) {
  // After each handle the path may stop the sequence (the download dialog's Cancel).
  auto made = [this](bool ok, SequenceFailure failure) {
    if (!ok) {
      Fail(failure, os::GetLastError());
      return false;
    }
    if (Stop()) {
      stopped_ = true;
      return false;
    }
    return true;
  };
  os::HINTERNET session = os::InternetOpenA(kApplicationName, os::INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  {
    std::lock_guard<std::mutex> lock(session_mu_);
    session_ = session;
  }
  if (!made(session_ != nullptr, SequenceFailure::kInternetOpen)) return false;

  bool registered = os::InternetSetStatusCallback(session_, &HttpRequestSequence::StatusCallback) !=
                    os::INTERNET_INVALID_STATUS_CALLBACK;
  if (!made(registered, SequenceFailure::kStatusCallback)) return false;

  const UrlParts& parts = request.parts;
  const bool credentials = !parts.user.empty();
  connection_ = os::InternetConnectA(session_, parts.server.c_str(), parts.port,
                                     credentials ? parts.user.c_str() : nullptr,
                                     credentials ? parts.password.c_str() : nullptr, parts.service, 0,
                                     reinterpret_cast<os::DWORD_PTR>(this));
  if (!made(connection_ != nullptr, SequenceFailure::kConnect)) return false;

  static const char* const kAcceptTypes[] = {"*/*", nullptr};
  request_ = os::HttpOpenRequestA(connection_, nullptr, request.object.c_str(), nullptr, nullptr, kAcceptTypes,
                                  flags_, reinterpret_cast<os::DWORD_PTR>(this));
  return made(request_ != nullptr, SequenceFailure::kOpenRequest);
}

bool HttpRequestSequence::SendRequest() {
  const bool sent = os::HttpSendRequestA(request_, nullptr, 0, nullptr, 0) != 0;
  if ((flags_ & os::INTERNET_FLAG_SECURE) == 0) {
    if (!sent) Fail(SequenceFailure::kSend, os::GetLastError());
    return sent;
  }
  // A secure request is sent again, and once more with the certificate checks relaxed when
  // that fails: the first send is where a certificate problem shows, so its failure alone
  // does not end the transfer.
  if (os::HttpSendRequestA(request_, nullptr, 0, nullptr, 0)) return true;
  flags_ |= kLenientSecurityFlags;
  if (!os::InternetSetOptionA(request_, os::INTERNET_OPTION_SECURITY_FLAGS, &flags_, sizeof flags_)) {
    Fail(SequenceFailure::kSetSecurityFlags, os::GetLastError());
    return false;
  }
  if (!os::HttpSendRequestA(request_, nullptr, 0, nullptr, 0)) {
    Fail(SequenceFailure::kSecureSend, os::GetLastError());
    return false;
  }
  return true;
}

bool HttpRequestSequence::AcceptStatus(const SequenceRequest& request, std::string* cache_path) {
  for (int resends = 0;; ++resends) {
    if (!SendRequest()) return false;
    char text[kStatusBufferSize] = {};
    os::DWORD size = sizeof text;
    if (!os::HttpQueryInfoA(request_, os::HTTP_QUERY_STATUS_CODE, text, &size, nullptr)) {
      Fail(SequenceFailure::kQueryStatus, os::GetLastError());
      return false;
    }
    const int status = std::atoi(text);
    if (status == 200) return true;
    const bool challenge = status == 401 || status == 407;
    if (challenge) {
      // The browser's own fetch may hold credentials this session lacks.
      std::string path;
      if (Succeeded(os::URLDownloadToCacheFileA(nullptr, request.url, &path, os::MAX_PATH, 0, nullptr)) &&
          !path.empty()) {
        *cache_path = path;
        return true;
      }
    }
    if (!challenge || resends == kMaxAuthResends) {
      Fail(SequenceFailure::kHttpStatus, static_cast<os::DWORD>(status));
      return false;
    }
  }
}

HttpRequestSequence::Result HttpRequestSequence::ReadBody(SequenceBodySource& source, const std::string& encoding,
                                                          OutputFile* out) {
  ContentDecoder decoder(encoding);
  const bool decodes = decoder.Decodes();
  const os::Machine* machine = os::CurrentMachine();
  BodySizeBound bound(machine != nullptr ? machine->settings().transfer : os::TransferBounds{});
  char buffer[kReadChunk];
  std::string decoded;
  std::int64_t received = 0;
  std::uint64_t written = 0;
  // Checked before the bytes go out, so that the file never holds more than the bound.
  auto write = [&](const char* data, size_t size) {
    if (size == 0) return Result::kCompleted;
    written += size;
    if (!bound.Allows(static_cast<std::uint64_t>(received), written, decodes)) {
      failure_detail_ = bound.Reason();
      return Fail(SequenceFailure::kTooLarge, os::ERROR_FILE_TOO_LARGE);
    }
    return out->Write(data, size) ? Result::kCompleted : Fail(SequenceFailure::kWrite, os::GetLastError());
  };
  for (;;) {
    os::DWORD got = 0;
    if (!source.Read(buffer, kReadChunk, &got)) return Fail(SequenceFailure::kRead, os::GetLastError());
    if (got == 0) break;
    if (observer_->Cancelled()) return Result::kCancelled;
    received += got;
    Result wrote;
    if (decodes) {
      if (!decoder.DecodeChunk(buffer, got, &decoded)) return Fail(SequenceFailure::kDecode, os::ERROR_INTERNET_DECODING_FAILED);
      wrote = write(decoded.data(), decoded.size());
    } else {
      wrote = write(buffer, got);
    }
    if (wrote != Result::kCompleted) return wrote;
    observer_->OnChunk(received);
    if (observer_->Cancelled()) return Result::kCancelled;
  }
  if (decodes) {
    // The end of the body must also be the end of the compressed stream, or the file is
    // short of what the server meant to send.
    if (!decoder.Finish(&decoded)) return Fail(SequenceFailure::kDecode, os::ERROR_INTERNET_DECODING_FAILED);
    if (Result wrote = write(decoded.data(), decoded.size()); wrote != Result::kCompleted) return wrote;
  }
  return Result::kCompleted;
}

void HttpRequestSequence::StatusCallback(os::HINTERNET, os::DWORD_PTR context, os::DWORD status, void* info,
                                         os::DWORD info_length) {
  // Handles are closed only by CloseHandles, after the observer was let go, or by Interrupt
  // on another thread, which the observer must not hear from.
  if (status == os::INTERNET_STATUS_HANDLE_CLOSING) return;
  auto* self = reinterpret_cast<HttpRequestSequence*>(context);
  if (self != nullptr && self->observer_ != nullptr) self->observer_->OnStatus(status, info, info_length);
}

void HttpRequestSequence::CloseHandles() {
  // The closing notifications come after the transfer's outcome is settled; the path does
  // not hear them.
  observer_ = nullptr;
  if (request_ != nullptr) os::InternetCloseHandle(request_);
  request_ = nullptr;
  if (connection_ != nullptr) os::InternetCloseHandle(connection_);
  connection_ = nullptr;
  std::lock_guard<std::mutex> lock(session_mu_);
  if (session_ != nullptr) os::InternetCloseHandle(session_);
  session_ = nullptr;
}

void HttpRequestSequence::Interrupt() {
  std::lock_guard<std::mutex> lock(session_mu_);
  // Closing the session closes its connection and request with it. Handles are never
  // reused, so CloseHandles closing them again later only fails quietly.
  if (session_ != nullptr) os::InternetCloseHandle(session_);
}

}  // namespace pelisto
