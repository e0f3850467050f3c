// CPelistoCtrl: the scriptable control a web page embeds. It owns the settings the page's
// script changes and the persisted ones of the page's property bag, answers the dispatch
// interface (methods and properties by name or identifier), fires the page's events, keeps
// the update log and the per-run state, and is the run context of the layers below it.
//
// Threads: the control is created, called and destroyed on one thread (the page's). Events
// are fired on that thread; the update log accepts lines from any thread.
// No exception leaves a scripting method: it is caught, written to the log (when one is
// open) and the method answers FALSE.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "control/bind_status_callback.h"
#include "control/event_sink.h"
#include "control/property_bag.h"
#include "control/run_context.h"
#include "control/status_dialog.h"
#include "control/update_log.h"
#include "os/com/guid.h"
#include "os/com/ole_site.h"
#include "os/com/unknown.h"
#include "os/com/variant.h"
#include "os/ui/browser/web_browser.h"
#include "os/ui/ui_types.h"

namespace pelisto {

struct DispatchMember;

// The single line the control draws in its bounds.
inline constexpr char kDrawingText[] = "Pelistomat_m Ver  2.6.1.3";
// The version of the persisted state: 1.0.
inline constexpr os::DWORD kPersistedVersion = 0x00010000;

// Seams for the host and for tests.
struct ControlOptions {
  LocalClock clock;  // null: the machine's local time
  // The run's status dialog; null: the status dialog window on a thread of its own.
  std::unique_ptr<StatusDialog> status_dialog;
  // The application's main window: the browser's frame, which owns the control's message
  // boxes and holds the page address (control/page_address.h).
  os::HWND main_window = nullptr;
};

// What the control draws with (the host's device context).
class Painter {
 public:
  virtual ~Painter() = default;
  virtual void FillWhite(const os::RECT& bounds) = 0;
  // One line, centred both ways in `bounds`, tabs expanded.
  virtual void DrawCenteredLine(const std::string& text, const os::RECT& bounds) = 0;
};

class CPelistoCtrl final : public RunContext {
 public:
  explicit CPelistoCtrl(ControlOptions options = {});
  ~CPelistoCtrl() override;
  CPelistoCtrl(const CPelistoCtrl&) = delete;
  CPelistoCtrl& operator=(const CPelistoCtrl&) = delete;

  // --- Persistence (IPersistPropertyBag) -------------------------------------------------
  // Loads the persisted settings from the page's bag (missing or unconvertible values take
  // their defaults), then applies the language.
  void Load(const PropertyBag& bag);
  // Writes the persisted settings, with the version, into `bag`.
  void Save(PropertyBag* bag);
  // Loads the defaults, as for a page without saved state.
  void ResetState();
  // True after a property was changed from script since the last load or save.
  bool IsModified() const { return modified_; }
  os::DWORD LoadedVersion() const { return loaded_version_; }

  // --- Dispatch interface ------------------------------------------------------------------
  // Invokes member `id` with `args` in declaration order. `flags` is DISPATCH_METHOD,
  // DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT (a put takes one argument, the new value).
  // Failures: DISP_E_MEMBERNOTFOUND (no such member, or the wrong kind of access),
  // DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH / DISP_E_OVERFLOW (then `*arg_error`, when
  // given, is the argument's index); `*result` is then empty. A method that fails inside
  // answers S_OK with FALSE; DISP_E_EXCEPTION only if something escaped even that.
  os::HRESULT Invoke(os::LONG id, os::WORD flags, const std::vector<os::Variant>& args,
                     os::Variant* result, unsigned* arg_error = nullptr);
  // The page's handlers; null to drop events. Not owned.
  void SetEventSink(EventSink* sink) { sink_ = sink; }

  // --- Embedding (IOleObject, in-place activation) -----------------------------------------
  // The site the container gives the control; referenced while held. Null takes it away.
  void SetClientSite(os::IOleClientSite* site);
  os::IOleClientSite* GetClientSite() const { return client_site_.Get(); }
  // Makes the control's own window, a child of `parent` (the container's window for the
  // control), on the calling thread; it is destroyed with the control. Null on failure, or
  // when the control has its window already (that one is kept).
  os::HWND CreateControlWindow(os::HWND parent, const os::RECT& rect);
  // The control's outer window; null before CreateControlWindow.
  os::HWND GetOuterWindow() const { return outer_window_; }
  os::HWND MainWindow() const { return options_.main_window; }

