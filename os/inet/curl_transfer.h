// One request's exchanges over libcurl, driven by the caller (pull style): Send runs the
// transfer until the final response's headers are in; Read hands out body bytes as they
// arrive, running the transfer only while nothing is buffered.
//
// Threads: one thread at a time calls Send/Read; Abort may be called from any thread while
// the object lives.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "os/base/types.h"
#include "os/inet/response_headers.h"
#include "os/inet/tls_policy.h"

namespace os::inet {

struct TransferSetup {
  std::string url;                   // absolute http(s) URL, request-line safe
  std::string method = "GET";        // GET, HEAD, POST or any other token
  std::string body;                  // sent when not empty
  std::vector<std::string> headers;  // "Name: value" lines added to the request
  std::string user_agent;            // none when empty
  std::string user, password;        // offered on a challenge when `user` is not empty
  std::string proxy;                 // empty: no proxy
  std::string no_proxy;              // hosts that bypass `proxy`, comma-separated
  bool follow_redirects = true;
  long max_redirects = 5;
  DWORD security_flags = 0;          // SECURITY_FLAG_* ignore bits
  DWORD connect_timeout_ms = 60000;  // INFINITE: no limit of ours
  DWORD receive_timeout_ms = 30000;  // longest wait for a byte; INFINITE: no limit
  DWORD min_rate = 0;                // bytes per second over each rate window; 0: none
  DWORD rate_window_ms = 0;          // waiting time a rate is judged over; 0: none
  DWORD exchange_timeout_ms = 0;     // the whole exchange, body included; 0: none
  bool fresh_connection = false;     // do not reuse a kept-alive connection
};

// Receives WinINet status codes as the transfer passes its steps (see os/inet/wininet.h for
// the information passed with each).
class TransferObserver {
 public:
  virtual ~TransferObserver() = default;
  virtual bool WantsStatus() const = 0;
  virtual void OnTransferStatus(DWORD status, const void* info, DWORD length) = 0;
};

class CurlTransfer {
 public:
  using Clock = std::chrono::steady_clock;

  // `observer` must outlive the transfer.
  explicit CurlTransfer(TransferObserver* observer);
  ~CurlTransfer();
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  // Starts a new exchange (dropping what is left of the previous one) and waits for the final
  // response's headers. Returns ERROR_SUCCESS or the WinINet error.
  DWORD Send(const TransferSetup& setup);

  // Copies up to `size` buffered body bytes to `out`, waiting for some when none are
  // buffered. *got is 0 at the end of the body. Returns ERROR_SUCCESS or the WinINet error of
  // a transfer that failed (after the bytes that did arrive have been handed out).
  DWORD Read(char* out, DWORD size, DWORD* got) {
    size_t avail = tail_ - head_;
    if (avail == 0) return ReadSlow(out, size, got);
    size_t take = avail < size ? avail : size;
    std::memcpy(out, buffer_.data() + head_, take);
    head_ += take;
    if (head_ == tail_) head_ = tail_ = 0;
    *got = static_cast<DWORD>(take);
    return 0;  // ERROR_SUCCESS
  }

  // The final response's headers, once Send succeeded.
  const ResponseHeaders& headers() const { return headers_; }

  // Makes a blocked or later Send/Read return ERROR_INTERNET_OPERATION_CANCELLED.
  void Abort();

 private:
  enum class Wait { kHeaders, kBody };

  void Configure(const TransferSetup& setup);
  void ResetExchange();
  DWORD ReadSlow(char* out, DWORD size, DWORD* got);
  DWORD Pump(Wait until);
  // Ends the exchange here with `error` (its connection may still carry part of the answer).
  DWORD GiveUp(DWORD error);
  // Adds the time since `*mark` to the rate window (outside connecting) and moves the mark;
  // false when a full window passed with fewer bytes than the minimum rate asks.
  bool KeepsRate(Clock::time_point now, Clock::time_point* mark);
  DWORD Failure() const;
  void CollectDone();
  void FinishHeaders(ResponseHeaders&& headers);
  void Status(DWORD status, const void* info = nullptr, DWORD length = 0);
  void StatusText(DWORD status, const std::string& text);

  // libcurl callbacks.
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static int OnResolverStart(void* resolver_state, void* reserved, void* self);
  static curl_socket_t OnOpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address);
  static int OnCloseSocket(void* self, curl_socket_t socket);
  static int OnPrereq(void* self, char* primary_ip, char* local_ip, int primary_port, int local_port);
  size_t HeaderLine(const char* data, size_t size);
  void HeaderBlockEnd();

  TransferObserver* observer_;
  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
  curl_slist* header_list_ = nullptr;
  TlsPolicy tls_;
  TransferSetup setup_;
  std::atomic<bool> aborted_{false};
  bool destroying_ = false;

  // Body bytes received and not yet read: buffer_[head_, tail_).
  std::vector<char> buffer_;
  size_t head_ = 0;
  size_t tail_ = 0;
  bool paused_ = false;

  // The exchange.
  bool attached_ = false;
  bool done_ = false;
  int result_ = 0;             // CURLcode once done_
  DWORD own_error_ = 0;        // a failure decided here rather than by libcurl
  bool headers_final_ = false;
  ResponseHeaders headers_;
  ResponseHeaders pending_;    // an authentication answer libcurl may still follow up
  bool has_pending_ = false;
  std::string block_;          // the header block being received
  long redirects_ = 0;
  DWORD received_in_call_ = 0;
  // Steps of the current hop, for the status callback.
  std::string hop_host_;
  bool hop_resolved_ = false;
  bool hop_opened_ = false;
  bool hop_answered_ = false;
  bool connecting_ = true;
  std::chrono::steady_clock::time_point last_progress_;
  // Bounds of the exchange.
  Clock::time_point deadline_ = Clock::time_point::max();
  Clock::duration window_waited_{};  // time spent waiting for the server in this window
  std::uint64_t window_bytes_ = 0;   // header and body bytes that arrived in it
  std::size_t header_bytes_ = 0;     // header bytes of the exchange, every block counted
};

}  // namespace os::inet
