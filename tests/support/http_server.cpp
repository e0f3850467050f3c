#include "tests/support/http_server.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>

#include "tests/support/gzip_files.h"
#include "tests/support/image_test.h"

namespace pelisto::testing {
namespace fs = std::filesystem;
namespace {

constexpr size_t kPatternPeriod = 1 << 20;
constexpr size_t kPiece = 64 * 1024;

// One period of the pattern and a piece more, so that any slice of up to kPiece bytes is
// contiguous.
const std::string& PatternBlock() {
  static const std::string block = [] {
    std::string b(kPatternPeriod + kPiece, '\0');
    for (size_t i = 0; i < b.size(); ++i) {
      size_t k = i % kPatternPeriod;
      b[i] = static_cast<char>((k * 2654435761u) >> 13 ^ (k >> 10));
    }
    return b;
  }();
  return block;
}

// Writes `size` pattern bytes starting at `offset` into the sink.
bool WritePattern(size_t offset, size_t length, httplib::DataSink& sink) {
  const std::string& block = PatternBlock();
  size_t n = std::min(length, kPiece);
  return sink.write(block.data() + offset % kPatternPeriod, n);
}

size_t SizeArg(const httplib::Request& req, size_t index) {
  return static_cast<size_t>(std::stoull(req.matches[index].str()));
}

std::string Compress(const std::string& data, int window_bits) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) != Z_OK) return "";
  std::string out(deflateBound(&zs, data.size()) + 32, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return rc == Z_STREAM_END ? out : "";
}

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;

bool AddExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (ext == nullptr) return false;
  bool ok = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

bool WritePem(const std::string& path, const std::function<int(FILE*)>& write) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = write(f) == 1;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

bool MakeSelfSignedCertificate(const std::string& dir, CertKind kind, std::string* cert_path,
                               std::string* key_path, std::string* error) {
  PkeyPtr key(EVP_EC_gen("P-256"));
  X509Ptr cert(X509_new());
  if (!key || !cert) {
    *error = "cannot make a key or certificate";
    return false;
  }
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), static_cast<long>(kind) + 1);
  const long day = 24 * 60 * 60;
  if (kind == CertKind::kExpired) {
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -30 * day);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), -1 * day);
  } else {
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -1 * day);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30 * day);
  }
  X509_set_pubkey(cert.get(), key.get());
  X509_NAME* name = X509_get_subject_name(cert.get());
  const char* cn = kind == CertKind::kWrongName ? "wrong.invalid" : "localhost";
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  const char* san = kind == CertKind::kWrongName ? "DNS:wrong.invalid" : "IP:127.0.0.1,DNS:localhost";
  if (!AddExtension(cert.get(), NID_subject_alt_name, san) ||
      !AddExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") ||
      X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
    *error = "cannot sign the certificate";
    return false;
  }
  *cert_path = (fs::path(dir) / "cert.pem").string();
  *key_path = (fs::path(dir) / "key.pem").string();
  if (!WritePem(*cert_path, [&](FILE* f) { return PEM_write_X509(f, cert.get()); }) ||
      !WritePem(*key_path, [&](FILE* f) {
        return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
      })) {
    *error = "cannot write the certificate files into " + dir;
    return false;
  }
  return true;
}

std::string LoggedRequest::Header(const std::string& name) const {
  auto it = headers.find(name);
  return it == headers.end() ? "" : it->second;
}

void ServeBytes(httplib::Response& res, std::string body, const std::string& type) {
  // cpp-httplib sends no length at all for an empty provider.
  if (body.empty()) {
    res.set_content("", type);
    return;
  }
  auto shared = std::make_shared<std::string>(std::move(body));
  res.set_content_provider(shared->size(), type,
                           [shared](size_t offset, size_t length, httplib::DataSink& sink) {
                             return sink.write(shared->data() + offset, std::min(length, kPiece));
                           });
}

std::string HttpServer::Pattern(size_t size) {
  std::string out;
  out.reserve(size);
  const std::string& block = PatternBlock();
  for (size_t done = 0; done < size;) {
    size_t n = std::min(size - done, kPatternPeriod - done % kPatternPeriod);
    out.append(block, done % kPatternPeriod, n);
    done += n;
  }
  return out;
}

const std::string& HttpServer::Text() {
  static const std::string text = [] {
    std::string t;
    for (int i = 0; t.size() < 24 * 1024; ++i) {
      t += "line " + std::to_string(i) + ": the quick brown fox " + std::to_string(i * i % 977) +
           " jumps over " + std::to_string(i * 7919 % 10007) + " lazy dogs\n";
    }
    return t;
  }();
  return text;
}

