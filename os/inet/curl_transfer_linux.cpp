#include "os/inet/curl_transfer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/inet/curl_errors.h"
#include "os/inet/wininet.h"

namespace os::inet {
namespace {

using Clock = std::chrono::steady_clock;

// libcurl reads this much per socket read; larger reads mean fewer passes through the
// transfer per megabyte on a fast link.
constexpr long kReceiveBufferSize = 256 * 1024;
// Beyond this many unread bytes the transfer is paused until the caller catches up. Kept
// small enough that the bytes are still in the processor's cache when the caller reads them:
// a 4 MiB backlog made a 1024-byte read loop a tenth slower than the curl program.
constexpr size_t kHighWater = 512 * 1024;
// Longest sleep in one poll, so that timeouts and aborts are seen in time.
constexpr int kPollSliceMs = 1000;
// Header bytes one exchange takes, every block (interim answers, redirects) counted: far
// above what servers send, far below what would exhaust memory.
constexpr size_t kMaxHeaderBytes = 256 * 1024;

// Capped well below overflow, so that callers may add to it.
long long MillisecondsLeft(Clock::time_point now, Clock::time_point until) {
  constexpr long long kFar = 1LL << 40;
  if (until == Clock::time_point::max()) return kFar;
  return std::min(kFar, static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()));
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool IsRedirectCode(int code) {
  return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

// The absolute URL `location` leads to from `base`, or empty when it cannot be resolved.
std::string ResolveUrl(const char* base, const std::string& location) {
  std::string out;
  CURLU* url = curl_url();
  if (url == nullptr) return out;
  char* text = nullptr;
  if (curl_url_set(url, CURLUPART_URL, base, 0) == CURLUE_OK &&
      curl_url_set(url, CURLUPART_URL, location.c_str(), 0) == CURLUE_OK &&
      curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK) {
    out = text;
  }
  curl_free(text);
  curl_url_cleanup(url);
  return out;
}

std::string UrlPart(const std::string& whole, CURLUPart part) {
  std::string out;
  CURLU* url = curl_url();
  if (url == nullptr) return out;
  char* text = nullptr;
  // A proxy may be given without a scheme ("host:port").
  if (curl_url_set(url, CURLUPART_URL, whole.c_str(), CURLU_GUESS_SCHEME) == CURLUE_OK &&
      curl_url_get(url, part, &text, 0) == CURLUE_OK) {
    out = text;
  }
  curl_free(text);
  curl_url_cleanup(url);
  return out;
}

std::string AddressText(const curl_sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address->family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&address->addr)->sin_addr, text, sizeof text);
  } else if (address->family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&address->addr)->sin6_addr, text, sizeof text);
  }
  return text;
}

}  // namespace

CurlTransfer::CurlTransfer(TransferObserver* observer) : observer_(observer) {
  GlobalInit();
  multi_ = curl_multi_init();
  easy_ = curl_easy_init();
}

CurlTransfer::~CurlTransfer() {
  destroying_ = true;
  if (attached_) curl_multi_remove_handle(multi_, easy_);
  if (easy_ != nullptr) curl_easy_cleanup(easy_);
  if (multi_ != nullptr) curl_multi_cleanup(multi_);
  curl_slist_free_all(header_list_);
}

void CurlTransfer::Abort() {
  aborted_.store(true, std::memory_order_relaxed);
  if (multi_ != nullptr) curl_multi_wakeup(multi_);
}

void CurlTransfer::Status(DWORD status, const void* info, DWORD length) {
  if (!destroying_ && observer_->WantsStatus()) observer_->OnTransferStatus(status, info, length);
}

