#include "control/bind_status_callback.h"

#include "control/pelisto_ctrl.h"
#include "os/com/hresult.h"

namespace pelisto {

os::HRESULT CCallback::QueryInterface(const os::IID&, void** out) {
  if (out != nullptr) *out = nullptr;
  return os::E_NOTIMPL;
}

os::HRESULT CCallback::OnStartBinding(os::DWORD, os::IBinding*) { return os::E_NOTIMPL; }
os::HRESULT CCallback::GetPriority(os::LONG*) { return os::E_NOTIMPL; }
os::HRESULT CCallback::OnLowResource(os::DWORD) { return os::E_NOTIMPL; }

os::HRESULT CCallback::OnProgress(os::ULONG progress, os::ULONG progress_max, os::ULONG status_code,
                                  const char16_t*) {
  if (control_ == nullptr) return os::S_OK;
  const os::LONG cancel = control_->FireDownloadProgress(static_cast<os::LONG>(progress),
                                                         static_cast<os::LONG>(progress_max),
                                                         static_cast<os::LONG>(status_code));
  if (cancel != 1) return os::S_OK;
  control_->WriteLog(control_->GetLogTime() + " OnProgress User Cancel..", 1);
  return os::E_ABORT;
}

os::HRESULT CCallback::OnStopBinding(os::HRESULT, const char16_t*) { return os::E_NOTIMPL; }
os::HRESULT CCallback::GetBindInfo(os::DWORD*, void*) { return os::E_NOTIMPL; }
os::HRESULT CCallback::OnDataAvailable(os::DWORD, os::DWORD, void*, void*) { return os::E_NOTIMPL; }
os::HRESULT CCallback::OnObjectAvailable(const os::IID&, os::IUnknown*) { return os::E_NOTIMPL; }

}  // namespace pelisto
