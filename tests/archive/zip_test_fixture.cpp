#include "tests/archive/zip_test_fixture.h"

#include <filesystem>

#include "os/com/apartment.h"
#include "os/module/module.h"
#include "platform/broker_client.h"

namespace pelisto::testing {
namespace fs = std::filesystem;

os::LONG ZipRunContext::FireUnZipping(const std::string& file_name) {
  FakeRunContext::FireUnZipping(file_name);
  ++unzipping_count;
  return unzipping_count == cancel_at_unzipping ? 1 : page_cancel;
}

void ZipTest::SetUp() {
  UiTest::SetUp();
  // The control's thread as a browser runs it: an OLE apartment (component registration).
  os::OleInitialize(nullptr);
  os::ClearLoadedComponentFiles();
  MakeFirstUseFiles();
}

// What the image makes on first use is made now, so that Tree() shows only what a test did.
void ZipTest::MakeFirstUseFiles() {
  os::EnsureSystemModules(machine());
  for (os::KnownFolder folder : {os::KnownFolder::kInternetCache, os::KnownFolder::kInternetCacheLow,
                                 os::KnownFolder::kLocalAppDataLow, os::KnownFolder::kTemp}) {
    machine().FolderPath(folder);
  }
}

void ZipTest::TearDown() {
  context_.reset();
  ReleaseBroker();
  os::OleUninitialize();
  UiTest::TearDown();
}

ZipRunContext& ZipTest::Context(int os_major) {
  context_.reset();
  ReleaseBroker();
  SetOsMajor(os_major);
  MakeFirstUseFiles();
  context_ = std::make_unique<ZipRunContext>();
  return *context_;
}

std::string ZipTest::PutZip(const std::string& path, const std::string& bytes) {
  const fs::path host = Host(path);
  fs::create_directories(host.parent_path());
  WriteHostFile(host.string(), bytes);
  return path;
}

std::set<std::string> ZipTest::Tree() {
  std::set<std::string> out;
  const fs::path root = fs::path(prefix()) / "drive_c";
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    out.insert(fs::relative(it->path(), root).string());
  }
  return out;
}

std::vector<std::string> ZipTest::NewOutside(const std::set<std::string>& before,
                                             const std::vector<std::string>& allowed) {
  const fs::path root = fs::path(prefix()) / "drive_c";
  std::vector<std::string> allowed_rel;
  for (const std::string& folder : allowed) {
    allowed_rel.push_back(fs::relative(fs::path(Host(folder)), root).string());
  }
  std::vector<std::string> out;
  for (const std::string& entry : Tree()) {
    if (before.count(entry) != 0) continue;
    bool inside = false;
    for (const std::string& folder : allowed_rel) {
      if (entry == folder || entry.rfind(folder + "/", 0) == 0) inside = true;
    }
    if (!inside) out.push_back(entry);
  }
  return out;
}

std::vector<std::string> ZipTest::LogLines() const {
  std::vector<std::string> out;
  for (const auto& line : context_->log) out.push_back(std::to_string(line.level) + ":" + line.text);
  return out;
}

}  // namespace pelisto::testing
