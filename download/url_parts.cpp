#include "download/url_parts.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

namespace pelisto {
namespace {

struct Scheme {
  std::string_view name;
  os::DWORD service;
  os::INTERNET_PORT default_port;
};

constexpr Scheme kSchemes[] = {
    {"http", kServiceHttp, 80},   {"https", kServiceHttps, 443}, {"ftp", kServiceFtp, 21},
    {"gopher", kServiceGopher, 70}, {"file", kServiceFile, 0},
};

constexpr size_t kMaxHostLength = 255;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

const Scheme* FindScheme(std::string_view name) {
  std::string lower = Lower(name);
  for (const Scheme& s : kSchemes) {
    if (s.name == lower) return &s;
  }
  return nullptr;
}

bool IsSchemeChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

// Blanks and control bytes never belong in an authority; a request built from one would
// carry them into the connection.
bool HasUnsafeByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    auto b = static_cast<unsigned char>(c);
    return b <= 0x20 || b == 0x7F;
  });
}

bool ParsePort(std::string_view text, os::INTERNET_PORT* port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  *port = static_cast<os::INTERNET_PORT>(value);
  return true;
}

// "." and ".." segments resolved the way a browser resolves them; ".." never climbs above "/".
std::string RemoveDotSegments(std::string_view path) {
  std::vector<std::string_view> kept;
  size_t start = 1;  // path starts with '/'
  bool trailing_slash = false;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view segment = path.substr(start, end - start);
    bool last = end == path.size();
    if (segment == ".") {
      trailing_slash = last;
    } else if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
      trailing_slash = last;
    } else {
      kept.push_back(segment);
      trailing_slash = false;
    }
    start = end + 1;
  }
  std::string out;
  for (std::string_view segment : kept) {
    out += '/';
    out += segment;
  }
  if (out.empty() || trailing_slash) out += '/';
  return out;
}

}  // namespace

bool ParseUrlParts(const std::string& url, UrlParts* parts) {
  if (url.size() > kMaxUrlLength) return false;
  size_t colon = url.find(':');
  if (colon == std::string::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(url[0])) ||
      !std::all_of(url.begin(), url.begin() + static_cast<std::ptrdiff_t>(colon), IsSchemeChar)) {
    return false;
  }
  const Scheme* scheme = FindScheme(std::string_view(url).substr(0, colon));
  if (scheme == nullptr || url.compare(colon + 1, 2, "//") != 0) return false;

  const size_t authority_start = colon + 3;
  size_t authority_end = url.find_first_of("/?#", authority_start);
  if (authority_end == std::string::npos) authority_end = url.size();
  std::string_view authority = std::string_view(url).substr(authority_start, authority_end - authority_start);
  if (HasUnsafeByte(authority)) return false;

  UrlParts out;
  out.service = scheme->service;
  out.port = scheme->default_port;
  size_t at = authority.rfind('@');
  std::string_view host_port = authority;
  if (at != std::string_view::npos) {
    std::string_view user_info = authority.substr(0, at);
    size_t separator = user_info.find(':');
    out.user = std::string(user_info.substr(0, separator));
    if (separator != std::string_view::npos) out.password = std::string(user_info.substr(separator + 1));
    host_port = authority.substr(at + 1);
  }

  std::string_view host = host_port;
  std::string_view port_text;
  bool has_port = false;
  if (!host_port.empty() && host_port.front() == '[') {
    size_t close = host_port.find(']');
    if (close == std::string_view::npos || close == 1) return false;
    host = host_port.substr(0, close + 1);
    std::string_view rest = host_port.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      has_port = true;
      port_text = rest.substr(1);
    }
  } else {
    size_t port_colon = host_port.find(':');
    if (port_colon != std::string_view::npos) {
      host = host_port.substr(0, port_colon);
      has_port = true;
      port_text = host_port.substr(port_colon + 1);
    }
    if (host.find_first_of("[]") != std::string_view::npos) return false;
  }
  if (host.size() > kMaxHostLength) return false;
  if (host.empty() && scheme->service != kServiceFile) return false;
  // An empty port is refused too: "http://" in front of "foo://x" must not make a host "foo".
  if (has_port && !ParsePort(port_text, &out.port)) return false;
  out.server = std::string(host);

  std::string_view rest = std::string_view(url).substr(authority_end);
  rest = rest.substr(0, rest.find('#'));
  size_t query = rest.find('?');
  std::string_view path = rest.substr(0, query);
  std::string_view query_text = query == std::string_view::npos ? std::string_view() : rest.substr(query);
  out.object = RemoveDotSegments(path.empty() ? std::string_view("/") : path);
  out.object += query_text;

  *parts = std::move(out);
  return true;
}

bool ParseUrlWithRetry(std::string* url, UrlParts* parts) {
  if (ParseUrlParts(*url, parts)) return true;
  *url = "http://" + *url;
  return ParseUrlParts(*url, parts);
}

os::DWORD ChooseRequestFlags(const std::string& url, UrlParts* parts) {
  // The scheme may be written in capitals; the address still asks for a secure transfer.
  if (Lower(url).find("https") != std::string::npos && parts->service == kServiceHttps) {
    parts->service = kServiceHttp;
    return kSecureRequestFlags;
  }
  return kPlainRequestFlags;
}

}  // namespace pelisto
