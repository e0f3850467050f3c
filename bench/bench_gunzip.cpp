// Times GunzipFile against the gzip and pigz command lines: one large text-like file
// compressed with "gzip -6", decompressed by each into a file in the same folder, the three
// taking turns in a rotating order, several rounds. Then our peak resident memory at three
// output sizes (zeros, which cost the decoder the same as text), to show it does not follow
// the output's size.
//
// Usage: bench-gunzip [--mb N] [--rounds R] [--dir FOLDER] [--no-sizes]
//   defaults: 200 MB of text, 7 rounds, a new folder below the temporary folder, and the
//   memory at 20 MB, 200 MB and 2 GB (--no-sizes skips the last part). Prints each round,
//   the medians, the peak resident memory of each, and "ratio X.XX against <tool>" lines
//   (our throughput divided by the tool's), the last one against gzip.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "archive/gunzip.h"
#include "bench/bench_support.h"
#include "tests/support/gzip_files.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr double kMiB = 1024.0 * 1024.0;

// Words of varied length and frequency, numbers and punctuation: compresses about as a
// program's log or a text document does (gzip -6 gives roughly 3:1).
bool WriteText(const fs::path& path, std::uint64_t size) {
  std::mt19937_64 rng(20240102);
  std::vector<std::string> words;
  const char* letters = "etaoinshrdlcumwfgypbvkjxqz";
  for (int i = 0; i < 1500; ++i) {
    std::string w;
    const int length = 2 + static_cast<int>(std::min(rng() % 10, rng() % 10));
    for (int j = 0; j < length; ++j) w += letters[std::min<std::uint64_t>(rng() % 26, rng() % 26)];
    words.push_back(w);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string line;
  std::uint64_t written = 0;
  while (written < size) {
    line.clear();
    line += std::to_string(rng() % 1000) + ": ";
    const int count = 4 + static_cast<int>(rng() % 12);
    for (int i = 0; i < count; ++i) {
      // Frequent words far more often than rare ones.
      line += words[std::min({rng() % words.size(), rng() % words.size(), rng() % words.size()})];
      line += (rng() % 9 == 0) ? ", " : " ";
    }
    line.back() = '.';
    line += '\n';
    const std::uint64_t take = std::min<std::uint64_t>(line.size(), size - written);
    out.write(line.data(), static_cast<std::streamsize>(take));
    written += take;
  }
  out.close();
  return !out.fail();
}

struct ChildRun {
  bool ok = false;
  double seconds = 0;
  long peak_kib = 0;
};

// Runs `argv` with its standard output written to `output`; its time and peak memory.
ChildRun Run(const std::vector<std::string>& argv, const fs::path& output) {
  ChildRun run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) return run;
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.peak_kib = usage.ru_maxrss;
  return run;
}

// GunzipFile from `source` to `destination` (Windows form); its time and this process's
// peak resident memory while it ran.
struct OurRun {
  int result = -1;
  double seconds = 0;
  std::uint64_t peak = 0;
};

OurRun Ours(const std::string& source, const std::string& destination) {
  OurRun run;
  pelisto::testing::ResetPeakMemory();
  const auto start = Clock::now();
  run.result = pelisto::GunzipFile(source, destination);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.peak = pelisto::testing::PeakMemory();
  return run;
}