const std::string& HttpServer::ZeroBomb(size_t mib, bool gzip) {
  static std::mutex mu;
  static std::map<std::pair<size_t, bool>, std::string> made;
  std::lock_guard<std::mutex> lock(mu);
  std::string& out = made[{mib, gzip}];
  if (out.empty()) out = CompressedZeros(std::uint64_t{mib} << 20, gzip ? ZerosFormat::kGzip : ZerosFormat::kZlib);
  return out;
}

std::string HttpServer::Gzip(const std::string& data) { return Compress(data, 15 + 16); }
std::string HttpServer::Zlib(const std::string& data) { return Compress(data, 15); }
std::string HttpServer::RawDeflate(const std::string& data) { return Compress(data, -15); }

HttpServer::HttpServer() : HttpServer(Options{}) {}

HttpServer::HttpServer(Options options) : options_(std::move(options)) {
  root_ = options_.root;
  if (root_.empty()) {
    own_root_ = std::make_unique<TempDir>();
    root_ = own_root_->path();
  }
}

HttpServer::~HttpServer() { Stop(); }

std::string HttpServer::Url(std::string_view path) const {
  return std::string(options_.https ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) +
         std::string(path);
}

bool HttpServer::Start(std::string* error) {
  if (options_.https) {
    std::string cert, key;
    cert_dir_ = std::make_unique<TempDir>();
    if (!MakeSelfSignedCertificate(cert_dir_->path(), options_.cert, &cert, &key, error)) return false;
    server_ = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  if (!server_->is_valid()) {
    *error = "the server cannot be made";
    return false;
  }
  AddStandardRoutes();
  auto dispatch = [this](const httplib::Request& req, httplib::Response& res) { Dispatch(req, res); };
  server_->Get(".*", dispatch);
  server_->Post(".*", dispatch);
  server_->Put(".*", dispatch);
  server_->set_keep_alive_timeout(2);
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) {
    *error = "cannot bind 127.0.0.1";
    return false;
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server_->is_running()) {
    if (std::chrono::steady_clock::now() > give_up) {
      *error = "the server did not start";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void HttpServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  stop_cv_.notify_all();
  if (server_) server_->stop();
  if (thread_.joinable()) thread_.join();
}

bool HttpServer::WaitForStop(int ms) {
  std::unique_lock<std::mutex> lock(mu_);
  return stop_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void HttpServer::Route(const std::string& pattern, Handler handler) {
  std::lock_guard<std::mutex> lock(mu_);
  routes_.emplace_back(std::regex(pattern), std::move(handler));
}

std::vector<LoggedRequest> HttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return log_;
}

size_t HttpServer::RequestCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return log_.size();
}

void HttpServer::ClearLog() {
  std::lock_guard<std::mutex> lock(mu_);
  log_.clear();
}

void HttpServer::Dispatch(const httplib::Request& req, httplib::Response& res) {
  LoggedRequest entry;
  entry.method = req.method;
  entry.path = req.path;
  for (const auto& [name, value] : req.params) {
    entry.query += (entry.query.empty() ? "" : "&") + name + "=" + value;
  }
  entry.headers = req.headers;
  // A request in absolute form is one sent to a proxy.
  bool absolute = req.path.rfind("http://", 0) == 0 || req.path.rfind("https://", 0) == 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    log_.push_back(std::move(entry));
  }
  Answer(absolute ? std::string("/proxy") : req.path, req, res);
}

void HttpServer::ServeAs(const std::string& path_and_query, const httplib::Request& req, httplib::Response& res) {
  const size_t question = path_and_query.find('?');
  httplib::Request as = req;
  as.path = path_and_query.substr(0, question);
  as.params.clear();
  if (question != std::string::npos) httplib::detail::parse_query_text(path_and_query.substr(question + 1), as.params);
  Answer(as.path, as, res);
}

void HttpServer::Answer(const std::string& path, const httplib::Request& req, httplib::Response& res) {
  Handler handler;
  std::regex pattern;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = routes_.rbegin(); it != routes_.rend(); ++it) {
      if (std::regex_match(path, it->first)) {
        handler = it->second;
        pattern = it->first;
        break;
      }
    }
  }
  if (!handler) {
    res.status = 404;
    ServeBytes(res, "not found\n", "text/plain");
    return;
  }
  // Handlers read their captures from `matches`, as with cpp-httplib's own routes.
  httplib::Request routed = req;
  std::regex_match(path, routed.matches, pattern);
  handler(routed, res);
}

