// A request handle: the request line and flags fixed at HttpOpenRequestA, and the exchanges
// HttpSendRequestA starts on it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "os/inet/curl_transfer.h"
#include "os/inet/inet_object.h"

namespace os::inet {

class Request : public Object, private TransferObserver {
 public:
  // `verb` empty means GET; `object` is the path as the caller gave it.
  Request(const Connection& connection, std::string_view verb, std::string_view object,
          std::vector<std::string> accept_types, DWORD flags, DWORD_PTR context);

  const std::string& url() const { return url_; }

  // Runs a new exchange; ERROR_SUCCESS or the WinINet error.
  DWORD Send(std::string_view extra_headers, const void* body, DWORD body_length);
  DWORD Read(void* buffer, DWORD size, DWORD* read) {
    if (!sent_) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    return transfer_.Read(static_cast<char*>(buffer), size, read);
  }
  DWORD Query(DWORD info_level, void* buffer, DWORD* buffer_length, DWORD* index) const;

  DWORD security_flags() const { return security_flags_; }
  // Replaces the ignore bits; the next send applies them on a new connection.
  void SetSecurityFlags(DWORD flags);

  void Abort() override { transfer_.Abort(); }

 private:
  bool WantsStatus() const override { return Object::WantsStatus(); }
  void OnTransferStatus(DWORD status, const void* info, DWORD length) override {
    Notify(status, info, length);
  }

  std::string url_;
  std::string method_;
  std::vector<std::string> accept_types_;
  std::string user_, password_;
  DWORD flags_;
  DWORD security_flags_;
  bool security_changed_ = false;
  bool sent_ = false;
  CurlTransfer transfer_;
};

// Percent-encodes the bytes of a request path that may not appear in a request line.
std::string EncodeObjectPath(std::string_view object);

}  // namespace os::inet
