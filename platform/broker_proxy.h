// The IFileManager the control holds on Windows 6 and later: a proxy that carries each call
// to the pelisto-broker process over the channel it was started with, where the elevated
// implementation answers it (broker/).
//
// Thread safety: a proxy may be called from any thread; calls are serialised on its one
// channel, so a call waits for the one before it. Each call gets its answer within the image's
// broker_timeout_ms or fails with RPC_E_TIMEOUT; the broker is then killed, so a late answer
// can never be taken for the next call's. A broker that dies, or answers against the
// protocol, fails that call with RPC_E_DISCONNECTED; from then on the proxy is gone: every
// call fails at once with RPC_E_DISCONNECTED and IsBrokerGone reports it, so GetBroker starts
// a new broker. The last Release ends the channel, which ends the broker.
#pragma once

#include "os/base/handle.h"
#include "os/base/types.h"
#include "os/com/unknown.h"
#include "platform/file_manager.h"

namespace pelisto {

// What a proxy tells about its connection, besides IFileManager.
class IBrokerConnection : public os::IUnknown {
 public:
  // {5B0E2A6D-8C1F-4B7E-9A3D-2F6C4E8B1D07}
  static constexpr os::IID kIid{
      0x5B0E2A6D, 0x8C1F, 0x4B7E, {0x9A, 0x3D, 0x2F, 0x6C, 0x4E, 0x8B, 0x1D, 0x07}};

  // False once the broker is gone (see above).
  virtual bool IsConnected() = 0;
  // The started process (the elevation command's, when one is set); owned by the proxy and
  // valid for its life. It may be waited for, or terminated to end the broker.
  virtual os::HANDLE ProcessHandle() = 0;
  // The process id the broker reported when it started.
  virtual os::DWORD BrokerProcessId() = 0;

 protected:
  ~IBrokerConnection() = default;
};

// Starts pelisto-broker for the current machine and connects a proxy to it. The program is
// the image's `broker` setting or pelisto-broker beside the running program; it is started
// through the image's `elevation_command` when one is set, and must report ready within
// broker_timeout_ms. On success stores a referenced proxy in *out and returns S_OK; otherwise
// *out is null and the result is CO_E_SERVER_EXEC_FAILURE (no current machine, the broker ended
// or answered wrongly before it was ready, for example because the elevation command refused),
// HRESULT_FROM_WIN32 of the start's error (ERROR_FILE_NOT_FOUND: no such program), or
// RPC_E_TIMEOUT (not ready in time; the process is killed).
os::HRESULT StartBrokerProcess(IFileManager** out);

// True when `broker` is a proxy whose broker is gone; false for a live proxy, a null pointer
// and any other IFileManager.
bool IsBrokerGone(IFileManager* broker);

}  // namespace pelisto
