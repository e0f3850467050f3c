// Feeds arbitrary bytes, as a downloaded update configuration, through the XML access layer
// and the content record reader, as the comparison run reads it. Besides surviving every
// input: the walk yields as many entries as the count says; the address index and the XPath
// engine pick the same entry for an address; and a loaded document saved and loaded again
// gives the same entries and saves to the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/content_entry.h"
#include "fuzz/fuzz_image.h"
#include "os/com/com_error.h"
#include "os/com/hresult.h"
#include "os/fs/file_util.h"
#include "platform/xml_bounds.h"
#include "platform/xml_document_wrapper.h"
#include "platform/xml_node_wrapper.h"

namespace {

using pelisto::ContentEntry;
using pelisto::IXMLDocumentWrapper;
using pelisto::IXMLNodeWrapper;

constexpr char kInput[] = "C:\\fuzz-update.xml";
constexpr char kSaved[] = "C:\\fuzz-update.xml.old";
constexpr char kSavedAgain[] = "C:\\fuzz-update.xml.again";

struct Read {
  ContentEntry entry;
  std::string sensitive;
  std::string sha256;
  bool operator==(const Read&) const = default;
};

Read ReadNode(IXMLNodeWrapper& node) {
  Read read;
  pelisto::ReadContentEntry(node, &read.entry);
  read.sensitive = pelisto::ReadSensitive(node);
  read.sha256 = pelisto::ReadContentHash(node);
  return read;
}

std::vector<Read> Entries(IXMLDocumentWrapper& doc) {
  std::vector<Read> entries;
  FUZZ_REQUIRE(doc.InitIteration());
  for (IXMLNodeWrapper node = doc.GetNextNode(); !node.IsEmpty(); node = doc.GetNextNode()) {
    entries.push_back(ReadNode(node));
  }
  FUZZ_REQUIRE(static_cast<std::size_t>(doc.CountContentNodes()) == entries.size());
  return entries;
}

std::string FileBytes(const std::string& path) {
  std::string bytes;
  FUZZ_REQUIRE(os::ReadWholeFile(path, &bytes, 1u << 30));
  return bytes;
}

// The comparison run asks with exactly one spelling, which the index answers; any other
// spelling of the same question goes to the XPath engine.
void CheckSelection(IXMLDocumentWrapper& doc, const std::vector<Read>& entries) {
  for (std::size_t i = 0; i < entries.size() && i < 8; ++i) {
    const std::string& url = entries[i].entry.url;
    if (url.find('\'') != std::string::npos) continue;
    IXMLNodeWrapper indexed = doc.SelectSingleNode("//content[@url ='" + url + "']");
    IXMLNodeWrapper searched = doc.SelectSingleNode("//content[ @url = '" + url + "' ]");
    FUZZ_REQUIRE(indexed.IsEmpty() == searched.IsEmpty());
    if (indexed.IsEmpty()) {
      // Only an entry without the attribute (read as empty) has no match.
      FUZZ_REQUIRE(url.empty());
      continue;
    }
    FUZZ_REQUIRE(ReadNode(indexed) == ReadNode(searched));
    FUZZ_REQUIRE(ReadNode(indexed).entry.url == url);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  pelisto::fuzz::PutImageFile(kInput, bytes);
  IXMLDocumentWrapper doc;
  FUZZ_REQUIRE(doc.Create() == os::S_OK);
  std::vector<Read> entries;
  try {
    if (!doc.Load(kInput)) {
      FUZZ_REQUIRE(!doc.ParseErrorReason().empty());
      return 0;
    }
    FUZZ_REQUIRE(doc.ParseErrorReason().empty());
    entries = Entries(doc);
    CheckSelection(doc, entries);
  } catch (const os::ComError&) {
    // Text the system code page cannot hold is refused with the layer's error.
    return 0;
  }

  try {
    doc.Save(kSaved);
  } catch (const os::ComError&) {
    return 0;
  }
  IXMLDocumentWrapper again;
  FUZZ_REQUIRE(again.Create() == os::S_OK);
  if (!again.Load(kSaved)) {
    // Escaping on the way out may lengthen an attribute past the bound; nothing else may
    // keep a saved document from loading.
    FUZZ_REQUIRE(again.ParseErrorReason().find("An attribute value is longer than") != std::string::npos ||
                 FileBytes(kSaved).size() > pelisto::kConfigBounds.max_document_bytes);
    return 0;
  }
  FUZZ_REQUIRE(Entries(again) == entries);
  again.Save(kSavedAgain);
  FUZZ_REQUIRE(FileBytes(kSavedAgain) == FileBytes(kSaved));
  return 0;
}
