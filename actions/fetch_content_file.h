// The download of a content entry's file into its target folder, with the optional check of
// its content hash, for installation by type (actions/install_by_type.h).
#pragma once

#include <string>

#include "control/run_context.h"
#include "engine/content_entry.h"

namespace pelisto {

// The local path of an entry's file: `target` + "\" + the part of `url` after its last "/"
// (the whole `url` when it has none). `*file_name` (when given) receives that part.
std::string ContentLocalPath(const ContentEntry& entry, std::string* file_name = nullptr);

// Downloads the entry's `url` to ContentLocalPath(entry) with DownloadEntryFile (file type
// `type`, the dialog when selfUi is TRUE, a work file) and returns that path, or the empty
// text when there is nothing to install:
//  - downloaded (1): with `sha256` not empty (ReadContentHash of the entry's element), the
//    download's SHA-256 must equal it (either case). The step checks its work file before it
//    places or unpacks it (download/content_hash.h: ContentCheck): a mismatch, or a file that
//    cannot be read, leaves what was at the path and logs
//    " Content hash mismatch '<path>' expected <sha256> actual <digest or "unreadable">" [2],
//    then counts as a failed download;
//  - skipped by the user (-1): the empty text, no line;
//  - failed (0): with "stopNotFindContent" TRUE raises RunError(path + " is not copyed!!!"),
//    which ends the run; otherwise logs path + " is not copyed!!!" [2] with no time stamp and
//    returns the empty text.
// Refused before any transfer, as a failed download: a `sha256` that is not 64 hexadecimal
// digits (" Malformed content hash '<sha256>' of <name>" [2]) and a file name part that is not
// a plain file name, which would put the file outside `target` or is no name Windows takes
// (" Content file name is not a file name '<part>'" [2]).
//
// A failed download leaves what is at the path: the download step never leaves a part of
// its own there, so deleting the path could only remove the version installed before.
//
// On the control's thread; blocks it for the transfer.
std::string FetchContentFile(RunContext& context, const ContentEntry& entry,
                             const std::string& sha256 = std::string());

}  // namespace pelisto
