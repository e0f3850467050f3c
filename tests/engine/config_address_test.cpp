#include "engine/config_address.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/image_test.h"

namespace pelisto {
namespace {

struct AddressCase {
  const char* name;
  const char* address;
  const char* page;
  const char* resolved;  // null: a bad form
};

void PrintTo(const AddressCase& c, std::ostream* out) { *out << c.name; }

class UpdateRunAddress : public testing::ImageTest,
                         public ::testing::WithParamInterface<AddressCase> {};

TEST_P(UpdateRunAddress, ResolvesAgainstTheSiteRoot) {
  const AddressCase& c = GetParam();
  std::string resolved = "untouched";
  const bool ok = ResolveConfigAddress(c.address, c.page, &resolved);
  if (c.resolved == nullptr) {
    EXPECT_FALSE(ok) << c.address;
    EXPECT_EQ(resolved, "untouched");
  } else {
    EXPECT_TRUE(ok) << c.address;
    EXPECT_EQ(resolved, c.resolved) << c.address;
  }
}

constexpr char kPage[] = "http://h:8080/a/b/c.htm";

INSTANTIATE_TEST_SUITE_P(
    Forms, UpdateRunAddress,
    ::testing::Values(
        AddressCase{"Full", "http://x/u.xml", kPage, "http://x/u.xml"},
        AddressCase{"NoScheme", "x/u.xml", kPage, "x/u.xml"},
        AddressCase{"UnknownScheme", "gopher://x/u.xml", kPage, "gopher://x/u.xml"},
        AddressCase{"Empty", "", kPage, ""},
        AddressCase{"Rooted", "/conf/update.xml", kPage, "http://h:8080/conf/update.xml"},
        AddressCase{"Dot", "./update.xml", kPage, "http://h:8080/update.xml"},
        AddressCase{"DotDotIsTheSiteRootToo", "../update.xml", kPage, "http://h:8080/update.xml"},
        AddressCase{"PageWithoutPath", "/u.xml", "http://h", "hu.xml"},
        AddressCase{"NoPageAddress", "/u.xml", "", "u.xml"},
        AddressCase{"DotSlashSlash", ".//u.xml", kPage, nullptr},
        AddressCase{"DotLetter", ".x/update.xml", kPage, nullptr},
        AddressCase{"DotDotLetter", "..x", kPage, nullptr},
        AddressCase{"LoneDot", ".", kPage, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

class UpdateRunFileName : public testing::ImageTest {};

TEST_F(UpdateRunFileName, IsTheTextAfterTheLastSlash) {
  EXPECT_EQ(LastPathSegment("http://h/a/b/update.xml"), "update.xml");
  EXPECT_EQ(LastPathSegment("update.xml"), "update.xml");
  EXPECT_EQ(LastPathSegment("http://h/a/"), "");
}

}  // namespace
}  // namespace pelisto
