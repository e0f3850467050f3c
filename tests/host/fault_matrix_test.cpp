// Faults of a server, one row each, through the pelisto program: the configuration download
// and a content download, on Windows 5 and 6, without and with the control's own dialogs.
// Each row states the result, the log line, what the page hears, how long the run may take,
// and that nothing but the log (and, for a row that succeeds, what it installs) is left in
// the image; a run against the healed server then installs.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/http_request_sequence.h"
#include "tests/support/http_server.h"
#include "tests/support/image_test.h"
#include "tests/support/program_run.h"
#include "tests/support/raw_http_server.h"

namespace pelisto::testing {
namespace {

namespace fs = std::filesystem;

enum class Server { kPlain, kRaw, kWrongName, kExpired, kSelfSigned };

// What the page hears of the faulty transfer on the dialogless path.
enum class Heard {
  kNothing,  // no StartDownload: the answer was never accepted
  kStarted,  // StartDownload, maybe Downloading, but not the whole body
  kWhole,    // StartDownload and Downloading up to the whole body
};

// How a row's faulty URL answers; the name, the last part of the URL, decides the body of
// the rows that answer: the configuration or the content file.
enum class Answer {
  kAlias,       // as the test server's route `alias` answers
  kRaw,         // the raw server's `alias`, with the name appended
  kHealthy,     // the healthy body (over TLS)
  kChallenge,   // 401 or 407 to the control's own session, the body to the cache fetch
  kDrip,        // the healthy body in small pieces, slowly but faster than the bound
  kBadGzip,     // "gzip" with a body that is no deflate data
  kBadDeflate,  // "deflate", the same
};

struct FaultRow {
  const char* name;
  Server server;
  Answer answer;
  std::string alias;  // for kAlias and kRaw; for kChallenge the status
  bool succeeds;
  // The dialogless path's log line after the blank: the transfer's error message, "{local}"
  // standing for the download's local path.
  std::string dialogless_log;
  // The dialog path's message box (text 110-114); empty: the dialog closes without one.
  std::string dialog_box;
  Heard heard;
  int max_ms;
};

constexpr int kQuick = 8000;  // under load on two cores; a hang takes the stall's 30 s
// The image's rate bound for this suite: a server that sends under 16 bytes in a second of
// waiting for it is given up on. Shorter windows make a loaded machine's slow turns look
// like stalls.
constexpr char kTransferBounds[] = "transfer_min_rate=16\ntransfer_rate_window_ms=1000\n";

const std::vector<FaultRow>& Rows() {
  static const std::vector<FaultRow> rows = {
      {"NotFound", Server::kPlain, Answer::kAlias, "/status/404", false,
       "Failed to retrieve a HTTP 200 status, Status Code:404\n",
       "Failed to receive a valid HTTP response from the server", Heard::kNothing, kQuick},
      {"ServerError", Server::kPlain, Answer::kAlias, "/status/500", false,
       "Failed to retrieve a HTTP 200 status, Status Code:500\n",
       "Failed to receive a valid HTTP response from the server", Heard::kNothing, kQuick},
      {"Unauthorized_CacheFetchFails", Server::kPlain, Answer::kAlias, "/status/401", false,
       "Failed to retrieve a HTTP 200 status, Status Code:401\n",
       "Failed to receive a valid HTTP response from the server", Heard::kNothing, kQuick},
      {"ProxyAuth_CacheFetchFails", Server::kPlain, Answer::kAlias, "/status/407", false,
       "Failed to retrieve a HTTP 200 status, Status Code:407\n",
       "Failed to receive a valid HTTP response from the server", Heard::kNothing, kQuick},
      {"Unauthorized_CacheFetchSucceeds", Server::kPlain, Answer::kChallenge, "401", true, "", "",
       Heard::kWhole, kQuick},
      {"ProxyAuth_CacheFetchSucceeds", Server::kPlain, Answer::kChallenge, "407", true, "", "",
       Heard::kWhole, kQuick},
      {"ChunkedBodyCutOff", Server::kPlain, Answer::kAlias, "/cut-chunked/5000", false,
       "Failed in call to InternetReadFile, Error:12030",
       "An error occurred while downloading the file, Error:12030", Heard::kStarted, kQuick},
      {"FewerBytesThanContentLength", Server::kPlain, Answer::kAlias, "/cut/5000", false,
       "Failed in call to InternetReadFile, Error:12030",
       "An error occurred while downloading the file, Error:12030", Heard::kStarted, kQuick},
      {"StallBeforeHeaders", Server::kPlain, Answer::kAlias, "/stall/headers", false,
       "Failed in call to HttpSendRequest, Error:12002\n",
       "An error occurred connecting to the server, Error:12002", Heard::kNothing, kQuick},
      {"StallMidBody", Server::kPlain, Answer::kAlias, "/stall/body", false,
       "Failed in call to InternetReadFile, Error:12002",
       "An error occurred while downloading the file, Error:12002", Heard::kStarted, kQuick},
      {"SlowDripUnderTheDeadline", Server::kPlain, Answer::kDrip, "", true, "", "", Heard::kWhole, kQuick},
      // A body that does not decode is a read that failed, as where the HTTP layer decodes.
      {"GzipThatDoesNotDecode", Server::kPlain, Answer::kBadGzip, "", false,
       "Failed in call to InternetReadFile, Error:12175",
       "An error occurred while downloading the file, Error:12175", Heard::kStarted, kQuick},
      {"DeflateThatDoesNotDecode", Server::kPlain, Answer::kBadDeflate, "", false,
       "Failed in call to InternetReadFile, Error:12175",
       "An error occurred while downloading the file, Error:12175", Heard::kStarted, kQuick},
      {"GzipBomb", Server::kPlain, Answer::kAlias, "/bomb/gzip/64", false, "{local} transfer stopped: the decoded body grew past",
       "An error occurred while downloading the file, Error:223", Heard::kStarted, kQuick},
      {"RedirectLoop", Server::kPlain, Answer::kAlias, "/redirect/loop", false,
       "Failed in call to HttpSendRequest, Error:12156\n",
       "An error occurred connecting to the server, Error:12156", Heard::kNothing, kQuick},
      {"RedirectToAnotherScheme", Server::kPlain, Answer::kAlias, "/redirect/to?url=file:///etc/passwd", false,
       "Failed in call to HttpSendRequest, Error:12006\n",
       "An error occurred connecting to the server, Error:12006", Heard::kNothing, kQuick},
      // The request flags ignore a certificate's name and date, and after a failed secure
      // send its unknown authority too: these rows succeed.
      {"TlsWrongName_Ignored", Server::kWrongName, Answer::kHealthy, "", true, "", "", Heard::kWhole, kQuick},
      {"TlsExpired_Ignored", Server::kExpired, Answer::kHealthy, "", true, "", "", Heard::kWhole, kQuick},
      {"TlsSelfSigned_Ignored", Server::kSelfSigned, Answer::kHealthy, "", true, "", "", Heard::kWhole, kQuick},
      {"ResetBeforeAnswering", Server::kRaw, Answer::kRaw, "/reset/0", false,
       "Failed in call to HttpSendRequest, Error:12030\n",
       "An error occurred connecting to the server, Error:12030", Heard::kNothing, kQuick},
      {"ResetMidBody", Server::kRaw, Answer::kRaw, "/reset/1500", false,
       "Failed in call to InternetReadFile, Error:12030",
       "An error occurred while downloading the file, Error:12030", Heard::kStarted, kQuick},
  };
  return rows;
}

enum class Target { kConfiguration, kContent };
enum class Path { kDialogless, kDialog };

using Param = std::tuple<size_t, Target, int, Path>;

constexpr char kConfigName[] = "update.xml";
constexpr char kFileName[] = "file.bin";
constexpr char kWorkFolder[] = "cfg/Veltrane/pold";
constexpr size_t kFileSize = 3000;
// What the image holds before each row: version 1.0 installed by an earlier run. Every
// configuration served offers 1.1.
constexpr char kOldBody[] = "version 1.0\n";
constexpr char kOldConfig[] =
    "<list><content name='file.bin' ver='1.0' url='http://127.0.0.1/file.bin' target='C:\\Demo'/></list>";

std::string FileBody() { return HttpServer::Pattern(kFileSize); }

// One server of each kind for the whole suite, made when a row first needs it. The routes
// ask for the others' addresses from the servers' threads.
class Servers {
 public:
  ~Servers() {
    std::map<Server, std::unique_ptr<HttpServer>> servers;
    {
      std::lock_guard<std::mutex> lock(mu_);
      servers.swap(servers_);
    }
  }
  HttpServer& Get(Server kind) {
    std::lock_guard<std::mutex> lock(mu_);
    auto& slot = servers_[kind];
    if (!slot) {
      HttpServer::Options options;
      options.https = kind != Server::kPlain;
      if (kind == Server::kWrongName) options.cert = CertKind::kWrongName;
      if (kind == Server::kExpired) options.cert = CertKind::kExpired;
      slot = std::make_unique<HttpServer>(options);
      AddRoutes(*slot);
      std::string error;
      EXPECT_TRUE(slot->Start(&error)) << error;
    }
    return *slot;
  }
  // Stops a server; the next Get makes a new one. A stalled route holds one of the server's
  // few threads until the server stops.
  void Drop(Server kind) {
    std::unique_ptr<HttpServer> dropped;
    {
      std::lock_guard<std::mutex> lock(mu_);
      dropped = std::move(servers_[kind]);
      servers_.erase(kind);
    }
    // Stopped outside the lock: its routes may still be asking for an address.
  }
  RawHttpServer& Raw() {
    std::lock_guard<std::mutex> lock(mu_);
    if (!raw_) {
      raw_ = std::make_unique<RawHttpServer>();
      std::string error;
      EXPECT_TRUE(raw_->Start(&error)) << error;
    }
    return *raw_;
  }
  // The healthy configuration: one plain file from the plain server.
  std::string HealthyConfig() {
    return "<list><content name='file.bin' ver='1.1' url='" + Get(Server::kPlain).Url("/healthy/file.bin") +
           "' target='C:\\Demo'/></list>";
  }
  // What a row's URL that answers serves under `name`.
  std::string HealthyBody(const std::string& name) { return name == kConfigName ? HealthyConfig() : FileBody(); }