void CurlTransfer::StatusText(DWORD status, const std::string& text) {
  Status(status, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void CurlTransfer::ResetExchange() {
  head_ = tail_ = 0;
  paused_ = false;
  done_ = false;
  result_ = CURLE_OK;
  own_error_ = 0;
  headers_final_ = false;
  headers_.Clear();
  pending_.Clear();
  has_pending_ = false;
  block_.clear();
  redirects_ = 0;
  tls_.first_fault = 0;
  hop_resolved_ = hop_opened_ = hop_answered_ = false;
  connecting_ = true;
  last_progress_ = Clock::now();
  window_waited_ = Clock::duration::zero();
  window_bytes_ = 0;
  header_bytes_ = 0;
}

void CurlTransfer::Configure(const TransferSetup& setup) {
  setup_ = setup;
  CURL* e = easy_;
  curl_easy_reset(e);
  curl_slist_free_all(header_list_);
  header_list_ = nullptr;

  curl_easy_setopt(e, CURLOPT_URL, setup_.url.c_str());
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  // Bodies are handed over as the server sent them; the caller decodes.
  curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, setup_.follow_redirects ? 1L : 0L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, setup_.max_redirects);
  if (setup_.fresh_connection) curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);

  if (setup_.connect_timeout_ms != INFINITE) {
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(setup_.connect_timeout_ms));
  }
  curl_easy_setopt(e, CURLOPT_PROXY, setup_.proxy.c_str());
  curl_easy_setopt(e, CURLOPT_NOPROXY, setup_.no_proxy.c_str());
  if (!setup_.user_agent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, setup_.user_agent.c_str());
  if (!setup_.user.empty()) {
    curl_easy_setopt(e, CURLOPT_USERNAME, setup_.user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, setup_.password.c_str());
    curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
  }

  // Certificates: the chain is always verified; the ignore flags let named faults through.
  tls_.ignore_unknown_ca = (setup_.security_flags & SECURITY_FLAG_IGNORE_UNKNOWN_CA) != 0;
  tls_.ignore_date = (setup_.security_flags & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID) != 0;
  bool check_name = (setup_.security_flags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) == 0;
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, check_name ? 2L : 0L);
  curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, &ApplyTlsPolicy);
  curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, &tls_);
  // A resumed session skips verification, which would carry one request's leniency over.
  curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, 0L);

  const std::string& m = setup_.method;
  if (!setup_.body.empty()) {
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(setup_.body.size()));
    curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, setup_.body.c_str());
    if (m != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, m.c_str());
  } else if (m == "HEAD") {
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else if (m != "GET") {
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, m.c_str());
  }

  // libcurl's own defaults that WinINet does not send; a header the caller gives wins.
  bool has_accept = false, has_type = false;
  for (const std::string& h : setup_.headers) {
    header_list_ = curl_slist_append(header_list_, h.c_str());
    std::string name = AsciiLower(std::string_view(h).substr(0, h.find(':')));
    has_accept |= name == "accept";
    has_type |= name == "content-type";
  }
  if (!has_accept) header_list_ = curl_slist_append(header_list_, "Accept:");
  if (!has_type) header_list_ = curl_slist_append(header_list_, "Content-Type:");
  header_list_ = curl_slist_append(header_list_, "Expect:");
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, header_list_);

  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlTransfer::OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlTransfer::OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(e, CURLOPT_RESOLVER_START_FUNCTION, &CurlTransfer::OnResolverStart);
  curl_easy_setopt(e, CURLOPT_RESOLVER_START_DATA, this);
  curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &CurlTransfer::OnOpenSocket);
  curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, this);
  curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, &CurlTransfer::OnCloseSocket);
  curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, this);
  curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &CurlTransfer::OnPrereq);
  curl_easy_setopt(e, CURLOPT_PREREQDATA, this);

  hop_host_ = UrlPart(setup_.proxy.empty() ? setup_.url : setup_.proxy, CURLUPART_HOST);
}

