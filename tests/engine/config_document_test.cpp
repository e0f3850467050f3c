#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/content_entry.h"
#include "engine/registry_config.h"
#include "os/com/com_error.h"
#include "os/com/hresult.h"
#include "platform/xml_document_wrapper.h"
#include "platform/xml_node_wrapper.h"
#include "tests/support/image_test.h"

namespace pelisto {
namespace {

constexpr char kPath[] = "C:\\work\\update.xml";

const char kFullElement[] =
    "<content regMode='number' argument='/s' patchURL='p' isDown='TRUE' attrName='an' "
    "regTo='SOFTWARE\\X' regRoot='HKEY_LOCAL_MACHINE' toSetVer='7' lnkName='Link' q='Yes' "
    "type='zip' target='{program}\\V' url='http://h/a.zip' ver='1.2.3' name='A' "
    "sensitive='upgrade' extra='ignored'/>";

ContentEntry FullEntry() {
  ContentEntry e;
  e.name = "A";
  e.ver = "1.2.3";
  e.url = "http://h/a.zip";
  e.target = "{program}\\V";
  e.type = "zip";
  e.q = "Yes";
  e.lnkName = "Link";
  e.toSetVer = "7";
  e.regRoot = "HKEY_LOCAL_MACHINE";
  e.regTo = "SOFTWARE\\X";
  e.attrName = "an";
  e.isDown = "TRUE";
  e.patchURL = "p";
  e.argument = "/s";
  e.regMode = "number";
  return e;
}

class ConfigDocumentTest : public testing::ImageTest {
 protected:
  IXMLDocumentWrapper LoadDom(const std::string& text) {
    PutFile(kPath, text);
    IXMLDocumentWrapper doc;
    EXPECT_EQ(doc.Create(), os::S_OK);
    EXPECT_TRUE(doc.Load(kPath)) << doc.ParseErrorReason();
    return doc;
  }
  std::vector<ContentEntry> LoadRegistry(const std::string& text) {
    PutFile(kPath, text);
    std::vector<ContentEntry> entries;
    std::string message;
    EXPECT_TRUE(LoadRegistryConfig(kPath, &entries, &message)) << message;
    return entries;
  }
};

TEST_F(ConfigDocumentTest, DomReaderReadsAttributesInAnyOrderAndSensitiveOutsideTheRecord) {
  IXMLDocumentWrapper doc = LoadDom(std::string("<list>") + kFullElement + "</list>");
  IXMLNodeWrapper node = doc.SelectSingleNode("//content");
  ContentEntry entry;
  ReadContentEntry(node, &entry);
  EXPECT_EQ(entry, FullEntry());
  EXPECT_EQ(ReadSensitive(node), "upgrade");
}

TEST_F(ConfigDocumentTest, MissingAttributesReadAsEmpty) {
  IXMLDocumentWrapper doc = LoadDom("<list><content url='http://h/a.dll' name='A'/></list>");
  IXMLNodeWrapper node = doc.SelectSingleNode("//content");
  ContentEntry entry;
  ReadContentEntry(node, &entry);
  ContentEntry expected;
  expected.name = "A";
  expected.url = "http://h/a.dll";
  EXPECT_EQ(entry, expected);
  EXPECT_EQ(ReadSensitive(node), "");
}

TEST_F(ConfigDocumentTest, DomReaderOnAnEmptyNodeIsAComError) {
  IXMLNodeWrapper empty;
  ContentEntry entry;
  try {
    ReadContentEntry(empty, &entry);
    FAIL() << "no COM error";
  } catch (const os::ComError& e) {
    EXPECT_EQ(e.Error(), os::E_POINTER);
  }
}

TEST_F(ConfigDocumentTest, RegistryReaderTakesEveryElementChildOfTheRootInOrder) {
  std::vector<ContentEntry> entries = LoadRegistry(
      "<?xml version='1.0'?>\n<!-- c --><list>text<content name='one'/><!-- x -->"
      "<item name='two'><content name='nested'/></item>" +
      std::string(kFullElement) + "</list><other name='outside'/>");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "one");
  EXPECT_EQ(entries[1].name, "two") << "any element name counts";
  EXPECT_EQ(entries[2], FullEntry());
}

TEST_F(ConfigDocumentTest, RegistryReaderWithoutRootGivesNoEntries) {
  std::vector<ContentEntry> entries{ContentEntry{}};
  std::string message;
  PutFile(kPath, "<?xml version='1.0'?>");
  EXPECT_TRUE(LoadRegistryConfig(kPath, &entries, &message)) << message;
  EXPECT_TRUE(entries.empty());
}

struct BadRegistryDocument {
  const char* name;
  std::string bytes;
  const char* description;  // the part after "Error in <path>: "
};
void PrintTo(const BadRegistryDocument& bad, std::ostream* os) { *os << bad.name; }

class ConfigDocumentBadRegistryInput : public testing::ImageTest,
                                       public ::testing::WithParamInterface<BadRegistryDocument> {};

TEST_P(ConfigDocumentBadRegistryInput, FailsWithTheParserMessage) {
  const BadRegistryDocument& bad = GetParam();
  PutFile(kPath, bad.bytes);
  std::vector<ContentEntry> entries{ContentEntry{}};
  std::string message;
  EXPECT_FALSE(LoadRegistryConfig(kPath, &entries, &message));
  EXPECT_EQ(message.rfind(std::string("Error in ") + kPath + ": ", 0), 0u) << message;
  EXPECT_NE(message.find(bad.description), std::string::npos) << message;
  EXPECT_EQ(message.back(), '\n');
  EXPECT_EQ(entries.size(), 1u) << "entries untouched";
}

std::string DeeplyNested(int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += "<a>";
  for (int i = 0; i < depth; ++i) s += "</a>";
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Documents, ConfigDocumentBadRegistryInput,
    ::testing::Values(
        BadRegistryDocument{"Empty", "", "Error document empty"},
        BadRegistryDocument{"Mismatched", "<list><content name='a'></list>", "Error"},
        BadRegistryDocument{"Unclosed", "<list><content name='a'/>", "Error"},
        BadRegistryDocument{"InvalidUtf8", "<list><content name='\xC7'/></list>", "not valid"},
        BadRegistryDocument{"InvalidEucKr",
                            "<?xml version='1.0' encoding='euc-kr'?><l><c name='\xC7\x01'/></l>",
                            "not valid"},
        BadRegistryDocument{"UnknownEncoding", "<?xml version='1.0' encoding='x-y'?><l/>",
                            "not supported"},
        BadRegistryDocument{"NulByte", std::string("<l>\0</l>", 8), "NUL"},
        BadRegistryDocument{"TooDeep", DeeplyNested(100000), "nested"}),
    [](const ::testing::TestParamInfo<BadRegistryDocument>& info) {
      return std::string(info.param.name);
    });

TEST_F(ConfigDocumentTest, RegistryReaderMissingFile) {
  std::vector<ContentEntry> entries;
  std::string message;
  EXPECT_FALSE(LoadRegistryConfig("C:\\work\\missing.xml", &entries, &message));
  EXPECT_EQ(message, "Error in C:\\work\\missing.xml: Failed to open file\n");
}

TEST_F(ConfigDocumentTest, RegistryReaderHandsEucKrTextOverInTheSystemCodePage) {
  const std::string doc =
      "<?xml version='1.0' encoding='EUC-KR'?><l><c name='\xC7\xD1\xB1\xDB'/></l>";
  EXPECT_EQ(LoadRegistry(doc).at(0).name, "\xED\x95\x9C\xEA\xB8\x80");
  os::ImageSettings s = machine().settings();
  s.code_page = 949;
  Reconfigure(s);
  EXPECT_EQ(LoadRegistry(doc).at(0).name, "\xC7\xD1\xB1\xDB");
  EXPECT_EQ(LoadRegistry("<l><c name='\xC7\xD1'/></l>").at(0).name, "\xC7\xD1")
      << "undeclared text is taken in the system code page";
}

TEST_F(ConfigDocumentTest, RegistryReaderHandlesManyEntries) {
  std::string text = "<list>";
  for (int i = 0; i < 100000; ++i) text += "<content name='n" + std::to_string(i) + "'/>";
  text += "</list>";
  std::vector<ContentEntry> entries = LoadRegistry(text);
  ASSERT_EQ(entries.size(), 100000u);
  EXPECT_EQ(entries.back().name, "n99999");
}

struct VersionNumberCase {
  const char* text;
  double value;
};
class ConfigDocumentVersionNumber : public ::testing::TestWithParam<VersionNumberCase> {};

TEST_P(ConfigDocumentVersionNumber, ReadsTheLeadingDecimalNumber) {
  EXPECT_DOUBLE_EQ(ReadVersionNumber(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, ConfigDocumentVersionNumber,
                         ::testing::Values(VersionNumberCase{"2.6", 2.6},
                                           VersionNumberCase{"1.10", 1.1},
                                           VersionNumberCase{"1.2.3", 1.2},
                                           VersionNumberCase{"1.05", 1.05},
                                           VersionNumberCase{"3", 3.0},
                                           VersionNumberCase{"3.", 3.0},
                                           VersionNumberCase{".5", 0.5},
                                           VersionNumberCase{"-1.5x", -1.5},
                                           VersionNumberCase{"+2", 2.0},
                                           VersionNumberCase{"12abc", 12.0},
                                           VersionNumberCase{"1e3", 1.0},
                                           VersionNumberCase{"", 0.0},
                                           VersionNumberCase{".", 0.0},
                                           VersionNumberCase{"-", 0.0},
                                           VersionNumberCase{"v1.0", 0.0}));

}  // namespace
}  // namespace pelisto
