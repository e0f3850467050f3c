// The first step for each `content` element of the comparison run: read it, expand its
// locations and address, carry out the entries that are actions in themselves (the MSXML 4
// probe, registry writes, "unreg", "delete"), and decide whether the entry's file is to be
// installed.
//
// On the control's thread. Every work item is announced with FireIsDownload; a cancel there
// raises RunError("Canceled By User Status is <code>"), which ends the run.
#pragma once

#include <string>

#include "control/run_context.h"
#include "engine/content_entry.h"
#include "os/base/types.h"

namespace pelisto {

class IXMLDocumentWrapper;
class IXMLNodeWrapper;

// The run-level IsDownload event for one work item (status codes of download/
// starter_download.h), under the event rule of RunContext::NotifyIsDownload: a combined cancel
// value of exactly 1 raises RunError("Canceled By User Status is <code>").
void FireIsDownload(RunContext& context, os::LONG code, const std::string& name);

// Fills `*entry` (which should be empty) from `element` and decides, in this order:
//  1. with selfUi and dlgNotClose both TRUE, the thread's queued messages are dispatched
//     first (the status dialog runs on its own thread);
//  2. the fifteen attributes are read; the `url` as read is kept for the version check;
//  3. ExpandEntryLocations, ExpandFolderSymbols on `url`, then `url` resolved against
//     State().config_url (actions/relative_url.h); a bad dot form shows "URL error!"
//     whatever selfUi says and goes on with the base address;
//  4. `name` containing "msxml4" (with case): IsMsxml4Available; installed logs
//     " Installed msxml .. download cancel " and reports CHECK_INSTALLED (0), missing logs
//     " Not Installed msxml .. download " and reports DOWNLOADING (1);
//  5. `name` "AlwaysSetREG" (any case): reports WRITE_REGISTRY, writes `toSetVer` (folder
//     symbols expanded) with WriteRegistryValue as a number exactly when `regMode` is
//     "number", logs " Success Registry Write " or " Failed Registry Write " [2] (0);
//  6. `type` "unreg" (any case): reports DELETE_REGISTRY, UnregisterComponent of
//     target + "\" + name (0);
//  7. `type` "delete" (any case): reports DELETE_FILE, deletes target + "\" + name with the
//     privileged delete, logs " Success delete file" or " Failed Delete File.. The file does
//     not exist or is in use" [0] (0);
//  8. no stored configuration (`stored_exists` false): logs " Not Exist old config Flle",
//     reports DOWNLOADING (1);
//  9. `type` "makeprogramlnk" / "makeinternetlnk" (any case): logs " " + type, reports
//     MAKE_LINK (1): shortcuts are always made again;
// 10. `check_local` and nothing at target + "\" + name: logs " Not Exist Loccal File " +
//     target + "\" + name [1], reports DOWNLOADING (1);
// 11. `check_version`: CheckVersion(stored, url as read, ver, element); 0 logs
//     " Differnt Version " + ver + " " + name and reports DOWNLOADING (1); 1 reports
//     VERSION_CHECKING and logs " Equal Version " + ver + " " + name (0);
// 12. otherwise with `check_local` (the file exists): reports LOCAL_FILE_CHECKING and logs
//     " Exist Local " + ver + " " + name (0); with neither switch: 0 without a line.
// Lines are at level 0 unless given. Returns 1 when the entry's file is to be installed
// (FetchContentFile, InstallByType), 0 when nothing more is to be done for it.
//
// `stored` is only looked at in step 11 (it may hold no document when `stored_exists` is
// false). Raises RunError (a cancel; "Failed new") and the XML layer's os::ComError (a DOM
// failure, an apostrophe in the address) for the run to handle.
int CheckContentEntry(RunContext& context, const IXMLDocumentWrapper& stored,
                      IXMLNodeWrapper& element, bool stored_exists, ContentEntry* entry,
                      bool check_local, bool check_version);

}  // namespace pelisto
