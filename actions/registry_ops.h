// Registry values that content entries set, and the reads the control makes for itself:
// the text names of the root keys, one value written (text or number, the key created when
// missing), and text and number reads, with their update log lines.
//
// Runs on the control's thread. Writes for a content entry (WriteRegistryValue) go through
// the run's privileged steps (the elevated broker from Windows 6 on); WriteRegistryString /
// WriteRegistryNumber and the reads always call the image's registry directly, with the
// calling thread's token.
#pragma once

#include <string>

#include "control/run_context.h"
#include "os/base/types.h"
#include "os/reg/registry.h"

namespace pelisto {

// The root key a configuration names in `regRoot`: "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
// "HKEY_LOCAL_MACHINE", "HKEY_USERS", "HKEY_CURRENT_CONFIG" in any case. Any other text
// (abbreviations such as "HKCU" included) gives HKEY_LOCAL_MACHINE.
os::HKEY WriteRootFromName(const std::string& root_name);
// The same names for reads; any other text gives no key (null), so the read that follows
// finds nothing.
os::HKEY RootKeyFromName(const std::string& root_name);

// 0 for "STRING", 1 for "NUMBER" (any case), 2 for anything else.
int ValueTypeFromName(const std::string& type_name);

// True exactly when a content entry's `regMode` is "number" (case matters: "Number" is a
// text value).
bool NumberModeFromRegMode(const std::string& reg_mode);

// Writes `data` as the value `value_name` of `key_path` below the root `root_name` names
// (WriteRootFromName): with `number_mode` a REG_DWORD of the number `data` begins with
// (leading blanks and a sign, then decimal digits up to the first other character; 0 without
// digits; saturated at the 32-bit limits), else a REG_SZ. Through context.Privileged(): from
// Windows 6 on the broker (no log line here), before WriteRegistryNumber /
// WriteRegistryString. 1 when written, 0 otherwise.
int WriteRegistryValue(RunContext& context, const std::string& root_name,
                       const std::string& key_path, const std::string& value_name,
                       const std::string& data, bool number_mode);

// Opens `key_path` below `root` for all access, creating every missing level when it does not
// exist, and sets the value (REG_SZ stored with its terminating zero; REG_DWORD). Logs
// "<time> <key> <name> <data> Registry Update Success." [0] for a key that existed,
// "... Registry Create Success." [0] for a created one, and
// "... Registry Write Failed!! Check Regsity setting." [2] when the key can be neither opened
// nor created or the value cannot be set. 1 when the value was set, else 0.
int WriteRegistryString(RunContext& context, os::HKEY root, const std::string& key_path,
                        const std::string& value_name, const std::string& data);
int WriteRegistryNumber(RunContext& context, os::HKEY root, const std::string& key_path,
                        const std::string& value_name, os::LONG number);

// By ValueTypeFromName(type_name): ReadRegistryString, the decimal text of
// ReadRegistryNumber ("-1" when absent), or for any other type the empty text without a
// look at the registry.
std::string ReadRegistryValue(RunContext& context, const std::string& root_name,
                              const std::string& key_path, const std::string& value_name,
                              const std::string& type_name);

// The value's bytes as text, up to its first zero byte and never beyond its stored size,
// whatever its type; empty when the key or value is missing or cannot be read. No log.
std::string ReadRegistryString(os::HKEY root, const std::string& key_path,
                               const std::string& value_name);

// The value as a 32-bit number. Logs "<time> <key> <name> <number> Registry long data read
// success." [0]; -1 with "<time> <key> <name> Registry long data did not exist. " [2] when
// the value is missing or longer than 4 bytes; -1 without a line when the key cannot be
// opened.
os::LONG ReadRegistryNumber(RunContext& context, os::HKEY root, const std::string& key_path,
                            const std::string& value_name);

}  // namespace pelisto
