// Feeds arbitrary text, as three lines (an address, the page's address, a configuration
// address), to the download address parser and to both relative-address rules: getConfig's
// resolution against the page and the content entries' against their configuration.
// Besides surviving every input: a parse holds a usable port, a host without blanks or
// control bytes and a path without dot segments, and parsing its parts put back together
// gives them again; a resolved address begins with its base, and where the base holds the
// whole host part, keeps the base's host and port.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "actions/relative_url.h"
#include "download/url_parts.h"
#include "engine/config_address.h"
#include "fuzz/fuzz_image.h"

namespace {

using pelisto::UrlParts;

std::string_view NextLine(std::string_view* rest) {
  const std::size_t end = rest->find('\n');
  const std::string_view line = rest->substr(0, end);
  rest->remove_prefix(end == std::string_view::npos ? rest->size() : end + 1);
  return line;
}

const char* SchemeOf(os::DWORD service) {
  switch (service) {
    case pelisto::kServiceHttp: return "http";
    case pelisto::kServiceHttps: return "https";
    case pelisto::kServiceFtp: return "ftp";
    case pelisto::kServiceGopher: return "gopher";
    default: return "file";
  }
}

bool Parse(const std::string& url, UrlParts* parts) {
  UrlParts first, second;
  const bool ok = pelisto::ParseUrlParts(url, &first);
  FUZZ_REQUIRE(pelisto::ParseUrlParts(url, &second) == ok);
  if (!ok) return false;
  FUZZ_REQUIRE(first.server == second.server && first.object == second.object &&
               first.port == second.port && first.service == second.service);
  *parts = first;
  return true;
}

void CheckParse(const std::string& url) {
  UrlParts parts;
  parts.server = "untouched";
  if (!Parse(url, &parts)) {
    FUZZ_REQUIRE(parts.server == "untouched");
    return;
  }
  FUZZ_REQUIRE(url.size() <= pelisto::kMaxUrlLength);
  FUZZ_REQUIRE(!parts.object.empty() && parts.object.front() == '/');
  FUZZ_REQUIRE(parts.object.find('#') == std::string::npos);
  const std::string path = parts.object.substr(0, parts.object.find('?'));
  FUZZ_REQUIRE(path.find("/../") == std::string::npos && path.find("/./") == std::string::npos);
  FUZZ_REQUIRE(!path.ends_with("/..") && !path.ends_with("/."));
  for (char c : parts.server) {
    FUZZ_REQUIRE(static_cast<unsigned char>(c) > 0x20 && c != 0x7F);
    FUZZ_REQUIRE(c != '/' && c != '?' && c != '#' && c != '@');
  }
  if (parts.service != pelisto::kServiceFile) {
    FUZZ_REQUIRE(!parts.server.empty() && parts.port != 0);
    // The parts, written out again, are read as the same parts.
    const std::string again_text = std::string(SchemeOf(parts.service)) + "://" + parts.server + ":" +
                                   std::to_string(parts.port) + parts.object;
    UrlParts again;
    if (again_text.size() <= pelisto::kMaxUrlLength) {
      FUZZ_REQUIRE(Parse(again_text, &again));
      FUZZ_REQUIRE(again.server == parts.server && again.port == parts.port &&
                   again.object == parts.object && again.service == parts.service);
    }
  }
  const os::DWORD flags = pelisto::ChooseRequestFlags(url, &parts);
  FUZZ_REQUIRE(flags == pelisto::kPlainRequestFlags || flags == pelisto::kSecureRequestFlags);
  FUZZ_REQUIRE(flags == pelisto::kPlainRequestFlags || parts.service == pelisto::kServiceHttp);
}

// True when `base` holds its address's whole host part: the scheme's "//", the host, and
// the "/" that ends it.
bool HoldsHost(const std::string& address, const std::string& base, UrlParts* parts) {
  const std::size_t authority = address.find("://");
  if (authority == std::string::npos || !Parse(address, parts)) return false;
  const std::size_t end = address.find_first_of("/?#", authority + 3);
  return end != std::string::npos && address[end] == '/' && base.size() > end;
}

void CheckResolved(const std::string& resolved, const std::string& base, const std::string& address) {
  FUZZ_REQUIRE(resolved.starts_with(base));
  UrlParts from, to;
  if (HoldsHost(address, base, &from) && Parse(resolved, &to)) {
    FUZZ_REQUIRE(to.server == from.server && to.port == from.port && to.service == from.service);
  }
}

void CheckConfigAddress(const std::string& address, const std::string& page) {
  std::string resolved = "untouched";
  const bool ok = pelisto::ResolveConfigAddress(address, page, &resolved);
  if (address.empty() || (address[0] != '/' && address[0] != '.')) {
    FUZZ_REQUIRE(ok && resolved == address);
    return;
  }
  if (!ok) {
    FUZZ_REQUIRE(resolved == "untouched");
    return;
  }
  std::size_t slashes = 0, third = std::string::npos;
  for (std::size_t i = 0; i < page.size() && third == std::string::npos; ++i) {
    if (page[i] == '/' && ++slashes == 3) third = i;
  }
  const std::string root = third == std::string::npos ? page.substr(0, 1) : page.substr(0, third + 1);
  CheckResolved(resolved, root, page);
  const std::string name = pelisto::LastPathSegment(resolved);
  FUZZ_REQUIRE(name.find('/') == std::string::npos && resolved.ends_with(name));
}

void CheckRelative(const std::string& url, const std::string& config) {
  bool bad_form = true;
  const std::string resolved = pelisto::ResolveRelativeUrl(url, config, &bad_form);
  const std::size_t slash = config.rfind('/');
  const std::string base = slash == std::string::npos ? std::string() : config.substr(0, slash + 1);
  if (url.empty() || (url[0] != '/' && url[0] != '.')) {
    FUZZ_REQUIRE(!bad_form && resolved == url);
    return;
  }
  if (bad_form) FUZZ_REQUIRE(resolved == base);
  CheckResolved(resolved, base, config);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string address(NextLine(&rest));
  const std::string page(NextLine(&rest));
  const std::string config(NextLine(&rest));
  for (const std::string* url : {&address, &page, &config}) CheckParse(*url);
  std::string retried = address;
  UrlParts parts;
  if (pelisto::ParseUrlWithRetry(&retried, &parts)) {
    FUZZ_REQUIRE(retried == address || retried == "http://" + address);
    CheckParse(retried);
  }
  CheckConfigAddress(address, page);
  CheckRelative(address, config);
  return 0;
}
