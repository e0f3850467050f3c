// HTTP client calls shaped like WinINet's: a session, a connection to one server, requests on
// it, a status callback, and a pull-style body read.
//
// Handles: every HINTERNET stands for an object kept in a process-wide table. A handle that
// was never returned, or was closed, is refused with ERROR_INVALID_HANDLE. Closing a session
// closes its connections, closing a connection closes its requests.
//
// Errors: every call that fails returns FALSE (or a null handle) and sets the thread's last
// error to a WinINet code (12xxx below) or a Win32 code for bad arguments.
//
// Threads: calls on one handle are made from one thread at a time. InternetCloseHandle may
// come from any thread; a call blocked in HttpSendRequestA or InternetReadFile on that handle
// (or a child) then returns FALSE with ERROR_INTERNET_OPERATION_CANCELLED.
//
// Status callback: called on the thread that makes the call, during it (HANDLE_CLOSING on the
// thread that closes). The callback may close handles; a call in progress on a closed handle
// then fails with ERROR_INTERNET_OPERATION_CANCELLED.
#pragma once

#include <cstdint>

#include "os/base/types.h"

namespace os {

using DWORD_PTR = std::uintptr_t;
using INTERNET_PORT = WORD;

struct InternetHandle;  // opaque: the table's key
using HINTERNET = InternetHandle*;

using INTERNET_STATUS_CALLBACK = void (*)(HINTERNET handle, DWORD_PTR context, DWORD status,
                                          void* status_information,
                                          DWORD status_information_length);
// What InternetSetStatusCallback returns when it fails.
inline const INTERNET_STATUS_CALLBACK INTERNET_INVALID_STATUS_CALLBACK =
    reinterpret_cast<INTERNET_STATUS_CALLBACK>(static_cast<std::intptr_t>(-1));

// Access types of InternetOpenA.
inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;  // proxies from the environment
inline constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;     // no proxy, whatever the environment says
inline constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;      // the proxy and bypass list given
inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY = 4;

inline constexpr DWORD INTERNET_SERVICE_FTP = 1;
inline constexpr DWORD INTERNET_SERVICE_GOPHER = 2;
inline constexpr DWORD INTERNET_SERVICE_HTTP = 3;

inline constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;  // the scheme's default port
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;

// Request flags of HttpOpenRequestA. Those not acted on are accepted and ignored (there is
// no cache to read or write, and connections are kept alive anyway).
inline constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
inline constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;  // https
inline constexpr DWORD INTERNET_FLAG_KEEP_CONNECTION = 0x00400000;
inline constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;
inline constexpr DWORD INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100;
inline constexpr DWORD INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP = 0x00008000;
inline constexpr DWORD INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS = 0x00004000;
inline constexpr DWORD INTERNET_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;
inline constexpr DWORD INTERNET_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;

// Security flags (INTERNET_OPTION_SECURITY_FLAGS). The ignore flags switch off the matching
// certificate check and nothing else; revocation is not checked in any case.
inline constexpr DWORD SECURITY_FLAG_SECURE = 0x00000001;
inline constexpr DWORD SECURITY_FLAG_IGNORE_REVOCATION = 0x00000080;
inline constexpr DWORD SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x00000100;
inline constexpr DWORD SECURITY_FLAG_IGNORE_WRONG_USAGE = 0x00000200;
inline constexpr DWORD SECURITY_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
inline constexpr DWORD SECURITY_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;
inline constexpr DWORD SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS = 0x00004000;
inline constexpr DWORD SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP = 0x00008000;

// Options of InternetSetOptionA / InternetQueryOptionA (values are DWORDs, 4 bytes).
inline constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;  // ms, default 60000
inline constexpr DWORD INTERNET_OPTION_SEND_TIMEOUT = 5;     // ms, default 30000
inline constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;  // ms, default 30000
inline constexpr DWORD INTERNET_OPTION_SECURITY_FLAGS = 31;  // request handles only

// Info levels of HttpQueryInfoA.
inline constexpr DWORD HTTP_QUERY_CONTENT_TYPE = 1;
inline constexpr DWORD HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr DWORD HTTP_QUERY_DATE = 9;
inline constexpr DWORD HTTP_QUERY_LAST_MODIFIED = 11;
inline constexpr DWORD HTTP_QUERY_VERSION = 18;
inline constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
inline constexpr DWORD HTTP_QUERY_STATUS_TEXT = 20;
inline constexpr DWORD HTTP_QUERY_RAW_HEADERS_CRLF = 22;
inline constexpr DWORD HTTP_QUERY_CONTENT_ENCODING = 29;
inline constexpr DWORD HTTP_QUERY_LOCATION = 33;
inline constexpr DWORD HTTP_QUERY_WWW_AUTHENTICATE = 40;
inline constexpr DWORD HTTP_QUERY_PROXY_AUTHENTICATE = 41;
inline constexpr DWORD HTTP_QUERY_TRANSFER_ENCODING = 63;
inline constexpr DWORD HTTP_QUERY_CUSTOM = 65535;  // the buffer holds the header name on entry
inline constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;  // answer as a DWORD

// Status codes passed to the status callback. Information passed with them: the host name
// (10), the address as text (11, 20, 21), the new URL (110), all NUL-terminated with the NUL
// counted in the length; a DWORD byte count (31, 41); an INTERNET_ASYNC_RESULT whose result
// is the new handle (60); the handle being closed (70). The others pass nothing.
inline constexpr DWORD INTERNET_STATUS_RESOLVING_NAME = 10;
inline constexpr DWORD INTERNET_STATUS_NAME_RESOLVED = 11;
inline constexpr DWORD INTERNET_STATUS_CONNECTING_TO_SERVER = 20;
inline constexpr DWORD INTERNET_STATUS_CONNECTED_TO_SERVER = 21;
inline constexpr DWORD INTERNET_STATUS_SENDING_REQUEST = 30;
inline constexpr DWORD INTERNET_STATUS_REQUEST_SENT = 31;
inline constexpr DWORD INTERNET_STATUS_RECEIVING_RESPONSE = 40;
inline constexpr DWORD INTERNET_STATUS_RESPONSE_RECEIVED = 41;
inline constexpr DWORD INTERNET_STATUS_CLOSING_CONNECTION = 50;
inline constexpr DWORD INTERNET_STATUS_CONNECTION_CLOSED = 51;
inline constexpr DWORD INTERNET_STATUS_HANDLE_CREATED = 60;
inline constexpr DWORD INTERNET_STATUS_HANDLE_CLOSING = 70;
inline constexpr DWORD INTERNET_STATUS_REDIRECT = 110;

struct INTERNET_ASYNC_RESULT {
  DWORD_PTR dwResult = 0;
  DWORD dwError = 0;
};

// WinINet's error codes.
inline constexpr DWORD ERROR_INTERNET_OUT_OF_HANDLES = 12001;
inline constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
inline constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr DWORD ERROR_INTERNET_INVALID_OPTION = 12009;
inline constexpr DWORD ERROR_INTERNET_BAD_OPTION_LENGTH = 12010;
inline constexpr DWORD ERROR_INTERNET_LOGIN_FAILURE = 12015;
inline constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
inline constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
inline constexpr DWORD ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR = 12039;
inline constexpr DWORD ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR = 12040;
inline constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_ERRORS = 12055;
inline constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;
inline constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr DWORD ERROR_HTTP_INVALID_HEADER = 12153;
inline constexpr DWORD ERROR_HTTP_INVALID_QUERY_REQUEST = 12154;
inline constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;
inline constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
inline constexpr DWORD ERROR_INTERNET_SEC_INVALID_CERT = 12169;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_REVOKED = 12170;
inline constexpr DWORD ERROR_INTERNET_DECODING_FAILED = 12175;

// Opens a session. `agent` is sent as the User-Agent (none when null or empty). With
// INTERNET_OPEN_TYPE_PRECONFIG the proxies are read now from http_proxy, https_proxy
// (HTTPS_PROXY), all_proxy (ALL_PROXY) and no_proxy (NO_PROXY); with DIRECT they are ignored;
// with PROXY `proxy` ("host:port" or a URL) and `bypass` (names separated by ';', ',' or
// blanks) are used. Null with ERROR_INVALID_PARAMETER for another access type.
HINTERNET InternetOpenA(const char* agent, DWORD access_type, const char* proxy,
                        const char* bypass, DWORD flags);

// Registers `callback` on `handle` (null removes it) and returns the one it replaces (null
// when there was none), or INTERNET_INVALID_STATUS_CALLBACK with the last error set. Handles
// made later from `handle` start with the same callback.
INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET handle,
                                                   INTERNET_STATUS_CALLBACK callback);
