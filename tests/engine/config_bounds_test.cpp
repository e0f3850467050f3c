// Both configuration readers against documents built to exhaust them: nesting that the
// registry-mode parser would recurse through, attributes it would search quadratically,
// oversized values and files. Every refusal must come before the parser runs, on a small
// stack, with a reason in the message.
#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/content_entry.h"
#include "engine/registry_config.h"
#include "platform/xml_bounds.h"
#include "platform/xml_document_wrapper.h"
#include "tests/support/image_test.h"

namespace pelisto {
namespace {

constexpr char kPath[] = "C:\\work\\update.xml";
constexpr std::size_t kSmallStack = 256 * 1024;

// Runs `body` on a thread whose stack is `bytes` large: a recursive parse of a deep
// document would overflow it.
void RunOnStack(std::size_t bytes, const std::function<void()>& body) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, bytes), 0);
  pthread_t thread;
  auto run = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&body)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

std::string Attributes(int count, std::size_t value_size = 1) {
  std::string out;
  for (int i = 0; i < count; ++i) out += " a" + std::to_string(i) + "='" + std::string(value_size, 'v') + "'";
  return out;
}

class ConfigBoundsTest : public testing::ImageTest {
 protected:
  // The registry-mode reader on `text` (or on the file as it stands), on a small stack.
  bool LoadRegistry(const std::string& text, std::vector<ContentEntry>* entries, std::string* message) {
    PutFile(kPath, text);
    return LoadRegistry(entries, message);
  }
  bool LoadRegistry(std::vector<ContentEntry>* entries, std::string* message) {
    bool ok = false;
    RunOnStack(kSmallStack, [&] { ok = LoadRegistryConfig(kPath, entries, message); });
    return ok;
  }
  // The DOM layer on `text` (or on the file as it stands), on a small stack.
  bool LoadDom(const std::string& text, std::string* reason) {
    PutFile(kPath, text);
    return LoadDom(reason);
  }
  bool LoadDom(std::string* reason) {
    bool ok = false;
    RunOnStack(kSmallStack, [&] {
      IXMLDocumentWrapper doc;
      doc.Create();
      ok = doc.Load(kPath);
      *reason = doc.ParseErrorReason();
    });
    return ok;
  }
};

struct HostileDocument {
  const char* name;
  std::string text;
  const char* reason;  // a part of the refusal's reason
  bool dom_too;        // well-formed, so the DOM layer reads it and must refuse it alike
};
void PrintTo(const HostileDocument& d, std::ostream* os) { *os << d.name; }

class ConfigBoundsHostile : public ConfigBoundsTest, public ::testing::WithParamInterface<HostileDocument> {};

const std::string kClose = Repeat("</a>", 50000);

// Each markup trick hides the opening of 50,000 nested elements from a scan that takes
// quoted or bracketed text for markup, while the parser opens every one of them.
INSTANTIATE_TEST_SUITE_P(
    Documents, ConfigBoundsHostile,
    ::testing::Values(
        HostileDocument{"Plain", Repeat("<a>", 50000) + kClose, "nested", true},
        HostileDocument{"EmptyTagInValue", Repeat("<a x=\"/>\">", 50000) + kClose, "nested", true},
        HostileDocument{"CommentInValue", Repeat("<a x=\"><!--\">", 50000) + kClose, "nested", true},
        HostileDocument{"InstructionEndsAtBracket", Repeat("<?p ><a>?>", 50000), "nested", false},
        HostileDocument{"DeclarationValueHoldsBracket", "<?xml version='>'?>" + Repeat("<a>", 50000), "nested",
                        false},
        HostileDocument{"ReferenceSwallowsEndTag", "<r>" + Repeat("<a>t&#x</a>x;", 50000), "nested", false},
        HostileDocument{"ReferenceSwallowsQuote", Repeat("<a x='&#x'/>x;'>", 50000), "nested", false},
        HostileDocument{"DoctypeThenNesting", "<!DOCTYPE r>" + Repeat("<a>", 50000) + kClose, "nested", true},
        HostileDocument{"ManyAttributes", "<l><content" + Attributes(80000) + "/></l>", "attributes", true},
        HostileDocument{"LongValue", "<l><content url='" + std::string(65537, 'u') + "'/></l>", "longer", true}),
    [](const ::testing::TestParamInfo<HostileDocument>& info) { return std::string(info.param.name); });

