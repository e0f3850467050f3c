// The URL moniker service's cache download, on the image's Internet cache folder.
#pragma once

#include <string>

#include "os/base/types.h"

namespace os {

inline constexpr HRESULT INET_E_INVALID_URL = static_cast<HRESULT>(0x800C0002);
inline constexpr HRESULT INET_E_NO_SESSION = static_cast<HRESULT>(0x800C0003);
inline constexpr HRESULT INET_E_CANNOT_CONNECT = static_cast<HRESULT>(0x800C0004);
inline constexpr HRESULT INET_E_RESOURCE_NOT_FOUND = static_cast<HRESULT>(0x800C0005);
inline constexpr HRESULT INET_E_OBJECT_NOT_FOUND = static_cast<HRESULT>(0x800C0006);
inline constexpr HRESULT INET_E_DATA_NOT_AVAILABLE = static_cast<HRESULT>(0x800C0007);
inline constexpr HRESULT INET_E_DOWNLOAD_FAILURE = static_cast<HRESULT>(0x800C0008);
inline constexpr HRESULT INET_E_AUTHENTICATION_REQUIRED = static_cast<HRESULT>(0x800C0009);
inline constexpr HRESULT INET_E_CONNECTION_TIMEOUT = static_cast<HRESULT>(0x800C000B);
inline constexpr HRESULT INET_E_UNKNOWN_PROTOCOL = static_cast<HRESULT>(0x800C000D);
inline constexpr HRESULT INET_E_SECURITY_PROBLEM = static_cast<HRESULT>(0x800C000E);
inline constexpr HRESULT INET_E_REDIRECT_FAILED = static_cast<HRESULT>(0x800C0014);

// Fetches `url` (http or https, redirects followed, certificates checked fully, proxies from
// the environment) into the current image's Internet cache folder (the low one for a
// low-integrity caller) and stores the cached file's Windows-form path in `*cache_path`.
// The file is named after the URL's last path segment with a "[n]" counter ("setup[1].exe")
// and appears only once complete. S_OK on a 2xx answer. Failures leave `*cache_path` and the
// cache untouched: INET_E_UNKNOWN_PROTOCOL / INET_E_INVALID_URL for the URL,
// INET_E_AUTHENTICATION_REQUIRED for 401 and 407, INET_E_OBJECT_NOT_FOUND for 404 and 410,
// E_ACCESSDENIED for 403, INET_E_DOWNLOAD_FAILURE for other statuses and broken bodies, the
// connection's INET_E_* code otherwise, and HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) when
// the path needs more than `cache_path_chars` characters with its NUL. `caller`, `reserved`
// and `bind_status_callback` are accepted and not used.
HRESULT URLDownloadToCacheFileA(void* caller, const std::string& url, std::string* cache_path,
                                DWORD cache_path_chars, DWORD reserved, void* bind_status_callback);

}  // namespace os
