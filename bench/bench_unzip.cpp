// Times the silent zip extraction (NoUIUnZip) against the unzip program, for two shapes of
// archive: one large member, and many small members a few folders deep. Each of ours runs in
// a fresh folder of a fresh machine image reporting Windows 5 (direct writes) or Windows 6 (a
// work file per member, placed by the broker process); unzip -o -q runs into a fresh host
// folder on the same file system. The two alternate, round by round, in one run; the first
// round's two extractions must hold the same files, byte for byte.
//
// Usage: bench-unzip [--rounds R] [--large-mib N] [--small N] [--dir FOLDER] [--shape S]
//                    [--windows V]
//   defaults: 5 rounds, 200 MiB, 10,000 members, a new folder below the temporary folder,
//   both shapes (S: large, small or both), both versions (V: 5, 6 or both). Prints each
//   round, the medians, one "ratio X.XX <shape> Windows<N>" line per shape and version (our
//   throughput divided by unzip's), on Windows 6 where our time went (each broker step's
//   calls and time), and last "ratio X.XX", the smallest.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "archive/no_ui_unzip.h"
#include "bench/bench_support.h"
#include "os/base/text.h"
#include "os/ui/front_end.h"
#include "platform/broker_client.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/forwarding_privileged_ops.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Time and count per privileged step, around the real ones.
struct StepTimes {
  std::map<std::string, double> seconds;
  std::map<std::string, long> calls;
};

class TimedOps final : public pelisto::testing::ForwardingPrivilegedOps {
 private:
  template <typename Call>
  auto Time(const char* step, Call call) {
    const auto start = Clock::now();
    auto result = call();
    times_.seconds[step] += Seconds(start);
    ++times_.calls[step];
    return result;
  }

 public:
  TimedOps(pelisto::PrivilegedOps& real, StepTimes& times) : ForwardingPrivilegedOps(real), times_(times) {}
  int CopyFile(const std::string& s, const std::string& d, os::BOOL f) override {
    return Time("copy", [&] { return real().CopyFile(s, d, f); });
  }
  int MoveFile(const std::string& s, const std::string& d) override {
    return Time("move", [&] { return real().MoveFile(s, d); });
  }
  int MoveFileReplacing(const std::string& s, const std::string& d) override {
    return Time("replacing move", [&] { return real().MoveFileReplacing(s, d); });
  }
  int DeleteFile(const std::string& p) override {
    return Time("delete", [&] { return real().DeleteFile(p); });
  }
  int CreateDirectory(const std::string& p) override {
    return Time("folder", [&] { return real().CreateDirectory(p); });
  }
  os::HRESULT CreateDirectoryResult(const std::string& p) override {
    return Time("folder", [&] { return real().CreateDirectoryResult(p); });
  }
  int RegisterExtractedComponent(const std::string& p) override {
    return Time("register", [&] { return real().RegisterExtractedComponent(p); });
  }

 private:
  StepTimes& times_;
};

// The control: never cancels, times its privileged steps.
class BenchContext : public pelisto::testing::FakeRunContext {
 public:
  explicit BenchContext(StepTimes& times) : times_(times) {}
  os::LONG FireUnZipping(const std::string&) override { return 0; }
  void FireUnZipFileNumber(os::LONG) override {}
  pelisto::PrivilegedOps& Privileged() override {
    if (!timed_) timed_ = std::make_unique<TimedOps>(FakeRunContext::Privileged(), times_);
    return *timed_;
  }

 private:
  StepTimes& times_;
  std::unique_ptr<TimedOps> timed_;
};

