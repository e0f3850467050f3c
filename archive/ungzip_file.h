// The gzip step of an install: a downloaded "gz" or "gzreg" file decompressed beside itself,
// optionally registered as a component.
#pragma once

#include <string>

#include "control/run_context.h"

namespace pelisto {

// Decompresses the gzip file `gzip_path` into its own folder under the name stored in its
// header, or `default_name` (the content entry's name) when it stores none or none usable
// as a file name (GzipOutputFileName: only the last path component of either is ever used,
// so the output never lands outside that folder). Returns normally on success; every
// failure is a RunError for the run to catch:
//   "Invalid Gzip File Format"   not a gzip file (after the box "Invalid Gzip File : <path>",
//                                ShowMessage)
//   "Caceled UnGZipping"         the page set pCancel to 1 at UnZipping (no dialog)
//   "Failed Un GZip"             the decompression failed (no dialog: after EndUnZip(0)), the
//                                output could not be copied into place on Windows 6, or
//                                neither name gives a file name
//   "Failed stop installation Gzip."
//                                the dialog did not end with OK (after the box
//                                "Stop installation", ShowMessage, and the level-2 log line
//                                " Failed stop installation Gzip.")
// Without `dialog` it fires UnZipFileNumber(1), UnZipping(output path) and EndUnZip(1 or 0)
// to the page and decompresses on the calling thread, pumping no messages; with it, runs
// CUnGZipDlg modally. On Windows 6 (Privileged().Brokered()) both write into a "tmp" file in
// the per-user data folder (ProtectedMode().writable_folder), which the broker then moves
// over the output; a failed move shows "파일을 복사하지 못했습니다." and, when the work file
// then cannot be deleted either, "파일을 삭제하지 못했습니다.", whatever selfUi says. Before Windows 6 the output is written in
// place. Either way a failure leaves an existing output file as it was.
// With `register_component` the output is then registered (RegisterComponent, which logs and
// reports its own failure; the step still succeeds).
//
// On the control's thread.
void UnGZipFile(RunContext& context, const std::string& gzip_path, const std::string& default_name,
                bool register_component, bool dialog);

}  // namespace pelisto
