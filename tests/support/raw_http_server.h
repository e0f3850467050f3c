// A loopback server that writes its answers byte for byte, for what a well-behaved server
// library refuses to send: headers that drip, repeated or malformed Content-Length lines,
// header blocks without end. Listens on 127.0.0.1 on a port the system picks; one thread per
// connection; every answer closes its connection.
//
// Routes (the path before '?' selects; parameters are plain name=value pairs):
//   /drip-headers?every_ms=T&lines=N   the status line at once, then N header lines one
//                                      every T ms, then a 5-byte body with its length
//   /header-flood                      header lines without end, as fast as they are taken
//   /length?value=V[&value=W...]&body=B[&chunked]
//                                      one "Content-Length: V" line per value, as given,
//                                      then the body B (default "12345"), with chunked as
//                                      one chunk under "Transfer-Encoding: chunked"
//   /reset/N[/NAME]                    N body bytes of a claimed 2N (none and no head when
//                                      N is 0), then a connection reset
//   anything else                      404 with an empty body
//
// Threads: Start and Stop from one thread; the routes run on the server's own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace pelisto::testing {

class RawHttpServer {
 public:
  RawHttpServer() = default;
  ~RawHttpServer();
  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  bool Start(std::string* error);
  // Wakes waiting routes, stops accepting and joins every thread.
  void Stop();

  int port() const { return port_; }
  std::string Url(std::string_view path) const;
  // Requests answered so far.
  int RequestCount() const { return requests_.load(); }

 private:
  void AcceptLoop();
  void Serve(int fd);
  // False once the server stops during the wait.
  bool Wait(int ms);

  int listen_fd_ = -1;
  int port_ = -1;
  std::thread acceptor_;
  std::mutex mu_;
  std::condition_variable stop_cv_;
  bool stopping_ = false;
  std::vector<std::thread> connections_;
  std::atomic<int> requests_{0};
};

}  // namespace pelisto::testing