DWORD CurlTransfer::Send(const TransferSetup& setup) {
  if (multi_ == nullptr || easy_ == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  if (aborted_.load(std::memory_order_relaxed)) return ERROR_INTERNET_OPERATION_CANCELLED;
  if (attached_) {
    // Whatever is left of the previous exchange is dropped (its connection with it).
    curl_multi_remove_handle(multi_, easy_);
    attached_ = false;
  }
  ResetExchange();
  Configure(setup);
  deadline_ = setup_.exchange_timeout_ms == 0
                  ? Clock::time_point::max()
                  : Clock::now() + std::chrono::milliseconds(setup_.exchange_timeout_ms);
  if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) return ERROR_INTERNET_INTERNAL_ERROR;
  attached_ = true;
  DWORD rc = Pump(Wait::kHeaders);
  if (rc != ERROR_SUCCESS) return rc;
  if (headers_final_) return ERROR_SUCCESS;
  return done_ && result_ != CURLE_OK ? Failure() : ERROR_HTTP_INVALID_SERVER_RESPONSE;
}

DWORD CurlTransfer::Failure() const {
  if (own_error_ != 0) return own_error_;
  return WinInetErrorFromCurl(result_, tls_.first_fault);
}

DWORD CurlTransfer::ReadSlow(char* out, DWORD size, DWORD* got) {
  *got = 0;
  if (!attached_ && !done_) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
  if (size == 0) return ERROR_SUCCESS;
  if (!done_) {
    if (aborted_.load(std::memory_order_relaxed)) return ERROR_INTERNET_OPERATION_CANCELLED;
    received_in_call_ = 0;
    Status(INTERNET_STATUS_RECEIVING_RESPONSE);
    // The wait for data starts now, not when the caller last read.
    last_progress_ = Clock::now();
    if (paused_) {
      paused_ = false;
      curl_easy_pause(easy_, CURLPAUSE_CONT);
    }
    DWORD rc = Pump(Wait::kBody);
    if (rc != ERROR_SUCCESS) return rc;
    DWORD received = received_in_call_;
    Status(INTERNET_STATUS_RESPONSE_RECEIVED, &received, sizeof received);
  }
  if (tail_ > head_) return Read(out, size, got);
  return result_ == CURLE_OK && own_error_ == 0 ? ERROR_SUCCESS : Failure();
}

DWORD CurlTransfer::Pump(Wait until) {
  Clock::time_point mark = Clock::now();
  for (;;) {
    if (aborted_.load(std::memory_order_relaxed)) return ERROR_INTERNET_OPERATION_CANCELLED;
    int running = 0;
    CURLMcode mc = curl_multi_perform(multi_, &running);
    if (mc != CURLM_OK) return ERROR_INTERNET_INTERNAL_ERROR;
    CollectDone();
    const Clock::time_point now = Clock::now();
    const bool keeps_rate = KeepsRate(now, &mark);
    if (done_) return ERROR_SUCCESS;
    if (until == Wait::kHeaders ? headers_final_ : tail_ > head_) return ERROR_SUCCESS;
    if (!keeps_rate || now >= deadline_) return GiveUp(ERROR_INTERNET_TIMEOUT);

    long long wait_ms = std::min<long long>(kPollSliceMs, MillisecondsLeft(now, deadline_) + 1);
    // libcurl keeps its own connect timeout; ours counts from the request on.
    if (!connecting_ && setup_.receive_timeout_ms != INFINITE) {
      auto idle_deadline = last_progress_ + std::chrono::milliseconds(setup_.receive_timeout_ms);
      long long left = MillisecondsLeft(now, idle_deadline);
      if (left <= 0) return GiveUp(ERROR_INTERNET_TIMEOUT);
      wait_ms = std::min(wait_ms, left + 1);
    }
    if (!connecting_ && setup_.min_rate != 0 && setup_.rate_window_ms != 0) {
      auto window_left = std::chrono::milliseconds(setup_.rate_window_ms) - window_waited_;
      wait_ms = std::min<long long>(
          wait_ms, std::chrono::duration_cast<std::chrono::milliseconds>(window_left).count() + 1);
    }
    if (curl_multi_poll(multi_, nullptr, 0, static_cast<int>(std::max<long long>(wait_ms, 0)), nullptr) !=
        CURLM_OK) {
      return ERROR_INTERNET_INTERNAL_ERROR;
    }
  }
}