  // The URL whose answer is the row's fault, ending in `name`.
  std::string FaultUrl(size_t row, const std::string& name) {
    const FaultRow& r = Rows()[row];
    if (r.server == Server::kRaw) return Raw().Url(r.alias + "/" + name);
    return Get(r.server).Url("/fault/" + std::to_string(row) + "/" + name);
  }

 private:
  void AddRoutes(HttpServer& server) {
    HttpServer* s = &server;
    server.Route("/healthy/(.+)", [this](const httplib::Request& req, httplib::Response& res) {
      ServeBytes(res, HealthyBody(req.matches[1].str()));
    });
    // The configuration of a content row: its one entry's file is the fault, or, healed,
    // the healthy file at the same name.
    server.Route(R"(/site/(faulty|healed)/(\d+)/update\.xml)", [this](const httplib::Request& req,
                                                                         httplib::Response& res) {
      const std::string url = req.matches[1].str() == "faulty" ? FaultUrl(std::stoul(req.matches[2].str()), kFileName)
                                                               : Get(Server::kPlain).Url("/healthy/file.bin");
      ServeBytes(res, "<list><content name='file.bin' ver='1.1' url='" + url + "' target='C:\\Demo'/></list>");
    });
    server.Route(R"(/fault/(\d+)/(.+))", [this, s](const httplib::Request& req, httplib::Response& res) {
      const FaultRow& row = Rows().at(std::stoul(req.matches[1].str()));
      const std::string body = HealthyBody(req.matches[2].str());
      switch (row.answer) {
        case Answer::kAlias:
        case Answer::kRaw: return s->ServeAs(row.alias, req, res);
        case Answer::kHealthy: return ServeBytes(res, body);
        case Answer::kChallenge: {
          // The control's session has no credentials; the browser's cache fetch has.
          if (req.get_header_value("User-Agent") != kApplicationName) return ServeBytes(res, body);
          res.status = std::stoi(row.alias);
          res.set_header(res.status == 401 ? "WWW-Authenticate" : "Proxy-Authenticate", "Basic realm=\"t\"");
          return ServeBytes(res, "<html>log in first</html>", "text/html");
        }
        case Answer::kDrip: {
          // About 30 pieces 10 ms apart: several times the bound's rate.
          const size_t piece = body.size() / 30 + 1;
          auto shared = std::make_shared<std::string>(body);
          res.set_content_provider(body.size(), "application/octet-stream",
                                   [s, shared, piece](size_t offset, size_t length, httplib::DataSink& sink) {
                                     if (s->WaitForStop(10)) return false;
                                     return sink.write(shared->data() + offset, std::min({length, piece}));
                                   });
          return;
        }
        case Answer::kBadGzip:
        case Answer::kBadDeflate: {
          // A sound header, then a block of the reserved type: no decoder takes it.
          const bool gzip = row.answer == Answer::kBadGzip;
          std::string bad = gzip ? std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) : std::string("\x78\x9c");
          bad += std::string(2000, '\xff');
          res.set_header("Content-Encoding", gzip ? "gzip" : "deflate");
          return ServeBytes(res, bad);
        }
      }
    });
  }

