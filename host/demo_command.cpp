#include "host/demo_command.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "actions/registry_ops.h"
#include "control/pelisto_ctrl.h"
#include "host/demo_site_server.h"
#include "host/host_page.h"
#include "os/base/text.h"
#include "os/com/apartment.h"
#include "os/fs/file_api.h"
#include "os/fs/file_util.h"
#include "os/image/machine.h"
#include "os/reg/registry.h"
#include "os/shell/folders.h"
#include "os/ui/front_end_select.h"

namespace pelisto {
namespace {

namespace fs = std::filesystem;

constexpr char kAppFolder[] = "\\PelistoDemo";

// The names IsDownload reports, as a reader of the summary says them.
const char* StatusWord(os::LONG code) {
  switch (code) {
    case 0: return "download";
    case 1: return "already installed";
    case 2: return "registry value written";
    case 3: return "shortcut";
    case 4: return "same version, skipped";
    case 5: return "present, skipped";
    case 6: return "unregistered";
    case 7: return "deleted";
    case 8: return "unpacked";
    default: return "status";
  }
}

// What each entry did, from the run-level IsDownload events.
class EntryRecorder : public EventSink {
 public:
  void OnEvent(const EventInfo& event, const std::vector<os::Variant>& args,
               os::LONG*) override {
    if (std::string(event.name) != "IsDownload" || args.size() < 2) return;
    os::LONG code = 0;
    args[0].ToLong(&code);
    std::string name;
    args[1].ToText(&name);
    if (code == 8) name = name.substr(name.rfind('\\') + 1);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const auto& e) { return e.first == name; });
    if (it == entries_.end()) {
      entries_.push_back({name, StatusWord(code)});
    } else {
      it->second += std::string(", ") + StatusWord(code);
    }
  }
  const std::vector<std::pair<std::string, std::string>>& entries() const { return entries_; }

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
};

std::string SiteFolder() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : (self.parent_path() / "demo-site").string();
}

std::string MakeTemporaryImageFolder() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path dir = fs::temp_directory_path() /
                         ("pelisto-demo-" + std::to_string(random() % 1000000000u));
    std::error_code ec;
    if (fs::create_directory(dir, ec)) return dir.string();
  }
  return std::string();
}

std::string Utf8(const std::string& ansi) { return os::AnsiToUtf8(ansi); }

struct Check {
  std::string what;
  bool ok;
};

class Demo {
 public:
  Demo(const CliOptions& options, DemoSiteServer& server) : options_(options), server_(server) {
    os::SHGetFolderPathA(nullptr, os::CSIDL_PROGRAM_FILES, nullptr, 0, &app_);
    app_ += kAppFolder;
    os::SHGetFolderPathA(nullptr, os::CSIDL_DESKTOP, nullptr, 0, &desktop_);
  }