DWORD CurlTransfer::GiveUp(DWORD error) {
  curl_multi_remove_handle(multi_, easy_);
  attached_ = false;
  done_ = true;
  own_error_ = error;
  return error;
}

bool CurlTransfer::KeepsRate(Clock::time_point now, Clock::time_point* mark) {
  // Only time spent waiting for the server counts: a caller that reads slowly, or a
  // connection still being made, is not the server's rate.
  if (!connecting_) window_waited_ += now - *mark;
  *mark = now;
  if (setup_.min_rate == 0 || setup_.rate_window_ms == 0) return true;
  const auto window = std::chrono::milliseconds(setup_.rate_window_ms);
  if (window_waited_ < window) return true;
  const bool kept = window_bytes_ * 1000 >= std::uint64_t{setup_.min_rate} * setup_.rate_window_ms;
  window_waited_ = Clock::duration::zero();
  window_bytes_ = 0;
  return kept;
}

void CurlTransfer::CollectDone() {
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
    if (msg->msg != CURLMSG_DONE || msg->easy_handle != easy_) continue;
    done_ = true;
    result_ = msg->data.result;
    if (result_ == CURLE_OK && !headers_final_ && has_pending_) {
      has_pending_ = false;
      FinishHeaders(std::move(pending_));
    }
  }
}

void CurlTransfer::FinishHeaders(ResponseHeaders&& headers) {
  headers_ = std::move(headers);
  headers_final_ = true;
}

size_t CurlTransfer::OnHeader(char* data, size_t size, size_t count, void* self) {
  return static_cast<CurlTransfer*>(self)->HeaderLine(data, size * count);
}

size_t CurlTransfer::HeaderLine(const char* data, size_t size) {
  last_progress_ = Clock::now();
  window_bytes_ += size;
  header_bytes_ += size;
  if (header_bytes_ > kMaxHeaderBytes) {
    own_error_ = ERROR_HTTP_INVALID_SERVER_RESPONSE;
    return 0;
  }
  if (!hop_answered_) {
    hop_answered_ = true;
    long sent = 0;
    curl_easy_getinfo(easy_, CURLINFO_REQUEST_SIZE, &sent);
    DWORD sent_bytes = static_cast<DWORD>(sent);
    Status(INTERNET_STATUS_REQUEST_SENT, &sent_bytes, sizeof sent_bytes);
    Status(INTERNET_STATUS_RECEIVING_RESPONSE);
  }
  block_.append(data, size);
  bool blank = (size == 2 && data[0] == '\r' && data[1] == '\n') || (size == 1 && data[0] == '\n');
  if (blank) HeaderBlockEnd();
  return own_error_ != 0 ? 0 : size;
}

void CurlTransfer::HeaderBlockEnd() {
  DWORD block_bytes = static_cast<DWORD>(block_.size());
  ResponseHeaders parsed;
  bool ok = parsed.Parse(block_);
  block_.clear();
  if (!ok) return;  // libcurl rejects what it cannot parse itself
  int code = parsed.status_code();
  if (code < 200) return;  // 100 Continue and friends: the real answer follows
  // A length that is not one clear number leaves the body's end to guesswork, and libcurl
  // guesses otherwise than the length reported.
  if (!parsed.HasSoundLength()) {
    own_error_ = ERROR_HTTP_INVALID_SERVER_RESPONSE;
    return;
  }
  Status(INTERNET_STATUS_RESPONSE_RECEIVED, &block_bytes, sizeof block_bytes);
  // A new answer replaces an authentication answer that libcurl followed up.
  has_pending_ = false;

  const std::string* location = parsed.Find("Location");
  if (setup_.follow_redirects && IsRedirectCode(code) && location != nullptr && !location->empty()) {
    if (redirects_ >= setup_.max_redirects) return;  // libcurl fails the transfer
    ++redirects_;
    char* current = nullptr;
    curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &current);
    std::string target = ResolveUrl(current != nullptr ? current : setup_.url.c_str(), *location);
    if (target.empty()) return;
    // Leaving https for http exposes what the caller meant to protect.
    bool from_secure = current != nullptr && std::string_view(current).substr(0, 6) == "https:";
    bool to_plain = target.compare(0, 5, "http:") == 0;
    if (from_secure && to_plain && (setup_.security_flags & SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP) == 0) {
      own_error_ = ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
      return;
    }
    StatusText(INTERNET_STATUS_REDIRECT, target);
    if (setup_.proxy.empty()) hop_host_ = UrlPart(target, CURLUPART_HOST);
    hop_resolved_ = hop_opened_ = hop_answered_ = false;
    return;
  }
  // With credentials libcurl may answer a challenge itself; only a body (or the end of the
  // transfer) tells that this answer is the final one.
  bool may_follow_up = code == 401 && !setup_.user.empty();
  if (may_follow_up) {
    pending_ = std::move(parsed);
    has_pending_ = true;
    return;
  }
  FinishHeaders(std::move(parsed));
}

