// Installation of a content entry's downloaded file by its `type`: run it, unpack it,
// register it, or make the shortcut the entry describes.
#pragma once

#include <string>

#include "control/run_context.h"
#include "engine/content_entry.h"

namespace pelisto {

// Hands `local_path` (FetchContentFile's result; empty for the two link types, which are
// never downloaded) to the action the entry's `type` names, the first of these that matches
// without regard to case:
//   "exe"              the program is started without arguments (the privileged program
//                      start: the broker from Windows 6 on, else ExecuteFile, which waits);
//   "zip"              UnZipWithDialog when selfUi is TRUE and dlgNotClose FALSE, otherwise
//                      UnZipWithoutDialog followed by EndUnZip(result); a failed unpack
//                      returns 0 at once. Then with deleteZipFile TRUE the archive is deleted
//                      (the privileged delete; "Failed delete Zip File " + path [2] when that
//                      fails), and an entry named "Brindle.ocx" (any case; a folder part of the
//                      name is ignored) registers the file the archive's name stands for: the
//                      path cut before the last dot of its file name (Brindle.ocx.zip ->
//                      Brindle.ocx), nothing when that name has no dot;
//   "gz", "gzreg"      UnGZipFile into the file's folder with the entry's `name` as the default
//                      output name, registering the output for "gzreg" and for a "gz" whose
//                      `name` contains ".ocx" (with case), the dialog when selfUi is TRUE; then
//                      with deleteZipFile TRUE the downloaded file is deleted, unless the
//                      output took its place (a stored name equal to the file's own name):
//                      that would delete what was just installed;
//   "reg"              RegisterComponent(local_path);
//   "makeprogramlnk"   MakeProgramLink(entry);
//   "makeinternetlnk"  MakeInternetLink(entry).
// Any other type (an "msi", an empty one) installs nothing further: the download was the
// installation.
//
// Returns 0 only for a failed unpack of a "zip" (the run stops there; the archive stays), 1
// otherwise (go on with the next entry). Raises what the steps raise for the run to catch:
// RunError (a cancel at UnZipping; the gzip step's failures) and os::ComError (a broker folder
// creation of the zip extraction). On the control's thread.
int InstallByType(RunContext& context, const ContentEntry& entry, const std::string& local_path);

}  // namespace pelisto
