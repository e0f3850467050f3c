#include "host/demo_site_server.h"

#include <httplib.h>

#include <cctype>
#include <chrono>
#include <fstream>
#include <sstream>

namespace pelisto {
namespace {

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  *bytes = out.str();
  return true;
}

bool IsSiteName(const std::string& name) {
  if (name.empty() || name[0] == '.') return false;
  for (char c : name) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-')) {
      return false;
    }
  }
  return true;
}

}  // namespace

DemoSiteServer::DemoSiteServer(std::string site_folder)
    : site_folder_(std::move(site_folder)), server_(std::make_unique<httplib::Server>()) {}

DemoSiteServer::~DemoSiteServer() { Stop(); }

bool DemoSiteServer::Start(std::string* error) {
  server_->Get(R"(/site/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
    const std::string name = req.matches[1];
    std::string generation;
    {
      std::lock_guard<std::mutex> lock(mu_);
      requests_.push_back(name);
      generation = generation_;
    }
    std::string bytes;
    const bool per_generation = name == "update.xml" || name == "demo.txt";
    const std::string path = site_folder_ + "/" + (per_generation ? generation + "/" : "") + name;
    if (!IsSiteName(name) || !ReadFile(path, &bytes)) {
      res.status = 404;
      res.set_content("not found", "text/plain");
      return;
    }
    // Served by length as application/octet-stream, so the server library sends the bytes
    // as they are.
    const std::size_t size = bytes.size();
    auto body = std::make_shared<std::string>(std::move(bytes));
    res.set_content_provider(size, "application/octet-stream",
                             [body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                               sink.write(body->data() + offset, length);
                               return true;
                             });
  });
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) {
    *error = "the demo site cannot listen on 127.0.0.1";
    return false;
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  for (int i = 0; i < 500 && !server_->is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!server_->is_running()) {
    *error = "the demo site did not start";
    return false;
  }
  return true;
}

void DemoSiteServer::Stop() {
  if (thread_.joinable()) {
    server_->stop();
    thread_.join();
  }
}

std::string DemoSiteServer::Url(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/site/" + name;
}

void DemoSiteServer::SetGeneration(const std::string& generation) {
  std::lock_guard<std::mutex> lock(mu_);
  generation_ = generation;
}

std::vector<std::string> DemoSiteServer::TakeRequests() {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> out;
  out.swap(requests_);
  return out;
}

}  // namespace pelisto
