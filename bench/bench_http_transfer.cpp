// Times the dialogless transfer against the curl command line: one large file from the
// loopback server, written into the same folder by both, alternating, several rounds.
// HttpDownload runs as a run fires it (1024-byte reads, StartDownload / Downloading /
// ChangeStatus to a control and a status-dialog sink that only count) on an image that
// reports Windows 5, so the body is written straight to its target as curl's is.
//
// Usage: bench-http-transfer [--mib N] [--rounds R] [--dir FOLDER]
//   defaults: 256 MiB, 9 rounds, a new folder below /dev/shm (the temporary folder when
//   there is no /dev/shm). Prints each round, both medians and, last, "ratio X.XX": our
//   throughput divided by curl's.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "download/http_download.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/http_server.h"
#include "tests/support/null_starter_download.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The page: counts the events and never cancels.
class CountingControl : public pelisto::testing::FakeRunContext {
 public:
  long starts = 0, chunks = 0, statuses = 0;
  os::LONG received = 0;
  os::LONG FireStartDownload(const std::string&, const std::string&, os::LONG) override {
    ++starts;
    return 0;
  }
  os::LONG FireDownloading(os::LONG read_file_length) override {
    ++chunks;
    received = read_file_length;
    return 0;
  }
  os::LONG FireChangeStatus(os::LONG, os::LONG, os::LONG) override {
    ++statuses;
    return 0;
  }
};

// The status dialog: counts too.
class CountingSink : public pelisto::testing::NullStarterDownload {
 public:
  long calls = 0;
  void StartDownload(const std::string&, const std::string&, os::LONG, os::LONG* cancel) override { Count(cancel); }
  void Downloading(os::LONG, os::LONG* cancel) override { Count(cancel); }
  void ChangeStatus(os::LONG, os::LONG, os::LONG, os::LONG* cancel) override { Count(cancel); }

 private:
  void Count(os::LONG* cancel) {
    ++calls;
    *cancel = 0;
  }
};

int Usage() {
  std::fprintf(stderr, "usage: bench-http-transfer [--mib N] [--rounds R] [--dir FOLDER]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  long mib = 256;
  int rounds = 9;
  fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    if (arg == "--mib") {
      mib = std::max(1L, std::atol(argv[++i]));
    } else if (arg == "--rounds") {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--dir") {
      base = argv[++i];
    } else {
      return Usage();
    }
  }
  const size_t size = static_cast<size_t>(mib) << 20;

  pelisto::bench::BenchImage image(base, "http");
  if (!image.ok()) {
    std::fprintf(stderr, "cannot open a machine image in %s: %s\n", image.prefix().c_str(), image.error().c_str());
    return 1;
  }
  const fs::path folder = image.Folder("bench");
  std::string error;
  const fs::path ours_file = folder / "ours.bin";
  const fs::path curl_file = folder / "curl.bin";

  pelisto::testing::HttpServer server;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "cannot start the loopback server: %s\n", error.c_str());
    return 1;
  }
  const std::string url = server.Url("/pattern/" + std::to_string(size));
  const std::string curl_command = "curl -s -f -o '" + curl_file.string() + "' '" + url + "'";

  std::printf("%ld MiB from %s into %s, %d rounds\n", mib, url.c_str(), folder.c_str(), rounds);
  std::printf("%6s  %12s  %12s\n", "round", "ours MB/s", "curl MB/s");
  std::vector<double> ours, theirs;
  int status = 0;
  for (int r = 0; r < rounds && status == 0; ++r) {
    fs::remove(ours_file);
    CountingControl control;
    CountingSink sink;
    auto start = Clock::now();
    {
      pelisto::HttpDownload download(control.Privileged(), url, "C:\\bench\\ours.bin", "C:\\bench");
      download.SetControl(&control);
      download.SetSink(&sink);
      if (download.Download() != 1) {
        std::fprintf(stderr, "our download failed: %s\n", download.ErrorMessage().c_str());
        status = 1;
        break;
      }
    }
    double ours_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // A read gives at most 1024 bytes, fewer where the receive buffer runs out.
    if (control.starts != 1 || control.chunks < static_cast<long>((size + 1023) / 1024) ||
        static_cast<size_t>(control.received) != size || sink.calls < control.chunks + 1) {
      std::fprintf(stderr, "unexpected events: %ld starts, %ld chunks, %ld bytes, %ld sink calls\n", control.starts,
                   control.chunks, static_cast<long>(control.received), sink.calls);
      status = 1;
      break;
    }

    fs::remove(curl_file);
    start = Clock::now();
    int rc = std::system(curl_command.c_str());
    double curl_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (rc != 0) {
      std::fprintf(stderr, "curl failed (%d): %s\n", rc, curl_command.c_str());
      status = 1;
      break;
    }
    if (r == 0 && (fs::file_size(ours_file) != size || !pelisto::bench::SameFiles(ours_file, curl_file))) {
      std::fprintf(stderr, "the two downloads differ\n");
      status = 1;
      break;
    }
    ours.push_back(size / ours_seconds / 1e6);
    theirs.push_back(size / curl_seconds / 1e6);
    std::printf("%6d  %12.0f  %12.0f\n", r + 1, ours.back(), theirs.back());
    std::fflush(stdout);
  }

  server.Stop();
  if (status != 0) return status;
  const double ours_median = pelisto::bench::Median(ours), curl_median = pelisto::bench::Median(theirs);
  std::printf("median  %12.0f  %12.0f\n", ours_median, curl_median);
  std::printf("ratio %.2f\n", ours_median / curl_median);
  return 0;
}
