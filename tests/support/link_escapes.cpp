#include "tests/support/link_escapes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/image_test.h"

namespace pelisto::testing {
namespace {
namespace fs = std::filesystem;

// A folder whose real path is longer than the host's path limit, reached by two short hops
// from the drive and two long relative links outside it.
void PlantLongTarget(const std::string& drive, const std::string& outside) {
  const std::string part(200, 'd');
  std::string first, second;
  for (int i = 0; i < 12; ++i) first += (i ? "/" : "") + part;
  for (int i = 0; i < 13; ++i) second += (i ? "/" : "") + part;
  int dir = open(outside.c_str(), O_DIRECTORY | O_RDONLY);
  for (int i = 0; i < 25; ++i) {
    mkdirat(dir, part.c_str(), 0755);
    int next = openat(dir, part.c_str(), O_DIRECTORY | O_RDONLY);
    if (i == 11 && symlinkat(second.c_str(), next, "b") != 0) std::abort();
    close(dir);
    dir = next;
  }
  int secret = openat(dir, "secret", O_CREAT | O_WRONLY, 0644);
  if (write(secret, "secret", 6) != 6) std::abort();
  close(secret);
  close(dir);
  fs::create_directory_symlink(first, outside + "/a");
  fs::create_directory_symlink(outside + "/a/b", drive + "/hop");
  fs::create_directory_symlink("hop", drive + "/long");
}

}  // namespace

const std::vector<Escape> kEscapes = {
    {"DanglingAbsolute",
     [](const std::string& drive, const std::string& outside) {
       fs::create_symlink(outside + "/fresh.txt", drive + "/dangle");
       fs::create_symlink(outside + "/secret", drive + "/points");
     },
     "C:\\dangle", "C:\\points"},
    {"ChainInsideEndingOutside",
     [](const std::string& drive, const std::string& outside) {
       fs::create_symlink("hop2", drive + "/hop1");
       fs::create_symlink(outside + "/fresh.txt", drive + "/hop2");
       fs::create_symlink("hop3", drive + "/chain");
       fs::create_symlink(outside + "/secret", drive + "/hop3");
     },
     "C:\\hop1", "C:\\chain"},
    {"RelativeClimb",
     [](const std::string& drive, const std::string& outside) {
       const std::string up = "../../" + fs::path(outside).filename().string();
       fs::create_symlink(up + "/fresh.txt", drive + "/climb");
       fs::create_symlink(up + "/secret", drive + "/climbing");
     },
     "C:\\climb", "C:\\CLIMBING"},
    {"FolderLink",
     [](const std::string& drive, const std::string& outside) {
       fs::create_directory_symlink(outside, drive + "/Out");
     },
     "C:\\out\\fresh.txt", "C:\\Out\\secret"},
    {"LongTarget",
     [](const std::string& drive, const std::string& outside) { PlantLongTarget(drive, outside); },
     "C:\\long\\fresh.txt", "C:\\long\\secret"},
};

std::vector<std::string> FilesBelow(const std::string& folder) {
  std::vector<std::string> found;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_regular_file()) {
      found.push_back(it->path().filename().string() + "=" + ReadHostFile(it->path().string()));
    }
  }
  return found;
}

}  // namespace pelisto::testing
