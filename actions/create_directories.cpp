#include "actions/create_directories.h"

#include "os/fs/file_api.h"

namespace pelisto {

os::BOOL IsDirectory(const std::string& path) { return os::IsDirectory(path) ? os::TRUE : os::FALSE; }

void CreateDirectories(RunContext& context, const std::string& path, os::BOOL log) {
  if (log) context.WriteLog(context.GetLogTime() + " Start create directories - " + path, 0);
  std::string made;
  bool drive_part = true;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    if (drive_part) {
      made = part;
      drive_part = false;
      continue;
    }
    made += "\\" + part;
    if (IsDirectory(made)) continue;
    // The folder operation takes an existing file of that name for an existing folder.
    if (context.Privileged().CreateDirectory(made) != 1 || !IsDirectory(made)) {
      const std::string text = "Make [" + made + "] path error!";
      context.WriteLog(context.GetLogTime() + " " + text, 2);
      context.ShowMessage(text);
      return;
    }
  }
  if (log) context.WriteLog(context.GetLogTime() + " End create directories - " + path, 0);
}

}  // namespace pelisto
