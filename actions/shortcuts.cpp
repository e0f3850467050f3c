#include "actions/shortcuts.h"

#include "os/image/win_path.h"
#include "os/ui/message_box.h"
#include "platform/shell_shortcuts.h"

namespace pelisto {
namespace {

// The texts of one kind of shortcut.
struct ShortcutTexts {
  const char* start;
  const char* end;
  const char* message;
  const char* failed;
};

constexpr ShortcutTexts kProgramLinkTexts{" Start create shortcut - ", " End create shortcut - ",
                                          "Do not creat desktop shortcut!",
                                          " Do not creat desktop shortcut! '"};
constexpr ShortcutTexts kInternetLinkTexts{
    " Start create internet shortcut - ", " End create internet shortcut - ",
    "Do not creat desktop internet Link!", " Do not creat desktop internet link! '"};

// Runs `create` for the shortcut at `path` between its start and end lines; a name that would
// put the shortcut anywhere but directly on the desktop is not handed on.
template <typename Create>
void MakeShortcut(RunContext& context, const ShortcutTexts& texts, const std::string& lnk_name,
                  const std::string& path, Create create) {
  context.WriteLog(context.GetLogTime() + texts.start + path, 0);
  bool made = false;
  if (!os::IsPlainFileName(lnk_name)) {
    context.WriteLog(context.GetLogTime() + " Shortcut name is not a file name '" + lnk_name + "'", 2);
  } else {
    made = create() == 0;
  }
  if (!made) {
    context.ShowMessage(texts.message);
    context.WriteLog(context.GetLogTime() + texts.failed + path + "'", 2);
  }
  context.WriteLog(context.GetLogTime() + texts.end + path, 0);
}

}  // namespace

os::HRESULT CreateShellLink(const std::string& target, const std::string& link,
                            const std::string& description, const std::string& icon,
                            const std::string& arguments) {
  bool save_failed = false;
  const os::HRESULT hr = WriteShellLink(target, link, description, icon, arguments, &save_failed);
  if (save_failed) os::MessageBoxA(nullptr, "IPersistFile->Save() Error", "Error", os::MB_OK);
  return hr;
}

os::HRESULT CreateInternetShortcut(const std::string& url, const std::string& path,
                                   const std::string& description, const std::string& icon,
                                   os::LONG icon_index) {
  return WriteInternetShortcut(url, path, description, icon, icon_index);
}

void MakeProgramLink(RunContext& context, const ContentEntry& entry) {
  const std::string link = context.Folders().desktop + "\\" + entry.lnkName;
  MakeShortcut(context, kProgramLinkTexts, entry.lnkName, link, [&] {
    return context.Privileged().CreateShellLink(entry.url, link, entry.lnkName, entry.target,
                                                entry.argument);
  });
}

void MakeInternetLink(RunContext& context, const ContentEntry& entry) {
  const std::string path = context.Folders().desktop + "\\" + entry.lnkName + ".url";
  const std::string icon = entry.target.empty() ? context.State().icon_source : entry.target;
  MakeShortcut(context, kInternetLinkTexts, entry.lnkName, path, [&] {
    return context.Privileged().CreateInternetShortcut(entry.url, path, entry.lnkName, icon, 0);
  });
}

}  // namespace pelisto