int Usage() {
  std::fprintf(stderr, "usage: bench-gunzip [--mb N] [--rounds R] [--dir FOLDER] [--no-sizes]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  long mb = 200;
  int rounds = 7;
  bool sizes = true;
  fs::path base = fs::temp_directory_path();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--no-sizes") {
      sizes = false;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    if (arg == "--mb") {
      mb = std::max(1L, std::atol(argv[++i]));
    } else if (arg == "--rounds") {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--dir") {
      base = argv[++i];
    } else {
      return Usage();
    }
  }
  const std::uint64_t size = static_cast<std::uint64_t>(mb) * 1000 * 1000;

  // GunzipFile writes its destination itself (no broker), as the tools do.
  pelisto::bench::BenchImage image(base, "gunzip");
  if (!image.ok()) {
    std::fprintf(stderr, "cannot open a machine image in %s: %s\n", image.prefix().c_str(), image.error().c_str());
    return 1;
  }
  const fs::path folder = image.Folder("bench");
  const fs::path text = folder / "text.txt";
  const fs::path gz = folder / "text.txt.gz";
  const fs::path ours_file = folder / "ours.txt", gzip_file = folder / "gzip.txt", pigz_file = folder / "pigz.txt";

  int status = 0;

  if (!WriteText(text, size) || !Run({"gzip", "-6", "-c", text.string()}, gz).ok) {
    std::fprintf(stderr, "cannot make the input in %s\n", folder.c_str());
    return 1;
  }
  std::printf("%.0f MB of text, %.1f MB compressed with gzip -6, in %s, %d rounds\n", size / 1e6,
              fs::file_size(gz) / 1e6, folder.c_str(), rounds);
  std::printf("%6s  %12s  %12s  %12s\n", "round", "ours MB/s", "gzip MB/s", "pigz MB/s");

  std::vector<double> ours, gzip, pigz;
  std::uint64_t ours_peak = 0;
  long gzip_peak = 0, pigz_peak = 0;
  for (int r = 0; r < rounds && status == 0; ++r) {
    double seconds[3] = {0, 0, 0};
    for (int k = 0; k < 3 && status == 0; ++k) {
      const int who = (r + k) % 3;  // each takes every place in the order in turn
      if (who == 0) {
        fs::remove(ours_file);
        const OurRun run = Ours("C:\\bench\\text.txt.gz", "C:\\bench\\ours.txt");
        if (run.result != pelisto::kGunzipOk) {
          std::fprintf(stderr, "GunzipFile failed: %d\n", run.result);
          status = 1;
        }
        seconds[0] = run.seconds;
        ours_peak = std::max(ours_peak, run.peak);
      } else {
        const fs::path& out = who == 1 ? gzip_file : pigz_file;
        fs::remove(out);
        const ChildRun run = Run({who == 1 ? "gzip" : "pigz", "-dc", gz.string()}, out);
        if (!run.ok) {
          std::fprintf(stderr, "%s -dc failed\n", who == 1 ? "gzip" : "pigz");
          status = 1;
        }
        seconds[who] = run.seconds;
        (who == 1 ? gzip_peak : pigz_peak) = std::max(who == 1 ? gzip_peak : pigz_peak, run.peak_kib);
      }
    }
    if (status != 0) break;
    if (r == 0 && (!pelisto::bench::SameFiles(ours_file, text) || !pelisto::bench::SameFiles(gzip_file, text) || !pelisto::bench::SameFiles(pigz_file, text))) {
      std::fprintf(stderr, "an output differs from the input\n");
      status = 1;
      break;
    }
    ours.push_back(size / seconds[0] / 1e6);
    gzip.push_back(size / seconds[1] / 1e6);
    pigz.push_back(size / seconds[2] / 1e6);
    std::printf("%6d  %12.0f  %12.0f  %12.0f\n", r + 1, ours.back(), gzip.back(), pigz.back());
    std::fflush(stdout);
  }
  if (status != 0) return status;
  fs::remove(text);
  fs::remove(gzip_file);
  fs::remove(pigz_file);
  fs::remove(ours_file);

  const double ours_median = pelisto::bench::Median(ours), gzip_median = pelisto::bench::Median(gzip),
               pigz_median = pelisto::bench::Median(pigz);
  std::printf("median  %12.0f  %12.0f  %12.0f\n", ours_median, gzip_median, pigz_median);
  std::printf("peak resident memory: ours %.1f MiB (the whole benchmark process), gzip %.1f MiB, pigz %.1f MiB\n",
              ours_peak / kMiB, gzip_peak / 1024.0, pigz_peak / 1024.0);

  if (sizes) {
    std::printf("our peak resident memory by output size (zeros):");
    for (std::uint64_t mib : {20ull, 200ull, 2048ull}) {
      const fs::path zeros = folder / "zeros.gz";
      if (!pelisto::testing::WriteZerosGzip(zeros.string(), mib << 20)) {
        std::fprintf(stderr, "\ncannot write %s\n", zeros.c_str());
        return 1;
      }
      const OurRun run = Ours("C:\\bench\\zeros.gz", "C:\\bench\\zeros.bin");
      if (run.result != pelisto::kGunzipOk || fs::file_size(folder / "zeros.bin") != mib << 20) {
        std::fprintf(stderr, "\nGunzipFile of %llu MiB of zeros failed: %d\n",
                     static_cast<unsigned long long>(mib), run.result);
        return 1;
      }
      fs::remove(folder / "zeros.bin");
      std::printf("  %llu MiB: %.1f MiB", static_cast<unsigned long long>(mib), run.peak / kMiB);
      std::fflush(stdout);
    }
    std::printf("\n");
  }

  std::printf("ratio %.2f against pigz -dc\n", ours_median / pigz_median);
  std::printf("ratio %.2f against gzip -dc\n", ours_median / gzip_median);
  return 0;
}
