// The shape walk against the registry-mode parser itself: on random documents made of the
// tokens where the two could part (quotes, brackets, references, comments, declarations,
// CDATA, end tags with blanks), the walk must never report less nesting or fewer or
// shorter attributes than the parser builds, and exactly as much when the parser accepts
// the document.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/registry_config_shape.h"

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

class RegistryConfigShape : public ::testing::TestWithParam<bool> {};

TEST_P(RegistryConfigShape, NeverBelowTheParserAndEqualWhenItAccepts) {
  const bool utf8 = GetParam();
  const XmlBounds unbounded{~std::size_t{0}, ~std::size_t{0}, ~std::size_t{0}, ~std::size_t{0}};
  std::mt19937 rng(utf8 ? 20240611 : 77);
  int accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    const std::string doc = RandomDocument(rng);
    std::string padded = doc;
    padded.append(4, '\0');
    TiXmlDocument parsed;
    parsed.Parse(padded.c_str(), nullptr, utf8 ? TIXML_ENCODING_UTF8 : TIXML_ENCODING_LEGACY);
    const XmlShape want = ParsedShape(parsed);
    const XmlShape got = MeasureRegistryConfig(doc, utf8, unbounded);
    if (!parsed.Error()) {
      ++accepted;
      ASSERT_EQ(got.nesting, want.nesting) << doc;
      ASSERT_EQ(got.attributes, want.attributes) << doc;
    }
    ASSERT_GE(got.nesting, want.nesting) << doc;
    ASSERT_GE(got.attributes, want.attributes) << doc;
    ASSERT_GE(got.attribute_bytes, want.attribute_bytes) << doc;
  }
  EXPECT_GT(accepted, 1000) << "the random documents exercise accepted shapes too";
}

INSTANTIATE_TEST_SUITE_P(Encodings, RegistryConfigShape, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("Utf8") : std::string("Legacy");
                         });

TEST(RegistryConfigShapeStops, AtTheFirstBoundPassed) {
  XmlBounds bounds;
  bounds.max_nesting = 3;
  std::string deep;
  for (int i = 0; i < 1000; ++i) deep += "<a>";
  EXPECT_EQ(MeasureRegistryConfig(deep, true, bounds).nesting, 4u);
}

}  // namespace
}  // namespace pelisto
