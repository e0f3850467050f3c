#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/image/host_place_linux.h"
#include "os/image/image_trust.h"
#include "os/image/machine.h"

namespace os {
namespace fs = std::filesystem;
namespace {
Machine* g_current = nullptr;

constexpr char kConfName[] = "image.conf";

std::string Trim(std::string s) {
  size_t b = s.find_first_not_of(" \t\r");
  size_t e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

bool ParseBool(const std::string& v) { return v == "1" || v == "true" || v == "yes" || v == "on"; }

bool IsBelow(const std::string& path, const std::string& root) {
  if (root == "/") return true;
  return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                          path[root.size()] == '/');
}

const char* FolderSuffix(KnownFolder folder) {
  switch (folder) {
    case KnownFolder::kWindows: return "Windows";
    case KnownFolder::kSystem: return "Windows\\system32";
    case KnownFolder::kProgramFiles: return "Program Files";
    case KnownFolder::kModule: return "Windows\\Downloaded Program Files";
    case KnownFolder::kProfile: return "";
    case KnownFolder::kDesktop: return "Desktop";
    case KnownFolder::kRoamingAppData: return "AppData\\Roaming";
    case KnownFolder::kLocalAppData: return "AppData\\Local";
    case KnownFolder::kLocalAppDataLow: return "AppData\\LocalLow";
    case KnownFolder::kInternetCache:
      return "AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files";
    case KnownFolder::kInternetCacheLow:
      return "AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files\\Low";
    case KnownFolder::kTemp: return "AppData\\Local\\Temp";
    case KnownFolder::kTempLow: return "AppData\\Local\\Temp\\Low";
  }
  return "";
}

// A user name that is one plain component of C:\Users, with room for the deepest folder of
// the profile: anything else would move the profile's folders (LocalLow among them) elsewhere.
bool IsProfileName(const std::string& name) {
  WinPath p;
  if (ParseWinPath("C:\\Users\\" + name + "\\" + FolderSuffix(KnownFolder::kInternetCacheLow), &p) !=
      ERROR_SUCCESS) {
    return false;
  }
  return p.parts.size() > 2 && p.parts[1] == name;
}

bool IsPerUser(KnownFolder folder) {
  return folder != KnownFolder::kWindows && folder != KnownFolder::kSystem &&
         folder != KnownFolder::kProgramFiles && folder != KnownFolder::kModule;
}
}  // namespace

Machine::Machine(std::string prefix) : prefix_(std::move(prefix)) {}
Machine::~Machine() {
  if (g_current == this) g_current = nullptr;
}

std::unique_ptr<Machine> Machine::Open(const std::string& prefix, std::string* error) {
  if (prefix.empty() || prefix[0] != '/') {
    if (error) *error = "the machine image prefix must be an absolute folder: '" + prefix + "'";
    return nullptr;
  }
  std::error_code ec;
  const bool fresh = !fs::exists(prefix, ec);
  fs::create_directories(prefix + "/drive_c", ec);
  // A prefix made here is writable by its owner only, whatever the umask: others writing it
  // would be refused when it is opened.
  if (!ec && fresh) {
    fs::permissions(prefix, fs::perms::group_write | fs::perms::others_write, fs::perm_options::remove, ec);
  }
  if (ec) {
    if (error) *error = "cannot create the machine image at " + prefix + ": " + ec.message();
    return nullptr;
  }
  std::unique_ptr<Machine> m(new Machine(fs::weakly_canonical(prefix).string()));
  if (!m->Load(error)) return nullptr;
  return m;
}

bool Machine::Load(std::string* error) {
  const std::string conf = prefix_ + "/" + kConfName;
  std::string text;
  bool exists = false;
  if (!ReadTrustedImageConf(prefix_, &text, &exists, error)) return false;
  if (!exists) return Save(error);
  std::istringstream in(text);
  std::string line;
  int line_no = 0;
  while (std::getline(in, line)) {
    ++line_no;
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      if (error) *error = conf + ":" + std::to_string(line_no) + ": expected NAME=VALUE";
      return false;
    }
    std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    try {
      if (key == "os_version") {
        size_t dot = value.find('.');
        settings_.os_major = std::stoi(value.substr(0, dot));
        settings_.os_minor = dot == std::string::npos ? 0 : std::stoi(value.substr(dot + 1));
      } else if (key == "os_build") {
        settings_.os_build = std::stoi(value);
      } else if (key == "code_page") {
        settings_.code_page = static_cast<UINT>(std::stoul(value));
        if (!IsSupportedCodePage(settings_.code_page)) throw std::invalid_argument("code page");
      } else if (key == "user") {
        if (!IsProfileName(value)) throw std::invalid_argument("user");
        settings_.user = value;
      } else if (key == "protected_mode") {
        settings_.protected_mode = ParseBool(value);
      } else if (key == "refuse_elevation") {
        settings_.refuse_elevation = ParseBool(value);
      } else if (key == "elevation_command") {
        settings_.elevation_command = value;
      } else if (key == "broker") {
        settings_.broker_path = value;
      } else if (key == "broker_timeout_ms") {
        settings_.broker_timeout_ms = std::stoi(value);
      } else if (key == "unnamed_files") {
        settings_.unnamed_files = ParseBool(value);
      } else if (ParseTransferSetting(key, value, &settings_.transfer)) {
        // one of the transfer bounds, read in place
      } else if (key == "browser_version") {
        settings_.browser_version = value;
      } else if (IsDisplaySettingKey(key)) {
        if (!ParseDisplaySetting(key, value, &settings_.display)) throw std::invalid_argument(key);
      } else if (key.size() == 7 && key.compare(0, 6, "drive.") == 0 && std::isalpha(key[6])) {
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(key[6])));
        if (value.empty()) {
          settings_.drives.erase(letter);
        } else {
          settings_.drives[letter] = value;
        }
      }  // Unknown keys are kept for newer versions of the program and ignored here.
    } catch (const std::exception&) {
      if (error) *error = conf + ":" + std::to_string(line_no) + ": bad value for " + key;
      return false;
    }
  }
  return true;
}

