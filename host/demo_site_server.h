// The demo's sample site, served from 127.0.0.1 on a port the system picks: the files the
// build made in the site folder, with update.xml and demo.txt taken from the current
// generation ("v1" or "v2") so that a later run sees a changed configuration.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace pelisto {

class DemoSiteServer {
 public:
  explicit DemoSiteServer(std::string site_folder);
  ~DemoSiteServer();
  DemoSiteServer(const DemoSiteServer&) = delete;
  DemoSiteServer& operator=(const DemoSiteServer&) = delete;

  // Binds and starts serving; false with `error` filled when that fails.
  bool Start(std::string* error);
  void Stop();

  // "http://127.0.0.1:<port>/site/" + name.
  std::string Url(const std::string& name) const;
  void SetGeneration(const std::string& generation);
  // The names asked for since the last call, in order; clears them.
  std::vector<std::string> TakeRequests();

 private:
  std::string site_folder_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = -1;
  mutable std::mutex mu_;
  std::string generation_ = "v1";
  std::vector<std::string> requests_;
};

}  // namespace pelisto
