// Times whole update runs of the pelisto program, events off, against the loopback server:
//  - the second run of a large configuration: N entries whose files all exist and whose
//    versions all equal the stored copy's, for N = 1,000, 10,000 and 100,000;
//  - a first run on Windows 6 that downloads 1,000 files of 4 KB, against the curl program
//    fetching the same 1,000 addresses into files in one process.
// Prints the times, the growth from 10,000 to 100,000 entries and, last, "ratio X.XX": our
// files per second divided by curl's.
//
// Usage: bench-update-run [--max N] [--rounds R] [--dir FOLDER]
//   defaults: 100000, 3 rounds (one at the largest size), a new folder below /dev/shm.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "tests/support/http_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFileSize = 4096;

std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string Pelisto() {
  return (fs::read_symlink("/proc/self/exe").parent_path() / "pelisto").string();
}

std::string Config(const pelisto::testing::HttpServer& server, int entries) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<list>\n";
  text.reserve(static_cast<std::size_t>(entries) * 110);
  for (int i = 0; i < entries; ++i) {
    const std::string name = "f" + std::to_string(i);
    text += "<content name='" + name + "' ver='1.0' url='" + server.Url("/data/" + name) +
            "' target='C:\\Data'/>\n";
  }
  return text + "</list>\n";
}

// One getConfig through the program; the seconds it took, or -1 when it did not answer TRUE.
double TimedRun(const fs::path& prefix, int os_major, const std::string& url) {
  const std::string command = Quote(Pelisto()) + " --prefix " + Quote(prefix.string()) +
                              " --os-version " + std::to_string(os_major) +
                              " --ui none --events none --param configDir=C:\\\\cfg"
                              " --param selfUi=0 call getConfig " + Quote(url) + " >" +
                              Quote((prefix / "run.out").string()) + " 2>&1";
  const auto start = Clock::now();
  const int rc = std::system(command.c_str());
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (rc != 0) {
    std::fprintf(stderr, "the pelisto program answered %d; its output is in %s\n", rc,
                 (prefix / "run.out").string().c_str());
  }
  return rc == 0 ? seconds : -1;
}

int Usage() {
  std::fprintf(stderr, "usage: bench-update-run [--max N] [--rounds R] [--dir FOLDER]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int max_entries = 100000;
  int rounds = 3;
  fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    if (arg == "--max") {
      max_entries = std::atoi(argv[++i]);
    } else if (arg == "--rounds") {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--dir") {
      base = argv[++i];
    } else {
      return Usage();
    }
  }
  pelisto::testing::HttpServer server;
  std::string error;
  std::string config;
  server.Route("/site/update.xml", [&config](const httplib::Request&, httplib::Response& res) {
    pelisto::testing::ServeBytes(res, config);
  });
  server.Route("/data/f[0-9]+", [](const httplib::Request&, httplib::Response& res) {
    pelisto::testing::ServeBytes(res, std::string(kFileSize, 'x'));
  });
  if (!server.Start(&error)) {
    std::fprintf(stderr, "server: %s\n", error.c_str());
    return 1;
  }
  const std::string url = server.Url("/site/update.xml");

  std::printf("unchanged runs (every file present, every version equal), Windows 6:\n");
  std::printf("%10s  %10s\n", "entries", "seconds");
  std::vector<std::pair<int, double>> unchanged;
  for (int n : {1000, 10000, 100000}) {
    if (n > max_entries) break;
    pelisto::bench::BenchImage image(base, "update-run-" + std::to_string(n), 6);
    if (!image.ok()) {
      std::fprintf(stderr, "image: %s\n", image.error().c_str());
      return 1;
    }
    config = Config(server, n);
    const fs::path data = image.Folder("Data");
    for (int i = 0; i < n; ++i) std::ofstream(data / ("f" + std::to_string(i))) << "present";
    const fs::path work = image.Folder("cfg/Veltrane/pold");
    std::ofstream(work / "update.xml.old", std::ios::binary) << config;
    std::vector<double> times;
    const int these_rounds = n >= 100000 ? 1 : rounds;
    for (int r = 0; r < these_rounds; ++r) {
      const double t = TimedRun(image.prefix(), 6, url);
      if (t < 0) {
        std::fprintf(stderr, "the run of %d entries did not answer TRUE\n", n);
        return 1;
      }
      times.push_back(t);
    }
    const double median = pelisto::bench::Median(times);
    unchanged.push_back({n, median});
    std::printf("%10d  %10.3f\n", n, median);
  }
  for (std::size_t i = 1; i < unchanged.size(); ++i) {
    if (unchanged[i - 1].first == 10000 && unchanged[i].first == 100000) {
      std::printf("growth from 10,000 to 100,000 entries: %.2fx\n",
                  unchanged[i].second / unchanged[i - 1].second);
    }
  }

  // The first run: 1,000 files of 4 KB, downloaded one after the other.
  constexpr int kFiles = 1000;
  std::vector<double> ours, theirs;
  std::printf("first run, %d files of %zu bytes, Windows 6:\n%6s  %10s  %10s\n", kFiles,
              kFileSize, "round", "ours s", "curl s");
  for (int r = 0; r < rounds; ++r) {
    pelisto::bench::BenchImage image(base, "first-run-" + std::to_string(r), 6);
    if (!image.ok()) {
      std::fprintf(stderr, "image: %s\n", image.error().c_str());
      return 1;
    }
    config = Config(server, kFiles);
    const double t = TimedRun(image.prefix(), 6, url);
    if (t < 0 || !fs::exists(image.Folder("Data") / "f999")) {
      std::size_t count = 0;
      for ([[maybe_unused]] const auto& e : fs::directory_iterator(image.Folder("Data"))) ++count;
      std::fprintf(stderr, "the first run did not install every file (%zu there)\n", count);
      std::system(("tail -5 " + Quote((image.prefix() / "drive_c/cfg/Veltrane/pold/PloLog").string()) + "/* >&2").c_str());
      return 1;
    }
    const fs::path curl_dir = image.Folder("curl");
    const fs::path list = curl_dir / "list.txt";
    {
      std::ofstream out(list);
      for (int i = 0; i < kFiles; ++i) {
        const std::string name = "f" + std::to_string(i);
        out << "url = \"" << server.Url("/data/" + name) << "\"\noutput = \""
            << (curl_dir / name).string() << "\"\n";
      }
    }
    const auto start = Clock::now();
    const int rc = std::system(("curl -s -f -K " + Quote(list.string())).c_str());
    const double curl_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (rc != 0 || fs::file_size(curl_dir / "f999") != kFileSize) {
      std::fprintf(stderr, "curl failed (%d)\n", rc);
      return 1;
    }
    ours.push_back(t);
    theirs.push_back(curl_seconds);
    std::printf("%6d  %10.3f  %10.3f\n", r + 1, t, curl_seconds);
  }
  const double ours_median = pelisto::bench::Median(ours);
  const double curl_median = pelisto::bench::Median(theirs);
  std::printf("medians: ours %.1f files/s, curl %.1f files/s\n", kFiles / ours_median,
              kFiles / curl_median);
  std::printf("ratio %.2f\n", curl_median / ours_median);
  return 0;
}
