// The version of the browser that hosts the control, as the browser records it in the
// machine-wide registry: the text value "IE" of "SOFTWARE\Microsoft\Internet Explorer\Version
// Vector" under HKEY_LOCAL_MACHINE. Its leading number is the version ("7.0000" is 7.0); a
// missing or unreadable value is 0.
#pragma once

#include <string>

#include "control/run_context.h"

namespace pelisto {

inline constexpr char kBrowserVersionKey[] =
    "SOFTWARE\\Microsoft\\Internet Explorer\\Version Vector";
inline constexpr char kBrowserVersionValue[] = "IE";

// The leading decimal number of `text` (blanks skipped, as strtod reads it); 0 without one.
double BrowserVersionFromText(const std::string& text);

// Read through the privileged steps (the broker's registry read from Windows 6 on): the
// transfers' reading.
double ReadBrowserVersion(PrivilegedOps& privileged);

// Read directly from the registry with the calling thread's token: the window methods'
// reading, which must not start the broker.
double ReadBrowserVersionDirect(RunContext& context);

}  // namespace pelisto
