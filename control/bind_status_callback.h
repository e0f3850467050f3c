// CCallback: the control's URL-moniker bind-status callback. It turns a binding's progress
// into the page's DownloadProgress event, and a page that answers 1 into an aborted binding
// (" OnProgress User Cancel.." in the log, E_ABORT).
//
// The control owns it for its whole life (it is not reference counted: AddRef and Release
// answer 0 and change nothing, QueryInterface answers E_NOTIMPL). No transfer hands it to a
// binding today, so no download fires DownloadProgress; it stays for bindings that want one.
// Called on the control's thread.
#pragma once

#include "os/inet/bind_status_callback.h"

namespace pelisto {

class CPelistoCtrl;

class CCallback final : public os::IBindStatusCallback {
 public:
  explicit CCallback(CPelistoCtrl* control) : control_(control) {}

  os::HRESULT QueryInterface(const os::IID& iid, void** out) override;
  os::ULONG AddRef() override { return 0; }
  os::ULONG Release() override { return 0; }
  os::HRESULT OnStartBinding(os::DWORD reserved, os::IBinding* binding) override;
  os::HRESULT GetPriority(os::LONG* priority) override;
  os::HRESULT OnLowResource(os::DWORD reserved) override;
  // S_OK without a control; otherwise fires DownloadProgress (progress, maximum, status) and
  // answers E_ABORT when the page sets pCancel to exactly 1.
  os::HRESULT OnProgress(os::ULONG progress, os::ULONG progress_max, os::ULONG status_code,
                         const char16_t* status_text) override;
  os::HRESULT OnStopBinding(os::HRESULT result, const char16_t* error) override;
  os::HRESULT GetBindInfo(os::DWORD* bind_flags, void* bind_info) override;
  os::HRESULT OnDataAvailable(os::DWORD flags, os::DWORD size, void* format, void* medium) override;
  os::HRESULT OnObjectAvailable(const os::IID& iid, os::IUnknown* object) override;

 private:
  CPelistoCtrl* control_;
};

}  // namespace pelisto
