// The headers of one HTTP response, and the answers HttpQueryInfoA gives from them.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "os/base/types.h"

namespace os::inet {

class ResponseHeaders {
 public:
  // Parses a header block as received: the status line, then "Name: value" lines, each
  // ending in CRLF or LF, up to an empty line. Folded continuation lines join the header
  // above them. Returns false (and keeps nothing) when the status line is not HTTP's.
  bool Parse(std::string_view block);
  void Clear();

  bool empty() const { return status_code_ == 0; }
  int status_code() const { return status_code_; }
  const std::string& version() const { return version_; }
  const std::string& status_text() const { return status_text_; }
  // True unless the Content-Length lines disagree, one is not a decimal number of at most
  // 63 bits (no sign, blank or list inside), or one comes with a Transfer-Encoding. No
  // Content-Length at all is sound.
  bool HasSoundLength() const;
  // The value of the `index`-th header called `name` (case-insensitive), or null.
  const std::string* Find(std::string_view name, DWORD index = 0) const;

  // HttpQueryInfoA on these headers: see os/inet/wininet.h for the contract. Returns
  // ERROR_SUCCESS or the error to set.
  DWORD Query(DWORD info_level, void* buffer, DWORD* buffer_length, DWORD* index) const;

 private:
  int status_code_ = 0;
  std::string version_;
  std::string status_text_;
  std::string raw_;  // the block with CRLF line ends, without the empty line
  std::vector<std::pair<std::string, std::string>> fields_;
};

}  // namespace os::inet
