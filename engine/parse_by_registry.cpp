#include "engine/parse_by_registry.h"

#include <vector>

#include "actions/create_directories.h"
#include "actions/install_by_type.h"
#include "actions/registration.h"
#include "actions/registry_ops.h"
#include "download/download_step.h"
#include "engine/config_address.h"
#include "engine/folder_symbols.h"
#include "engine/registry_config.h"
#include "os/base/text.h"
#include "os/com/com_error.h"
#include "os/fs/file_api.h"
#include "os/image/win_path.h"
#include "os/reg/registry.h"
#include "os/ui/message_box.h"
#include "os/ui/ui_types.h"

namespace pelisto {
namespace {

constexpr char kSource[] = "CPelistoCtrl::StartParse";
constexpr double kPatchThreshold = 0.10000000001;
// The icon of the internet shortcuts this run makes (UTF-8 here, the image's page in use).
constexpr char kInternetLinkIcon[] =
    "C:\\Documents and settings\\Administrator\\\xEB\xB0\x94\xED\x83\x95 \xED\x99\x94\xEB\xA9\xB4"
    "\\32KB.ico";

void Log(RunContext& context, const std::string& text, unsigned level) {
  context.WriteLog(context.GetLogTime() + text, level);
}

bool IsLinkType(const std::string& lower_type) {
  return lower_type == "makeinternetlnk" || lower_type == "makeprogramlnk";
}

// The confirmation, shown whatever selfUi says; only Yes installs.
bool UserWantsIt(RunContext& context, const ContentEntry& e) {
  const std::string text = "New [" + e.name + "] version " + e.ver +
                           " found! Would you like to install [" + e.name + "]?";
  if (os::MessageBoxA(nullptr, text, "Pelisto/Check", os::MB_YESNO | os::MB_ICONEXCLAMATION) ==
      os::IDYES) {
    return true;
  }
  Log(context, " user cancle to install.", 1);
  return false;
}

enum class Decision { kSkip, kInstall };

// Steps 4 to 6 of an entry: the recorded version against the entry's.
Decision Decide(RunContext& context, ContentEntry& e) {
  const std::string recorded = context.Privileged().ReadRegString(os::HKEY_LOCAL_MACHINE,
                                                                   RecordKeyOf(e.name), "ver");
  context.State().registry_version = recorded;
  if (recorded.empty()) {
    if (e.q == "yes" && !UserWantsIt(context, e)) return Decision::kSkip;
    return Decision::kInstall;
  }
  const double old_version = ReadVersionNumber(recorded);
  const double new_version = ReadVersionNumber(e.ver);
  bool marked = false;
  if (e.type == "alwaysSetREG" && new_version == old_version) {
    if (os::EqualsIgnoreCase(e.isDown, "true")) {
      marked = true;
    } else if (!RegisterDownloadedComponent(context, e.url, e.target)) {
      Log(context, " " + e.url + " is reg failed...(on local system )", 2);
      context.ShowMessage(e.url + " is reg failed...(on local system )");
    }
  }
  if (new_version > old_version) {
    if (e.q == "yes" && !UserWantsIt(context, e)) return Decision::kSkip;
    if (new_version - old_version <= kPatchThreshold && !e.patchURL.empty()) e.url = e.patchURL;
    return Decision::kInstall;
  }
  if (context.Settings().delete_zip_file) return Decision::kSkip;
  return (marked || RegistryLocalCheck(context, e) == 0) ? Decision::kInstall : Decision::kSkip;
}

void RecordVersion(RunContext& context, const ContentEntry& e) {
  const std::string key = RecordKeyOf(e.name);
  PrivilegedOps& ops = context.Privileged();
  const int ok = ops.WriteRegString(os::HKEY_LOCAL_MACHINE, key, "ver", e.ver);
  // The direct write logs its own lines; the broker's is reported here.
  if (!ops.Brokered()) return;
  if (ok) {
    Log(context, " " + key + " ver " + e.ver + " Registry Update Success.", 0);
  } else {
    Log(context, " " + key + " ver " + e.ver + " Registry Write Failed!! Check Registry setting.",
        2);
  }
}

// Steps 7 and 8: folders, download, the action. False ends the run.
bool Install(RunContext& context, ContentEntry e) {
  if (e.type == "alwaysSetREG") e.type = "reg";
  std::string lower_target = AnsiLowerKeepingTrailBytes(e.target);
  const FolderSymbol* symbol = ReplaceFirstFolderSymbol(&lower_target, context.Folders());
  if (symbol != nullptr) e.target = AnsiLowerKeepingTrailBytes(lower_target);
  if (symbol == nullptr || std::string(symbol->symbol) == "{program}") {
    CreateDirectories(context, e.target, os::TRUE);
  }
  e.type = AnsiLowerKeepingTrailBytes(e.type);
  const std::string file_name = LastPathSegment(e.url);
  const std::string local = e.target + "\\" + file_name;
  if (e.url.find("ico") != std::string::npos || e.url.find("dll") != std::string::npos) {
    context.State().icon_source = local;
  }
  if (!IsLinkType(e.type)) {
    // A name that is no plain file name would put the file outside its folder.
    const os::LONG got = os::IsPlainFileName(file_name)
                             ? DownloadEntryFile(context, e.url, local, e.type, 1, 1)
                             : 0;
    if (got == -1) return true;  // skipped by the user at the file-in-use prompt
    if (got == 0) {
      Log(context, " " + local + " is not copyed !!!", 1);
      return false;
    }
  }
  if (e.type == "exe" || e.type == "zip" || e.type == "reg" || e.type == "makeprogramlnk") {
    return InstallByType(context, e, local) != 0;
  }
  if (e.type == "makeinternetlnk") {
    e.target = os::Utf8ToAnsi(kInternetLinkIcon);
    return InstallByType(context, e, local) != 0;
  }
  Log(context, " Type is not specified in config.xml, just copied ", 0);
  return true;
}

}  // namespace

std::string RecordKeyOf(const std::string& name) {
  return "SOFTWARE\\Veltrane\\Plo\\Config\\" + name;
}

std::string AnsiLowerKeepingTrailBytes(const std::string& text) {
  std::string out = text;
  const bool dbcs = os::GetACP() == os::CP_KOREAN;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    if (dbcs && c >= 0x81 && c <= 0xFE) {
      ++i;  // the trail byte
      continue;
    }
    out[i] = os::AsciiLower(out[i]);
  }
  return out;
}

