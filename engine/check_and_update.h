// checkAndUpdate: the pre-check first; when nothing changed the stored configuration is
// walked again (entries missing on the machine are reinstalled without fetching the
// configuration), otherwise a full getConfig run. With configPublicKey set the stored
// configuration is never walked: only a getConfig run checks a signature.
#pragma once

#include <functional>
#include <string>

#include "control/run_context.h"
#include "os/base/types.h"

namespace pelisto {

// The control's getConfig, address resolution included.
using GetConfigCall = std::function<os::BOOL(const std::string& url)>;

// The pre-check address is `config_url` + "." + `ext`. TRUE when the chosen path succeeded
// and, unless the pre-check file could not be downloaded, it became the stored pre-check copy.
os::BOOL CheckAndUpdate(RunContext& context, const std::string& config_url,
                        const std::string& ext, const std::string& file_type,
                        const GetConfigCall& get_config);

}  // namespace pelisto
