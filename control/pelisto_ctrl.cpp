#include "control/pelisto_ctrl.h"

#include <cstdio>
#include <exception>
#include <type_traits>

#include "actions/browser_version.h"
#include "control/class_registration.h"
#include "control/dispatch_table.h"
#include "control/frame_window.h"
#include "control/object_safety.h"
#include "control/page_address.h"
#include "control/style_options.h"
#include "control/system_menu_guard.h"
#include "control/taskbar_placement.h"
#include "control/web_browser_access.h"
#include "download/file_in_use_dlg.h"
#include "engine/check_and_update.h"
#include "engine/config_address.h"
#include "engine/config_update_run.h"
#include "engine/pre_check.h"
#include "os/com/apartment.h"
#include "os/com/com_error.h"
#include "os/com/hresult.h"
#include "os/shell/folders.h"
#include "os/sysinfo/version.h"
#include "os/ui/message_box.h"
#include "os/ui/window.h"
#include "platform/broker_client.h"
#include "resources/resources.h"

namespace pelisto {
namespace {

constexpr char kMessageCaption[] = "Pelisto";
constexpr char kControlWindowClass[] = "PelistoCtrlWindow";

bool MachineIsWindows6() {
  os::OSVERSIONINFOA version;
  return os::GetVersionExA(&version) && version.dwMajorVersion >= 6;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

CPelistoCtrl::CPelistoCtrl(ControlOptions options)
    : options_(std::move(options)),
      status_dialog_(options_.status_dialog ? std::move(options_.status_dialog)
                                            : MakeStatusDialog()),
      windows6_(MachineIsWindows6()),
      privileged_(MakePrivilegedOps(windows6_, *this)),
      log_(settings_, *privileged_, options_.clock,
           [this](const std::string& text) { ShowMessage(text); }) {
  // The settings start at their defaults, but no language is chosen before the first
  // property exchange.
  settings_.language.clear();

  com_initialized_ = os::SUCCEEDED(os::CoInitializeEx(nullptr, os::COINIT_MULTITHREADED));
  os::GetWindowsDirectoryA(&folders_.windows);
  os::GetSystemDirectoryA(&folders_.system);
  os::SHGetFolderPathA(nullptr, os::CSIDL_PROGRAM_FILES, nullptr, 0, &folders_.program_files);
  os::SHGetFolderPathA(nullptr, os::CSIDL_DESKTOP, nullptr, 0, &folders_.desktop);
  folders_.module = FolderOf(ControlModulePath());
}

CPelistoCtrl::~CPelistoCtrl() {
  if (outer_window_ != nullptr && os::IsWindow(outer_window_)) os::DestroyWindow(outer_window_);
  browser_.Reset();
  client_site_.Reset();
  CloseStatusDialog();
  ReleaseBroker();
  if (com_initialized_) os::CoUninitialize();
}

// --- Persistence ------------------------------------------------------------------------------

void CPelistoCtrl::DoPropExchange(PropExchange* px) {
  px->ExchangeVersion(&loaded_version_, kPersistedVersion);
  // The defaults of a page without saved state are those ControlSettings starts with.
  static const ControlSettings kDefaults;
  ControlSettings& s = settings_;
  px->Bool("deleteZipFile", &s.delete_zip_file, kDefaults.delete_zip_file);
  px->Bool("registry", &s.registry, kDefaults.registry);
  px->Bool("enableLog", &s.enable_log, kDefaults.enable_log);
  px->Bool("selfUi", &s.self_ui, kDefaults.self_ui);
  px->Text("configDir", &s.config_dir, kDefaults.config_dir);
  px->Bool("dlgNotClose", &s.dlg_not_close, kDefaults.dlg_not_close);
  px->Bool("hideDownloadCancel", &s.hide_download_cancel, kDefaults.hide_download_cancel);
  px->Bool("stopNotFindContent", &s.stop_not_find_content, kDefaults.stop_not_find_content);
  px->Text("fileinuse_disable", &s.fileinuse_disable, kDefaults.fileinuse_disable);
  px->Text("fileinuse_hidden", &s.fileinuse_hidden, kDefaults.fileinuse_hidden);
  px->Text("language", &s.language, kDefaults.language);
  px->Text("configPublicKey", &s.config_public_key, kDefaults.config_public_key);
  if (px->IsLoading()) {
    CFileInUseDlg::SetButtonLists(settings_.fileinuse_disable, settings_.fileinuse_hidden);
  }
  SetLanguage(settings_.language);
}

void CPelistoCtrl::Load(const PropertyBag& bag) {
  PropertyBag copy = bag;
  PropExchange px(&copy, true);
  DoPropExchange(&px);
  modified_ = false;
}

void CPelistoCtrl::Save(PropertyBag* bag) {
  PropExchange px(bag, false);
  DoPropExchange(&px);
  modified_ = false;
}

void CPelistoCtrl::ResetState() { Load(PropertyBag()); }

// --- Dispatch -------------------------------------------------------------------------------

os::HRESULT CPelistoCtrl::Invoke(os::LONG id, os::WORD flags,
                                 const std::vector<os::Variant>& args, os::Variant* result,
                                 unsigned* arg_error) {
  os::Variant ignored;
  if (result == nullptr) result = &ignored;
  result->Clear();
  try {
    return InvokeMember(id, flags, args, result, arg_error);
  } catch (...) {
    // Methods catch their own failures; this is the last guard of the dispatch layer.
    result->Clear();
    return os::DISP_E_EXCEPTION;
  }
}

os::HRESULT CPelistoCtrl::InvokeMember(os::LONG id, os::WORD flags,
                                       const std::vector<os::Variant>& args,
                                       os::Variant* result, unsigned* arg_error) {
  const DispatchMember* member = FindMember(id);
  if (member == nullptr) return os::DISP_E_MEMBERNOTFOUND;
  if (member->is_property) {
    if (flags & DISPATCH_PROPERTYPUT) {
      if (args.size() != 1) return os::DISP_E_BADPARAMCOUNT;
      os::HRESULT hr = PutProperty(*member, args[0]);
      if (os::FAILED(hr) && arg_error != nullptr) *arg_error = 0;
      return hr;
    }
    if (flags & DISPATCH_PROPERTYGET) {
      if (!args.empty()) return os::DISP_E_BADPARAMCOUNT;
      return GetProperty(*member, result);
    }
    return os::DISP_E_MEMBERNOTFOUND;
  }
  if (!(flags & DISPATCH_METHOD)) return os::DISP_E_MEMBERNOTFOUND;
  size_t required = 0;
  for (const DispatchParam& p : member->params) required += p.optional ? 0 : 1;
  if (args.size() < required || args.size() > member->params.size()) {
    return os::DISP_E_BADPARAMCOUNT;
  }
  std::vector<os::Variant> coerced(member->params.size());
  for (size_t i = 0; i < args.size(); ++i) {
    os::HRESULT hr = CoerceArgument(args[i], member->params[i].type, &coerced[i]);
    if (os::FAILED(hr)) {
      if (arg_error != nullptr) *arg_error = static_cast<unsigned>(i);
      return hr;
    }
  }
  return CallMethod(*member, coerced, result);
}

os::HRESULT CPelistoCtrl::GetProperty(const DispatchMember& member, os::Variant* result) const {
  const ControlSettings& s = settings_;
  switch (member.id) {
    case kDispidDeleteZipFile: *result = os::Variant::Bool(s.delete_zip_file); break;
    case kDispidRegistry: *result = os::Variant::Bool(s.registry); break;
    case kDispidConfigDir: *result = os::Variant::Text(s.config_dir); break;
    case kDispidEnableLog: *result = os::Variant::Bool(s.enable_log); break;
    case kDispidSelfUi: *result = os::Variant::Bool(s.self_ui); break;
    case kDispidDlgNotClose: *result = os::Variant::Bool(s.dlg_not_close); break;
    case kDispidLogLevel: *result = os::Variant::Long(s.log_level); break;
    case kDispidLanguage: *result = os::Variant::Text(s.language); break;
    default: return os::DISP_E_MEMBERNOTFOUND;
  }
  return os::S_OK;
}

os::HRESULT CPelistoCtrl::PutProperty(const DispatchMember& member, const os::Variant& value) {
  os::Variant v;
  os::HRESULT hr = CoerceArgument(value, member.type, &v);
  if (os::FAILED(hr)) return hr;
  // Script sets TRUE as VARIANT_TRUE; the settings keep TRUE (1).
  const os::BOOL flag = v.boolVal() != os::VARIANT_FALSE ? os::TRUE : os::FALSE;
  ControlSettings& s = settings_;
  switch (member.id) {
    case kDispidDeleteZipFile: s.delete_zip_file = flag; break;
    case kDispidRegistry: s.registry = flag; break;
    case kDispidConfigDir: s.config_dir = v.bstrVal(); break;
    case kDispidEnableLog: s.enable_log = flag; break;
    case kDispidSelfUi: s.self_ui = flag; break;
    case kDispidDlgNotClose: s.dlg_not_close = flag; break;
    case kDispidLogLevel: s.log_level = v.lVal(); break;
    // Takes effect at the next property load, which applies the language.
    case kDispidLanguage: s.language = v.bstrVal(); break;
    default: return os::DISP_E_MEMBERNOTFOUND;
  }
  modified_ = true;
  return os::S_OK;
}

os::HRESULT CPelistoCtrl::CallMethod(const DispatchMember& member,
                                     const std::vector<os::Variant>& a, os::Variant* result) {
  auto boolean = [](os::BOOL b) { return os::Variant::Bool(b != os::FALSE); };
  switch (member.id) {
    case kDispidGetConfig: *result = boolean(getConfig(a[0].bstrVal())); break;
    case kDispidSetStyle: setStyle(); break;
    case kDispidSetIEResizable: setIEResizable(a[0].lVal()); break;
    case kDispidSetCustomDir:
      *result = os::Variant::Long(setCustomDir(a[0].bstrVal(), a[1].bstrVal()));
      break;
    case kDispidGetPreCheck:
      *result = boolean(getPreCheck(a[0].bstrVal(), a[1].bstrVal()));
      break;
    case kDispidCheckAndUpdate:
      *result = boolean(checkAndUpdate(a[0].bstrVal(), a[1].bstrVal(), a[2].bstrVal()));
      break;
    case kDispidSetStyle2: setStyle2(a[0].bstrVal()); break;
    case kDispidProtectSystemMenu: protectSystemMenu(a[0].lVal()); break;
    case kDispidChangeWindowState: ChangeWindowState(a[0].lVal()); break;
    case kDispidAboutBox: AboutBox(); break;
    default: return os::DISP_E_MEMBERNOTFOUND;
  }
  return os::S_OK;
}

// --- Scripting methods ----------------------------------------------------------------------

template <typename Body>
auto CPelistoCtrl::Guarded(const char* method, Body body) -> decltype(body()) {
  std::string what;
  try {
    return body();
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
    what = "unknown exception";
  }
  try {
    WriteLog(GetLogTime() + " " + method + ": " + what, 2);
  } catch (...) {
    // The log is best effort; the method still answers.
  }
  if constexpr (!std::is_void_v<decltype(body())>) return {};
}

os::BOOL CPelistoCtrl::getConfig(const std::string& strConfigURL) {
  return Guarded("getConfig", [&] {
    const bool relative = !strConfigURL.empty() && (strConfigURL[0] == '/' || strConfigURL[0] == '.');
    const std::string page = relative ? ReadPageAddress(options_.main_window) : std::string();
    std::string url;
    if (!ResolveConfigAddress(strConfigURL, page, &url)) {
      os::MessageBoxA(nullptr, "URL error!", kMessageCaption, os::MB_OK);
      return os::FALSE;
    }
    return RunConfigUpdate(*this, url);
  });
}

void CPelistoCtrl::setStyle() {
  Guarded("setStyle", [&] {
    const std::optional<BrowserPlacement> placement = ReadPlacementBesideTaskbar();
    browser_ = GetWebBrowser(client_site_.Get());
    if (!browser_) return;
    ApplyPlacement(*browser_.Get(), placement);
    TurnBarsOff(*browser_.Get(), ReadBrowserVersionDirect(*this));
  });
}

void CPelistoCtrl::setIEResizable(os::LONG bResizable) {
  Guarded("setIEResizable", [&] {
    browser_ = GetWebBrowser(client_site_.Get());
    if (browser_) browser_->put_Resizable(bResizable != 0 ? os::VARIANT_TRUE : os::VARIANT_FALSE);
  });
}

os::LONG CPelistoCtrl::setCustomDir(const std::string& dirSymbol,
                                    const std::string& localDirName) {
  return Guarded("setCustomDir", [&] {
    custom_dirs_[dirSymbol] = localDirName;
    return static_cast<os::LONG>(custom_dirs_.size());
  });
}

os::BOOL CPelistoCtrl::getPreCheck(const std::string& checkURL, const std::string& fileType) {
  return Guarded("getPreCheck", [&] { return GetPreCheck(*this, checkURL, fileType); });
}

os::BOOL CPelistoCtrl::checkAndUpdate(const std::string& strConfigURL, const std::string& ext,
                                      const std::string& fileType) {
  return Guarded("checkAndUpdate", [&] {
    return CheckAndUpdate(*this, strConfigURL, ext, fileType,
                          [this](const std::string& url) { return getConfig(url); });
  });
}

void CPelistoCtrl::setStyle2(const std::string& status) {
  Guarded("setStyle2", [&] {
    const StyleOptions options = ParseStyleOptions(status);
    if (options.empty()) return;
    if (os::ComPtr<os::IWebBrowser2> browser = GetWebBrowser(client_site_.Get())) {
      ApplyStyleOptions(options, *browser.Get());
    }
  });
}

void CPelistoCtrl::protectSystemMenu(os::LONG param) {
  Guarded("protectSystemMenu", [&] {
    if (!ProtectSystemMenu(outer_window_, static_cast<os::DWORD>(param))) {
      WriteLog("Failed Get IEFrame", 2);
    }
  });
}

void CPelistoCtrl::AboutBox() {}

void CPelistoCtrl::ChangeWindowState(os::LONG param) {
  Guarded("ChangeWindowState", [&] { PostWindowState(outer_window_, param); });
}

// --- Embedding ------------------------------------------------------------------------------

void CPelistoCtrl::SetClientSite(os::IOleClientSite* site) {
  client_site_ = os::ComPtr<os::IOleClientSite>(site);
}

os::HWND CPelistoCtrl::CreateControlWindow(os::HWND parent, const os::RECT& rect) {
  if (outer_window_ != nullptr && os::IsWindow(outer_window_)) return nullptr;
  os::WNDCLASSA wc;
  wc.lpfnWndProc = os::DefWindowProcA;
  wc.lpszClassName = kControlWindowClass;
  os::RegisterClassA(&wc);  // once per process; later registrations fail harmlessly
  outer_window_ = os::CreateWindowExA(0, kControlWindowClass, "", os::WS_CHILD | os::WS_VISIBLE,
                                      rect.left, rect.top, rect.right - rect.left,
                                      rect.bottom - rect.top, parent, 0, nullptr);
  return outer_window_;
}

// --- Object safety and drawing ----------------------------------------------------------------

os::HRESULT CPelistoCtrl::GetInterfaceSafetyOptions(const os::IID& iid, os::DWORD* supported,
                                                    os::DWORD* enabled) const {
  return pelisto::GetInterfaceSafetyOptions(iid, supported, enabled);
}

os::HRESULT CPelistoCtrl::SetInterfaceSafetyOptions(const os::IID& iid, os::DWORD mask,
                                                    os::DWORD enabled) {
  return pelisto::SetInterfaceSafetyOptions(iid, mask, enabled);
}

void CPelistoCtrl::OnDraw(Painter* painter, const os::RECT& bounds) const {
  painter->FillWhite(bounds);
  painter->DrawCenteredLine(kDrawingText, bounds);
}

// --- Message boxes --------------------------------------------------------------------------

void CPelistoCtrl::ShowMessage(const std::string& text) {
  if (!settings_.self_ui || settings_.dlg_not_close) return;
  os::MessageBoxA(nullptr, text, kMessageCaption, os::MB_OK);
}

void CPelistoCtrl::ReportComError(const os::ComError& error, const std::string& source) {
  char code[16];
  std::snprintf(code, sizeof code, "%08lx",
                static_cast<unsigned long>(static_cast<os::DWORD>(error.Error())));
  const std::string text = std::string("Error\n\a\tCode = ") + code +
                           "\n\a\tCode meaning = " + error.ErrorMessage() +
                           "\n\a\tSource = " + error.Source() +
                           "\n\a\tDescription = " + error.Description() + "\n";
  os::MessageBoxA(options_.main_window, text, source, os::MB_OK | os::MB_ICONEXCLAMATION);
}

// --- Events ---------------------------------------------------------------------------------

os::LONG CPelistoCtrl::Fire(EventId id, std::vector<os::Variant> args) {
  const EventInfo* event = FindEvent(id);
  os::LONG cancel = 0;
  if (sink_ != nullptr && event != nullptr) {
    sink_->OnEvent(*event, args, event->has_cancel ? &cancel : nullptr);
  }
  return cancel;
}

os::LONG CPelistoCtrl::FireStartDownload(const std::string& url, const std::string& file_name,
                                         os::LONG file_length) {
  return Fire(kEventStartDownload, {os::Variant::Text(url), os::Variant::Text(file_name),
                                    os::Variant::Long(file_length)});
}

os::LONG CPelistoCtrl::FireDownloadProgress(os::LONG current_pos, os::LONG max_pos, os::LONG status) {
  return Fire(kEventDownloadProgress,
              {os::Variant::Long(current_pos), os::Variant::Long(max_pos), os::Variant::Long(status)});
}

os::LONG CPelistoCtrl::FireDownloading(os::LONG read_file_length) {
  return Fire(kEventDownloading, {os::Variant::Long(read_file_length)});
}

os::LONG CPelistoCtrl::FireChangeStatus(os::LONG status, os::LONG status_info,
                                        os::LONG status_info_length) {
  return Fire(kEventChangeStatus, {os::Variant::Long(status), os::Variant::Long(status_info),
                                   os::Variant::Long(status_info_length)});
}

void CPelistoCtrl::FireUnZipFileNumber(os::LONG file_number) {
  Fire(kEventUnZipFileNumber, {os::Variant::Long(file_number)});
}

os::LONG CPelistoCtrl::FireUnZipping(const std::string& file_name) {
  return Fire(kEventUnZipping, {os::Variant::Text(file_name)});
}

void CPelistoCtrl::FireEndUnZip(os::LONG success) {
  Fire(kEventEndUnZip, {os::Variant::Long(success)});
}

bool CPelistoCtrl::RunEventsToPage() const {
  return !(settings_.self_ui && !settings_.dlg_not_close);
}

IStarterDownload* CPelistoCtrl::RunEventsToDialog() {
  return settings_.dlg_not_close ? StatusSink() : nullptr;
}

void CPelistoCtrl::NotifyTotalDownloadFileNumber(os::LONG file_number) {
  os::LONG page = 0, dialog = 0;
  if (RunEventsToPage()) {
    page = Fire(kEventTotalDownloadFileNumber, {os::Variant::Long(file_number)});
  }
  if (IStarterDownload* sink = RunEventsToDialog()) {
    sink->TotalDownloadFileNumber(file_number, &dialog);
  }
  if ((page | dialog) == 1) throw RunError("Canceled at TotalDownloadFileNumber");
}

void CPelistoCtrl::NotifyIsDownload(os::LONG status_code, const std::string& content_name) {
  os::LONG page = 0, dialog = 0;
  if (RunEventsToPage()) {
    page = Fire(kEventIsDownload,
                {os::Variant::Long(status_code), os::Variant::Text(content_name)});
  }
  if (IStarterDownload* sink = RunEventsToDialog()) {
    sink->IsDownload(status_code, content_name, &dialog);
  }
  if ((page | dialog) == 1) {
    throw RunError("Canceled By User Status is " + std::to_string(status_code));
  }
}

// --- Status dialog --------------------------------------------------------------------------

bool CPelistoCtrl::StartStatusDialog() {
  return status_dialog_->Start(settings_.language, settings_.hide_download_cancel != 0);
}

void CPelistoCtrl::CloseStatusDialog() { status_dialog_->Close(); }

IStarterDownload* CPelistoCtrl::StatusSink() { return status_dialog_->Sink(); }

}  // namespace pelisto
