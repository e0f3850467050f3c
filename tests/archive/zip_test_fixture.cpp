#include "tests/archive/zip_test_fixture.h"

#include <filesystem>

#include "os/com/apartment.h"
#include "os/module/module.h"
#include "platform/broker_client.h"
#include "tests/support/forwarding_privileged_ops.h"

namespace pelisto::testing {
namespace fs = std::filesystem;

void RecordingSink::UnZipFileNumber(os::LONG n) { calls.push_back("UnZipFileNumber(" + std::to_string(n) + ")"); }

void RecordingSink::UnZipping(const std::string& name, os::LONG* cancel) {
  calls.push_back("UnZipping(" + name + ")");
  *cancel = ++unzipping_ == cancel_at ? 1 : 0;
}

namespace {

// The real steps of the context's version, recorded, with copies and deletes made to fail.
class RecordingOps final : public ForwardingPrivilegedOps {
 public:
  RecordingOps(ZipRunContext& context, PrivilegedOps& real) : ForwardingPrivilegedOps(real), context_(context) {}
  int CopyFile(const std::string& source, const std::string& destination, os::BOOL fail) override {
    Note("CopyFile(" + source + "," + destination + ")");
    if (Matches(source, context_.fail_copy_from)) return 0;
    return real().CopyFile(source, destination, fail);
  }
  int MoveFile(const std::string& source, const std::string& destination) override {
    Note("MoveFile(" + source + "," + destination + ")");
    return real().MoveFile(source, destination);
  }
  int MoveFileReplacing(const std::string& source, const std::string& destination) override {
    Note("MoveFileReplacing(" + source + "," + destination + ")");
    if (Matches(source, context_.fail_copy_from)) return 0;
    return real().MoveFileReplacing(source, destination);
  }
  int DeleteFile(const std::string& path) override {
    Note("DeleteFile(" + path + ")");
    if (Matches(path, context_.fail_delete_of)) return 0;
    return real().DeleteFile(path);
  }
  int CreateDirectory(const std::string& path) override {
    Note("CreateDirectory(" + path + ")");
    return real().CreateDirectory(path);
  }
  os::HRESULT CreateDirectoryResult(const std::string& path) override {
    Note("CreateDirectoryResult(" + path + ")");
    return real().CreateDirectoryResult(path);
  }
  int RegisterExtractedComponent(const std::string& path) override {
    Note("RegisterExtractedComponent(" + path + ")");
    return real().RegisterExtractedComponent(path);
  }

 private:
  static bool Matches(const std::string& text, const std::string& part) {
    return !part.empty() && text.find(part) != std::string::npos;
  }
  void Note(const std::string& call) { context_.privileged_calls.push_back(call); }

  ZipRunContext& context_;
};

}  // namespace

PrivilegedOps& ZipRunContext::Privileged() {
  PrivilegedOps& real = FakeRunContext::Privileged();
  if (!recorder_) recorder_ = std::make_unique<RecordingOps>(*this, real);
  return *recorder_;
}

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
