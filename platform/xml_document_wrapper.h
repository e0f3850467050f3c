// A configuration document, as the XML access layer loads, walks, searches and saves it.
//
// The DOM behind it is a pugixml tree with XPath 1.0 selection. A value object: copies share
// the document and the iteration over its `content` elements (reference counting). Text in
// and out (paths, expressions, the serialised XML) is narrow text in the system ANSI code
// page; a document keeps the encoding its file declares and Save writes it back in it.
//
// Failures raise os::ComError with the HRESULT and the interface name (the layer catches
// nothing):
//   E_POINTER     an operation on a wrapper without a document ("IXMLDOMDocument"), or
//                 GetNextNode before InitIteration ("IXMLDOMNodeList")
//   E_FAIL        an invalid selection expression (an apostrophe inside the quoted address),
//                 with the DOM's message as the description
//   E_OUTOFMEMORY memory ran out
//   0x8007000D    a text that cannot be converted between the code pages
//   0x8007xxxx    Save could not write the file (the Windows error of the write)
// Load and Save are the exceptions: without a document they return false and 0.
// Not thread-safe: used on the thread that runs the update.
#pragma once

#include <memory>
#include <string>

#include "os/base/types.h"
#include "platform/xml_dom.h"
#include "platform/xml_node_wrapper.h"

namespace pelisto {

class IXMLDocumentWrapper {
 public:
  IXMLDocumentWrapper();
  IXMLDocumentWrapper(const IXMLDocumentWrapper&) = default;
  IXMLDocumentWrapper(IXMLDocumentWrapper&&) = default;
  IXMLDocumentWrapper& operator=(const IXMLDocumentWrapper&) = default;
  IXMLDocumentWrapper& operator=(IXMLDocumentWrapper&&) = default;
  virtual ~IXMLDocumentWrapper() = default;

  // Drops any document held and creates a new, empty one. Never raises: returns S_OK, or the
  // failing HRESULT with no document held.
  os::HRESULT Create();
  bool HasDocument() const { return document_ != nullptr; }

  // Loads the file at the Windows-form `path`, replacing the content. False without a
  // document, or when the file cannot be read or is not a well-formed document in an
  // encoding this system converts (the document is then empty; ParseErrorReason says why).
  bool Load(const std::string& path);
  // Loads `bytes`, a file's whole content, as Load loads the file: for a document whose
  // bytes were already read and checked, so that no second read of the file can differ.
  bool LoadBytes(const std::string& bytes);
  // Why the last Load failed; empty after a successful one.
  std::string ParseErrorReason() const;

  // Writes the whole document to `path` in its own encoding. The file is written beside the
  // target and renamed into place, so a failure never leaves it half-written. Returns 0
  // without a document, S_OK when written; raises when the file cannot be written.
  os::HRESULT Save(const std::string& path);

  // The serialised document.
  std::string GetXml() const;

  // The number of `content` elements anywhere in the document ("//content").
  os::LONG CountContentNodes() const;

  // Starts a walk over the `content` elements in document order, replacing an earlier
  // walk. True when a list was obtained (an empty list is a list).
  bool InitIteration();
  // The next node of the walk; an empty node at the end.
  IXMLNodeWrapper GetNextNode();

  // The first node, in document order, that the XPath `expression` selects; an empty node
  // when nothing matches.
  IXMLNodeWrapper SelectSingleNode(const std::string& expression) const;

 private:
  // Both run inside the DOM call guard of a load.
  bool ParseBytes(const std::string& bytes);
  bool RefuseLoad(const std::string& reason);

  // Released in reverse order: the content list first, then the document.
  std::shared_ptr<XmlDomDocument> document_;
  std::shared_ptr<XmlNodeList> content_list_;
};

}  // namespace pelisto