  // One page load and its getConfig; prints the summary. True when the run did what it should.
  bool Run(int number, const std::string& generation, const char* purpose) {
    std::printf("\n== Run %d: %s\n", number, purpose);
    std::fflush(stdout);
    server_.SetGeneration(generation);
    server_.TakeRequests();
    EntryRecorder recorder;
    os::BOOL result = os::FALSE;
    std::string log_path;
    {
      HostPage page(options_);
      ControlOptions control_options;
      control_options.main_window = page.MainWindow();
      CPelistoCtrl control(std::move(control_options));
      control.SetEventSink(&recorder);
      PropertyBag bag;
      // Without the control's own dialogs the run's events come to the page, which
      // summarises them.
      bag.Write("selfUi", os::Variant::Bool(false));
      bag.Write("language", os::Variant::Text("ENG"));
      control.Load(bag);
      page.Embed(control);
      result = control.getConfig(server_.Url("update.xml"));
      page.PumpMessages();
      log_path = control.LogFilePath();
    }
    const std::vector<std::string> requests = server_.TakeRequests();

    std::printf("result: %s\n", result ? "TRUE" : "FALSE");
    std::printf("entries:\n");
    for (const auto& [name, did] : recorder.entries()) {
      std::printf("  %-22s %s\n", Utf8(name).c_str(), did.c_str());
    }
    std::printf("fetched from the site:");
    for (const std::string& r : requests) std::printf(" %s", r.c_str());
    std::printf("\nfiles in %s:\n", Utf8(app_).c_str());
    for (const char* name : {"demo.txt", "demo_component.dll", "readme.txt", "demo_reg.dll",
                             "demo_tool.exe", "demo_tool.exe.ran"}) {
      if (os::FileExists(app_ + "\\" + name)) std::printf("  %s\n", name);
    }
    std::printf("registry:\n");
    for (const auto& [root, key, value] : RegistryValues()) {
      const std::string data = ReadRegistryString(root, key, value);
      if (!data.empty()) {
        std::printf("  %s\\%s%s%s = %s\n", os::RootKeyName(root).c_str(), key.c_str(),
                    value.empty() ? "" : " ", value.c_str(), Utf8(data).c_str());
      }
    }
    std::printf("shortcuts on the desktop:\n");
    for (const char* name : {"Pelisto Demo Tool.lnk", "Pelisto Demo Site.url"}) {
      if (os::FileExists(desktop_ + "\\" + name)) std::printf("  %s\n", name);
    }
    std::printf("log: %s\n", Utf8(log_path).c_str());

    std::vector<Check> checks = Expectations(number, result, requests);
    bool all = true;
    for (const Check& c : checks) {
      if (!c.ok) std::printf("  NOT AS EXPECTED: %s\n", c.what.c_str());
      all = all && c.ok;
    }
    std::printf("run %d: %s\n", number, all ? "as expected" : "NOT as expected");
    std::fflush(stdout);
    return all;
  }

 private:
  std::vector<std::tuple<os::HKEY, std::string, std::string>> RegistryValues() const {
    return {{os::HKEY_LOCAL_MACHINE, "SOFTWARE\\PelistoDemo", "InstallDir"},
            {os::HKEY_CLASSES_ROOT, "PelistoDemo\\demo_component.dll", ""},
            {os::HKEY_CLASSES_ROOT, "PelistoDemo\\demo_reg.dll", ""}};
  }

  std::string Read(const std::string& path) const {
    std::string bytes;
    return os::ReadWholeFile(path, &bytes) ? bytes : std::string("<missing>");
  }

