#include "platform/xml_document_wrapper.h"

#include <cstdio>
#include <string_view>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/hresult.h"
#include "os/fs/file_util.h"
#include "platform/xml_bounds.h"
#include "platform/xml_encoding.h"
#include "platform/xml_tree.h"

namespace pelisto {
namespace {
constexpr const char* kDocument = "IXMLDOMDocument";
constexpr const char* kNodeList = "IXMLDOMNodeList";
constexpr const char* kContentPath = "//content";

// The one selection shape the comparison run issues once per entry; it is answered from the
// tree's address index instead of a scan of the whole document. The address may not hold
// an apostrophe: such an expression goes to the XPath engine, which judges it.
bool ParseAddressSelection(std::string_view expression, std::string_view* address) {
  constexpr std::string_view kPrefix = "//content[@url ='";
  constexpr std::string_view kSuffix = "']";
  if (expression.size() < kPrefix.size() + kSuffix.size() || !expression.starts_with(kPrefix) ||
      !expression.ends_with(kSuffix)) {
    return false;
  }
  std::string_view literal =
      expression.substr(kPrefix.size(), expression.size() - kPrefix.size() - kSuffix.size());
  if (literal.find('\'') != std::string_view::npos) return false;
  *address = literal;
  return true;
}
}  // namespace

IXMLDocumentWrapper::IXMLDocumentWrapper() = default;

os::HRESULT IXMLDocumentWrapper::Create() {
  document_.reset();
  try {
    auto document = std::make_shared<XmlDomDocument>();
    document->tree = std::make_shared<XmlTree>();
    document_ = std::move(document);
  } catch (const std::bad_alloc&) {
    return os::E_OUTOFMEMORY;
  }
  return os::S_OK;
}

bool IXMLDocumentWrapper::Load(const std::string& path) {
  if (!document_) return false;
  return GuardDomCall(kDocument, [&] {
    std::string bytes;
    if (os::ReadWholeFile(path, &bytes, kConfigBounds.max_document_bytes)) return ParseBytes(bytes);
    const os::DWORD error = os::GetLastError();
    return RefuseLoad(error == os::ERROR_FILE_TOO_LARGE ? DocumentTooLargeReason(kConfigBounds)
                                                        : os::Win32ErrorText(error));
  });
}

bool IXMLDocumentWrapper::LoadBytes(const std::string& bytes) {
  if (!document_) return false;
  return GuardDomCall(kDocument, [&] { return ParseBytes(bytes); });
}

bool IXMLDocumentWrapper::ParseBytes(const std::string& bytes) {
  std::string reason;
  std::shared_ptr<XmlTree> tree = XmlTree::Parse(bytes, &reason);
  if (!tree) return RefuseLoad(reason);
  document_->tree = std::move(tree);
  document_->parse_error.clear();
  return true;
}

bool IXMLDocumentWrapper::RefuseLoad(const std::string& reason) {
  // A failed load leaves an empty document, as the DOM does.
  document_->tree = std::make_shared<XmlTree>();
  document_->parse_error = reason.empty() ? "The document could not be loaded." : reason;
  return false;
}

std::string IXMLDocumentWrapper::ParseErrorReason() const {
  return document_ ? document_->parse_error : std::string();
}

os::HRESULT IXMLDocumentWrapper::Save(const std::string& path) {
  if (!document_) return 0;
  return GuardDomCall(kDocument, [&] {
    const XmlTree& tree = *document_->tree;
    std::string bytes = tree.bom ? "\xEF\xBB\xBF" : "";
    std::string text;
    if (!ConvertCodePage(tree.Serialize(), os::CP_UTF8, tree.code_page, &text)) {
      ThrowDomError(os::HRESULT_FROM_WIN32(os::ERROR_INVALID_DATA), kDocument,
                    "The document holds characters its encoding cannot represent.");
    }
    bytes += text;
    if (!os::WriteFileAtomically(path, bytes)) {
      os::DWORD error = os::GetLastError();
      ThrowDomError(os::HRESULT_FROM_WIN32(error), kDocument, os::Win32ErrorText(error));
    }
    return os::S_OK;
  });
}

std::string IXMLDocumentWrapper::GetXml() const {
  if (!document_) ThrowDomError(os::E_POINTER, kDocument);
  return GuardDomCall(kDocument, [&] { return FromTreeText(document_->tree->Serialize(), kDocument); });
}

os::LONG IXMLDocumentWrapper::CountContentNodes() const {
  if (!document_) ThrowDomError(os::E_POINTER, kDocument);
  return GuardDomCall(kDocument, [&] {
    return static_cast<os::LONG>(document_->tree->doc.select_nodes(kContentPath).size());
  });
}

bool IXMLDocumentWrapper::InitIteration() {
  if (!document_) ThrowDomError(os::E_POINTER, kDocument);
  return GuardDomCall(kDocument, [&] {
    auto list = std::make_shared<XmlNodeList>();
    list->tree = document_->tree;
    list->nodes = list->tree->doc.select_nodes(kContentPath);
    list->nodes.sort();
    content_list_ = std::move(list);
    return true;
  });
}

IXMLNodeWrapper IXMLDocumentWrapper::GetNextNode() {
  if (!content_list_) ThrowDomError(os::E_POINTER, kNodeList);
  XmlNodeList& list = *content_list_;
  if (list.next >= list.nodes.size()) return IXMLNodeWrapper();
  pugi::xml_node node = list.nodes[list.next++].node();
  return IXMLNodeWrapper(XmlNodeHandle{list.tree, node.internal_object()});
}

IXMLNodeWrapper IXMLDocumentWrapper::SelectSingleNode(const std::string& expression) const {
  if (!document_) ThrowDomError(os::E_POINTER, kDocument);
  return GuardDomCall(kDocument, [&] {
    const std::shared_ptr<XmlTree>& tree = document_->tree;
    std::string query = ToTreeText(expression, kDocument);
    std::string_view address;
    pugi::xml_node found;
    if (ParseAddressSelection(query, &address)) {
      found = tree->FirstContentWithUrl(address);
    } else {
      pugi::xpath_node hit;
      try {
        hit = tree->doc.select_node(query.c_str());
      } catch (const pugi::xpath_exception& e) {
        ThrowDomError(os::E_FAIL, kDocument, e.what());
      }
      if (hit.attribute()) {
        ThrowDomError(os::E_NOTIMPL, kDocument, "Selecting attribute nodes is not supported.");
      }
      found = hit.node();
    }
    return IXMLNodeWrapper(XmlNodeHandle{tree, found.internal_object()});
  });
}

}  // namespace pelisto
