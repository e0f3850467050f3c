#include "engine/stored_copy.h"

#include "os/base/text.h"
#include "platform/xml_document_wrapper.h"
#include "platform/xml_encoding.h"

namespace pelisto {

std::string StoredCopyText(const IXMLDocumentWrapper& document) {
  std::string text = document.GetXml();
  const std::size_t end = text.find("?>");
  if (end != std::string::npos) text.erase(0, end + 2);
  return "<?xml version=\"1.0\" encoding=\"" + EncodingNameFromCodePage(os::CP_ACP) + "\"?>" +
         text;
}

int WriteStoredCopy(RunContext& context, IXMLDocumentWrapper& document, const std::string& path) {
  PrivilegedOps& ops = context.Privileged();
  // The broker takes text; the direct save keeps the document's own encoding and
  // declaration, which the file read back agrees with.
  if (ops.Brokered()) return ops.WriteFileAtomically(path, StoredCopyText(document)) ? 1 : 0;
  document.Save(path);
  return 1;
}

}  // namespace pelisto
