// The download step: fetches one file for the control, over the dialogless transfer
// (HttpDownload, events to the page) or inside the download dialog (CHttpDownloadDlg),
// writes the outcome to the update log and returns what the caller does next.
//
// Results: 1 the file was downloaded and is at `localPath` (but see useTempFile below);
// 0 it failed, was cancelled or the user stopped at the file-in-use prompt, and nothing of
// the download is at `localPath` on Windows 6 (before Windows 6 a failure removes what was
// written to `localPath`); -1 the user chose Skip at the file-in-use prompt (dialogless path
// only: the dialog's prompt has no Skip).
//
// Log lines (the control's time stamp, then the text):
//   dialogless path: " " + the transfer's error message at level 1 for 0 and -1;
//                    " [[Abort by User]]" at level 1 when the page or the status dialog
//                    cancelled (after " StartDownload User Cancel.." or
//                    " Downloading User Cancel.." from the transfer);
//   dialog path:     " Failed to parse the URL: " + url + "\n" (" " and the box text) and
//                    " Success to parse the URL", at level 0 (DownloadEntryFile) or 2
//                    (DownloadConfigFile, for the parse failure);
//                    " Failed to download '" + url + "' and path '" + localPath + "'" at
//                    level 0 (DownloadEntryFile) or 1 (DownloadConfigFile);
//   both:            " Download file Success '" + url + "' and path '" + localPath + "'" at
//                    level 0.
// `url` in the dialog path's lines is the address as parsed: "http://" in front when it had
// no scheme.
//
// Events: the dialogless path fires StartDownload and Downloading to the page, and
// ChangeStatus only when the status dialog's sink is there too; the status dialog's
// IStarterDownload is the transfer's sink only while dlgNotClose is TRUE. The dialog path
// fires no events.
//
// Folders: the dialogless path writes its work file in the control's writableFolder; the
// dialog path, from Windows 6 on, in writableFolder (DownloadEntryFile) or localLowFolder
// (DownloadConfigFile), and only with `useTempFile` not 0; otherwise it writes `localPath`
// directly. With `useTempFile` and a `localPath` ending in ".zip" (exactly, lower case) the
// dialog copies nothing to `localPath`: an archive of file type "zip" is placed by the
// dialog's archive step; a file of another type stays in the work file (result 1).
//
// Both run on the control's thread and block it until the download ends (the dialog runs
// its modal loop meanwhile). No state is kept between calls; one call at a time.
#pragma once

#include <string>

#include "os/base/types.h"

namespace pelisto {

class ContentCheck;
class RunContext;

// The file of a content entry. The update run passes useDialog 1 and useTempFile 1; the
// installation by file type passes selfUi as useDialog and useTempFile 1. A `fileType` of
// exactly "zip" is unpacked by the dialog beside `localPath` (into the part of its folder
// before "patch") before the dialog closes; the dialogless path never unpacks.
// An archive that is no zip, a member that fails to unpack, or a cancel during unpacking
// gives 0 with its box shown; members written before it stay, and the download itself is
// not left at `localPath`.
// With `check`, a whole download that it refuses is neither placed nor unpacked: 0, after
// "Content hash mismatch " + localPath (the dialogless path's line, the dialog's box); the
// check says why.
os::LONG DownloadEntryFile(RunContext& control, std::string url, std::string localPath, std::string fileType,
                           os::LONG useDialog, os::LONG useTempFile, ContentCheck* check = nullptr);

// The configuration document or the pre-check file. The dialog is used only when useDialog
// is not 0 and dlgNotClose is FALSE; the dialog gets no file type (nothing is unpacked). A
// second failed URL parse shows its box through ShowMessage (so only when selfUi is TRUE
// and dlgNotClose FALSE).
os::LONG DownloadConfigFile(RunContext& control, std::string url, std::string localPath, os::LONG useDialog,
                            os::LONG useTempFile);

}  // namespace pelisto