  std::mutex mu_;
  std::map<Server, std::unique_ptr<HttpServer>> servers_;
  std::unique_ptr<RawHttpServer> raw_;
};

class FaultMatrix : public ::testing::TestWithParam<Param> {
 protected:
  static void SetUpTestSuite() { servers_ = new Servers; }
  static void TearDownTestSuite() {
    delete servers_;
    servers_ = nullptr;
  }

  void SetUp() override {
    fs::create_directories(prefix());
    WriteHostFile(prefix() + "/image.conf", kTransferBounds);
    WriteHostFile(script_.path() + "/ui", "transcript \"" + transcript() + "\"\n");
    fs::create_directories(Drive("Demo"));
    fs::create_directories(Drive(kWorkFolder));
    WriteHostFile(Drive("Demo/file.bin"), kOldBody);
    WriteHostFile(Drive(std::string(kWorkFolder) + "/update.xml.old"), kOldConfig);
  }

  void TearDown() override {
    if (row().alias.rfind("/stall/", 0) == 0) servers_->Drop(row().server);
  }

  const FaultRow& row() const { return Rows()[std::get<0>(GetParam())]; }
  Target target() const { return std::get<1>(GetParam()); }
  int windows() const { return std::get<2>(GetParam()); }
  bool dialog() const { return std::get<3>(GetParam()) == Path::kDialog; }

