// IFileManager: the elevated broker object that carries out the privileged steps of a run
// (files in program and system folders, machine-wide registry values, component
// registration, program starts) for a control that runs without those rights.
//
// Texts are wide (UTF-16), converted by the caller from the ANSI code page; the broker
// converts them back. Every operation returns an HRESULT; E_NOTIMPL marks an operation this
// broker does not carry out yet. The operations stand in the order the control relies on;
// each has its row in PELISTO_BROKER_OPERATIONS (platform/broker_protocol.h), from which the
// proxy and the broker process carry it, and new ones go at the end.
//
// Thread safety: an instance may be called from any thread that obtained it through
// GetBroker (platform/broker_client.h); operations are serialised inside the broker. The
// broker keeps one open file at a time for OpenFile / WriteText / CloseFile, so one sequence
// of them runs at a time (broker_client.h holds callers to that); AppendText does not use it.
#pragma once

#include <string>

#include "os/base/types.h"
#include "os/com/guid.h"
#include "os/com/unknown.h"

namespace pelisto {

// {C5E785C9-5D22-4D51-B3C2-E123BCF17E74}
inline constexpr os::CLSID CLSID_PelistoBroker{
    0xC5E785C9, 0x5D22, 0x4D51, {0xB3, 0xC2, 0xE1, 0x23, 0xBC, 0xF1, 0x7E, 0x74}};

class IFileManager : public os::IUnknown {
 public:
  // {3FA96FB3-51A5-4503-BECF-3EF54A600CC9}
  static constexpr os::IID kIid{
      0x3FA96FB3, 0x51A5, 0x4503, {0xBE, 0xCF, 0x3E, 0xF5, 0x4A, 0x60, 0x0C, 0xC9}};

  // Ends the write begun by OpenFile; S_FALSE when no file is open. A whole-file write (mode
  // "w") replaces its target here, and only here: its text went to a temporary file beside
  // the target. After a failed WriteText the target is kept and the failure returned.
  virtual os::HRESULT CloseFile() = 0;
  // Opens `path` with an fopen mode ("w" writes the whole file, "a+" appends), ending a file
  // still open: a whole-file write never closed is dropped, its target untouched. `*file`
  // receives the number that WriteText takes.
  virtual os::HRESULT OpenFile(const std::u16string& path, const std::u16string& mode,
                               os::LONG* file) = 0;
  // The size in bytes of the open file.
  virtual os::HRESULT QueryOpenFile(os::LONG* size) = 0;
  // Writes `text` (converted to the ANSI code page) to the open file `file`.
  virtual os::HRESULT WriteText(const std::u16string& text, os::LONG file) = 0;
  virtual os::HRESULT CopyFile(const std::u16string& source, const std::u16string& destination,
                               os::BOOL fail_if_exists) = 0;
  // S_OK and *created TRUE for a new folder; HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) and
  // FALSE when something of that name exists.
  virtual os::HRESULT CreateDirectory(const std::u16string& path, os::BOOL* created) = 0;
  virtual os::HRESULT MoveFile(const std::u16string& source,
                               const std::u16string& destination) = 0;
  virtual os::HRESULT DeleteFile(const std::u16string& path) = 0;
  // Starts the program `path` elevated, with no command line, and does not wait for its end:
  // S_OK once it runs.
  virtual os::HRESULT RunProgram(const std::u16string& path) = 0;
  // The call's own result is S_OK whenever the link was attempted; `*result` is the shell's
  // HRESULT, 0 when the link (or Internet shortcut) was saved. Nothing is shown.
  virtual os::HRESULT CreateShellLink(const std::u16string& target, const std::u16string& link,
                                      const std::u16string& description,
                                      const std::u16string& icon,
                                      const std::u16string& arguments, os::LONG* result) = 0;
  virtual os::HRESULT CreateInternetShortcut(const std::u16string& url,
                                             const std::u16string& path,
                                             const std::u16string& description,
                                             const std::u16string& icon, os::LONG icon_index,
                                             os::LONG* result) = 0;
  // Loads the component at `path` elevated, calls its "DllRegisterServer" and frees it
  // (platform/self_registration.h): the entry point's result, or why it could not be called.
  // The component runs in the process that carries out the operation: a component that
  // faults there ends that process (with the in-process object, the caller's).
  virtual os::HRESULT RegisterComponent(const std::u16string& path) = 0;
  // `root` is the predefined key's number (0x80000002 for HKEY_LOCAL_MACHINE). The key is
  // created when missing; the text is stored as REG_SZ.
  virtual os::HRESULT WriteRegString(os::ULONG root, const std::u16string& subkey,
                                     const std::u16string& name,
                                     const std::u16string& text) = 0;
  // `*text` is untouched on failure.
  virtual os::HRESULT ReadRegString(os::ULONG root, const std::u16string& subkey,
                                    const std::u16string& name, std::u16string* text) = 0;
  // Stored as REG_DWORD.
  virtual os::HRESULT WriteRegNumber(os::ULONG root, const std::u16string& subkey,
                                     const std::u16string& name, os::LONG number) = 0;
  // As RegisterComponent, with "DllUnregisterServer".
  virtual os::HRESULT UnregisterComponent(const std::u16string& path) = 0;
  // Appends `text` (converted to the ANSI code page) to the end of `path` in one call,
  // creating the file when it is missing (an empty `text` only makes sure it exists). The open
  // file of OpenFile is not touched.
  virtual os::HRESULT AppendText(const std::u16string& path, const std::u16string& text) = 0;
  // Moves the regular file `source` to `destination` in one step, replacing a file there:
  // a reader sees the old file or the whole new one. A source that is a folder, a link or
  // missing is refused and left where it is; so is a destination that is a folder. Between
  // drives the file is copied and the source removed.
  virtual os::HRESULT MoveFileReplacing(const std::u16string& source,
                                        const std::u16string& destination) = 0;

 protected:
  ~IFileManager() = default;
};

inline const os::IID& IID_IFileManager = IFileManager::kIid;

// The elevation moniker: creates the object `clsid` elevated and returns its `iid` in *out
// (referenced). The user is asked first; a refusal gives HRESULT_FROM_WIN32(ERROR_CANCELLED)
// and *out null. `hwnd` owns the prompt (null: none).
//
// This is the one seam through which the broker is made: CLSID_PelistoBroker starts the
// pelisto-broker process and answers with a proxy to it (platform/broker_proxy.h); a failed
// start gives its failing HRESULT and *out null.
os::HRESULT CreateElevatedInstance(void* hwnd, const os::CLSID& clsid, const os::IID& iid,
                                   void** out);

// The implementation the broker process serves: it carries out every operation in the calling
// process, each with a high-integrity token, on the current machine. Stores a referenced
// object in *out.
void CreateLocalFileManager(IFileManager** out);

}  // namespace pelisto