INTERNET_STATUS_CALLBACK InternetSetStatusCallbackA(HINTERNET handle,
                                                    INTERNET_STATUS_CALLBACK callback);

// A connection to `server` ("host", "127.0.0.1" or "[::1]") on `port` (0: the scheme's
// default). `user` and `password` are offered when the server asks for them. Only
// INTERNET_SERVICE_HTTP is served (ERROR_INVALID_PARAMETER otherwise). Nothing is sent until
// a request is. `context` is passed to the callback for this handle; 0 means no callbacks.
HINTERNET InternetConnectA(HINTERNET session, const char* server, INTERNET_PORT port,
                           const char* user, const char* password, DWORD service, DWORD flags,
                           DWORD_PTR context);

// A request for `object` (a path, "/" when null or empty; bytes that may not appear in a
// request line are percent-encoded). `verb` null means GET. `accept_types` is a null-ended
// list sent as the Accept header (none when null). `version` and `referrer` as WinINet's.
HINTERNET HttpOpenRequestA(HINTERNET connection, const char* verb, const char* object,
                           const char* version, const char* referrer,
                           const char* const* accept_types, DWORD flags, DWORD_PTR context);

// Sends the request and waits for the final response's headers (redirects are followed, at
// most five; a sixth fails with ERROR_HTTP_REDIRECT_FAILED). A response whose framing is not
// sound (Content-Length lines that disagree, one that is not a decimal number that fits 63
// bits, or one beside a Transfer-Encoding) or whose header blocks pass 256 KiB fails with
// ERROR_HTTP_INVALID_SERVER_RESPONSE. The image's transfer bounds (os/image/transfer_bounds.h)
// apply to each exchange, the body read by InternetReadFile included: a server slower than
// the minimum rate over a rate window spent waiting for it, or an exchange that passes the
// timeout, fails with ERROR_INTERNET_TIMEOUT. May be called again on the same request: each
// call starts a new exchange and drops what was left of the previous body.
// `headers` are extra header lines ("Name: value\r\n"), `headers_length` their length or
// 0xFFFFFFFF for a NUL-terminated text; `optional` is a request body.
// A server certificate is checked fully unless the request's security flags say otherwise.
BOOL HttpSendRequestA(HINTERNET request, const char* headers, DWORD headers_length,
                      const void* optional, DWORD optional_length);

