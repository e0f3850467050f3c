#include "actions/content_check.h"

#include "actions/registration.h"
#include "actions/registry_ops.h"
#include "actions/relative_url.h"
#include "download/starter_download.h"
#include "engine/folder_symbols.h"
#include "engine/version_check.h"
#include "os/base/text.h"
#include "os/fs/file_api.h"
#include "os/ui/message_box.h"
#include "os/ui/message_queue.h"
#include "os/ui/messages.h"
#include "platform/xml_availability.h"
#include "platform/xml_document_wrapper.h"
#include "platform/xml_node_wrapper.h"

namespace pelisto {
namespace {

void Log(RunContext& context, const std::string& text, unsigned level = 0) {
  context.WriteLog(context.GetLogTime() + text, level);
}

// The status dialog's thread sends to this one; what is queued is served before the entry.
void DrainMessages() {
  os::MSG msg;
  while (os::PeekMessageA(&msg, nullptr, 0, 0, os::PM_REMOVE)) {
    os::TranslateMessage(&msg);
    os::DispatchMessageA(&msg);
  }
}

bool IsLinkType(const std::string& type) {
  return os::EqualsIgnoreCase(type, "makeprogramlnk") || os::EqualsIgnoreCase(type, "makeinternetlnk");
}

}  // namespace

void FireIsDownload(RunContext& context, os::LONG code, const std::string& name) {
  context.NotifyIsDownload(code, name);
}

int CheckContentEntry(RunContext& context, const IXMLDocumentWrapper& stored,
                      IXMLNodeWrapper& element, bool stored_exists, ContentEntry* entry,
                      bool check_local, bool check_version) {
  const ControlSettings& settings = context.Settings();
  if (settings.self_ui && settings.dlg_not_close) DrainMessages();

  ReadContentEntry(element, entry);
  const std::string url_as_read = entry->url;
  ExpandEntryLocations(context, entry);
  ExpandFolderSymbols(context, &entry->url);
  bool bad_form = false;
  entry->url = ResolveRelativeUrl(entry->url, context.State().config_url, &bad_form);
  if (bad_form) os::MessageBoxA(nullptr, "URL error!", "Pelisto", os::MB_OK);

  const std::string& name = entry->name;
  const std::string local = entry->target + "\\" + name;
  if (name.find("msxml4") != std::string::npos) {
    if (IsMsxml4Available()) {
      Log(context, " Installed msxml .. download cancel ");
      FireIsDownload(context, CHECK_INSTALLED, name);
      return 0;
    }
    Log(context, " Not Installed msxml .. download ");
    FireIsDownload(context, DOWNLOADING, name);
    return 1;
  }
  if (os::EqualsIgnoreCase(name, "AlwaysSetREG")) {
    FireIsDownload(context, WRITE_REGISTRY, name);
    ExpandFolderSymbols(context, &entry->toSetVer);
    if (WriteRegistryValue(context, entry->regRoot, entry->regTo, entry->attrName, entry->toSetVer,
                           NumberModeFromRegMode(entry->regMode)) == 0) {
      Log(context, " Failed Registry Write ", 2);
    } else {
      Log(context, " Success Registry Write ");
    }
    return 0;
  }
  if (os::EqualsIgnoreCase(entry->type, "unreg")) {
    FireIsDownload(context, DELETE_REGISTRY, name);
    UnregisterComponent(context, local);
    return 0;
  }
  if (os::EqualsIgnoreCase(entry->type, "delete")) {
    FireIsDownload(context, DELETE_FILE, name);
    if (context.Privileged().DeleteFile(local) != 1) {
      Log(context, " Failed Delete File.. The file does not exist or is in use");
    } else {
      Log(context, " Success delete file");
    }
    return 0;
  }
  if (!stored_exists) {
    Log(context, " Not Exist old config Flle");
    FireIsDownload(context, DOWNLOADING, name);
    return 1;
  }
  if (IsLinkType(entry->type)) {
    Log(context, " " + entry->type);
    FireIsDownload(context, MAKE_LINK, name);
    return 1;
  }
  if (check_local && os::GetFileAttributesA(local) == os::INVALID_FILE_ATTRIBUTES) {
    Log(context, " Not Exist Loccal File " + local, 1);
    FireIsDownload(context, DOWNLOADING, name);
    return 1;
  }
  if (check_version) {
    if (CheckVersion(stored, url_as_read, entry->ver, element) == 0) {
      Log(context, " Differnt Version " + entry->ver + " " + name);
      FireIsDownload(context, DOWNLOADING, name);
      return 1;
    }
    FireIsDownload(context, VERSION_CHECKING, name);
    Log(context, " Equal Version " + entry->ver + " " + name);
    return 0;
  }
  if (check_local) {
    FireIsDownload(context, LOCAL_FILE_CHECKING, name);
    Log(context, " Exist Local " + entry->ver + " " + name);
  }
  return 0;
}

}  // namespace pelisto
