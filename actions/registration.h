// Registering and unregistering the in-process components that content entries install:
// the in-process mechanism (CRegSvr32) and the operations the install steps call.
//
// All of it runs on the control's thread. Before Windows 6 a component is loaded into the
// control's own process; a component that faults in its entry point takes that process
// down, which nothing in-process can prevent. From Windows 6 on RegisterComponent,
// UnregisterComponent and RegisterIfComponent hand the path to the elevated broker and never
// load the component here; a broker that fails or goes away mid-call is a failed
// registration, and the run goes on.
#pragma once

#include <string>

#include "control/run_context.h"

namespace pelisto {

// Loads the component into the calling process, calls its self-registration entry point and
// frees it again, with OLE initialised around the call (platform/self_registration.h).
// 1 on success; 0 when OLE cannot be initialised on the thread, the library cannot be
// loaded, the entry point is missing or it returns a negative result.
class CRegSvr32 {
 public:
  CRegSvr32() = default;
  virtual ~CRegSvr32() = default;
  CRegSvr32(const CRegSvr32&) = delete;
  CRegSvr32& operator=(const CRegSvr32&) = delete;

  int Register(const std::string& path);
  int Unregister(const std::string& path);
};

// Registers `path` through context.Privileged() (the broker on Windows 6 and later, else
// CRegSvr32) between the log lines " Start regsvr32 - " and " End regsvr32 - "; a failure
// shows "<path>:regsvr32 failed... Try Again and Check log file" (ShowMessage) and logs
// " <path> dll/ocx set registry failed !!!" [1]. Nothing is returned: the run goes on.
void RegisterComponent(RunContext& context, const std::string& path);
// The same with " Start Unregsvr32 - ", "unregsvr32 failed... Try Again and Check log file",
// " dll/ocx delete registry failed !!!" and " End Unregsvr32 - ".
void UnregisterComponent(RunContext& context, const std::string& path);

// For each member a zip extraction writes: -1 for an empty path or one whose last three
// characters, lower-cased, are neither "ocx" nor "dll". Otherwise before Windows 6 the
// result of CRegSvr32::Register (1 or 0); from Windows 6 on 1 when the broker, fetched from
// the global interface table, registered it, -1 when there is no broker yet or it failed.
// Writes no log line. Through context.Privileged().RegisterExtractedComponent.
int RegisterIfComponent(RunContext& context, const std::string& path);

// The registry-mode run's registration: `target` expanded with the built-in folder symbols
// only (no custom directories, "/" kept), "\" and the part of `url` after its last "/".
// Always CRegSvr32 in the control's process, on every Windows version (from Windows 6 on a
// component that writes machine-wide keys is then refused them and fails). 1 or 0; no log.
int RegisterDownloadedComponent(const RunContext& context, const std::string& url,
                                const std::string& target);

}  // namespace pelisto
