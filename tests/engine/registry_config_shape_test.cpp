// The shape walk against the registry-mode parser itself: on random documents made of the
// tokens where the two could part (quotes, brackets, references, comments, declarations,
// CDATA, end tags with blanks), and on edits of a real configuration, the walk must never
// report less nesting or fewer or shorter attributes than the parser builds, and exactly as
// much when the parser accepts the document.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/registry_config_shape.h"
#include "platform/xml_encoding.h"
#include "tests/support/image_test.h"

namespace pelisto {
namespace {

XmlShape ParsedShape(const TiXmlDocument& doc) {
  XmlShape shape;
  // Iterative: the documents here are shallow, but the walk should not depend on that.
  std::vector<std::pair<const TiXmlNode*, std::size_t>> todo{{&doc, 0}};
  while (!todo.empty()) {
    auto [node, depth] = todo.back();
    todo.pop_back();
    if (const TiXmlElement* e = node->ToElement()) {
      shape.nesting = std::max(shape.nesting, depth);
      std::size_t count = 0;
      for (const TiXmlAttribute* a = e->FirstAttribute(); a != nullptr; a = a->Next()) {
        ++count;
        shape.attribute_bytes = std::max(shape.attribute_bytes, a->ValueStr().size());
      }
      shape.attributes = std::max(shape.attributes, count);
    }
    for (const TiXmlNode* c = node->FirstChild(); c != nullptr; c = c->NextSibling()) {
      todo.emplace_back(c, c->ToElement() != nullptr ? depth + 1 : depth);
    }
  }
  return shape;
}

const std::vector<std::string>& Tokens() {
  static const std::vector<std::string> tokens = {
      "<a>", "</a>", "<b>", "</b>", "</a >", "</ab>", "<a/>", "<b x='1'/>", "<a x=\"/>\">", "<a x='><!--'>",
      "<", ">", "/", "/>", "</", "=", "'", "\"", " ", "\n", "x", "a", "b", "_", "-", "1", "&", "&#x", "&#",
      "&#x41;", "&amp;", ";", "#", "<!--", "-->", "<![CDATA[", "]]>", "<?xml", "<?XML v='>'?>",
      "<?xml version=\"1\"?>", "<?p ", "?>", "<!DOCTYPE r>", "<!", "\xEF\xBB\xBF", "\xC3\xA9", " y='2'",
      " x=v", " z=\"q\"", "<a ", "<b y=", "<_c>", "</_c>"};
  return tokens;
}

std::string RandomDocument(std::mt19937& rng) {
  std::uniform_int_distribution<std::size_t> pick(0, Tokens().size() - 1);
  std::uniform_int_distribution<int> length(1, 40);
  std::string doc;
  for (int n = length(rng); n > 0; --n) doc += Tokens()[pick(rng)];
  return doc;
}

// A configuration as they are written, with the markup a guard could misread in its values,
// comments and sections. Edits of it reach longer and deeper documents than the tokens do.
constexpr char kSeed[] =
    "<?xml version=\"1.0\" encoding='UTF-8'?>\n<!DOCTYPE list>\n<!-- <content name='x'> -->\n"
    "<list version='2'>\n"
    "  <content name=\"comp\" ver='1.0.0.1' url=\"http://h/a?b=1&amp;c=/>\" target='{program}\\V'"
    " type=\"reg\" argument='a > b' q=\"&#x3C;!--\"/>\n"
    "  <group><content name='n' url=\"x/><a>\" lnkName=''/><![CDATA[<a><a>]]><?pi <a> ?></group >\n"
    "  <content name='t'>text &lt;a&gt; &#60;b&#62;</content>\n"
    "</list>\n";

// Edits where a misreading starts: an inserted token, a cut, a stretch repeated (deeper
// nesting, more attributes) or a byte replaced by a markup character.
std::string Mutate(std::string doc, std::mt19937& rng) {
  static constexpr char kMarkup[] = "<>/?!-=\"'&#;[] x";
  std::uniform_int_distribution<std::size_t> token(0, Tokens().size() - 1), markup(0, sizeof kMarkup - 2);
  std::uniform_int_distribution<int> edits(1, 6), kind(0, 3);
  for (int n = edits(rng); n > 0; --n) {
    std::uniform_int_distribution<std::size_t> at(0, doc.size());
    std::size_t i = at(rng), j = at(rng);
    if (i > j) std::swap(i, j);
    switch (kind(rng)) {
      case 0: doc.insert(i, Tokens()[token(rng)]); break;
      case 1: doc.erase(i, std::min<std::size_t>(j - i, 8)); break;
      case 2: doc.insert(j, doc.substr(i, std::min<std::size_t>(j - i, 96))); break;
      default:
        if (i < doc.size()) doc[i] = kMarkup[markup(rng)];
        break;
    }
  }
  return doc;
}

class RegistryConfigShape : public testing::ImageTest, public ::testing::WithParamInterface<bool> {
 protected:
  // Holds the walk against the parser on `doc`; counts the documents the parser accepts.
  void ExpectAgrees(const std::string& doc) {
    const bool utf8 = GetParam();
    const XmlBounds unbounded{~std::size_t{0}, ~std::size_t{0}, ~std::size_t{0}, ~std::size_t{0}};
    std::string padded = doc;
    padded.append(4, '\0');
    TiXmlDocument parsed;
    parsed.Parse(padded.c_str(), nullptr, utf8 ? TIXML_ENCODING_UTF8 : TIXML_ENCODING_LEGACY);
    const XmlShape want = ParsedShape(parsed);
    const XmlShape got = MeasureRegistryConfig(doc, utf8, unbounded);
    if (!parsed.Error()) {
      ++accepted_;
      ASSERT_EQ(got.nesting, want.nesting) << doc;
      ASSERT_EQ(got.attributes, want.attributes) << doc;
    }
    ASSERT_GE(got.nesting, want.nesting) << doc;
    ASSERT_GE(got.attributes, want.attributes) << doc;
    ASSERT_GE(got.attribute_bytes, want.attribute_bytes) << doc;
  }

