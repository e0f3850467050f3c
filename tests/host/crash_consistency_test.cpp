// Whole update runs of the pelisto program killed with SIGKILL at seeded random moments (and,
// on Windows 6, its broker killed instead), then run again to the end: the image must never
// hold a torn file, stored copy or registry, and the run afterwards must reach exactly the
// image an uninterrupted run reaches.
//
// PELISTO_CRASH_RUNS sets the kills per variant (default 3); PELISTO_CRASH_SEED repeats a
// failing sequence (every failure names its seed and cycle).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "os/base/text.h"
#include "os/fs/file_util.h"
#include "tests/archive/zip_builder.h"
#include "tests/support/gzip_files.h"
#include "tests/support/http_server.h"
#include "tests/support/image_test.h"
#include "tests/support/program_process.h"

namespace pelisto::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

enum class Mode { kComparison, kRegistry };
enum class Victim { kProgram, kBroker };

struct Variant {
  Mode mode;
  int os_major;
  Victim victim;
};

std::string VariantName(const Variant& v) {
  return std::string(v.mode == Mode::kComparison ? "Comparison" : "Registry") + "Windows" +
         std::to_string(v.os_major) + (v.victim == Victim::kProgram ? "KillProgram" : "KillBroker");
}

constexpr int kPlainFiles = 24;
constexpr std::size_t kLargeSize = 768 * 1024;
constexpr char kStoredCopy[] = "cfg/Veltrane/pold/update.xml.old";
constexpr char kDownloadedConfig[] = "cfg/Veltrane/pold/update.xml";
// The program whose processes are the brokers among the control's children.
constexpr char kBroker[] = "pelisto-broker";