  std::string prefix() const { return image_.path() + "/image"; }
  std::string transcript() const { return script_.path() + "/transcript"; }
  std::string Drive(const std::string& relative) const { return prefix() + "/drive_c/" + relative; }

  // The configuration's URL of the faulty run (healed: of the run after it).
  std::string ConfigUrl(bool healed) {
    HttpServer& plain = servers_->Get(Server::kPlain);
    const std::string row_id = std::to_string(std::get<0>(GetParam()));
    if (target() == Target::kContent) {
      return plain.Url("/site/" + std::string(healed ? "healed/" : "faulty/") + row_id + "/update.xml");
    }
    return healed ? plain.Url("/healthy/update.xml") : servers_->FaultUrl(std::get<0>(GetParam()), kConfigName);
  }
  // The URL whose download faults.
  std::string FaultyUrl() {
    return servers_->FaultUrl(std::get<0>(GetParam()), target() == Target::kContent ? kFileName : kConfigName);
  }
  std::string FaultyLocal() const {
    return target() == Target::kContent ? "C:\\Demo\\file.bin" : "C:\\cfg\\Veltrane\\pold\\update.xml";
  }

  ProgramRun GetConfig(const std::string& url, int* elapsed_ms) {
    std::vector<std::string> args = {"--prefix", prefix(), "--os-version", std::to_string(windows()),
                                     "--ui-script", script_.path() + "/ui", "--events", "text",
                                     "--param", "configDir=C:\\cfg", "--param",
                                     std::string("selfUi=") + (dialog() ? "1" : "0"), "--param", "language=ENG",
                                     "--set", "logLevel=0",
                                     "call", "getConfig", url};
    const auto start = std::chrono::steady_clock::now();
    ProgramRun run = RunBuiltProgram("pelisto", args);
    *elapsed_ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    return run;
  }

