// The stored copy of a configuration (".old"): the only state a comparison run leaves for the
// next one, so it is replaced whole or not at all.
#pragma once

#include <string>

#include "control/run_context.h"

namespace pelisto {

class IXMLDocumentWrapper;

// The serialised `document` with its declaration replaced by one that names the encoding
// the text is in, the image's code page ("EUC-KR" for 949, "UTF-8" for 65001): everything up
// to and including the first "?>" is dropped (nothing when there is none).
std::string StoredCopyText(const IXMLDocumentWrapper& document);

// Writes `document` to `path`, replacing what was there in one step (a file beside it renamed
// over it), so a crash or a full disk leaves the previous copy. Where the privileged steps go
// to the broker, the text of StoredCopyText is handed to it; otherwise the XML layer saves
// the document in its own encoding. Returns 1 when written, 0 when the privileged write
// failed. Raises the XML layer's os::ComError (the direct save failed, or the text cannot be
// made).
int WriteStoredCopy(RunContext& context, IXMLDocumentWrapper& document, const std::string& path);

}  // namespace pelisto
