#include "os/inet/urlmon.h"

#include <curl/curl.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "os/base/error.h"
#include "os/com/hresult.h"
#include "os/fs/file_api.h"
#include "os/image/integrity.h"
#include "os/image/machine.h"
#include "os/inet/wininet.h"

namespace os {
namespace {

constexpr char kAgent[] = "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1)";
constexpr DWORD kReadSize = 64 * 1024;

struct UrlParts {
  bool secure = false;
  std::string host;
  INTERNET_PORT port = 0;
  std::string object;  // path and query
  std::string name;    // last path segment, decoded
};

HRESULT ParseUrl(const std::string& url, UrlParts* parts) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> u(curl_url(), &curl_url_cleanup);
  if (!u || curl_url_set(u.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return INET_E_INVALID_URL;
  }
  auto get = [&](CURLUPart part, unsigned flags, std::string* out) {
    char* text = nullptr;
    bool ok = curl_url_get(u.get(), part, &text, flags) == CURLUE_OK;
    if (ok) *out = text;
    curl_free(text);
    return ok;
  };
  std::string scheme, port, path, query;
  if (!get(CURLUPART_SCHEME, 0, &scheme)) return INET_E_INVALID_URL;
  if (scheme != "http" && scheme != "https") return INET_E_UNKNOWN_PROTOCOL;
  parts->secure = scheme == "https";
  if (!get(CURLUPART_HOST, 0, &parts->host) || parts->host.empty()) return INET_E_INVALID_URL;
  if (get(CURLUPART_PORT, CURLU_DEFAULT_PORT, &port)) parts->port = static_cast<INTERNET_PORT>(std::stoi(port));
  get(CURLUPART_PATH, 0, &path);
  parts->object = path.empty() ? "/" : path;
  if (get(CURLUPART_QUERY, 0, &query)) parts->object += "?" + query;
  get(CURLUPART_PATH, CURLU_URLDECODE, &path);
  parts->name = path.substr(path.find_last_of('/') + 1);
  return S_OK;
}

// A file name the cache can hold: no folder separators, reserved or control characters.
std::string CacheName(const std::string& segment) {
  std::string name;
  for (char c : segment) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) continue;
    name += c;
  }
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  if (name.empty()) name = "index.htm";
  return name;
}

HRESULT FromInetError(DWORD code) {
  switch (code) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED: return INET_E_RESOURCE_NOT_FOUND;
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET: return INET_E_CANNOT_CONNECT;
    case ERROR_INTERNET_TIMEOUT: return INET_E_CONNECTION_TIMEOUT;
    case ERROR_INTERNET_INVALID_URL: return INET_E_INVALID_URL;
    case ERROR_HTTP_REDIRECT_FAILED:
    case ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR: return INET_E_REDIRECT_FAILED;
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED: return INET_E_SECURITY_PROBLEM;
    default: return INET_E_DOWNLOAD_FAILURE;
  }
}

HRESULT FromStatus(DWORD status) {
  if (status >= 200 && status < 300) return S_OK;
  switch (status) {
    case 401:
    case 407: return INET_E_AUTHENTICATION_REQUIRED;
    case 403: return E_ACCESSDENIED;
    case 404:
    case 410: return INET_E_OBJECT_NOT_FOUND;
    default: return INET_E_DOWNLOAD_FAILURE;
  }
}

struct InternetCloser {
  void operator()(InternetHandle* h) const { InternetCloseHandle(h); }
};
using Session = std::unique_ptr<InternetHandle, InternetCloser>;

// Copies the response body into the host file behind `handle`, no more than `max_bytes`
// of it (0: no bound).
HRESULT CopyBody(HINTERNET request, HANDLE file, std::uint64_t max_bytes) {
  std::vector<char> buffer(kReadSize);
  for (std::uint64_t total = 0;;) {
    DWORD got = 0;
    if (!InternetReadFile(request, buffer.data(), kReadSize, &got)) return FromInetError(GetLastError());
    if (got == 0) return S_OK;
    total += got;
    if (max_bytes != 0 && total > max_bytes) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    DWORD written = 0;
    if (!WriteFile(file, buffer.data(), got, &written, nullptr) || written != got) {
      return HRESULT_FROM_WIN32(GetLastError());
    }
  }
}

// Moves the finished temporary file to the first free "name[n].ext" of the folder.
HRESULT Publish(const std::string& folder, const std::string& temp, const std::string& name, std::string* path) {
  size_t dot = name.find_last_of('.');
  std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
  for (int n = 1; n < 10000; ++n) {
    std::string candidate = folder + "\\" + stem + "[" + std::to_string(n) + "]" + ext;
    if (MoveFileExA(temp, candidate, 0)) {
      *path = candidate;
      return S_OK;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return HRESULT_FROM_WIN32(GetLastError());
}

}  // namespace

HRESULT URLDownloadToCacheFileA(void*, const std::string& url, std::string* cache_path, DWORD cache_path_chars,
                                DWORD, void*) {
  if (cache_path == nullptr) return E_INVALIDARG;
  UrlParts parts;
  if (HRESULT hr = ParseUrl(url, &parts); FAILED(hr)) return hr;
  Machine* machine = CurrentMachine();
  if (machine == nullptr) return E_FAIL;

  Session session(InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return INET_E_NO_SESSION;
  HINTERNET connection = InternetConnectA(session.get(), parts.host.c_str(), parts.port, nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, 0);
  if (connection == nullptr) return INET_E_INVALID_URL;
  const char* accept[] = {"*/*", nullptr};
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                (parts.secure ? INTERNET_FLAG_SECURE : 0);
  HINTERNET request = HttpOpenRequestA(connection, nullptr, parts.object.c_str(), nullptr, nullptr, accept, flags, 0);
  if (request == nullptr) return INET_E_DOWNLOAD_FAILURE;
  if (!HttpSendRequestA(request, nullptr, 0, nullptr, 0)) return FromInetError(GetLastError());
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    return INET_E_DOWNLOAD_FAILURE;
  }
  if (HRESULT hr = FromStatus(status); FAILED(hr)) return hr;

  bool low = CurrentToken().level == IntegrityLevel::kLow;
  std::string folder = machine->FolderPath(low ? KnownFolder::kInternetCacheLow : KnownFolder::kInternetCache);
  std::string temp;
  if (GetTempFileNameA(folder, "url", 0, &temp) == 0) return HRESULT_FROM_WIN32(GetLastError());
  HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!IsValidHandle(file)) {
    HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
    DeleteFileA(temp);
    return hr;
  }
  HRESULT hr = CopyBody(request, file, machine->settings().transfer.max_bytes);
  if (!CloseHandle(file) && SUCCEEDED(hr)) hr = HRESULT_FROM_WIN32(GetLastError());
  std::string path;
  if (SUCCEEDED(hr)) hr = Publish(folder, temp, CacheName(parts.name), &path);
  if (FAILED(hr)) {
    DeleteFileA(temp);
    return hr;
  }
  if (path.size() + 1 > cache_path_chars) {
    DeleteFileA(path);
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  *cache_path = path;
  return S_OK;
}

}  // namespace os