  // Every file of drive C but the log files, with its size.
  std::map<std::string, uintmax_t> Files() const {
    std::map<std::string, uintmax_t> files;
    const fs::path root = Drive("");
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      if (!e.is_regular_file()) continue;
      const std::string relative = fs::relative(e.path(), root).generic_string();
      if (relative.rfind(std::string(kWorkFolder) + "/PloLog/", 0) == 0) continue;
      if (relative.rfind("Windows/system32/", 0) == 0) continue;  // the image's own stand-ins
      files[relative] = e.file_size();
    }
    return files;
  }
  // What a run that installed leaves: the new file and the new stored copy; the Internet
  // cache may hold what the browser's own fetch brought, whole.
  void ExpectInstalled(const std::string& when) {
    std::map<std::string, uintmax_t> files = Files();
    EXPECT_TRUE(ReadHostFile(Drive("Demo/file.bin")) == FileBody()) << "Demo/file.bin is not the new file " << when;
    const std::string stored = ReadHostFile(Drive(std::string(kWorkFolder) + "/update.xml.old"));
    EXPECT_NE(stored.find("1.1"), std::string::npos) << stored << " " << when;
    files.erase("Demo/file.bin");
    files.erase(std::string(kWorkFolder) + "/update.xml.old");
    ExpectOnlyCacheCopies(files, when);
  }
  // What a failed run leaves: the version installed before and its stored copy, untouched.
  void ExpectUnchanged(const std::string& when) {
    std::map<std::string, uintmax_t> files = Files();
    EXPECT_EQ(ReadHostFile(Drive("Demo/file.bin")), kOldBody) << when;
    EXPECT_EQ(ReadHostFile(Drive(std::string(kWorkFolder) + "/update.xml.old")), kOldConfig) << when;
    files.erase("Demo/file.bin");
    files.erase(std::string(kWorkFolder) + "/update.xml.old");
    ExpectOnlyCacheCopies(files, when);
  }
  void ExpectOnlyCacheCopies(const std::map<std::string, uintmax_t>& files, const std::string& when) {
    for (const auto& [path, size] : files) {
      const bool cached = path.find("/Temporary Internet Files/") != std::string::npos;
      EXPECT_TRUE(cached && row().answer == Answer::kChallenge) << "stray file " << path << " " << when;
      if (cached) {
        const std::string name = path.substr(path.rfind('/') + 1);
        const bool whole = size == (name.rfind("update", 0) == 0 ? servers_->HealthyConfig().size() : kFileSize);
        EXPECT_TRUE(whole) << "the cache holds part of a file: " << path << " " << size;
      }
    }
  }

  std::string Log() const {
    std::string all;
    const fs::path folder = Drive(std::string(kWorkFolder) + "/PloLog");
    if (!fs::exists(folder)) return all;
    for (const auto& e : fs::directory_iterator(folder)) all += ReadHostFile(e.path().string());
    return all;
  }
  // The page's events of the faulty transfer: from its StartDownload to the next event
  // that is no Downloading.
  std::vector<std::string> HeardOf(const std::string& out, const std::string& url) {
    std::vector<std::string> heard;
    bool in = false;
    size_t at = 0;
    while (at < out.size()) {
      size_t end = out.find('\n', at);
      if (end == std::string::npos) end = out.size();
      const std::string line = out.substr(at, end - at);
      at = end + 1;
      if (line.rfind("event StartDownload " + url + " ", 0) == 0) {
        in = true;
      } else if (in && line.rfind("event Downloading ", 0) != 0) {
        in = false;
      }
      if (in) heard.push_back(line);
    }
    return heard;
  }

  static Servers* servers_;
  TempDir image_;
  TempDir script_;
};

Servers* FaultMatrix::servers_ = nullptr;

