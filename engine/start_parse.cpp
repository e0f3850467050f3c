#include "engine/start_parse.h"

#include "actions/content_check.h"
#include "actions/create_directories.h"
#include "actions/fetch_content_file.h"
#include "actions/install_by_type.h"
#include "engine/content_entry.h"
#include "engine/stored_copy.h"
#include "os/base/text.h"
#include "os/com/com_error.h"
#include "os/com/hresult.h"
#include "os/fs/file_api.h"
#include "platform/xml_document_wrapper.h"

namespace pelisto {
namespace {

constexpr char kSource[] = "CPelistoCtrl::StartParse";

void Log(RunContext& context, const std::string& text, unsigned level) {
  context.WriteLog(context.GetLogTime() + text, level);
}

bool IsLinkType(const std::string& type) {
  return os::EqualsIgnoreCase(type, "makeinternetlnk") ||
         os::EqualsIgnoreCase(type, "makeprogramlnk");
}

// A document that loaded, from `content` when given, else from `path`; a DOM failure while
// loading counts as not loading.
bool LoadDocument(IXMLDocumentWrapper* document, const std::string& path, const std::string* content = nullptr) {
  try {
    return os::SUCCEEDED(document->Create()) &&
           (content != nullptr ? document->LoadBytes(*content) : document->Load(path));
  } catch (const os::ComError&) {
    return false;
  }
}

// The walk. Returns false when an install failed and the run stops without a stored copy.
bool WalkEntries(RunContext& context, const IXMLDocumentWrapper& stored, bool stored_exists,
                 IXMLDocumentWrapper& current, int check_local, int check_version) {
  const os::LONG count = current.CountContentNodes();
  if (count == 0) return true;
  context.NotifyTotalDownloadFileNumber(count);
  current.InitIteration();
  for (IXMLNodeWrapper node = current.GetNextNode(); !node.IsEmpty();
       node = current.GetNextNode()) {
    ContentEntry entry;
    if (!CheckContentEntry(context, stored, node, stored_exists, &entry, check_local != 0,
                           check_version != 0)) {
      continue;
    }
    if (!IsDirectory(entry.target)) {
      CreateDirectories(context, entry.target, os::TRUE);
    } else {
      Log(context, " Exist Directory " + entry.target, 0);
    }
    std::string local;
    if (!IsLinkType(entry.type)) {
      local = FetchContentFile(context, entry, ReadContentHash(node));
      if (local.empty()) continue;
    }
    if (!InstallByType(context, entry, local)) return false;
  }
  return true;
}

}  // namespace

os::BOOL StartParse(RunContext& context, const std::string& old_path,
                    const std::string& new_path, int check_local, int check_version,
                    const std::string* new_content) {
  const bool stored_exists = os::FileExists(old_path);
  if (!os::FileExists(new_path)) {
    Log(context, " Current ConfigFile not Exist!!", 2);
    return os::FALSE;
  }
  IXMLDocumentWrapper stored;
  if (stored_exists && !LoadDocument(&stored, old_path)) {
    Log(context, "  old XML load error ", 2);
    return os::FALSE;
  }
  IXMLDocumentWrapper current;
  if (!LoadDocument(&current, new_path, new_content)) {
    Log(context, "  current XML load error ", 2);
    return os::FALSE;
  }

  try {
    if (!WalkEntries(context, stored, stored_exists, current, check_local, check_version)) {
      return os::FALSE;
    }
  } catch (const RunError& e) {
    Log(context, std::string(" ") + e.what(), 2);
    return os::FALSE;
  } catch (const os::ComError& e) {
    context.ReportComError(e, kSource);
  }

  try {
    if (!WriteStoredCopy(context, current, new_path + ".old")) {
      Log(context, " " + new_path + ".old is not copyed!!!", 2);
      return os::FALSE;
    }
  } catch (const os::ComError& e) {
    context.ReportComError(e, kSource);
  }
  return os::TRUE;
}

}  // namespace pelisto
