// The fixture of the install-step tests (content entries, install by type, shortcuts,
// program starts): the install actions' fixture with configuration documents made from
// element texts and the log as "level:text" lines.
#pragma once

#include <string>
#include <vector>

#include "platform/xml_document_wrapper.h"
#include "platform/xml_node_wrapper.h"
#include "tests/support/action_test.h"

namespace pelisto::testing {

// The time stamp FakeRunContext puts in front of its lines.
inline constexpr char kStamp[] = "[2024-01-02_03:04:05]";

class InstallTest : public ActionTest {
 protected:
  // A document of `elements` under one root, loaded from a file of the image.
  IXMLDocumentWrapper Document(const std::string& elements, const std::string& name = "new.xml") {
    const std::string path = "C:\\work\\" + name;
    PutFile(path, "<list>" + elements + "</list>");
    IXMLDocumentWrapper doc;
    EXPECT_EQ(doc.Create(), 0);
    EXPECT_TRUE(doc.Load(path)) << doc.ParseErrorReason();
    return doc;
  }
  // The first `content` element of `doc`.
  static IXMLNodeWrapper FirstContent(IXMLDocumentWrapper& doc) {
    EXPECT_TRUE(doc.InitIteration());
    return doc.GetNextNode();
  }
  // The log as "level:text" lines.
  static std::vector<std::string> Lines(const FakeRunContext& c) {
    std::vector<std::string> out;
    for (const auto& line : c.log) out.push_back(std::to_string(line.level) + ":" + line.text);
    return out;
  }
};

}  // namespace pelisto::testing