TEST_P(FaultMatrix, FailsCleanlyThenAHealedServerInstalls) {
  const FaultRow& r = row();
  const std::string url = FaultyUrl();
  int elapsed = 0;
  ProgramRun run = GetConfig(ConfigUrl(false), &elapsed);
  const std::string log = Log();
  const std::string ui = ReadHostFile(transcript());
  SCOPED_TRACE("output:\n" + run.out + run.err + "log:\n" + log);

  EXPECT_LT(elapsed, r.max_ms);
  EXPECT_EQ(run.status, r.succeeds ? 0 : 1);
  EXPECT_NE(run.out.find(r.succeeds ? "result: 1" : "result: 0"), std::string::npos);

  const std::string success = "] Download file Success '" + url + "' and path '" + FaultyLocal() + "'\r\n";
  if (r.succeeds) {
    EXPECT_NE(log.find(success), std::string::npos);
  } else {
    EXPECT_EQ(log.find(success), std::string::npos);
    if (dialog()) {
      EXPECT_NE(log.find("] Failed to download '" + url + "' and path '" + FaultyLocal() + "'\r\n"), std::string::npos);
      if (!r.dialog_box.empty()) {
        EXPECT_NE(ui.find("\"" + r.dialog_box + "\""), std::string::npos) << ui;
      }
    } else {
      std::string line = r.dialogless_log;
      if (size_t at = line.find("{local}"); at != std::string::npos) line.replace(at, 7, FaultyLocal());
      EXPECT_NE(log.find("] " + line), std::string::npos);
    }
    // The run's own line: the configuration, or the content file that ends the run.
    if (target() == Target::kConfiguration) {
      EXPECT_NE(log.find("] C:\\cfg\\Veltrane\\pold\\update.xml is not copyed !!!\r\n"), std::string::npos);
      // The control's own box says so too when it has its dialogs.
      EXPECT_EQ(ui.find("update.xml is not copyed !!!\"") != std::string::npos, dialog()) << ui;
    } else {
      EXPECT_NE(log.find("] C:\\Demo\\file.bin is not copyed!!!\r\n"), std::string::npos);
      EXPECT_NE(log.find("] C:\\cfg\\Veltrane\\pold\\update.xml parsing error !!! \r\n"), std::string::npos);
    }
  }

  if (dialog()) {
    // The dialog shows the progress; the page hears nothing.
    EXPECT_EQ(run.out.find("event "), std::string::npos);
  } else {
    const std::vector<std::string> heard = HeardOf(run.out, url);
    switch (r.heard) {
      case Heard::kNothing: EXPECT_TRUE(heard.empty()); break;
      case Heard::kStarted:
        ASSERT_FALSE(heard.empty());
        EXPECT_NE(heard.back(), "event Downloading " + std::to_string(kFileSize));
        break;
      case Heard::kWhole: {
        ASSERT_FALSE(heard.empty());
        const size_t whole = target() == Target::kContent ? kFileSize : servers_->HealthyConfig().size();
        EXPECT_EQ(heard.back(), "event Downloading " + std::to_string(whole));
        break;
      }
    }
  }

  if (r.succeeds) {
    ExpectInstalled("after the run");
  } else {
    // Nothing new at the target, nothing in the work folders.
    ExpectUnchanged("after the failed run");
  }

  run = GetConfig(ConfigUrl(true), &elapsed);
  EXPECT_EQ(run.status, 0) << run.out << run.err << Log();
  ExpectInstalled("after the healed run");
}

std::string ParamName(const ::testing::TestParamInfo<Param>& info) {
  const auto [row, target, windows, path] = info.param;
  return std::string(Rows()[row].name) + (target == Target::kContent ? "_Content" : "_Config") + "_Windows" +
         std::to_string(windows) + (path == Path::kDialog ? "_Dialog" : "_Dialogless");
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix,
                         ::testing::Combine(::testing::Range<size_t>(0, Rows().size()),
                                            ::testing::Values(Target::kConfiguration, Target::kContent),
                                            ::testing::Values(5, 6),
                                            ::testing::Values(Path::kDialogless, Path::kDialog)),
                         ParamName);

}  // namespace
}  // namespace pelisto::testing