// Text-like bytes: words from a small vocabulary, so that deflate has work like a real file's.
std::string TextLike(std::mt19937& rng, std::size_t size) {
  static const char* kWords[] = {"installer", "update", "component", "the", "of", "version", "registry",
                                 "folder", "archive", "member", "0x7f3a", "42", "\r\n", "config", "data"};
  std::string out;
  out.reserve(size + 16);
  while (out.size() < size) {
    out += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
    out += ' ';
    if (rng() % 8 == 0) out += static_cast<char>('A' + rng() % 26);
  }
  out.resize(size);
  return out;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// One archive of each shape, made by the zip program from trees written here.
bool MakeArchive(const fs::path& base, const std::string& shape, long large_mib, int small_count, fs::path* zip,
                 std::uint64_t* bytes) {
  std::mt19937 rng(7);
  const fs::path tree = base / ("src-" + shape);
  *bytes = 0;
  if (shape == "large") {
    const std::size_t size = static_cast<std::size_t>(large_mib) << 20;
    WriteFile(tree / "large.bin", TextLike(rng, size));
    *bytes = size;
  } else {
    for (int i = 0; i < small_count; ++i) {
      const std::size_t size = 1024 + rng() % (7 * 1024 + 1);
      const fs::path folder = tree / ("d" + std::to_string(i % 10)) / ("e" + std::to_string(i / 10 % 10)) /
                              ("f" + std::to_string(i / 100 % 4));
      WriteFile(folder / ("m" + std::to_string(i) + ".dat"), TextLike(rng, size));
      *bytes += size;
    }
  }
  *zip = base / (shape + ".zip");
  const std::string command = "cd '" + tree.string() + "' && zip -q -r '" + zip->string() + "' .";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "cannot make the archive: %s\n", command.c_str());
    return false;
  }
  fs::remove_all(tree);
  return true;
}

// A digest (FNV-1a over size and bytes) of every file below `root`, for comparing two
// extractions byte for byte.
std::map<std::string, std::uintmax_t> Listing(const fs::path& root) {
  std::map<std::string, std::uintmax_t> out;
  std::vector<char> block(1 << 16);
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    std::uint64_t h = 1469598103934665603ull ^ e.file_size();
    std::ifstream in(e.path(), std::ios::binary);
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
      for (std::streamsize i = 0; i < in.gcount(); ++i) h = (h ^ static_cast<unsigned char>(block[i])) * 1099511628211ull;
    }
    out[fs::relative(e.path(), root).generic_string()] = h;
  }
  return out;
}

// One of our extractions in a fresh image; seconds, or a negative value on failure.
double RunOurs(const fs::path& base, const fs::path& zip, int os_major, StepTimes* times,
               std::map<std::string, std::uintmax_t>* listing) {
  pelisto::bench::BenchImage image(base, "unzip", os_major);
  if (!image.ok()) {
    std::fprintf(stderr, "cannot open a machine image below %s: %s\n", base.c_str(), image.error().c_str());
    return -1;
  }
  const fs::path folder = image.Folder("Program Files/Bench");
  fs::create_hard_link(zip, folder / "a.zip");
  double seconds = -1;
  {
    BenchContext context(*times);
    pelisto::NoUIUnZip unzip(context);
    unzip.SetControl(&context);
    const auto start = Clock::now();
    const int result = unzip.UnZip("C:\\Program Files\\Bench\\a.zip", context.Folders().system);
    seconds = Seconds(start);
    if (result != 1) {
      std::fprintf(stderr, "our extraction failed on Windows %d: %s\n", os_major, unzip.ErrorText().c_str());
      seconds = -1;
    }
  }
  // The broker serves the image it was started for: the next round's image needs its own.
  pelisto::ReleaseBroker();
  fs::remove(folder / "a.zip");
  if (listing != nullptr && seconds >= 0) *listing = Listing(folder);
  return seconds;
}

double RunUnzip(const fs::path& base, const fs::path& zip, int round, std::map<std::string, std::uintmax_t>* listing) {
  const fs::path out = base / ("unzip-" + std::to_string(round));
  fs::create_directories(out);
  const std::string command = "unzip -o -q '" + zip.string() + "' -d '" + out.string() + "'";
  const auto start = Clock::now();
  const int rc = std::system(command.c_str());
  const double seconds = Seconds(start);
  if (listing != nullptr) *listing = Listing(out);
  std::error_code ec;
  fs::remove_all(out, ec);
  if (rc != 0) {
    std::fprintf(stderr, "unzip failed (%d): %s\n", rc, command.c_str());
    return -1;
  }
  return seconds;
}

