#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "archive/gunzip.h"
#include "archive/gzip_header.h"
#include "tests/support/gzip_files.h"
#include "tests/support/image_test.h"

namespace {
using pelisto::testing::GzipBytes;
using pelisto::testing::GzipMember;

constexpr char kGz[] = "C:\\dl\\pkg.gz";

class GzipHeaderFile : public pelisto::testing::ImageTest {};

TEST_F(GzipHeaderFile, ReadsTheTenFixedBytes) {
  GzipMember m;
  m.content = "abc";
  m.name = "Viewer.ocx";
  PutFile(kGz, GzipBytes(m));
  pelisto::GzipHeader h;
  ASSERT_EQ(pelisto::ReadGzipHeader(kGz, &h), 0);
  EXPECT_EQ(h.id1, 0x1F);
  EXPECT_EQ(h.id2, 0x8B);
  EXPECT_EQ(h.method, 8);
  EXPECT_EQ(h.flags, pelisto::kGzipFlagName);
  EXPECT_EQ(h.mtime, 0x5F000000u);
  EXPECT_EQ(h.os, 11);
  EXPECT_TRUE(pelisto::IsGzipFile(kGz));
}

// Only the first two bytes decide, and only when ten can be read.
struct MagicCase {
  const char* label;
  std::string bytes;
  bool gzip;
};

class GzipMagic : public GzipHeaderFile, public ::testing::WithParamInterface<MagicCase> {};

TEST_P(GzipMagic, IsGzipFileLooksAtTheFirstTwoOfTenBytes) {
  PutFile(kGz, GetParam().bytes);
  EXPECT_EQ(pelisto::IsGzipFile(kGz), GetParam().gzip) << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(
    Files, GzipMagic,
    ::testing::Values(MagicCase{"damaged after the magic", std::string("\x1f\x8b") + std::string(30, 'x'), true},
                      MagicCase{"ten bytes exactly", std::string("\x1f\x8b") + std::string(8, '\0'), true},
                      MagicCase{"only the magic", "\x1f\x8b", false},
                      MagicCase{"nine bytes", std::string("\x1f\x8b") + std::string(7, '\0'), false},
                      MagicCase{"empty", "", false},
                      MagicCase{"zip", std::string("PK\x03\x04") + std::string(30, '\0'), false},
                      MagicCase{"bytes swapped", std::string("\x8b\x1f") + std::string(30, '\0'), false}),
    [](const auto& info) {
      std::string name;
      for (char c : std::string(info.param.label)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST_F(GzipHeaderFile, AMissingFileIsNoGzipFileAndHasNoName) {
  pelisto::GzipHeader h;
  EXPECT_EQ(pelisto::ReadGzipHeader("C:\\dl\\none.gz", &h), -1);
  EXPECT_FALSE(pelisto::IsGzipFile("C:\\dl\\none.gz"));
  EXPECT_EQ(pelisto::GetGzipStoredName("C:\\dl\\none.gz"), "");
}

// Every combination of the optional header fields: the name is found after the extra field
// and before the comment and header CRC.
class GzipStoredName : public GzipHeaderFile, public ::testing::WithParamInterface<int> {};

TEST_P(GzipStoredName, IsFoundWhateverOtherFieldsStandAroundIt) {
  const int bits = GetParam();
  GzipMember m;
  m.content = "payload";
  if (bits & 1) m.extra = std::string("AP\x04\x00" "data", 8);
  if (bits & 2) m.comment = "made for the test";
  if (bits & 4) m.header_crc = true;
  m.name = "Viewer.ocx";
  PutFile(kGz, GzipBytes(m));
  EXPECT_EQ(pelisto::GetGzipStoredName(kGz), "Viewer.ocx");
  m.name.reset();
  PutFile(kGz, GzipBytes(m));
  EXPECT_EQ(pelisto::GetGzipStoredName(kGz), "");
}

INSTANTIATE_TEST_SUITE_P(Fields, GzipStoredName, ::testing::Range(0, 8));

TEST_F(GzipHeaderFile, AnExtraFieldThatHidesAZeroByteIsSkippedWhole) {
  GzipMember m;
  m.content = "x";
  m.extra = std::string("\0\0\0\0evil\0", 10);
  m.name = "real.ocx";
  PutFile(kGz, GzipBytes(m));
  EXPECT_EQ(pelisto::GetGzipStoredName(kGz), "real.ocx");
}

// Pure parsing of damaged headers: never more than the bytes there, never a name that
// runs on without its zero byte.
struct PrefixCase {
  const char* label;
  std::string bytes;
  std::string name;
};

class GzipNameBytes : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(GzipNameBytes, StoredNameFromBytes) {
  EXPECT_EQ(pelisto::StoredNameFromBytes(GetParam().bytes), GetParam().name) << GetParam().label;
}

std::string Header(char flags) { return std::string("\x1f\x8b\x08", 3) + flags + std::string(6, '\0'); }

INSTANTIATE_TEST_SUITE_P(
    Damaged, GzipNameBytes,
    ::testing::Values(
        PrefixCase{"short header", std::string("\x1f\x8b\x08\x08", 4), ""},
        PrefixCase{"name without zero", Header(0x08) + "Viewer.ocx", ""},
        PrefixCase{"extra length cut", Header(0x0C) + "\x10", ""},
        PrefixCase{"extra longer than the file", Header(0x0C) + std::string("\xff\xff", 2) + "ab", ""},
        PrefixCase{"empty name", Header(0x08) + std::string(1, '\0'), ""},
        PrefixCase{"longest name", Header(0x08) + std::string(pelisto::kMaxGzipStoredName, 'n') + '\0',
                   std::string(pelisto::kMaxGzipStoredName, 'n')},
        PrefixCase{"name too long", Header(0x08) + std::string(pelisto::kMaxGzipStoredName + 1, 'n') + '\0', ""},
        PrefixCase{"name flag clear", Header(0x00) + std::string("a\0", 2), ""}));

TEST_F(GzipHeaderFile, ANameLongerThanAnyPathIsNone) {
  // A name with no zero byte in a large file: the reader stops at its window.
  PutFile(kGz, Header(0x08) + std::string(200000, 'n'));
  EXPECT_EQ(pelisto::GetGzipStoredName(kGz), "");
}

// A stored name is used only as a file name; nothing usable falls back to the default.
struct NameCase {
  std::string stored;
  std::string fallback;
  std::string result;
};

class GzipOutputName : public ::testing::TestWithParam<NameCase> {};

TEST_P(GzipOutputName, IsAPlainFileName) {
  EXPECT_EQ(pelisto::GzipOutputFileName(GetParam().stored, GetParam().fallback), GetParam().result)
      << "stored \"" << GetParam().stored << "\" default \"" << GetParam().fallback << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Names, GzipOutputName,
    ::testing::Values(NameCase{"", "Viewer.ocx", "Viewer.ocx"}, NameCase{"app.dll", "Viewer.ocx", "app.dll"},
                      NameCase{"..\\..\\Windows\\system32\\evil.dll", "Viewer.ocx", "evil.dll"},
                      NameCase{"/etc/passwd", "Viewer.ocx", "passwd"},
                      NameCase{"C:evil.dll", "Viewer.ocx", "evil.dll"},
                      NameCase{"D:\\x\\", "Viewer.ocx", "Viewer.ocx"}, NameCase{"..", "Viewer.ocx", "Viewer.ocx"},
                      NameCase{".", "Viewer.ocx", "Viewer.ocx"}, NameCase{"a\\..", "Viewer.ocx", "Viewer.ocx"},
                      NameCase{". .", "Viewer.ocx", "Viewer.ocx"}, NameCase{"a*b", "Viewer.ocx", "Viewer.ocx"},
                      NameCase{"a\tb", "Viewer.ocx", "Viewer.ocx"}, NameCase{"x.ocx:stream", "Viewer.ocx", "stream"},
                      NameCase{"", "..\\up\\Viewer.ocx", "Viewer.ocx"}, NameCase{"..", "..", ""},
                      NameCase{"", "", ""}));

TEST(GzipOutputPath, IsTheGzipFilesFolderAndTheName) {
  EXPECT_EQ(pelisto::GzipOutputPath("D:\\dl\\pkg.gz", "Viewer.ocx"), "D:\\dl\\Viewer.ocx");
  EXPECT_EQ(pelisto::GzipOutputPath("pkg.gz", "Viewer.ocx"), "Viewer.ocx");
  EXPECT_EQ(pelisto::GzipOutputPath("C:\\a/b\\pkg.gz", "n"), "C:\\a/b\\n");
}

}  // namespace