// Copies the response header selected by `info_level` into `buffer` as text with a NUL, and
// stores in `*buffer_length` the characters copied (without the NUL). When the buffer is too
// small: FALSE, ERROR_INSUFFICIENT_BUFFER and `*buffer_length` set to the bytes needed
// (with the NUL). With HTTP_QUERY_FLAG_NUMBER the value is stored as a DWORD. A header the
// response does not have: ERROR_HTTP_HEADER_NOT_FOUND. `index` (may be null) selects the
// n-th header of that name and is advanced on success. Before a successful send:
// ERROR_INTERNET_INCORRECT_HANDLE_STATE.
BOOL HttpQueryInfoA(HINTERNET request, DWORD info_level, void* buffer, DWORD* buffer_length,
                    DWORD* index);

// Copies up to `to_read` bytes of the body, undecoded, into `buffer` and stores their number
// in `*read`. At the end of the body: TRUE with 0 bytes. Waits for data while none is
// buffered, at most the receive timeout without a byte arriving (then ERROR_INTERNET_TIMEOUT).
// A body that ends before its length (a dropped connection) fails with
// ERROR_INTERNET_CONNECTION_ABORTED once the bytes that did arrive have been read.
BOOL InternetReadFile(HINTERNET request, void* buffer, DWORD to_read, DWORD* read);

// Sets an option on a handle. Timeouts apply to the handle and to handles made from it later;
// INFINITE switches a timeout off, 0 is refused. INTERNET_OPTION_SECURITY_FLAGS replaces the
// request's ignore flags (other bits of the value are ignored) for its next send.
// Wrong sizes: ERROR_INTERNET_BAD_OPTION_LENGTH; unknown options: ERROR_INTERNET_INVALID_OPTION.
BOOL InternetSetOptionA(HINTERNET handle, DWORD option, const void* buffer, DWORD length);
BOOL InternetQueryOptionA(HINTERNET handle, DWORD option, void* buffer, DWORD* length);

// Closes the handle and every handle made from it, calling back INTERNET_STATUS_HANDLE_CLOSING
// for each. FALSE with ERROR_INVALID_HANDLE for a handle that is not open.
BOOL InternetCloseHandle(HINTERNET handle);

}  // namespace os