int RegistryLocalCheck(RunContext& context, const ContentEntry& entry) {
  std::string folder = AnsiLowerKeepingTrailBytes(entry.target);
  ReplaceFirstFolderSymbol(&folder, context.Folders());
  const std::string path = folder + "\\" + LastPathSegment(entry.url);
  if (entry.url.find("ico") != std::string::npos || entry.url.find("dll") != std::string::npos) {
    context.State().icon_source = path;
  }
  if (IsLinkType(AnsiLowerKeepingTrailBytes(entry.type))) return 1;
  return os::GetFileAttributesA(path) != os::INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

os::BOOL ParseByRegistry(RunContext& context, const std::string& path, const std::string* content) {
  std::vector<ContentEntry> entries;
  std::string message;
  if (!LoadRegistryConfig(path, &entries, &message, content)) {
    Log(context, " XML load error " + message, 2);
    return os::FALSE;
  }
  Log(context, " XML load success. ", 0);
  try {
    for (ContentEntry& e : entries) {
      if (e.name.empty()) continue;
      if (e.name == "AlwaysSetREG") {
        if (!WriteRegistryValue(context, e.regRoot, e.regTo, e.attrName, e.toSetVer,
                                e.regMode == "number")) {
          Log(context, " Failed Alway registry write!", 2);
          context.ShowMessage("ailed registry write!");
        }
        continue;
      }
      if (Decide(context, e) == Decision::kSkip) continue;
      if (!Install(context, e)) return os::FALSE;
      RecordVersion(context, e);
    }
  } catch (const RunError& e) {
    Log(context, std::string(" ") + e.what(), 2);
    return os::FALSE;
  } catch (const os::ComError& e) {
    context.ReportComError(e, kSource);
  }
  return os::TRUE;
}

}  // namespace pelisto
