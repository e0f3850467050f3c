#include "os/inet/request.h"

#include "os/base/error.h"

namespace os::inet {
namespace {

constexpr DWORD kSettableSecurityFlags =
    SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_WRONG_USAGE |
    SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
    SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS | SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP;
// Request flags that carry the same meaning (and value) as security flags.
constexpr DWORD kRequestSecurityFlags =
    INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID |
    INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;

bool NeedsEscape(unsigned char c) {
  if (c <= 0x20 || c >= 0x7F) return true;
  switch (c) {
    case '"': case '<': case '>': case '\\': case '^': case '`': case '{': case '|': case '}':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string EncodeObjectPath(std::string_view object) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(object.size() + 1);
  if (object.empty() || object.front() != '/') out += '/';
  for (char ch : object) {
    auto c = static_cast<unsigned char>(ch);
    if (NeedsEscape(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += ch;
    }
  }
  return out;
}

Request::Request(const Connection& connection, std::string_view verb, std::string_view object,
                 std::vector<std::string> accept_types, DWORD flags, DWORD_PTR context)
    : Object(HandleKind::kRequest, connection.settings(), connection.callback(), context),
      method_(verb.empty() ? "GET" : std::string(verb)),
      accept_types_(std::move(accept_types)),
      user_(connection.user),
      password_(connection.password),
      flags_(flags),
      security_flags_((flags & kRequestSecurityFlags) | ((flags & INTERNET_FLAG_SECURE) ? SECURITY_FLAG_SECURE : 0)),
      transfer_(this) {
  bool secure = (flags & INTERNET_FLAG_SECURE) != 0;
  INTERNET_PORT port = connection.port;
  if (port == INTERNET_INVALID_PORT_NUMBER) port = secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  std::string host = connection.server;
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  url_ = (secure ? "https://" : "http://") + host + ":" + std::to_string(port) + EncodeObjectPath(object);
}

void Request::SetSecurityFlags(DWORD flags) {
  DWORD updated = (flags & kSettableSecurityFlags) | (security_flags_ & SECURITY_FLAG_SECURE);
  if (updated != security_flags_) security_changed_ = true;
  security_flags_ = updated;
}

DWORD Request::Send(std::string_view extra_headers, const void* body, DWORD body_length) {
  Inherited& s = settings();
  TransferSetup setup;
  setup.url = url_;
  setup.method = method_;
  if (body != nullptr && body_length > 0) setup.body.assign(static_cast<const char*>(body), body_length);
  if (!accept_types_.empty()) {
    std::string accept = "Accept: ";
    for (size_t i = 0; i < accept_types_.size(); ++i) accept += (i ? ", " : "") + accept_types_[i];
    setup.headers.push_back(accept);
  }
  if (flags_ & INTERNET_FLAG_PRAGMA_NOCACHE) setup.headers.push_back("Pragma: no-cache");
  while (!extra_headers.empty()) {
    size_t eol = extra_headers.find('\n');
    std::string_view line = extra_headers.substr(0, eol);
    extra_headers.remove_prefix(eol == std::string_view::npos ? extra_headers.size() : eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find(':') != std::string_view::npos) setup.headers.emplace_back(line);
  }
  setup.user_agent = s.user_agent;
  setup.user = user_;
  setup.password = password_;
  setup.proxy = (security_flags_ & SECURITY_FLAG_SECURE) ? s.https_proxy : s.http_proxy;
  setup.no_proxy = s.no_proxy;
  setup.follow_redirects = (flags_ & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
  setup.security_flags = security_flags_;
  setup.connect_timeout_ms = s.connect_timeout_ms;
  setup.receive_timeout_ms = s.receive_timeout_ms;
  setup.min_rate = s.min_rate;
  setup.rate_window_ms = s.rate_window_ms;
  setup.exchange_timeout_ms = s.exchange_timeout_ms;
  setup.fresh_connection = security_changed_;
  security_changed_ = false;
  DWORD rc = transfer_.Send(setup);
  sent_ = rc == ERROR_SUCCESS;
  return rc;
}

DWORD Request::Query(DWORD info_level, void* buffer, DWORD* buffer_length, DWORD* index) const {
  if (!sent_) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
  return transfer_.headers().Query(info_level, buffer, buffer_length, index);
}

}  // namespace os::inet