int Usage() {
  std::fprintf(stderr,
               "usage: bench-unzip [--rounds R] [--large-mib N] [--small N] [--dir FOLDER] "
               "[--shape large|small|both] [--windows 5|6|both]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  long large_mib = 200;
  int small_count = 10000;
  std::string shape_arg = "both";
  std::string windows_arg = "both";
  fs::path base_dir = fs::temp_directory_path();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    if (arg == "--rounds") {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--large-mib") {
      large_mib = std::max(1L, std::atol(argv[++i]));
    } else if (arg == "--small") {
      small_count = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--dir") {
      base_dir = argv[++i];
    } else if (arg == "--shape") {
      shape_arg = argv[++i];
    } else if (arg == "--windows") {
      windows_arg = argv[++i];
    } else {
      return Usage();
    }
  }
  std::vector<std::string> shapes;
  if (shape_arg == "large" || shape_arg == "both") shapes.push_back("large");
  if (shape_arg == "small" || shape_arg == "both") shapes.push_back("small");
  std::vector<int> versions;
  if (windows_arg == "5" || windows_arg == "both") versions.push_back(5);
  if (windows_arg == "6" || windows_arg == "both") versions.push_back(6);
  if (shapes.empty() || versions.empty()) return Usage();

  os::ui::SetFrontEnd(std::make_shared<os::ui::NoneFrontEnd>());
  std::mt19937_64 seed(std::random_device{}());
  const fs::path base = base_dir / ("pelisto-bench-unzip-" + std::to_string(seed()));
  fs::create_directories(base);

  int status = 0;
  double smallest = 1e9;
  std::vector<std::string> ratios;
  for (const std::string& shape : shapes) {
    fs::path zip;
    std::uint64_t bytes = 0;
    if (!MakeArchive(base, shape, large_mib, small_count, &zip, &bytes)) {
      status = 1;
      break;
    }
    std::printf("%s: %s, %.1f MB in %s, %d rounds\n", shape.c_str(), zip.filename().c_str(), bytes / 1e6,
                base.c_str(), rounds);
    for (int os_major : versions) {
      std::printf("  Windows %d   %10s  %10s\n", os_major, "ours MB/s", "unzip MB/s");
      std::vector<double> ours, theirs;
      StepTimes times;
      double ours_total = 0;
      for (int r = 0; r < rounds && status == 0; ++r) {
        std::map<std::string, std::uintmax_t> our_files, their_files;
        const double a = RunOurs(base, zip, os_major, &times, r == 0 ? &our_files : nullptr);
        const double b = RunUnzip(base, zip, r, r == 0 ? &their_files : nullptr);
        if (a < 0 || b < 0) {
          status = 1;
          break;
        }
        if (r == 0 && our_files != their_files) {
          std::fprintf(stderr, "the two extractions differ (%zu and %zu files)\n", our_files.size(),
                       their_files.size());
          status = 1;
          break;
        }
        ours_total += a;
        ours.push_back(bytes / a / 1e6);
        theirs.push_back(bytes / b / 1e6);
        std::printf("  round %d     %10.1f  %10.1f\n", r + 1, ours.back(), theirs.back());
        std::fflush(stdout);
      }
      if (status != 0) break;
      const double ratio = pelisto::bench::Median(ours) / pelisto::bench::Median(theirs);
      std::printf("  median      %10.1f  %10.1f\n", pelisto::bench::Median(ours), pelisto::bench::Median(theirs));
      if (os_major >= 6) {
        double stepped = 0;
        std::printf("  where our time went (all rounds, %.2f s):\n", ours_total);
        for (const auto& [step, seconds] : times.seconds) {
          std::printf("    broker %-14s %7ld calls %8.2f s  %6.1f us/call\n", step.c_str(), times.calls[step], seconds,
                      seconds / times.calls[step] * 1e6);
          stepped += seconds;
        }
        std::printf("    the rest (reading, inflating, writing the work files) %.2f s\n", ours_total - stepped);
      }
      char line[96];
      std::snprintf(line, sizeof line, "ratio %.2f %s Windows%d", ratio, shape.c_str(), os_major);
      std::printf("%s\n", line);
      ratios.push_back(line);
      smallest = std::min(smallest, ratio);
    }
    fs::remove(zip);
    if (status != 0) break;
  }
  std::error_code ec;
  fs::remove_all(base, ec);
  if (status != 0) return status;
  std::printf("ratio %.2f\n", smallest);
  return 0;
}
