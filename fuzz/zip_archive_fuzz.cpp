// Feeds arbitrary bytes, as a downloaded zip archive, to the archive reader and every member
// name it yields to the name check. Besides surviving every input, the walk must end within
// the declared member count, records must stay within their bounds, a member's data must never
// exceed its declared size (and match it when the read ends complete), and a name the check
// lets through must, once made into a path, stay below the extraction folder as the file layer
// parses it. Input that is no archive is checked as a member name itself.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "archive/member_name.h"
#include "archive/zip_archive.h"
#include "os/base/error.h"
#include "os/image/win_path.h"

namespace {

// Inflating is bounded by what the members declare, which may be a lot: stop reading an
// input's data after this much so each run stays short.
constexpr std::uint64_t kReadBudget = 64u << 20;
constexpr char kFolder[] = "C:\\Out\\";

// Names the broken rule, so a crash needs no debugger to be read.
void Fail(const char* rule) {
  std::fprintf(stderr, "rule broken: %s\n", rule);
  std::abort();
}
#define Require(condition) ((condition) ? void() : Fail(#condition))

void CheckName(std::string name, bool directory) {
  std::replace(name.begin(), name.end(), '/', '\\');
  if (pelisto::CheckMemberName(name) != pelisto::MemberNameProblem::kNone) return;
  os::WinPath folder, made;
  Require(os::ParseWinPath(kFolder, &folder) == os::ERROR_SUCCESS);
  const std::string path = os::JoinWinPath(kFolder, name);
  // A path the file layer cannot parse is never created.
  if (os::ParseWinPath(path, &made) != os::ERROR_SUCCESS) return;
  Require(made.IsWithin(folder));
  Require(pelisto::LeavesFolder(path, kFolder, directory) ==
          (made.parts.size() == folder.parts.size() && !directory));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  pelisto::ZipArchive zip;
  if (!zip.OpenMemory(bytes)) {
    // Names buried in an archive are hard to reach by mutation: what is no archive is also
    // taken as a member name of its own.
    if (size <= pelisto::ZipArchive::kNameLimit) {
      CheckName(bytes, false);
      CheckName(bytes, true);
    }
    return 0;
  }
  const std::uint64_t count = zip.EntryCount();
  std::uint64_t walked = 0;
  std::uint64_t budget = kReadBudget;
  char block[2048];
  for (bool more = zip.First(); more; more = zip.Next()) {
    // A count of 0xFFFF may stand for more members (archives that overflowed the field): the
    // walk then goes on while records follow, each at least 46 bytes long.
    ++walked;
    Require(walked <= count || (count == 0xFFFF && walked * 46 <= size));
    pelisto::ZipEntry entry;
    if (!zip.Info(&entry)) continue;
    Require(entry.name.size() <= pelisto::ZipArchive::kNameLimit);
    Require(entry.comment.size() <= pelisto::ZipArchive::kCommentLimit);
    Require(entry.stored_name_size >= entry.name.size());
    CheckName(entry.name, (entry.external_attributes & 0x10) != 0);
    if (budget == 0 || !zip.OpenData()) continue;
    std::uint64_t read = 0;
    bool stopped = false;  // by the budget, not by the data
    for (;;) {
      const int n = zip.Read(block, sizeof block);
      if (n <= 0) break;
      read += static_cast<std::uint64_t>(n);
      Require(read <= entry.uncompressed_size);
      budget -= std::min<std::uint64_t>(budget, static_cast<std::uint64_t>(n));
      if (budget == 0) {
        stopped = true;
        break;
      }
    }
    // Complete means the declared size exactly, however the read was stopped.
    if (zip.CloseData() == pelisto::ZipArchive::ReadEnd::kComplete) {
      Require(read == entry.uncompressed_size);
    } else {
      Require(stopped || read <= entry.uncompressed_size);
    }
  }
  zip.Close();
  return 0;
}
