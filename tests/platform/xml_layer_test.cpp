#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "os/com/com_error.h"
#include "os/com/hresult.h"
#include "platform/xml_document_wrapper.h"
#include "platform/xml_node_wrapper.h"
#include "tests/support/image_test.h"

namespace pelisto {
namespace {

constexpr char kDocPath[] = "C:\\work\\config.xml";

class XmlLayerTest : public testing::ImageTest {
 protected:
  // Writes `text` as the configuration file and loads it into `doc`.
  IXMLDocumentWrapper Load(const std::string& text, const std::string& path = kDocPath) {
    PutFile(path, text);
    IXMLDocumentWrapper doc;
    EXPECT_EQ(doc.Create(), os::S_OK);
    EXPECT_TRUE(doc.Load(path)) << doc.ParseErrorReason() << "\n" << text;
    return doc;
  }

  static std::string Attr(IXMLNodeWrapper node, const std::string& name) {
    std::string value = "<absent>";
    node.LoadAttributes();
    node.GetAttribute(name, &value);
    return value;
  }
};

// Runs `call` and returns the COM error it raised; fails the test when none was raised.
os::ComError CatchComError(const std::function<void()>& call) {
  try {
    call();
  } catch (const os::ComError& e) {
    return e;
  }
  ADD_FAILURE() << "no COM error raised";
  return os::ComError(os::S_OK);
}

TEST_F(XmlLayerTest, WalksContentElementsAnywhereInDocumentOrder) {
  IXMLDocumentWrapper doc = Load(
      "<list><content url='1'/><item url='x'/><group><content url='2'>"
      "<content url='3'/></content></group><content url='4'/><Content url='y'/></list>");
  EXPECT_EQ(doc.CountContentNodes(), 4);
  ASSERT_TRUE(doc.InitIteration());
  std::vector<std::string> urls;
  for (IXMLNodeWrapper n = doc.GetNextNode(); !n.IsEmpty(); n = doc.GetNextNode()) {
    EXPECT_EQ(n.GetNodeType(), NODE_ELEMENT);
    urls.push_back(Attr(n, "url"));
  }
  EXPECT_EQ(urls, (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_TRUE(doc.GetNextNode().IsEmpty()) << "the end of the walk stays the end";
}

TEST_F(XmlLayerTest, DocumentWithoutContentHasAnEmptyWalk) {
  IXMLDocumentWrapper doc = Load("<list><item url='a'/></list>");
  EXPECT_EQ(doc.CountContentNodes(), 0);
  EXPECT_TRUE(doc.InitIteration());
  EXPECT_TRUE(doc.GetNextNode().IsEmpty());
}

TEST_F(XmlLayerTest, InitIterationRestartsTheWalkAndCopiesShareIt) {
  IXMLDocumentWrapper doc = Load("<l><content url='a'/><content url='b'/></l>");
  ASSERT_TRUE(doc.InitIteration());
  EXPECT_EQ(Attr(doc.GetNextNode(), "url"), "a");
  IXMLDocumentWrapper copy = doc;
  EXPECT_EQ(Attr(copy.GetNextNode(), "url"), "b");
  EXPECT_TRUE(doc.GetNextNode().IsEmpty());
  ASSERT_TRUE(doc.InitIteration());
  EXPECT_EQ(Attr(doc.GetNextNode(), "url"), "a");
}

TEST_F(XmlLayerTest, LoadAndSaveWithoutDocumentReturnFalseAndZero) {
  PutFile(kDocPath, "<l/>");
  IXMLDocumentWrapper doc;
  EXPECT_FALSE(doc.HasDocument());
  EXPECT_FALSE(doc.Load(kDocPath));
  EXPECT_EQ(doc.Save("C:\\work\\out.xml"), 0);
  EXPECT_FALSE(HostExists("C:\\work\\out.xml"));
}

TEST_F(XmlLayerTest, CreateDropsTheDocumentHeld) {
  IXMLDocumentWrapper doc = Load("<l><content url='a'/></l>");
  IXMLNodeWrapper kept = doc.SelectSingleNode("//content");
  ASSERT_EQ(doc.Create(), os::S_OK);
  EXPECT_EQ(doc.CountContentNodes(), 0);
  EXPECT_EQ(Attr(kept, "url"), "a") << "a node keeps its own document alive";
}

TEST_F(XmlLayerTest, NodesOutliveTheirDocumentAndAReload) {
  PutFile("C:\\work\\other.xml", "<l><content url='other'/></l>");
  IXMLNodeWrapper node;
  {
    IXMLDocumentWrapper doc = Load("<l><content url='a' ver='1'/></l>");
    node = doc.SelectSingleNode("//content");
    ASSERT_TRUE(doc.Load("C:\\work\\other.xml"));
    EXPECT_EQ(Attr(doc.SelectSingleNode("//content"), "url"), "other");
  }
  EXPECT_EQ(Attr(node, "ver"), "1");
  node.LoadAttributes();
  node.SetAttribute("ver", "2");
  EXPECT_EQ(Attr(node, "ver"), "2");
}

struct EmptyWrapperCase {
  const char* name;
  std::function<void()> call;
  os::HRESULT hr;
  const char* interface_name;
};

class XmlLayerEmptyWrapper : public testing::ImageTest,
                             public ::testing::WithParamInterface<int> {};

std::vector<EmptyWrapperCase> EmptyWrapperCases() {
  return {
      {"GetXml", [] { IXMLDocumentWrapper().GetXml(); }, os::E_POINTER, "IXMLDOMDocument"},
      {"CountContentNodes", [] { IXMLDocumentWrapper().CountContentNodes(); }, os::E_POINTER,
       "IXMLDOMDocument"},
      {"InitIteration", [] { IXMLDocumentWrapper().InitIteration(); }, os::E_POINTER,
       "IXMLDOMDocument"},
      {"SelectSingleNode", [] { IXMLDocumentWrapper().SelectSingleNode("//content"); },
       os::E_POINTER, "IXMLDOMDocument"},
      {"GetNextNodeBeforeInitIteration",
       [] {
         IXMLDocumentWrapper doc;
         doc.Create();
         doc.GetNextNode();
       },
       os::E_POINTER, "IXMLDOMNodeList"},
      {"GetNodeType", [] { IXMLNodeWrapper().GetNodeType(); }, os::E_POINTER, "IXMLDOMNode"},
      {"LoadAttributes", [] { IXMLNodeWrapper().LoadAttributes(); }, os::E_POINTER,
       "IXMLDOMNode"},
      {"GetAttributeOnEmptyNode",
       [] {
         std::string v;
         IXMLNodeWrapper().GetAttribute("url", &v);
       },
       os::E_POINTER, "IXMLDOMNamedNodeMap"},
      {"SetAttributeOnEmptyNode", [] { IXMLNodeWrapper().SetAttribute("url", "x"); },
       os::E_POINTER, "IXMLDOMNamedNodeMap"},
  };
}

TEST_P(XmlLayerEmptyWrapper, RaisesComErrorWithInterfaceName) {
  const EmptyWrapperCase c = EmptyWrapperCases()[GetParam()];
  os::ComError e = CatchComError(c.call);
  EXPECT_EQ(e.Error(), c.hr) << c.name;
  EXPECT_EQ(e.InterfaceName(), c.interface_name) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Operations, XmlLayerEmptyWrapper,
                         ::testing::Range(0, static_cast<int>(EmptyWrapperCases().size())),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(EmptyWrapperCases()[info.param].name);
                         });

TEST_F(XmlLayerTest, AttributeOperationsNeedLoadAttributes) {
  IXMLDocumentWrapper doc = Load("<l><content url='a'/></l>");
  IXMLNodeWrapper node = doc.SelectSingleNode("//content");
  std::string v;
  os::ComError e = CatchComError([&] { node.GetAttribute("url", &v); });
  EXPECT_EQ(e.Error(), os::E_POINTER);
  EXPECT_EQ(e.InterfaceName(), "IXMLDOMNamedNodeMap");
}

TEST_F(XmlLayerTest, NonElementNodeHasNoAttributeMap) {
  IXMLDocumentWrapper doc = Load("<l><!-- note --><content url='a'/></l>");
  IXMLNodeWrapper comment = doc.SelectSingleNode("//comment()");
  ASSERT_FALSE(comment.IsEmpty());
  EXPECT_EQ(comment.GetNodeType(), NODE_COMMENT);
  comment.LoadAttributes();
  std::string v;
  EXPECT_EQ(CatchComError([&] { comment.GetAttribute("url", &v); }).Error(), os::E_POINTER);
}

TEST_F(XmlLayerTest, AbsentAttributeLeavesTheOutputAsTheCallerSetIt) {
  IXMLDocumentWrapper doc = Load("<l><content url='a' ver=''/></l>");
  IXMLNodeWrapper node = doc.SelectSingleNode("//content");
  node.LoadAttributes();
  std::string value = "x";
  node.GetAttribute("sensitive", &value);
  EXPECT_EQ(value, "x");
  node.GetAttribute("URL", &value);
  EXPECT_EQ(value, "x") << "attribute names keep their case";
  node.GetAttribute("ver", &value);
  EXPECT_EQ(value, "") << "a present empty attribute overwrites";
}

TEST_F(XmlLayerTest, SetAttributeChangesOnlyExistingAttributesAndSaveKeepsTheRest) {
  const std::string original =
      "<?xml version=\"1.0\" encoding=\"EUC-KR\"?>\n<!-- published -->\n<list>\n"
      "  <content name=\"a\" url=\"http://h/a.dll\" ver=\"1.0\"/>\n"
      "  <content name=\"b\" url=\"http://h/b.dll\"/>\n</list>\n";
  IXMLDocumentWrapper doc = Load(original);
  ASSERT_TRUE(doc.InitIteration());
  IXMLNodeWrapper a = doc.GetNextNode();
  IXMLNodeWrapper b = doc.GetNextNode();
  b.LoadAttributes();
  b.SetAttribute("ver", "9.9");
  ASSERT_EQ(doc.Save("C:\\work\\same.xml"), os::S_OK);
  EXPECT_EQ(GetFile("C:\\work\\same.xml"), original);

  a.LoadAttributes();
  a.SetAttribute("ver", "2.0");
  ASSERT_EQ(doc.Save(kDocPath), os::S_OK);
  std::string expected = original;
  expected.replace(expected.find("1.0\"/>"), 3, "2.0");
  EXPECT_EQ(GetFile(kDocPath), expected);
  EXPECT_EQ(doc.GetXml(), expected);
}

TEST_F(XmlLayerTest, SaveFailureRaisesAndLeavesTheTargetAlone) {
  IXMLDocumentWrapper doc = Load("<l><content url='a'/></l>");
  os::ComError missing = CatchComError([&] { doc.Save("C:\\no such folder\\x.xml"); });
  EXPECT_EQ(missing.Error(), os::HRESULT_FROM_WIN32(3)) << missing.what();
  EXPECT_EQ(missing.InterfaceName(), "IXMLDOMDocument");

  SetOsMajor(6);  // the control's process may not write C:\Windows
  PutFile("C:\\Windows\\kept.xml", "old");
  os::ComError denied = CatchComError([&] { doc.Save("C:\\Windows\\kept.xml"); });
  EXPECT_EQ(denied.Error(), os::E_ACCESSDENIED);
  EXPECT_EQ(GetFile("C:\\Windows\\kept.xml"), "old");
}

TEST_F(XmlLayerTest, ApostropheInTheAddressIsAComErrorFromSelectSingleNode) {
  IXMLDocumentWrapper doc = Load("<l><content url='a'/></l>");
  os::ComError e = CatchComError([&] { doc.SelectSingleNode("//content[@url ='it's']"); });
  EXPECT_EQ(e.Error(), os::E_FAIL);
  EXPECT_EQ(e.InterfaceName(), "IXMLDOMDocument");
  EXPECT_FALSE(e.Description().empty());
}

TEST_F(XmlLayerTest, SelectSingleNodeReturnsTheFirstMatchInDocumentOrder) {
  IXMLDocumentWrapper doc = Load(
      "<l><content url='b' id='1'/><x><content url='a' id='2'><content url='a' id='3'/>"
      "</content></x><content url='a' id='4'/><item url='c' id='5'/>"
      "<content id='6' url='c'/><content url='' id='7'/><content id='8'/></l>");
  struct Case {
    const char* url;
    const char* id;
  } cases[] = {{"a", "2"}, {"b", "1"}, {"c", "6"}, {"", "7"}, {"A", "<absent>"}, {"a ", "<absent>"}};
  for (const Case& c : cases) {
    std::string indexed = "//content[@url ='" + std::string(c.url) + "']";
    std::string general = "(//content[@url='" + std::string(c.url) + "'])[1]";
    IXMLNodeWrapper hit = doc.SelectSingleNode(indexed);
    IXMLNodeWrapper reference = doc.SelectSingleNode(general);
    EXPECT_EQ(hit.IsEmpty() ? "<absent>" : Attr(hit, "id"), c.id) << indexed;
    EXPECT_EQ(reference.IsEmpty() ? "<absent>" : Attr(reference, "id"), c.id) << general;
  }
}

TEST_F(XmlLayerTest, ChangingAnAddressIsSeenByTheNextSelection) {
  IXMLDocumentWrapper doc = Load("<l><content url='a' id='1'/><content url='a' id='2'/></l>");
  IXMLNodeWrapper first = doc.SelectSingleNode("//content[@url ='a']");
  ASSERT_EQ(Attr(first, "id"), "1");
  first.LoadAttributes();
  first.SetAttribute("url", "z");
  EXPECT_EQ(Attr(doc.SelectSingleNode("//content[@url ='a']"), "id"), "2");
  EXPECT_EQ(Attr(doc.SelectSingleNode("//content[@url ='z']"), "id"), "1");
}

TEST_F(XmlLayerTest, LargeDocumentLoadsAndSearches) {
  std::string text = "<list>";
  for (int i = 0; i < 100000; ++i) {
    text += "<content name='n" + std::to_string(i) + "' url='http://h/f" + std::to_string(i) +
            ".dll' ver='1.0'/>";
  }
  text += "</list>";
  IXMLDocumentWrapper doc = Load(text);
  EXPECT_EQ(doc.CountContentNodes(), 100000);
  EXPECT_EQ(Attr(doc.SelectSingleNode("//content[@url ='http://h/f99999.dll']"), "name"), "n99999");
}

struct BadDocument {
  const char* name;
  std::string bytes;
  const char* reason_part;  // a piece of the reason Load must give
};

void PrintTo(const BadDocument& bad, std::ostream* os) { *os << bad.name; }

class XmlLayerBadInput : public testing::ImageTest,
                         public ::testing::WithParamInterface<BadDocument> {};

TEST_P(XmlLayerBadInput, LoadFailsWithAReasonAndLeavesAnEmptyDocument) {
  const BadDocument& bad = GetParam();
  PutFile(kDocPath, "<l><content url='previous'/></l>");
  IXMLDocumentWrapper doc;
  ASSERT_EQ(doc.Create(), os::S_OK);
  ASSERT_TRUE(doc.Load(kDocPath));
  PutFile(kDocPath, bad.bytes);
  EXPECT_FALSE(doc.Load(kDocPath)) << bad.name;
  EXPECT_NE(doc.ParseErrorReason().find(bad.reason_part), std::string::npos)
      << bad.name << ": " << doc.ParseErrorReason();
  EXPECT_EQ(doc.CountContentNodes(), 0) << bad.name;
  EXPECT_TRUE(doc.SelectSingleNode("//content[@url ='previous']").IsEmpty()) << bad.name;
}

INSTANTIATE_TEST_SUITE_P(
    Documents, XmlLayerBadInput,
    ::testing::Values(
        BadDocument{"Empty", "", "No document element"},
        BadDocument{"BlanksOnly", " \r\n\t", "No document element"},
        BadDocument{"DeclarationOnly", "<?xml version=\"1.0\"?>", "No document element"},
        BadDocument{"CommentOnly", "<!-- nothing -->", "No document element"},
        BadDocument{"Unclosed", "<list><content url='a'>", "at byte"},
        BadDocument{"Mismatched", "<list><content url='a'></list>", "mismatch"},
        BadDocument{"UnquotedAttribute", "<list><content url=a/></list>", "at byte"},
        BadDocument{"DuplicateAttribute", "<l><content url='a' url='b'/></l>", "Duplicate"},
        BadDocument{"InvalidUtf8", "<l><content name='\xC7\xD1'/></l>", "not valid"},
        BadDocument{"InvalidEucKr",
                    "<?xml version='1.0' encoding='EUC-KR'?><l><content name='\xC7\x01'/></l>",
                    "not valid"},
        BadDocument{"UnknownEncoding", "<?xml version='1.0' encoding='klingon'?><l/>",
                    "not supported"},
        BadDocument{"Utf16", std::string("\xFF\xFE<\0l\0/\0>\0", 10), "UTF-16"},
        BadDocument{"MarkContradictsDeclaration",
                    "\xEF\xBB\xBF<?xml version='1.0' encoding='EUC-KR'?><l/>", "byte order mark"},
        BadDocument{"NulByte", std::string("<l>\0</l>", 8), "NUL"},
        // The encoding scan and the parser must read a declaration alike, or a saved copy
        // would name no encoding, or another, than the one its bytes are in.
        BadDocument{"DeclarationCutShortBeforeItsEncoding",
                    "<?xml version='1.0' x='\xC7\xD1'/>' encoding='EUC-KR'?><l/>", "declaration"},
        BadDocument{"EncodingInsideAnotherValue",
                    "<?xml version='1.0' standalone='no encoding=\"EUC-KR\"'?><l/>", "declaration"},
        BadDocument{"TwoRoots", "<a/><b/>", "more than one root"},
        BadDocument{"TextBeforeRoot", "text<a/>", "outside its root"},
        BadDocument{"TextAfterRoot", "<a/>trailing", "outside its root"},
        BadDocument{"CdataAtTop", "<a/><![CDATA[x]]>", "outside its root"},
        BadDocument{"UndefinedEntity", "<a>&undefined;</a>", "reference"},
        BadDocument{"UndefinedEntityInAttribute", "<a><content url='&nbsp;'/></a>", "reference"},
        BadDocument{"BareAmpersand", "<a>fish & chips</a>", "reference"},
        BadDocument{"CharacterZero", "<a>&#0;</a>", "reference"},
        BadDocument{"Surrogate", "<a>&#xD800;</a>", "reference"},
        BadDocument{"BeyondUnicode", "<a>&#x110000;</a>", "reference"},
        BadDocument{"ControlCharacter", "<a>\x01</a>", "control character"},
        BadDocument{"ControlCharacterInComment", "<a><!-- \x02 --></a>", "control character"}),
    [](const ::testing::TestParamInfo<BadDocument>& info) { return std::string(info.param.name); });

TEST_F(XmlLayerTest, ReferencesAndLiteralAmpersandsOfAWellFormedDocumentLoad) {
  IXMLDocumentWrapper doc = Load(
      "<!DOCTYPE l [<!ENTITY x 'y'>]><l><!-- a & b --><![CDATA[ & ]]><?pi & ?>"
      "<content url='a&amp;b&#x41;&#65;&lt;&gt;&apos;&quot;&#x10FFFF;'/></l>");
  EXPECT_EQ(Attr(doc.SelectSingleNode("//content"), "url"), "a&bAA<>'\"\xF4\x8F\xBF\xBF");
}

TEST_F(XmlLayerTest, MissingFileFailsToLoad) {
  IXMLDocumentWrapper doc;
  ASSERT_EQ(doc.Create(), os::S_OK);
  EXPECT_FALSE(doc.Load("C:\\work\\missing.xml"));
  EXPECT_FALSE(doc.ParseErrorReason().empty());
}

// "한글" in EUC-KR and in UTF-8.
constexpr char kHangulEucKr[] = "\xC7\xD1\xB1\xDB";
constexpr char kHangulUtf8[] = "\xED\x95\x9C\xEA\xB8\x80";

TEST_F(XmlLayerTest, EucKrDocumentOnAKoreanSystemPassesItsBytesThrough) {
  os::ImageSettings s = machine().settings();
  s.code_page = 949;
  Reconfigure(s);
  const std::string text = std::string("<?xml version=\"1.0\" encoding=\"EUC-KR\"?>\n<l><content url=\"") +
                           kHangulEucKr + "\" name=\"" + kHangulEucKr + "\"/></l>\n";
  IXMLDocumentWrapper doc = Load(text);
  IXMLNodeWrapper hit = doc.SelectSingleNode(std::string("//content[@url ='") + kHangulEucKr + "']");
  ASSERT_FALSE(hit.IsEmpty());
  EXPECT_EQ(Attr(hit, "name"), kHangulEucKr);
  hit.LoadAttributes();
  hit.SetAttribute("name", std::string(kHangulEucKr) + "2");
  ASSERT_EQ(doc.Save(kDocPath), os::S_OK);
  std::string expected = text;
  expected.insert(expected.rfind("\"/>"), "2");
  EXPECT_EQ(GetFile(kDocPath), expected);
}

TEST_F(XmlLayerTest, EucKrDocumentOnAUtf8SystemIsConvertedAtTheBoundary) {
  const std::string text = std::string("<?xml version=\"1.0\" encoding=\"EUC-KR\"?>\n<l><content url=\"") +
                           kHangulEucKr + "\"/></l>\n";
  IXMLDocumentWrapper doc = Load(text);
  IXMLNodeWrapper hit = doc.SelectSingleNode(std::string("//content[@url ='") + kHangulUtf8 + "']");
  ASSERT_FALSE(hit.IsEmpty());
  EXPECT_EQ(Attr(hit, "url"), kHangulUtf8);
  EXPECT_NE(doc.GetXml().find(kHangulUtf8), std::string::npos);
  ASSERT_EQ(doc.Save(kDocPath), os::S_OK);
  EXPECT_EQ(GetFile(kDocPath), text) << "the file keeps the encoding it declares";

  // A character EUC-KR cannot hold cannot be written into that document.
  hit.LoadAttributes();
  hit.SetAttribute("url", "\xF0\x9F\x98\x80");
  os::ComError e = CatchComError([&] { doc.Save(kDocPath); });
  EXPECT_EQ(e.Error(), os::HRESULT_FROM_WIN32(13));
  EXPECT_EQ(GetFile(kDocPath), text);
}

TEST_F(XmlLayerTest, TextInvalidInTheSystemCodePageIsAComError) {
  IXMLDocumentWrapper doc = Load("<l><content url='a'/></l>");
  os::ComError e = CatchComError([&] { doc.SelectSingleNode("//content[@url ='\xFF']"); });
  EXPECT_EQ(e.Error(), os::HRESULT_FROM_WIN32(13));
  EXPECT_EQ(e.InterfaceName(), "IXMLDOMDocument");
}

}  // namespace
}  // namespace pelisto