bool Machine::Save(std::string* error) const {
  const std::string conf = prefix_ + "/" + kConfName;
  const std::string tmp = conf + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << "# Machine image settings (pelisto)\n"
        << "os_version=" << settings_.os_major << "." << settings_.os_minor << "\n"
        << "os_build=" << settings_.os_build << "\n"
        << "code_page=" << settings_.code_page << "\n"
        << "user=" << settings_.user << "\n"
        << "protected_mode=" << (settings_.protected_mode ? 1 : 0) << "\n"
        << "refuse_elevation=" << (settings_.refuse_elevation ? 1 : 0) << "\n"
        << "elevation_command=" << settings_.elevation_command << "\n"
        << "broker=" << settings_.broker_path << "\n"
        << "broker_timeout_ms=" << settings_.broker_timeout_ms << "\n"
        << "unnamed_files=" << (settings_.unnamed_files ? 1 : 0) << "\n"
        << "browser_version=" << settings_.browser_version << "\n";
    WriteTransferSettings(out, settings_.transfer);
    WriteDisplaySettings(out, settings_.display);
    for (const auto& [letter, folder] : settings_.drives) {
      out << "drive." << static_cast<char>(std::tolower(letter)) << "=" << folder << "\n";
    }
    out.flush();
    if (!out) {
      if (error) *error = "cannot write " + tmp;
      return false;
    }
  }
  // Written by its owner only, whatever the umask: others writing it would make it refused.
  std::error_code ec;
  fs::permissions(tmp, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                           fs::perms::others_read, ec);
  if (std::rename(tmp.c_str(), conf.c_str()) != 0) {
    if (error) *error = "cannot replace " + conf;
    return false;
  }
  return true;
}

std::string Machine::DriveRoot(char letter) const {
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  auto it = settings_.drives.find(letter);
  if (it == settings_.drives.end() || it->second.empty()) return {};
  std::string root = it->second[0] == '/' ? it->second : prefix_ + "/" + it->second;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

DWORD Machine::ToHostPath(std::string_view win_path, std::string* host_path,
                          WinPath* normalised) const {
  WinPath parsed;
  DWORD rc = ParseWinPath(win_path, &parsed);
  if (rc != ERROR_SUCCESS) return rc;
  rc = ToHostPath(parsed, host_path);
  if (rc == ERROR_SUCCESS && normalised != nullptr) *normalised = std::move(parsed);
  return rc;
}

DWORD Machine::ToHostPath(const WinPath& path, std::string* host_path) const {
  HostPlace place;
  DWORD rc = ResolveHostPlace(*this, path, LastLink::kFollow, &place);
  if (rc != ERROR_SUCCESS) return rc;
  *host_path = place.host();
  return ERROR_SUCCESS;
}

std::string Machine::ToWinPath(const std::string& host_path) const {
  char best = 0;
  size_t best_len = 0;
  for (const auto& [letter, folder] : settings_.drives) {
    std::string root = DriveRoot(letter);
    if (root.empty() || !IsBelow(host_path, root)) continue;
    size_t len = root == "/" ? 0 : root.size();
    if (best == 0 || len > best_len) {
      best = letter;
      best_len = len;
    }
  }
  if (best == 0) return {};
  std::string rest = host_path.substr(best_len);
  for (char& c : rest) {
    if (c == '/') c = '\\';
  }
  std::string result;
  result.push_back(best);
  result += ":";
  result += rest.empty() ? "\\" : rest;
  return result;
}

std::string Machine::FolderLocation(KnownFolder folder) const {
  std::string base = IsPerUser(folder) ? "C:\\Users\\" + settings_.user : "C:";
  const char* suffix = FolderSuffix(folder);
  return *suffix ? base + "\\" + suffix : base;
}

std::string Machine::FolderPath(KnownFolder folder) const {
  std::string win = FolderLocation(folder);
  WinPath path;
  if (ParseWinPath(win, &path) == ERROR_SUCCESS) CreateHostFolders(*this, path);
  return win;
}

Machine* CurrentMachine() { return g_current; }
void SetCurrentMachine(Machine* machine) { g_current = machine; }

std::string ChoosePrefix(const std::string& cli_prefix) {
  if (!cli_prefix.empty()) return fs::absolute(cli_prefix).lexically_normal().string();
  if (const char* env = std::getenv("PELISTO_PREFIX"); env && *env) {
    return fs::absolute(env).lexically_normal().string();
  }
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    return std::string(xdg) + "/pelisto/machine";
  }
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share/pelisto/machine";
}

}  // namespace os
