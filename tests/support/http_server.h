// A loopback HTTP(S) server for tests: listens on 127.0.0.1 on a port the system picks, runs
// in its own threads, and is ready to accept when Start returns.
//
// Standard routes (GET and HEAD; every request is logged first):
//   /files/<name>              a file of root(), streamed with its length
//   /pattern/<n>               n bytes of Pattern(), with Content-Length
//   /chunked/<n>               the same bytes, chunked (no Content-Length)
//   /status/<code>             that status with a short text body; 401 and 407 carry their
//                              challenge headers
//   /gzip, /deflate,           Text() compressed as gzip, zlib ("deflate") or raw deflate,
//   /deflate-raw               with the matching Content-Encoding, never re-compressed
//   /redirect/once             302 to /pattern/4096
//   /redirect/chain/<n>        n redirects in a row, then /pattern/100
//   /redirect/loop             302 to itself
//   /redirect/to?url=<url>     302 to <url>
//   /slow/<n>?every_ms=<t>     n pattern bytes in 100-byte pieces, one every t ms
//   /stall/headers             answers nothing until the server stops (at most 30 s)
//   /stall/body                sends 1000 of 100000 bytes, then nothing until the server stops
//   /cut/<n>                   claims n bytes, sends n/2 and drops the connection
//   /cut-chunked/<n>           chunked, drops the connection after n/2 bytes
//   /bomb/gzip/<m>,            m MiB of zero bytes compressed (about 1 KB per MiB) as gzip or
//   /bomb/deflate/<m>          zlib, with the matching Content-Encoding and the compressed length
//   anything else              404
// Requests in absolute form (as a client sends them to a proxy) are answered by the route
// added for "/proxy" if there is one.
//
// Threads: routes may be added and the log read while the server runs.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace pelisto::testing {

class TempDir;

enum class CertKind {
  kValid,      // names 127.0.0.1 and localhost, valid now
  kWrongName,  // names only wrong.invalid
  kExpired,    // valid names, expired yesterday
};

// Writes a self-signed certificate and its key (PEM) as cert.pem and key.pem into `dir`.
bool MakeSelfSignedCertificate(const std::string& dir, CertKind kind, std::string* cert_path,
                               std::string* key_path, std::string* error);

struct LoggedRequest {
  std::string method;
  std::string path;    // as received: "/a/b", or "http://host/a" for a proxy request
  std::string query;   // decoded "name=value" pairs joined with '&'
  httplib::Headers headers;
  std::string Header(const std::string& name) const;
};

class HttpServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  struct Options {
    bool https = false;
    CertKind cert = CertKind::kValid;
    std::string root;  // folder behind /files; empty: a temporary folder of the server's own
  };

  HttpServer();
  explicit HttpServer(Options options);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds and starts serving; false with `error` filled when that fails.
  bool Start(std::string* error);
  // Wakes stalled routes, stops serving and joins the threads. Called by the destructor.
  void Stop();

  int port() const { return port_; }
  bool https() const { return options_.https; }
  const std::string& root() const { return root_; }
  // "http://127.0.0.1:<port><path>" (https for an HTTPS server).
  std::string Url(std::string_view path) const;

  // Adds a route for GET, HEAD and POST whose path matches `pattern` (a whole-path regex).
  // Routes added later win over earlier ones and over the standard routes.
  void Route(const std::string& pattern, Handler handler);

  // Answers `req` as the route for `path_and_query` would ("/status/404", "/slow/10?every_ms=5"),
  // standard routes included, without logging it again: for a route that serves another's
  // answer under a name of its own.
  void ServeAs(const std::string& path_and_query, const httplib::Request& req, httplib::Response& res);

  std::vector<LoggedRequest> Requests() const;
  size_t RequestCount() const;
  void ClearLog();

  // Blocks until Stop() or `ms` milliseconds pass; true when stopped. For handlers that
  // must hold a connection open.
  bool WaitForStop(int ms);

  // The bytes /pattern/<n> serves: byte i of the body is Pattern(i + 1)[i].
  static std::string Pattern(size_t size);
  // The text behind /gzip and /deflate: several KB, not a repetition of one short line.
  static const std::string& Text();
  static std::string Gzip(const std::string& data);
  static std::string Zlib(const std::string& data);
  static std::string RawDeflate(const std::string& data);
  // `mib` MiB of zero bytes as gzip or else zlib (tests/support/gzip_files.h); each is made
  // once per process.
  static const std::string& ZeroBomb(size_t mib, bool gzip);

 private:
  void AddStandardRoutes();
  void Dispatch(const httplib::Request& req, httplib::Response& res);
  // Runs the route that matches `path` (404 when none does).
  void Answer(const std::string& path, const httplib::Request& req, httplib::Response& res);

  Options options_;
  std::string root_;
  std::unique_ptr<TempDir> own_root_;  // when no root was given
  std::unique_ptr<TempDir> cert_dir_;  // the generated certificate, outside the served files
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = -1;

  mutable std::mutex mu_;
  std::condition_variable stop_cv_;
  bool stopping_ = false;
  std::vector<std::pair<std::regex, Handler>> routes_;
  std::vector<LoggedRequest> log_;
};

// Serves `body` with its length (cpp-httplib then leaves it as it is).
void ServeBytes(httplib::Response& res, std::string body, const std::string& type = "application/octet-stream");

}  // namespace pelisto::testing
