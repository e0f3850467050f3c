// Times the image's file calls against the plain host calls on the same kind of paths: create
// (and write a few bytes), look up attributes, open and read, for many files five folders
// below a drive's root. Every image call resolves its path from the drive's root without
// following links out; the host calls just hand the kernel a path.
//
// Usage: bench-file-calls [files] [repetitions]   (default 10000 and 3; medians are printed)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "os/fs/file_api.h"
#include "os/image/integrity.h"
#include "os/image/machine.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr char kBytes[] = "0123456789abcdef";

double Seconds(const std::function<bool()>& run) {
  auto start = Clock::now();
  if (!run()) {
    std::fprintf(stderr, "bench-file-calls: a call failed\n");
    std::exit(1);
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string Name(int i) { return "f" + std::to_string(i) + ".dat"; }

struct Figures {
  std::vector<double> image, host;
};

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int reps = argc > 2 ? std::atoi(argv[2]) : 3;
  if (files <= 0 || reps <= 0) {
    std::fprintf(stderr, "usage: bench-file-calls [files] [repetitions]\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path top = fs::temp_directory_path() / ("pelisto-bench-files-" + std::to_string(getpid()));
  const char* ops[] = {"create", "attributes", "open+read"};
  std::printf("creating %d files on each side, %d times\n", files, reps);
  std::fflush(stdout);
  Figures figures[3];

  // Every repetition in folders of its own, all removed at the end: creating files right
  // after many were deleted is slower on some file systems, whichever side came second.
  fs::remove_all(top);
  for (int rep = 0; rep < reps; ++rep) {
    const fs::path here = top / std::to_string(rep);
    std::string error;
    auto machine = os::Machine::Open((here / "image").string(), &error);
    if (!machine) {
      std::fprintf(stderr, "bench-file-calls: %s\n", error.c_str());
      return 1;
    }
    os::SetCurrentMachine(machine.get());
    os::SetProcessIntegrity(os::IntegrityLevel::kHigh);
    const std::string win = "C:\\Program Files\\Vendor\\App\\data\\set";
    const std::string host = (here / "host/Program Files/Vendor/App/data/set").string();
    fs::create_directories(machine->prefix() + "/drive_c/Program Files/Vendor/App/data/set");
    fs::create_directories(host);

    auto create_image = [&] { return Seconds([&] {
      for (int i = 0; i < files; ++i) {
        os::HANDLE h = os::CreateFileA(win + "\\" + Name(i), os::GENERIC_WRITE, 0, nullptr, os::CREATE_NEW, 0, nullptr);
        os::DWORD n = 0;
        if (!os::IsValidHandle(h) || !os::WriteFile(h, kBytes, 16, &n, nullptr)) return false;
        os::CloseHandle(h);
      }
      return true;
    }); };
    auto create_host = [&] { return Seconds([&] {
      for (int i = 0; i < files; ++i) {
        int fd = open((host + "/" + Name(i)).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 || write(fd, kBytes, 16) != 16) return false;
        close(fd);
      }
      return true;
    }); };
    // Which side creates first alternates: the first one meets whatever the file system left
    // from earlier deletions.
    if (rep % 2 == 0) {
      figures[0].image.push_back(create_image());
      figures[0].host.push_back(create_host());
    } else {
      figures[0].host.push_back(create_host());
      figures[0].image.push_back(create_image());
    }
    figures[1].image.push_back(Seconds([&] {
      for (int i = 0; i < files; ++i) {
        if (os::GetFileAttributesA(win + "\\" + Name(i)) == os::INVALID_FILE_ATTRIBUTES) return false;
      }
      return true;
    }));
    figures[1].host.push_back(Seconds([&] {
      struct stat st;
      for (int i = 0; i < files; ++i) {
        if (stat((host + "/" + Name(i)).c_str(), &st) != 0) return false;
      }
      return true;
    }));
    figures[2].image.push_back(Seconds([&] {
      char buf[64];
      for (int i = 0; i < files; ++i) {
        os::HANDLE h = os::CreateFileA(win + "\\" + Name(i), os::GENERIC_READ, os::FILE_SHARE_READ, nullptr,
                                       os::OPEN_EXISTING, 0, nullptr);
        os::DWORD n = 0;
        if (!os::IsValidHandle(h) || !os::ReadFile(h, buf, sizeof buf, &n, nullptr) || n != 16) return false;
        os::CloseHandle(h);
      }
      return true;
    }));
    figures[2].host.push_back(Seconds([&] {
      char buf[64];
      for (int i = 0; i < files; ++i) {
        int fd = open((host + "/" + Name(i)).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || read(fd, buf, sizeof buf) != 16) return false;
        close(fd);
      }
      return true;
    }));
    os::SetCurrentMachine(nullptr);
  }
  fs::remove_all(top);

  std::printf("%d files, 5 folders deep, median of %d\n", files, reps);
  double image_total = 0, host_total = 0;
  for (int op = 0; op < 3; ++op) {
    const double image = Median(figures[op].image), host = Median(figures[op].host);
    image_total += image;
    host_total += host;
    std::printf("%-11s image %7.1f ms (%5.2f us a call)   host %7.1f ms   ratio %.2f\n", ops[op], image * 1e3,
                image * 1e6 / files, host * 1e3, image / host);
  }
  std::printf("ratio %.2f\n", image_total / host_total);
  return 0;
}
