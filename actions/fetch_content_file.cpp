#include "actions/fetch_content_file.h"

#include "download/content_hash.h"
#include "download/download_step.h"
#include "os/base/text.h"
#include "os/image/win_path.h"

namespace pelisto {
namespace {

void Log(RunContext& context, const std::string& text) {
  context.WriteLog(context.GetLogTime() + text, 2);
}

// The entry's file is not there to install: the run ends, or the entry is skipped.
std::string Failed(RunContext& context, const std::string& local) {
  const std::string text = local + " is not copyed!!!";
  if (context.Settings().stop_not_find_content) throw RunError(text);
  context.WriteLog(text, 2);
  return std::string();
}

}  // namespace

std::string ContentLocalPath(const ContentEntry& entry, std::string* file_name) {
  const std::size_t slash = entry.url.rfind('/');
  std::string name = slash == std::string::npos ? entry.url : entry.url.substr(slash + 1);
  std::string local = entry.target + "\\" + name;
  if (file_name != nullptr) *file_name = std::move(name);
  return local;
}

std::string FetchContentFile(RunContext& context, const ContentEntry& entry, const std::string& sha256) {
  std::string file_name;
  const std::string local = ContentLocalPath(entry, &file_name);
  if (!sha256.empty() && !IsSha256Text(sha256)) {
    Log(context, " Malformed content hash '" + sha256 + "' of " + entry.name);
    return Failed(context, local);
  }
  if (!os::IsPlainFileName(file_name)) {
    Log(context, " Content file name is not a file name '" + file_name + "'");
    return Failed(context, local);
  }
  ContentCheck check(sha256);
  const os::LONG result =
      DownloadEntryFile(context, entry.url, local, entry.type, context.Settings().self_ui, 1, &check);
  if (result == -1) return std::string();
  // A step that placed the file without the check leaves it to be checked where it is. From
  // Windows 6 on the work file was in a folder that low-integrity processes write, so what the
  // broker placed is checked again where it is: a file swapped after the check goes again.
  if (result == 1 && (!check.Checked() || context.Privileged().Brokered()) && !check.Accepts(local)) {
    context.Privileged().DeleteFile(local);
  }
  if (check.Refused()) {
    Log(context, " Content hash mismatch '" + local + "' expected " + sha256 + " actual " +
                     (check.Actual().empty() ? std::string("unreadable") : check.Actual()));
    return Failed(context, local);
  }
  if (result == 0) return Failed(context, local);
  return local;
}

}  // namespace pelisto
