// The control's side of the elevated broker: obtaining IFileManager on any thread, and the
// Broker* wrappers that run an operation through the broker or, when the caller's use-broker
// flag is false (before Windows 6), directly.
//
// Process-wide state: the broker, the thread that created it, the global interface table
// that carries it to other threads, its cookie there, and one slot for the pointer last
// fetched for a thread other than the creating one. The state is guarded by a lock, so the
// calls below may be made from any thread.
//
// The state belongs to the process, not to a control or to its privileged steps: the
// elevation prompt and the broker process stand for the process's rights (two controls on
// a page share one broker and one prompt), and the worker threads reach the broker through
// the global interface table by its one cookie. The privileged steps of a control
// (control/privileged_ops.h) hold no broker of their own; the control that goes releases it
// (ReleaseBroker), as it always has.
#pragma once

#include <string>

#include "os/base/types.h"
#include "os/reg/registry.h"
#include "platform/file_manager.h"

namespace pelisto {

// Holds one reference to a broker and releases it when it goes.
using BrokerRef = os::ComPtr<IFileManager>;

// Stores in *broker a referenced IFileManager usable on the calling thread, or null. The
// first call (and every call after a failed one, or after the broker's process died) creates
// the broker elevated, which prompts the user; a failure shows "Create Brokerprocess
// failed...[IFileManager]". On a thread other
// than the creating one the pointer comes from the global interface table ("Failed to create
// instance" / "Failed to Get Interface from Global" when that fails), after COM is
// initialised on the thread (apartment-threaded, not undone).
void GetBroker(IFileManager** broker);

// The broker fetched straight from the global interface table by its cookie, through a new
// table object (zip extraction's component registration); null, without a message, when no
// broker was created, its process died, or the fetch fails.
void GetBrokerFromGlobal(IFileManager** broker);

// Revokes the broker's registration in the global interface table and releases it; the next
// GetBroker creates it again. Called when the control goes.
void ReleaseBroker();

// 1 on success, 0 on failure. With `use_broker` false the operation is made directly:
// CopyFileA, CreateDirectoryA (an existing folder counts as success), MoveFileA, DeleteFileA.
int BrokerCopyFile(const std::string& source, const std::string& destination,
                   os::BOOL fail_if_exists, bool use_broker);
int BrokerCreateDirectory(const std::string& path, const void* security, bool use_broker);
int BrokerMoveFile(const std::string& source, const std::string& destination, bool use_broker);
// A regular file moved over whatever file is at `destination`, in one step (directly:
// MoveFileExA with MOVEFILE_REPLACE_EXISTING and MOVEFILE_COPY_ALLOWED).
int BrokerMoveFileReplacing(const std::string& source, const std::string& destination,
                            bool use_broker);
int BrokerDeleteFile(const std::string& path, bool use_broker);

// Broker only: 1 on success, 0 on failure or without a broker.
//
// BrokerWriteFileAtomically replaces `path` with `text` through the broker's open file (mode
// "w", the text, close): the broker writes it beside the target and renames it over it on the
// close, so `path` keeps its old content unless all of `text` arrived. One such sequence runs
// at a time in the process, since the broker has one open file.
// BrokerAppendToFile appends `text` to `path` (created when missing) in one call, never
// through the open file.
int BrokerWriteFileAtomically(const std::string& path, const std::string& text);
int BrokerAppendToFile(const std::string& path, const std::string& text);
int BrokerRunProgram(const std::string& path);
int BrokerRegisterServer(const std::string& path);
int BrokerUnregisterServer(const std::string& path);
int BrokerWriteRegString(os::HKEY root, const std::string& subkey, const std::string& name,
                         const std::string& text);
int BrokerWriteRegNumber(os::HKEY root, const std::string& subkey, const std::string& name,
                         os::LONG number);
// The value's text; empty on failure or without a broker.
std::string BrokerReadRegString(os::HKEY root, const std::string& subkey,
                                const std::string& name);

// The broker's own result: 0 on success. -1 when there is no broker or the call fails.
os::LONG BrokerCreateShellLink(const std::string& target, const std::string& link,
                               const std::string& description, const std::string& icon,
                               const std::string& arguments);
os::LONG BrokerCreateInternetShortcut(const std::string& url, const std::string& path,
                                      const std::string& description, const std::string& icon,
                                      os::LONG icon_index);

}  // namespace pelisto
