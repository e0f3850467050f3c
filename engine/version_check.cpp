#include "engine/version_check.h"

#include <new>

#include "control/run_context.h"
#include "engine/content_entry.h"
#include "os/base/text.h"
#include "os/com/com_error.h"
#include "os/com/hresult.h"
#include "platform/xml_document_wrapper.h"
#include "platform/xml_node_wrapper.h"

namespace pelisto {
namespace {

bool IsLeadByte(unsigned char c, os::UINT code_page) {
  return code_page == os::CP_KOREAN && c >= 0x81 && c <= 0xFE;
}

// The code value of the character at `*i`, advancing `*i` past it.
unsigned NextCharacter(std::string_view text, std::size_t* i, os::UINT code_page) {
  unsigned char c = static_cast<unsigned char>(text[(*i)++]);
  if (IsLeadByte(c, code_page) && *i < text.size()) {
    return (static_cast<unsigned>(c) << 8) | static_cast<unsigned char>(text[(*i)++]);
  }
  return c;
}

}  // namespace

int CompareMultiByte(std::string_view a, std::string_view b, os::UINT code_page) {
  if (code_page == os::CP_ACP) code_page = os::GetACP();
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    unsigned x = NextCharacter(a, &i, code_page);
    unsigned y = NextCharacter(b, &j, code_page);
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

int CheckVersion(const IXMLDocumentWrapper& stored, const std::string& url,
                 const std::string& ver, IXMLNodeWrapper& entry) {
  std::string expression;
  try {
    expression.reserve(url.size() + 20);
    expression.append("//content[@url ='").append(url).append("']");
  } catch (const std::bad_alloc&) {
    throw RunError("Failed new");
  }
  IXMLNodeWrapper old_entry = stored.SelectSingleNode(expression);
  if (url.find('\'') != std::string::npos) {
    // The address ended the quoted literal early; whatever the text selects is not the entry.
    throw os::ComError(os::E_FAIL, "IXMLDOMDocument",
                       "The address holds an apostrophe and cannot be searched for: " + url);
  }
  if (old_entry.IsEmpty()) return 0;

  old_entry.LoadAttributes();
  std::string old_ver;
  old_entry.GetAttribute("ver", &old_ver);
  std::string rule = ReadSensitive(entry);

  int order = CompareMultiByte(old_ver, ver, os::CP_ACP);
  bool installed;
  if (rule == "upgrade") {
    installed = order >= 0;
  } else if (rule == "downgrade") {
    installed = order <= 0;
  } else {
    return order == 0 ? 1 : 0;
  }
  // Under a rule the stored version is carried into the new configuration, so the recorded
  // version never moves against the rule.
  if (installed) entry.SetAttribute("ver", old_ver);
  return installed ? 1 : 0;
}

}  // namespace pelisto