void HttpServer::AddStandardRoutes() {
  Route(R"(/files/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
    std::string name = req.matches[1].str();
    if (name.find("..") != std::string::npos) {
      res.status = 403;
      return;
    }
    fs::path path = fs::path(root_) / name;
    std::error_code ec;
    auto size = fs::file_size(path, ec);
    if (ec) {
      res.status = 404;
      ServeBytes(res, "no such file\n", "text/plain");
      return;
    }
    if (size == 0) return ServeBytes(res, "");
    auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
    res.set_content_provider(static_cast<size_t>(size), "application/octet-stream",
                             [file](size_t offset, size_t length, httplib::DataSink& sink) {
                               char buf[kPiece];
                               file->seekg(static_cast<std::streamoff>(offset));
                               file->read(buf, static_cast<std::streamsize>(std::min(length, kPiece)));
                               std::streamsize got = file->gcount();
                               return got > 0 && sink.write(buf, static_cast<size_t>(got));
                             });
  });
  Route(R"(/pattern/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    if (SizeArg(req, 1) == 0) return ServeBytes(res, "");
    res.set_content_provider(SizeArg(req, 1), "application/octet-stream",
                             [](size_t offset, size_t length, httplib::DataSink& sink) {
                               return WritePattern(offset, length, sink);
                             });
  });
  Route(R"(/chunked/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    size_t size = SizeArg(req, 1);
    res.set_chunked_content_provider("application/octet-stream", [size](size_t offset, httplib::DataSink& sink) {
      if (offset >= size) {
        sink.done();
        return true;
      }
      return WritePattern(offset, std::min<size_t>(size - offset, 1000), sink);
    });
  });
  Route(R"(/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    res.status = std::stoi(req.matches[1].str());
    if (res.status == 401) res.set_header("WWW-Authenticate", "Basic realm=\"test\"");
    if (res.status == 407) res.set_header("Proxy-Authenticate", "Basic realm=\"test\"");
    ServeBytes(res, "status " + req.matches[1].str() + "\n", "text/plain");
  });
  auto encoded = [](std::string encoding, std::string body) {
    return [encoding, body](const httplib::Request&, httplib::Response& res) {
      res.set_header("Content-Encoding", encoding);
      ServeBytes(res, body);
    };
  };
  Route("/gzip", encoded("gzip", Gzip(Text())));
  Route("/deflate", encoded("deflate", Zlib(Text())));
  Route("/deflate-raw", encoded("deflate", RawDeflate(Text())));
  Route("/redirect/once", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("/pattern/4096", 302);
  });
  Route(R"(/redirect/chain/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    size_t left = SizeArg(req, 1);
    res.set_redirect(left <= 1 ? "/pattern/100" : "/redirect/chain/" + std::to_string(left - 1), 302);
  });
  Route("/redirect/loop", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("/redirect/loop", 302);
  });
  Route("/redirect/to", [](const httplib::Request& req, httplib::Response& res) {
    res.set_redirect(req.get_param_value("url"), 302);
  });
  Route(R"(/slow/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
    size_t size = SizeArg(req, 1);
    int every_ms = req.has_param("every_ms") ? std::stoi(req.get_param_value("every_ms")) : 10;
    res.set_content_provider(size, "application/octet-stream",
                             [this, every_ms](size_t offset, size_t length, httplib::DataSink& sink) {
                               if (WaitForStop(every_ms)) return false;
                               return WritePattern(offset, std::min<size_t>(length, 100), sink);
                             });
  });
  Route("/stall/headers", [this](const httplib::Request&, httplib::Response& res) {
    WaitForStop(30000);
    ServeBytes(res, "late\n", "text/plain");
  });
  Route("/stall/body", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(100000, "application/octet-stream",
                             [this](size_t offset, size_t length, httplib::DataSink& sink) {
                               if (offset >= 1000) {
                                 WaitForStop(30000);
                                 return false;
                               }
                               return WritePattern(offset, std::min<size_t>(length, 1000 - offset), sink);
                             });
  });
  Route(R"(/bomb/(gzip|deflate)/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    const bool gzip = req.matches[1].str() == "gzip";
    res.set_header("Content-Encoding", gzip ? "gzip" : "deflate");
    ServeBytes(res, ZeroBomb(SizeArg(req, 2), gzip));
  });
  Route(R"(/cut/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    size_t size = SizeArg(req, 1);
    res.set_content_provider(size, "application/octet-stream",
                             [size](size_t offset, size_t length, httplib::DataSink& sink) {
                               if (offset >= size / 2) return false;  // drops the connection
                               return WritePattern(offset, std::min(length, size / 2 - offset), sink);
                             });
  });
  Route(R"(/cut-chunked/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    size_t size = SizeArg(req, 1);
    res.set_chunked_content_provider("application/octet-stream", [size](size_t offset, httplib::DataSink& sink) {
      if (offset >= size / 2) return false;
      return WritePattern(offset, std::min<size_t>(size / 2 - offset, 1000), sink);
    });
  });
}

}  // namespace pelisto::testing
