#include "tests/support/raw_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace pelisto::testing {
namespace {

// Name to values, in the order given.
std::multimap<std::string, std::string> ParseQuery(std::string_view query) {
  std::multimap<std::string, std::string> out;
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view pair = query.substr(0, amp);
    query.remove_prefix(amp == std::string_view::npos ? query.size() : amp + 1);
    size_t eq = pair.find('=');
    out.emplace(std::string(pair.substr(0, eq)), eq == std::string_view::npos ? "" : std::string(pair.substr(eq + 1)));
  }
  return out;
}

std::string Param(const std::multimap<std::string, std::string>& query, const std::string& name,
                  const std::string& fallback) {
  auto it = query.find(name);
  return it == query.end() ? fallback : it->second;
}

}  // namespace

RawHttpServer::~RawHttpServer() { Stop(); }

std::string RawHttpServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

bool RawHttpServer::Start(std::string* error) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_fd_, 16) != 0 || getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    *error = "cannot listen on 127.0.0.1";
    return false;
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void RawHttpServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (stopping_) return;
    stopping_ = true;
  }
  stop_cv_.notify_all();
  if (listen_fd_ >= 0) shutdown(listen_fd_, SHUT_RDWR);
  if (acceptor_.joinable()) acceptor_.join();
  if (listen_fd_ >= 0) close(listen_fd_);
  listen_fd_ = -1;
  std::vector<std::thread> connections;
  {
    std::lock_guard<std::mutex> lock(mu_);
    connections.swap(connections_);
  }
  for (std::thread& t : connections) t.join();
}

bool RawHttpServer::Wait(int ms) {
  std::unique_lock<std::mutex> lock(mu_);
  return !stop_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void RawHttpServer::AcceptLoop() {
  for (;;) {
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;  // shut down
    std::lock_guard<std::mutex> lock(mu_);
    if (stopping_) {
      close(fd);
      return;
    }
    connections_.emplace_back([this, fd] { Serve(fd); });
  }
}

void RawHttpServer::Serve(int fd) {
  // Sends all of `data`, giving up when the server stops or the client goes.
  auto send_all = [this, fd](std::string_view data) {
    while (!data.empty()) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 100) < 0) return false;
      {
        std::lock_guard<std::mutex> lock(mu_);
        if (stopping_) return false;
      }
      if ((p.revents & POLLOUT) == 0) {
        if ((p.revents & (POLLERR | POLLHUP)) != 0) return false;
        continue;
      }
      ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n <= 0) return false;
      data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  };
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) < 0 || !Wait(0)) break;
    if ((p.revents & POLLIN) == 0) continue;
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.append(buffer, static_cast<size_t>(n));
  }
  ++requests_;
  // "GET /path?query HTTP/1.1"
  size_t sp = request.find(' ');
  std::string target = sp == std::string::npos ? "" : request.substr(sp + 1, request.find(' ', sp + 1) - sp - 1);
  size_t question = target.find('?');
  const std::string path = target.substr(0, question);
  const auto query = ParseQuery(question == std::string::npos ? "" : std::string_view(target).substr(question + 1));

  if (path == "/drip-headers") {
    const int every_ms = std::stoi(Param(query, "every_ms", "1000"));
    const int lines = std::stoi(Param(query, "lines", "10"));
    bool ok = send_all("HTTP/1.1 200 OK\r\n");
    for (int i = 0; ok && i < lines; ++i) {
      ok = Wait(every_ms) && send_all("X-Drip-" + std::to_string(i) + ": " + std::to_string(i) + "\r\n");
    }
    if (ok) send_all("Content-Length: 5\r\nConnection: close\r\n\r\n12345");
  } else if (path == "/header-flood") {
    bool ok = send_all("HTTP/1.1 200 OK\r\n");
    const std::string line = "X-Flood: " + std::string(100, 'f') + "\r\n";
    std::string block;
    for (int i = 0; i < 100; ++i) block += line;
    while (ok) ok = send_all(block);
  } else if (path == "/length") {
    std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    auto [first, last] = query.equal_range("value");
    for (auto it = first; it != last; ++it) head += "Content-Length: " + it->second + "\r\n";
    const std::string body = Param(query, "body", "12345");
    if (query.count("chunked") != 0) {
      char size[32];
      std::snprintf(size, sizeof size, "%zx", body.size());
      send_all(head + "Transfer-Encoding: chunked\r\n\r\n" + size + "\r\n" + body + "\r\n0\r\n\r\n");
    } else {
      send_all(head + "\r\n" + body);
    }
  } else if (path.rfind("/reset/", 0) == 0) {
    // A zero linger time makes close() send a reset instead of the orderly end.
    const size_t after = std::strtoul(path.c_str() + 7, nullptr, 10);
    if (after > 0) {
      send_all("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(2 * after) + "\r\n\r\n" +
               std::string(after, 'r'));
    }
    linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(fd);
    return;
  } else {
    send_all("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  }
  shutdown(fd, SHUT_WR);
  close(fd);
}

}  // namespace pelisto::testing
