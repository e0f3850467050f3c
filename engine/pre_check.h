// The pre-check: a small text file published beside the configuration, downloaded and
// compared with the copy kept from before, so that an unchanged configuration is not fetched.
//
// On the control's thread. Every outcome is a log line; nothing here shows a box.
#pragma once

#include <string>

#include "control/run_context.h"
#include "os/base/types.h"

namespace pelisto {

// The pre-check work folder: configDir + "\pold", configDir taken as it stands (no symbol
// replaced, an empty one gives "\pold"); its levels are made each time.
std::string GetWorkDir(RunContext& context);

// Where the pre-check file of `check_url` is downloaded: `folder` + "\" + the address's last
// segment, or, where the privileged steps go to the broker, the writable folder +
// "\Veltrane\pold" + "\" + that segment.
std::string PreCheckFilePath(RunContext& context, const std::string& folder,
                             const std::string& check_url);

// Downloads `check_url` without a dialog and compares it with the stored copy (the
// downloaded path + ".old"). TRUE only when both have the same content. Sets
// State().pre_check_state: 1 download failed, 2 no stored copy, else ComparePreCheckFile's;
// a failed protected-mode folder resolution returns FALSE leaving it as it was.
os::BOOL GetPreCheck(RunContext& context, const std::string& check_url,
                     const std::string& file_type);

// Compares the stored copy `old_path` with the new file `new_path` as texts that end at
// their first zero byte (or the end of the file), case-sensitively; only "TEXTFILE" (any
// case) is supported. Sets State().pre_check_state (0 an answer or an unsupported type,
// 3 a file could not be opened, 4 no buffer). Reads in constant memory, however large the
// files are.
os::BOOL ComparePreCheckFile(RunContext& context, const std::string& old_path,
                             const std::string& new_path, const std::string& file_type);

// After a successful update: the downloaded pre-check file of `check_url` (at
// PreCheckFilePath) becomes the stored copy, its path + "." + `ext`, replacing an older one.
// TRUE when the downloaded file was there.
os::BOOL UpdateConfigFile(RunContext& context, const std::string& check_url,
                          const std::string& folder, const std::string& ext);

}  // namespace pelisto