  // The program runs on its own from Windows 6 on: give it a moment to leave its mark.
  bool ProgramRan() const {
    for (int i = 0; i < 100; ++i) {
      if (os::FileExists(app_ + "\\demo_tool.exe.ran")) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::vector<Check> Expectations(int number, os::BOOL result,
                                  const std::vector<std::string>& requests) const {
    auto fetched = [&](std::vector<std::string> names) {
      std::vector<std::string> got = requests;
      std::sort(got.begin(), got.end());
      std::sort(names.begin(), names.end());
      return got == names;
    };
    std::vector<Check> checks = {{"getConfig returned TRUE", result == os::TRUE}};
    const std::string demo_text = Read(app_ + "\\demo.txt");
    if (number == 1) {
      checks.push_back({"every file was fetched once",
                        fetched({"update.xml", "demo.txt", "demo_component.zip", "readme.txt.gz",
                                 "demo_reg.dll", "demo_tool.exe"})});
      checks.push_back({"demo.txt is version 1.0", demo_text.find("version 1.0") != std::string::npos});
      checks.push_back({"the zip's component is there", os::FileExists(app_ + "\\demo_component.dll")});
      checks.push_back({"readme.txt came out of the gzip file", os::FileExists(app_ + "\\readme.txt")});
      for (const auto& [root, key, value] : RegistryValues()) {
        checks.push_back({os::RootKeyName(root) + "\\" + key + " is written",
                          !ReadRegistryString(root, key, value).empty()});
      }
      checks.push_back({"InstallDir names the program folder",
                        ReadRegistryString(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\PelistoDemo",
                                           "InstallDir") == app_});
      checks.push_back({"the program shortcut is on the desktop",
                        os::FileExists(desktop_ + "\\Pelisto Demo Tool.lnk")});
      checks.push_back({"the internet shortcut is on the desktop",
                        os::FileExists(desktop_ + "\\Pelisto Demo Site.url")});
      checks.push_back({"the program ran", ProgramRan()});
    } else if (number == 2) {
      checks.push_back({"only the configuration was fetched", fetched({"update.xml"})});
    } else {
      checks.push_back({"only the configuration and demo.txt were fetched",
                        fetched({"update.xml", "demo.txt"})});
      checks.push_back({"demo.txt is version 1.1", demo_text.find("version 1.1") != std::string::npos});
      checks.push_back({"readme.txt is deleted", !os::FileExists(app_ + "\\readme.txt")});
      checks.push_back({"the component is still there", os::FileExists(app_ + "\\demo_component.dll")});
    }
    return checks;
  }

  const CliOptions& options_;
  DemoSiteServer& server_;
  std::string app_;
  std::string desktop_;
};

}  // namespace

int RunDemo(const CliOptions& options) {
  const std::string site = SiteFolder();
  if (site.empty() || !fs::exists(fs::path(site) / "v1" / "update.xml")) {
    std::fprintf(stderr, "pelisto demo: the sample site is missing beside the program (%s); build it "
                 "with make build\n", site.c_str());
    return 3;
  }
  std::string prefix = options.prefix;
  std::error_code ec;
  if (prefix.empty()) {
    prefix = MakeTemporaryImageFolder();
    if (prefix.empty()) {
      std::fprintf(stderr, "pelisto demo: no temporary folder for the image\n");
      return 3;
    }
  } else if (fs::exists(prefix, ec) && !fs::is_empty(prefix, ec)) {
    std::fprintf(stderr, "pelisto demo: %s is not empty; the demo needs a fresh image\n",
                 prefix.c_str());
    return 2;
  }
  std::string error;
  std::unique_ptr<os::Machine> machine = os::Machine::Open(prefix, &error);
  if (!machine) {
    std::fprintf(stderr, "pelisto demo: %s\n", error.c_str());
    return 3;
  }
  if (options.os_version) machine->mutable_settings().os_major = *options.os_version;
  os::SetCurrentMachine(machine.get());
  os::SetAnsiCodePage(machine->settings().code_page);
  if (!os::ui::SelectFrontEnd(options.ui, &error)) {
    std::fprintf(stderr, "pelisto demo: %s\n", error.c_str());
    os::SetCurrentMachine(nullptr);
    return 2;
  }
  DemoSiteServer server(site);
  if (!server.Start(&error)) {
    std::fprintf(stderr, "pelisto demo: %s\n", error.c_str());
    os::SetCurrentMachine(nullptr);
    return 3;
  }
  std::printf("Pelisto demo: the sample site is at %s, the machine image at %s (Windows %d)\n",
              server.Url("").c_str(), prefix.c_str(), machine->settings().os_major);

  bool all = true;
  const bool ole = os::SUCCEEDED(os::OleInitialize(nullptr));
  {
    Demo demo(options, server);
    all = demo.Run(1, "v1", "a new machine: everything is installed") && all;
    all = demo.Run(2, "v1", "the same configuration again: nothing to do") && all;
    all = demo.Run(3, "v2", "a changed configuration: demo.txt upgraded, readme.txt deleted") && all;
  }
  if (ole) os::OleUninitialize();
  server.Stop();
  std::printf("\n%s. The machine image stays at %s\n",
              all ? "All three runs did what they should" : "A run did NOT do what it should",
              prefix.c_str());
  std::fflush(stdout);
  os::SetCurrentMachine(nullptr);
  return all ? 0 : 1;
}

}  // namespace pelisto