  int accepted_ = 0;
};

TEST_P(RegistryConfigShape, NeverBelowTheParserAndEqualWhenItAccepts) {
  std::mt19937 rng(GetParam() ? 20240611 : 77);
  for (int round = 0; round < 20000 && !HasFatalFailure(); ++round) ExpectAgrees(RandomDocument(rng));
  EXPECT_GT(accepted_, 1000) << "the random documents exercise accepted shapes too";
}

TEST_P(RegistryConfigShape, AgreesOnEditsOfARealConfiguration) {
  ExpectAgrees(kSeed);
  ASSERT_EQ(accepted_, 1) << "the seed itself parses";
  std::mt19937 rng(GetParam() ? 4242 : 1717);
  std::string doc = kSeed;
  for (int round = 0; round < 10000 && !HasFatalFailure(); ++round) {
    // Edits pile up for a while, then start again from the seed.
    doc = round % 16 == 0 ? Mutate(kSeed, rng) : Mutate(doc, rng);
    if (doc.size() > 16384) doc = kSeed;
    if (GetParam() && !IsValidUtf8(doc)) continue;  // the reader refuses such text before the walk
    ExpectAgrees(doc);
  }
  EXPECT_GT(accepted_, 500) << "the edits keep many documents well-formed";
}

INSTANTIATE_TEST_SUITE_P(Encodings, RegistryConfigShape, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("Utf8") : std::string("Legacy");
                         });

class RegistryConfigShapeStops : public testing::ImageTest {};

TEST_F(RegistryConfigShapeStops, AtTheFirstBoundPassed) {
  XmlBounds bounds;
  bounds.max_nesting = 3;
  std::string deep;
  for (int i = 0; i < 1000; ++i) deep += "<a>";
  EXPECT_EQ(MeasureRegistryConfig(deep, true, bounds).nesting, 4u);
}

}  // namespace
}  // namespace pelisto