TEST_P(ConfigBoundsHostile, IsRefusedBeforeParsing) {
  const HostileDocument& d = GetParam();
  std::vector<ContentEntry> entries{ContentEntry{}};
  std::string message;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(LoadRegistry(d.text, &entries, &message));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "refused in linear time";
  EXPECT_EQ(message.rfind(std::string("Error in ") + kPath + ": ", 0), 0u) << message;
  EXPECT_NE(message.find(d.reason), std::string::npos) << message;
  EXPECT_EQ(entries.size(), 1u) << "entries untouched";
  if (d.dom_too) {
    std::string reason;
    EXPECT_FALSE(LoadDom(d.text, &reason));
    EXPECT_NE(reason.find(d.reason), std::string::npos) << reason;
  }
}

// The other way round: markup characters inside values and comments are no markup, and a
// long flat list is not deep.
TEST_F(ConfigBoundsTest, FlatDocumentWithBracketsInValuesLoads) {
  std::string text = "<list>" + Repeat("<content argument='a > b' url=\"x/>\" name='n'/><!-- <a> -->", 1001) +
                     "<![CDATA[<a><a>]]></list>";
  std::vector<ContentEntry> entries;
  std::string message;
  ASSERT_TRUE(LoadRegistry(text, &entries, &message)) << message;
  ASSERT_EQ(entries.size(), 1001u);
  EXPECT_EQ(entries.back().argument, "a > b");
  std::string reason;
  EXPECT_TRUE(LoadDom(text, &reason)) << reason;
}

struct BoundCase {
  const char* name;
  std::string fits;     // just within the bound
  std::string exceeds;  // one past it
};
void PrintTo(const BoundCase& c, std::ostream* os) { *os << c.name; }

class ConfigBoundsEdge : public ConfigBoundsTest, public ::testing::WithParamInterface<BoundCase> {};

INSTANTIATE_TEST_SUITE_P(
    Bounds, ConfigBoundsEdge,
    ::testing::Values(
        BoundCase{"Nesting", Repeat("<a>", 256) + Repeat("</a>", 256), Repeat("<a>", 257) + Repeat("</a>", 257)},
        BoundCase{"Attributes", "<l><c" + Attributes(256) + "/></l>", "<l><c" + Attributes(257) + "/></l>"},
        BoundCase{"AttributeBytes", "<l><c a='" + std::string(65536, 'v') + "'/></l>",
                  "<l><c a='" + std::string(65537, 'v') + "'/></l>"}),
    [](const ::testing::TestParamInfo<BoundCase>& info) { return std::string(info.param.name); });

TEST_P(ConfigBoundsEdge, BothReadersDrawTheLineAlike) {
  std::vector<ContentEntry> entries;
  std::string message, reason;
  EXPECT_TRUE(LoadRegistry(GetParam().fits, &entries, &message)) << message;
  EXPECT_TRUE(LoadDom(GetParam().fits, &reason)) << reason;
  EXPECT_FALSE(LoadRegistry(GetParam().exceeds, &entries, &message));
  EXPECT_FALSE(LoadDom(GetParam().exceeds, &reason));
  EXPECT_NE(message.find(reason), std::string::npos) << "one wording: " << message << " / " << reason;
}

TEST_F(ConfigBoundsTest, OversizedFileIsRefusedByBoth) {
  // One byte past the bound, made sparse rather than written.
  PutFile(kPath, "<l>");
  std::filesystem::resize_file(Host(kPath), kConfigBounds.max_document_bytes + 1);
  std::vector<ContentEntry> entries;
  std::string message, reason;
  EXPECT_FALSE(LoadRegistry(&entries, &message));
  EXPECT_NE(message.find("larger than"), std::string::npos) << message;
  EXPECT_FALSE(LoadDom(&reason));
  EXPECT_NE(reason.find("larger than"), std::string::npos) << reason;
}

TEST_F(ConfigBoundsTest, HundredThousandFullEntriesLoadInBoth) {
  std::string text = "<?xml version='1.0'?>\n<list>\n";
  for (int i = 0; i < 100000; ++i) {
    text += "<content name='comp" + std::to_string(i) +
            "' ver='1.0.0.1' url='http://updates.example.com/files/comp" + std::to_string(i) +
            ".dll' target='{program}\\Vendor\\App' type='reg' q='no' lnkName='' toSetVer='' regRoot='' "
            "regTo='' attrName='' isDown='false' patchURL='' argument='' regMode=''/>\n";
  }
  text += "</list>\n";
  std::vector<ContentEntry> entries;
  std::string message, reason;
  ASSERT_TRUE(LoadRegistry(text, &entries, &message)) << message;
  EXPECT_EQ(entries.size(), 100000u);
  EXPECT_EQ(entries.back().url, "http://updates.example.com/files/comp99999.dll");
  EXPECT_TRUE(LoadDom(&reason)) << reason;
}

}  // namespace
}  // namespace pelisto