  // --- Scripting methods -------------------------------------------------------------------
  os::BOOL getConfig(const std::string& strConfigURL);
  // The window methods answer the page nothing; without a browser object, a client site or a
  // frame they do nothing (protectSystemMenu logs "Failed Get IEFrame").
  void setStyle();
  void setIEResizable(os::LONG bResizable);
  os::LONG setCustomDir(const std::string& dirSymbol, const std::string& localDirName);
  os::BOOL getPreCheck(const std::string& checkURL, const std::string& fileType);
  os::BOOL checkAndUpdate(const std::string& strConfigURL, const std::string& ext,
                          const std::string& fileType);
  void setStyle2(const std::string& status);
  void protectSystemMenu(os::LONG param);
  void AboutBox();
  void ChangeWindowState(os::LONG param);

  // --- Object safety and drawing -----------------------------------------------------------
  os::HRESULT GetInterfaceSafetyOptions(const os::IID& iid, os::DWORD* supported,
                                        os::DWORD* enabled) const;
  os::HRESULT SetInterfaceSafetyOptions(const os::IID& iid, os::DWORD mask, os::DWORD enabled);
  void OnDraw(Painter* painter, const os::RECT& bounds) const;

  // The control's bind-status callback (bound by no transfer) and the event it fires: the
  // page's pCancel.
  CCallback& BindStatusCallback() { return callback_; }
  os::LONG FireDownloadProgress(os::LONG current_pos, os::LONG max_pos, os::LONG status);

  // The update log's current file; empty when none is open.
  const std::string& LogFilePath() const { return log_.path(); }

  // --- RunContext ----------------------------------------------------------------------------
  const ControlSettings& Settings() const override { return settings_; }
  ControlSettings& MutableSettings() override { return settings_; }
  RunState& State() override { return state_; }
  const FolderValues& Folders() const override { return folders_; }
  ProtectedModeFolders& ProtectedMode() override { return protected_mode_; }
  const CustomDirMap& CustomDirs() const override { return custom_dirs_; }
  bool IsWindows6() const override { return windows6_; }
  PrivilegedOps& Privileged() override { return *privileged_; }

  void CreateLogFile(const std::string& folder) override { log_.CreateLogFile(folder); }
  void WriteLog(const std::string& text, unsigned level) override { log_.WriteLog(text, level); }
  std::string GetLogTime() const override { return log_.GetLogTime(); }

  void ShowMessage(const std::string& text) override;
  void ReportComError(const os::ComError& error, const std::string& source) override;

  os::LONG FireStartDownload(const std::string& url, const std::string& file_name,
                             os::LONG file_length) override;
  os::LONG FireDownloading(os::LONG read_file_length) override;
  os::LONG FireChangeStatus(os::LONG status, os::LONG status_info,
                            os::LONG status_info_length) override;
  void FireUnZipFileNumber(os::LONG file_number) override;
  os::LONG FireUnZipping(const std::string& file_name) override;
  void FireEndUnZip(os::LONG success) override;

  void NotifyTotalDownloadFileNumber(os::LONG file_number) override;
  void NotifyIsDownload(os::LONG status_code, const std::string& content_name) override;

  bool StartStatusDialog() override;
  void CloseStatusDialog() override;
  IStarterDownload* StatusSink() override;

 private:
  void DoPropExchange(PropExchange* px);
  // Fires `id` to the page; returns the page's pCancel (0 for events without one).
  os::LONG Fire(EventId id, std::vector<os::Variant> args);
  // Whether the run-level events go to the page, and to the status dialog.
  bool RunEventsToPage() const;
  IStarterDownload* RunEventsToDialog();
  // Runs a scripting method's body, turning any exception into a log line and FALSE.
  template <typename Body>
  auto Guarded(const char* method, Body body) -> decltype(body());
  os::HRESULT InvokeMember(os::LONG id, os::WORD flags, const std::vector<os::Variant>& args,
                           os::Variant* result, unsigned* arg_error);
  os::HRESULT GetProperty(const DispatchMember& member, os::Variant* result) const;
  os::HRESULT PutProperty(const DispatchMember& member, const os::Variant& value);
  os::HRESULT CallMethod(const DispatchMember& member,
                         const std::vector<os::Variant>& args, os::Variant* result);

  ControlOptions options_;
  std::unique_ptr<StatusDialog> status_dialog_;
  ControlSettings settings_;
  bool modified_ = false;
  os::DWORD loaded_version_ = kPersistedVersion;
  CustomDirMap custom_dirs_;
  RunState state_;
  ProtectedModeFolders protected_mode_;
  FolderValues folders_;
  bool com_initialized_ = false;
  bool windows6_ = false;
  std::unique_ptr<PrivilegedOps> privileged_;
  UpdateLog log_;
  EventSink* sink_ = nullptr;
  os::ComPtr<os::IOleClientSite> client_site_;
  os::HWND outer_window_ = nullptr;
  // The browser object setStyle and setIEResizable obtained last.
  os::ComPtr<os::IWebBrowser2> browser_;
  CCallback callback_{this};
};

}  // namespace pelisto
