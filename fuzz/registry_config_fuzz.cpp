// Feeds arbitrary bytes, as a downloaded configuration, to the registry-mode reader. Besides
// surviving every input: a load is deterministic and a failed one leaves the entries as they
// were; the shape measured before the parser runs is never less than what the parser builds
// (and, for a document it takes, exactly that), since the bounds that keep the parser's
// recursion and its attribute search in check are judged on it; version texts read as
// finite numbers.
#include <tinyxml.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/content_entry.h"
#include "engine/registry_config.h"
#include "engine/registry_config_shape.h"
#include "fuzz/fuzz_image.h"
#include "platform/xml_bounds.h"
#include "platform/xml_encoding.h"

namespace {

constexpr char kInput[] = "C:\\fuzz-registry.xml";

// What the parser built: the deepest element, the most attributes on one, the longest value.
void Measure(const TiXmlNode* node, std::size_t depth, pelisto::XmlShape* shape) {
  for (const TiXmlNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling()) {
    const TiXmlElement* element = child->ToElement();
    if (element == nullptr) continue;
    shape->nesting = std::max(shape->nesting, depth + 1);
    std::size_t count = 0;
    for (const TiXmlAttribute* a = element->FirstAttribute(); a != nullptr; a = a->Next()) {
      ++count;
      shape->attribute_bytes = std::max(shape->attribute_bytes, a->ValueStr().size());
    }
    shape->attributes = std::max(shape->attributes, count);
    Measure(element, depth + 1, shape);
  }
}

// The loader hands the parser UTF-8 text (the image's code page) padded with NULs.
void CheckShape(std::string_view text) {
  if (text.find('\0') != std::string_view::npos || !pelisto::IsValidUtf8(text)) return;
  const pelisto::XmlShape measured =
      pelisto::MeasureRegistryConfig(text, true, pelisto::kConfigBounds);
  std::string reason;
  if (!pelisto::WithinBounds(measured, pelisto::kConfigBounds, &reason)) return;
  std::string padded(text);
  padded.append(4, '\0');
  TiXmlDocument doc;
  doc.Parse(padded.c_str(), nullptr, TIXML_ENCODING_UTF8);
  pelisto::XmlShape built;
  Measure(&doc, 0, &built);
  FUZZ_REQUIRE(built.nesting <= measured.nesting);
  FUZZ_REQUIRE(built.attributes <= measured.attributes);
  FUZZ_REQUIRE(built.attribute_bytes <= measured.attribute_bytes);
  if (!doc.Error()) {
    FUZZ_REQUIRE(built.nesting == measured.nesting);
    FUZZ_REQUIRE(built.attributes == measured.attributes);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  pelisto::fuzz::PutImageFile(kInput, bytes);

  std::vector<pelisto::ContentEntry> entries(1);
  entries[0].name = "untouched";
  const std::vector<pelisto::ContentEntry> before = entries;
  std::string message;
  const bool loaded = pelisto::LoadRegistryConfig(kInput, &entries, &message);
  if (!loaded) {
    FUZZ_REQUIRE(entries == before);
    FUZZ_REQUIRE(message.starts_with(std::string("Error in ") + kInput + ": "));
    FUZZ_REQUIRE(message.ends_with("\n"));
  }
  std::vector<pelisto::ContentEntry> again;
  std::string message_again;
  FUZZ_REQUIRE(pelisto::LoadRegistryConfig(kInput, &again, &message_again) == loaded);
  if (loaded) {
    FUZZ_REQUIRE(again == entries);
    for (const pelisto::ContentEntry& entry : entries) {
      FUZZ_REQUIRE(std::isfinite(pelisto::ReadVersionNumber(entry.ver)));
    }
  } else {
    FUZZ_REQUIRE(message_again == message);
  }

  // Text without a byte order mark or declaration is taken in the image's code page.
  CheckShape(bytes);
  FUZZ_REQUIRE(std::isfinite(pelisto::ReadVersionNumber(bytes.substr(0, 64))));
  return 0;
}
