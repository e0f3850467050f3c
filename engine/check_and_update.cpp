#include "engine/check_and_update.h"

#include "engine/config_address.h"
#include "engine/pre_check.h"
#include "engine/start_parse.h"
#include "os/fs/file_api.h"

namespace pelisto {
namespace {

void Log(RunContext& context, const std::string& text, unsigned level) {
  context.WriteLog(context.GetLogTime() + text, level);
}

}  // namespace

os::BOOL CheckAndUpdate(RunContext& context, const std::string& config_url,
                        const std::string& ext, const std::string& file_type,
                        const GetConfigCall& get_config) {
  const std::string check_url = config_url + "." + ext;
  const os::BOOL unchanged = GetPreCheck(context, check_url, file_type);
  const int pre_check_state = context.State().pre_check_state;
  const std::string folder = GetWorkDir(context);
  const std::string copy = folder + "\\" + LastPathSegment(config_url) + ".old";

  // The stored copy there is no document this run downloaded, so no signature stands for it:
  // with the publisher's key set, only a full run with its check installs anything.
  const bool signed_only = !context.Settings().config_public_key.empty();
  const bool stored_unchanged = unchanged && os::FileExists(copy);
  if (stored_unchanged && signed_only) {
    Log(context, " Stored configuration not walked without its signature: " + copy, 0);
  }
  if (stored_unchanged && !signed_only) {
    const ControlSettings& s = context.Settings();
    const bool dialog = s.self_ui && s.dlg_not_close;
    if (dialog) context.StartStatusDialog();
    os::BOOL result = os::FALSE;
    try {
      result = StartParse(context, copy, copy, 1, 0);
    } catch (...) {
      if (dialog) context.CloseStatusDialog();
      throw;
    }
    if (dialog) context.CloseStatusDialog();
    if (!result) {
      Log(context, "Failed CheckAndUpdate !!! ", 1);
      return os::FALSE;
    }
    if (!UpdateConfigFile(context, check_url, folder, "old")) {
      Log(context, "Failed UpdateConfigFile " + check_url, 2);
      Log(context, "Failed CheckAndUpdate !!! ", 1);
      return os::FALSE;
    }
    Log(context, "Success CheckAndUpdate ", 0);
    return os::TRUE;
  }

  if (!get_config(config_url)) return os::FALSE;
  if (pre_check_state == 1) return os::TRUE;
  if (!UpdateConfigFile(context, check_url, folder, "old")) {
    Log(context, "Failed UpdateConfigFile " + check_url, 2);
    return os::FALSE;
  }
  return os::TRUE;
}

}  // namespace pelisto