int EnvNumber(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

// Text that differs by file and by version all the way through, so a torn file never
// equals either whole one.
std::string Body(const std::string& name, const std::string& ver, std::size_t size) {
  std::string s;
  s.reserve(size + 64);
  while (s.size() < size) s += name + " " + ver + " " + std::to_string(s.size()) + "\n";
  s.resize(size);
  return s;
}

std::string ReadHostFileOrEmpty(const fs::path& p) { return ReadHostFile(p.string()); }

// Two generations of one site: the first is installed before every kill, the second is the
// update that gets killed.
class Site {
 public:
  explicit Site(HttpServer& server) : server_(server) {
    server_.Route("/crash/(.*)", [this](const httplib::Request& req, httplib::Response& res) {
      Serve(req.path, res);
    });
  }

  void Build(int generation, const std::string& component) {
    std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<list>\n";
    for (int i = 0; i < kPlainFiles; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "f%02d.txt", i);
      const std::string ver = Version(generation, i);
      const std::string path = "/crash/files/" + ver + "/" + name;
      const std::size_t size = i < 2 ? kLargeSize : 512 + (static_cast<std::size_t>(i) * 997) % 12000;
      bodies_[path] = Body(name, ver, size);
      if (i < 2) dripped_.push_back(path);
      const std::string target = i % 2 == 0 ? "{program}\\CrashApp" : "C:\\CrashData\\part" + std::to_string(i % 3);
      // The second generation deletes the last file.
      const std::string type = generation == 2 && i == kPlainFiles - 1 ? "delete" : "copy";
      doc += Entry(name, ver, server_.Url(path), target, type);
    }
    const std::string ver = generation == 1 ? "1.0" : "2.0";
    const std::string zip = "/crash/files/" + ver + "/bundle.zip";
    bodies_[zip] = BuildZip({{"docs/readme.txt", Body("readme", ver, 3000)},
                             {"docs/guide.txt", Body("guide", ver, 20000)},
                             {"bin/crash_zip.dll", component}});
    doc += Entry("bundle.zip", ver, server_.Url(zip), "{program}\\CrashApp\\bundle", "zip");
    const std::string gz = "/crash/files/" + ver + "/notes.txt.gz";
    bodies_[gz] = Gzip(Body("notes", ver, 40000), std::string("notes.txt"));
    doc += Entry("notes.txt", ver, server_.Url(gz), "{program}\\CrashApp", "gz");
    const std::string dll = "/crash/files/" + ver + "/crash_reg.dll";
    bodies_[dll] = component;
    doc += Entry("crash_reg.dll", ver, server_.Url(dll), "{program}\\CrashApp\\bin", "reg");
    for (int k = 0; k < 4; ++k) {
      doc += "<content name='AlwaysSetREG' regRoot='" +
             std::string(k == 3 ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE") +
             "' regTo='SOFTWARE\\CrashApp' attrName='Value" + std::to_string(k) + "' toSetVer='" +
             (k == 2 ? std::to_string(generation * 100 + k) : "gen" + std::to_string(generation)) +
             "'" + (k == 2 ? " regMode='number'" : "") + "/>\n";
    }
    doc += "<content name='app shortcut' ver='" + ver +
           "' url='{program}\\CrashApp\\f00.txt' target='' lnkName='Crash App' type='makeprogramlnk'/>\n";
    doc += "<content name='site shortcut' ver='" + ver + "' url='" + server_.Url("/crash/") +
           "' target='' lnkName='Crash Site' type='makeinternetlnk'/>\n";
    doc += "</list>\n";
    const std::string config = "/crash/g" + std::to_string(generation) + "/update.xml";
    bodies_[config] = doc;
    configs_[generation] = config;
  }

  std::string ConfigUrl(int generation) const { return server_.Url(configs_.at(generation)); }
  const std::string& Config(int generation) const { return bodies_.at(configs_.at(generation)); }

 private:
  static std::string Version(int generation, int i) {
    return generation == 2 && i % 3 != 0 ? "2.0" : "1.0";
  }
  static std::string Entry(const std::string& name, const std::string& ver, const std::string& url,
                           const std::string& target, const std::string& type) {
    return "<content name='" + name + "' ver='" + ver + "' url='" + url + "' target='" + target +
           "' type='" + type + "'/>\n";
  }
  void Serve(const std::string& path, httplib::Response& res) {
    auto found = bodies_.find(path);
    if (found == bodies_.end()) {
      res.status = 404;
      return;
    }
    const std::string& body = found->second;
    if (std::find(dripped_.begin(), dripped_.end(), path) == dripped_.end()) {
      ServeBytes(res, body);
      return;
    }
    // Large files come in pieces with pauses, so that kills often land inside their writes.
    res.set_content_provider(body.size(), "application/octet-stream",
                             [&body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                               std::this_thread::sleep_for(std::chrono::milliseconds(2));
                               sink.write(body.data() + offset, std::min<std::size_t>(length, 32 * 1024));
                               return true;
                             });
  }

  HttpServer& server_;
  std::map<std::string, std::string> bodies_;  // written before the server serves them
  std::vector<std::string> dripped_;
  std::map<int, std::string> configs_;
};

// What an image holds, leaving out the update logs (dated lines) and temporary files, which
// are listed apart.
struct ImageState {
  std::map<std::string, std::string> files;  // path below drive_c -> content
  std::vector<std::string> temporaries;
  std::map<std::string, std::string> registry;  // key path [| value name] -> type and data
};

bool IsTemporary(const std::string& name) {
  return name.size() > 4 && os::EqualsIgnoreCase(name.substr(name.size() - 4), ".tmp");
}

std::string Hex(const void* data, int size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  const auto* p = static_cast<const unsigned char*>(data);
  for (int i = 0; i < size; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

std::string Blob(sqlite3_stmt* stmt, int column) {
  return std::string(static_cast<const char*>(sqlite3_column_blob(stmt, column)),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)));
}

// "ok" when the registry passes SQLite's own check, else what it says.
std::string RegistryIntegrity(const std::string& prefix, std::map<std::string, std::string>* dump) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((prefix + "/registry.db").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return "cannot open registry.db";
  }
  std::string verdict;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK) {
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      verdict += (verdict.empty() ? "" : "; ") + std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    }
  }
  sqlite3_finalize(stmt);
  if (verdict == "ok" && dump != nullptr) {
    // Key ids depend on the order keys were made in; their paths do not.
    std::map<sqlite3_int64, std::pair<sqlite3_int64, std::string>> keys;
    sqlite3_prepare_v2(db, "SELECT id, parent, name FROM keys", -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      keys[sqlite3_column_int64(stmt, 0)] = {sqlite3_column_int64(stmt, 1), Blob(stmt, 2)};
    }
    sqlite3_finalize(stmt);
    auto path_of = [&keys](sqlite3_int64 id) {
      std::string path;
      for (int depth = 0; depth < 512; ++depth) {
        auto k = keys.find(id);
        if (k == keys.end()) return "root" + std::to_string(id) + path;
        path = "\\" + k->second.second + path;
        id = k->second.first;
      }
      return "cycle" + path;
    };
    for (const auto& [id, key] : keys) (*dump)[path_of(id)] = "key";
    sqlite3_prepare_v2(db, "SELECT key, name, type, data FROM vals", -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      const std::string data = Blob(stmt, 3);
      (*dump)[path_of(sqlite3_column_int64(stmt, 0)) + "|" + Blob(stmt, 1)] =
          std::to_string(sqlite3_column_int(stmt, 2)) + ":" + Hex(data.data(), static_cast<int>(data.size()));
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return verdict;
}

std::uint32_t U32(const std::string& b, std::size_t at) {
  return at + 4 > b.size() ? 0
                           : static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
                                 static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
                                 static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
                                 static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

// Where a shell link keeps its drive's serial number (the volume ID of its link info), or 0.
std::size_t DriveSerialOffset(const std::string& link) {
  std::size_t info = 0x4C;
  if (U32(link, 0x14) & 1) info += 2 + (U32(link, 0x4C) & 0xFFFF);  // the item ID list
  const std::size_t serial = info + U32(link, info + 12) + 8;
  return serial + 4 <= link.size() ? serial : 0;
}

ImageState Snapshot(const std::string& prefix) {
  ImageState state;
  const fs::path drive = fs::path(prefix) / "drive_c";
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(drive, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (it->is_directory()) {
      if (name == "PloLog") it.disable_recursion_pending();
      continue;
    }
    const std::string relative = it->path().lexically_relative(drive).generic_string();
    if (IsTemporary(name)) {
      state.temporaries.push_back(relative);
      continue;
    }
    std::string content = ReadHostFileOrEmpty(it->path());
    // A shell link records its target's file times, which a download sets anew, and the
    // serial number of its drive, which the image's folder gives.
    if (name.size() > 4 && name.substr(name.size() - 4) == ".lnk" && content.size() >= 0x34) {
      std::fill(content.begin() + 0x1C, content.begin() + 0x34, '\0');
      const std::size_t serial = DriveSerialOffset(content);
      if (serial != 0) content.replace(serial, 4, 4, '\0');
    }
    state.files[relative] = std::move(content);
  }
  const std::string verdict = RegistryIntegrity(prefix, &state.registry);
  if (verdict != "ok") state.registry["integrity"] = verdict;
  return state;
}

// Whether `temporary` (a path below drive_c) is the part file of a file beside it.
bool IsPartFileOfAFile(const std::string& temporary, const ImageState& state) {
  const fs::path folder = fs::path(temporary).parent_path();
  for (const auto& [path, content] : state.files) {
    if (fs::path(path).parent_path() != folder) continue;
    std::string win = "C:\\" + path;
    std::replace(win.begin(), win.end(), '/', '\\');
    const std::string part = os::PartFilePath(win);
    if (part.substr(part.rfind('\\') + 1) == fs::path(temporary).filename().string()) return true;
  }
  return false;
}

// Where two contents part, for a failure's message.
std::string FirstDifference(const std::string& a, const std::string& b) {
  std::size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  return ": " + std::to_string(a.size()) + " against " + std::to_string(b.size()) + " bytes, first difference at " +
         std::to_string(at);
}

// A run's output without its progress lines, for a failure's message.
std::string Printed(const std::string& path) {
  std::string kept, line;
  std::istringstream in(ReadHostFile(path));
  while (std::getline(in, line)) {
    if (line.rfind("event Downloading", 0) != 0) kept += line + "\n";
  }
  return kept;
}

// The update logs of an image, for a failure's message.
std::string UpdateLog(const std::string& prefix) {
  std::string text;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(fs::path(prefix) / "drive_c", ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->path().extension() == ".log") text += ReadHostFileOrEmpty(it->path());
  }
  return text;
}

void CopyImage(const std::string& from, const std::string& to) {
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

struct Tally {
  int cycles = 0;
  int program_kills = 0;
  int broker_kills = 0;
  int ended_before_kill = 0;
  int torn = 0;
  int diverged = 0;
  std::map<std::string, int> leftovers;  // temporary files left by the kills, by folder
};

class CrashConsistency : public ::testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    component_ = ReadHostFile(std::string(PELISTO_BIN_DIR) + "/demo-site/demo_reg.dll");
    ASSERT_FALSE(component_.empty()) << "the demo site's component is built with the programs";
    site_ = std::make_unique<Site>(server_);
    std::string error;
    ASSERT_TRUE(server_.Start(&error)) << error;
    // The documents name the server's port; nothing asks for them before the first run.
    site_->Build(1, component_);
    site_->Build(2, component_);
  }

  std::vector<std::string> Args(const std::string& prefix, int generation) const {
    const Variant v = GetParam();
    std::vector<std::string> args = {"--prefix", prefix, "--os-version", std::to_string(v.os_major),
                                     "--ui", "none", "--events", "text",
                                     "--param", "configDir=C:\\cfg", "--param", "selfUi=0", "--param", "logLevel=0"};
    if (v.mode == Mode::kRegistry) args.insert(args.end(), {"--param", "registry=1"});
    args.insert(args.end(), {"call", "getConfig", site_->ConfigUrl(generation)});
    return args;
  }

  // One run to its end; its seconds, or a failed assertion.
  double RunToEnd(const std::string& prefix, int generation, const std::string& stem) {
    const auto start = Clock::now();
    ProgramProcess run("pelisto", Args(prefix, generation), stem);
    EXPECT_TRUE(run.started());
    const std::optional<int> status = run.Wait(120000);
    EXPECT_EQ(status, std::optional<int>(0)) << run.Out() << run.Err() << UpdateLog(prefix);
    return std::chrono::duration<double>(Clock::now() - start).count();
  }

  // Starts the update and kills the chosen process after `delay`. Returns the brokers that
  // were alive when the program was killed, which must leave by themselves.
  std::vector<int> KilledRun(const std::string& prefix, const std::string& stem, Clock::duration delay,
                             Tally* tally) {
    ProgramProcess run("pelisto", Args(prefix, 2), stem);
    EXPECT_TRUE(run.started());
    std::this_thread::sleep_for(delay);
    std::vector<int> brokers;
    if (GetParam().victim == Victim::kProgram) {
      brokers = ChildProcesses(run.pid(), kBroker);
      if (run.Wait(0)) {
        ++tally->ended_before_kill;
      } else {
        run.Kill();
        ++tally->program_kills;
      }
      EXPECT_TRUE(run.Wait(20000).has_value()) << "the killed program did not end";
      return brokers;
    }
    // The broker starts at the first privileged step; kill the first one seen from then on.
    bool killed = false;
    while (!killed && !run.Wait(0)) {
      for (int broker : ChildProcesses(run.pid(), kBroker)) killed = KillProcess(broker) || killed;
      if (!killed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    killed ? ++tally->broker_kills : ++tally->ended_before_kill;
    // The program goes on without that broker, to an answer and an end of its own.
    EXPECT_TRUE(run.Wait(120000).has_value()) << "the program hung after its broker was killed\n" << run.Out();
    return ChildProcesses(run.pid(), kBroker);
  }

  HttpServer server_;
  std::unique_ptr<Site> site_;
  std::string component_;
};

TEST_P(CrashConsistency, AKilledUpdateTearsNothingAndTheNextRunFinishesIt) {
  const int runs = EnvNumber("PELISTO_CRASH_RUNS", 3);
  const unsigned seed = static_cast<unsigned>(EnvNumber("PELISTO_CRASH_SEED", static_cast<int>(std::random_device{}() & 0x7fffffff)));
  std::mt19937 random(seed);
  TempDir work;
  const std::string before = work.path() + "/before", after = work.path() + "/after";

  // The references: the first generation installed, then the second on top, uninterrupted.
  RunToEnd(before, 1, work.path() + "/first");
  CopyImage(before, after);
  const double update_seconds = RunToEnd(after, 2, work.path() + "/reference");
  if (HasFailure()) return;
  const ImageState old_state = Snapshot(before), new_state = Snapshot(after);
  ASSERT_EQ(old_state.registry.count("integrity"), 0u);
  ASSERT_EQ(new_state.registry.count("integrity"), 0u);
  ASSERT_TRUE(new_state.temporaries.empty()) << new_state.temporaries.front();
  if (GetParam().mode == Mode::kComparison) {
    ASSERT_EQ(old_state.files.count(kStoredCopy), 1u);
    ASSERT_NE(old_state.files.at(kStoredCopy), new_state.files.at(kStoredCopy));
  }

  Tally tally;
  const auto start = Clock::now();
  std::uniform_real_distribution<double> moment(0.0, update_seconds * 1.1);
  for (int cycle = 0; cycle < runs; ++cycle) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " (PELISTO_CRASH_SEED), cycle " + std::to_string(cycle));
    const std::string image = work.path() + "/cycle" + std::to_string(cycle);
    CopyImage(before, image);
    // Every other cycle copies as file systems without unnamed files do: through named part files.
    if (cycle % 2 == 1) {
      std::ofstream(image + "/image.conf", std::ios::app) << "unnamed_files=0\n";
    }
    const auto delay = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(moment(random)));
    const std::vector<int> brokers = KilledRun(image, image + "-killed", delay, &tally);
    for (int broker : brokers) {
      const auto deadline = Clock::now() + std::chrono::seconds(20);
      while (ProcessRunning(broker) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      EXPECT_FALSE(ProcessRunning(broker)) << "a broker outlived its control";
      if (ProcessRunning(broker)) KillProcess(broker);
    }
    ++tally.cycles;

    const ImageState killed = Snapshot(image);
    EXPECT_EQ(killed.registry.count("integrity"), 0u) << (killed.registry.count("integrity") ? killed.registry.at("integrity") : "");
    for (const auto& [path, content] : killed.files) {
      const auto old_file = old_state.files.find(path), new_file = new_state.files.find(path);
      const bool whole = (old_file != old_state.files.end() && old_file->second == content) ||
                         (new_file != new_state.files.end() && new_file->second == content) ||
                         (path == kDownloadedConfig && content == site_->Config(2));
      if (!whole) ++tally.torn;
      EXPECT_TRUE(whole) << path << " holds " << content.size() << " bytes that are neither the old nor the new file"
                         << (old_file != old_state.files.end() ? FirstDifference(content, old_file->second) : "")
                         << (new_file != new_state.files.end() ? FirstDifference(content, new_file->second) : "");
    }
    if (GetParam().mode == Mode::kComparison) {
      ASSERT_EQ(killed.files.count(kStoredCopy), 1u) << "the stored copy is gone";
      pugi::xml_document stored;
      const std::string& text = killed.files.at(kStoredCopy);
      EXPECT_TRUE(stored.load_buffer(text.data(), text.size())) << "the stored copy does not parse";
    }
    for (const std::string& t : killed.temporaries) ++tally.leftovers[fs::path(t).parent_path().string()];

    RunToEnd(image, 2, image + "-again");
    const ImageState again = Snapshot(image);
    for (const std::string& t : again.temporaries) {
      ++tally.leftovers[fs::path(t).parent_path().string() + " (after the next run)"];
      // A part file beside a target is the one of a target there, taken over by the next
      // write of it: kills never pile them up.
      if (fs::path(t).filename().string().rfind("pel", 0) == 0) {
        EXPECT_TRUE(IsPartFileOfAFile(t, again)) << t << " belongs to no file beside it";
      }
    }
    bool same = true;
    for (const auto& [path, content] : new_state.files) {
      auto found = again.files.find(path);
      const bool equal = found != again.files.end() && found->second == content;
      same = same && equal;
      EXPECT_TRUE(equal) << path << (found == again.files.end() ? " is missing" : " differs") << " after the next run"
                         << (found == again.files.end() ? std::string() : FirstDifference(found->second, content));
    }
    for (const auto& [path, content] : again.files) {
      const bool expected = new_state.files.count(path) != 0;
      same = same && expected;
      EXPECT_TRUE(expected) << path << " is there after the next run only";
    }
    same = same && again.registry == new_state.registry;
    for (const auto& [key, value] : new_state.registry) {
      auto found = again.registry.find(key);
      EXPECT_TRUE(found != again.registry.end() && found->second == value) << "registry " << key;
    }
    for (const auto& [key, value] : again.registry) {
      EXPECT_EQ(new_state.registry.count(key), 1u) << "registry " << key << " = " << value << " after the next run only";
    }
    if (!same) {
      ++tally.diverged;
      ADD_FAILURE() << "what the killed run printed:\n" << Printed(image + "-killed.out");
    }
    std::error_code ec;
    if (!HasFailure()) fs::remove_all(image, ec);
  }

  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("crash consistency %s: seed %u, %d runs, %d program kills, %d broker kills, %d ended before the kill, "
              "%d torn files, %d diverged, %.1f s (an update takes %.2f s)\n",
              VariantName(GetParam()).c_str(), seed, tally.cycles, tally.program_kills, tally.broker_kills,
              tally.ended_before_kill, tally.torn, tally.diverged, seconds, update_seconds);
  for (const auto& [folder, count] : tally.leftovers) std::printf("  left temporary files: %d in %s\n", count, folder.c_str());
}

INSTANTIATE_TEST_SUITE_P(Runs, CrashConsistency,
                         ::testing::Values(Variant{Mode::kComparison, 5, Victim::kProgram},
                                           Variant{Mode::kComparison, 6, Victim::kProgram},
                                           Variant{Mode::kComparison, 6, Victim::kBroker},
                                           Variant{Mode::kRegistry, 5, Victim::kProgram},
                                           Variant{Mode::kRegistry, 6, Victim::kProgram},
                                           Variant{Mode::kRegistry, 6, Victim::kBroker}),
                         [](const auto& info) { return VariantName(info.param); });

}  // namespace
}  // namespace pelisto::testing