size_t CurlTransfer::OnBody(char* data, size_t size, size_t count, void* self) {
  auto* t = static_cast<CurlTransfer*>(self);
  size_t n = size * count;
  if (!t->headers_final_) {
    if (!t->has_pending_) return n;  // the body of an answer that is not the final one
    t->has_pending_ = false;
    t->FinishHeaders(std::move(t->pending_));
  }
  size_t unread = t->tail_ - t->head_;
  if (unread >= kHighWater) {
    t->paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  std::vector<char>& buf = t->buffer_;
  if (buf.size() - t->tail_ < n) {
    if (t->head_ > 0) {
      std::memmove(buf.data(), buf.data() + t->head_, unread);
      t->head_ = 0;
      t->tail_ = unread;
    }
    if (buf.size() - t->tail_ < n) buf.resize(std::max(buf.size() * 2, t->tail_ + n));
  }
  std::memcpy(buf.data() + t->tail_, data, n);
  t->tail_ += n;
  t->window_bytes_ += n;
  t->received_in_call_ += static_cast<DWORD>(n);
  t->last_progress_ = Clock::now();
  return n;
}

int CurlTransfer::OnResolverStart(void*, void*, void* self) {
  auto* t = static_cast<CurlTransfer*>(self);
  t->hop_resolved_ = true;
  t->connecting_ = true;
  t->StatusText(INTERNET_STATUS_RESOLVING_NAME, t->hop_host_);
  return 0;
}

curl_socket_t CurlTransfer::OnOpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
  auto* t = static_cast<CurlTransfer*>(self);
  std::string text = AddressText(address);
  // A name found in libcurl's cache is not resolved again; the steps are reported anyway.
  if (!t->hop_resolved_) {
    t->hop_resolved_ = true;
    t->StatusText(INTERNET_STATUS_RESOLVING_NAME, t->hop_host_);
  }
  if (!t->hop_opened_) t->StatusText(INTERNET_STATUS_NAME_RESOLVED, text);
  t->hop_opened_ = true;
  t->connecting_ = true;
  t->StatusText(INTERNET_STATUS_CONNECTING_TO_SERVER, text);
  return socket(address->family, address->socktype, address->protocol);
}

int CurlTransfer::OnCloseSocket(void* self, curl_socket_t socket) {
  auto* t = static_cast<CurlTransfer*>(self);
  t->Status(INTERNET_STATUS_CLOSING_CONNECTION);
  int rc = close(socket);
  t->Status(INTERNET_STATUS_CONNECTION_CLOSED);
  return rc;
}

int CurlTransfer::OnPrereq(void* self, char* primary_ip, char*, int, int) {
  auto* t = static_cast<CurlTransfer*>(self);
  // A kept-alive connection was not opened for this hop: WinINet reports no connect then.
  if (t->hop_opened_) t->StatusText(INTERNET_STATUS_CONNECTED_TO_SERVER, primary_ip);
  t->Status(INTERNET_STATUS_SENDING_REQUEST);
  t->connecting_ = false;
  t->last_progress_ = Clock::now();
  return CURL_PREREQFUNC_OK;
}

}  // namespace os::inet
