#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "archive/gunzip.h"
#include "archive/zlib_wrapper.h"
#include "os/fs/file_api.h"
#include "tests/support/gzip_files.h"
#include "tests/support/image_test.h"

namespace {
namespace fs = std::filesystem;
using pelisto::testing::Gzip;
using pelisto::testing::GzipBytes;
using pelisto::testing::GzipMember;

constexpr char kGz[] = "C:\\dl\\pkg.gz";
constexpr char kOut[] = "C:\\dl\\Viewer.ocx";

// Text-like content several blocks long.
std::string Text(std::size_t size) {
  std::string s;
  for (std::size_t i = 0; s.size() < size; ++i) s += "line " + std::to_string(i * 7919 % 100003) + " of the file\n";
  s.resize(size);
  return s;
}

class GunzipTest : public pelisto::testing::ImageTest {
 protected:
  // The names in the output's folder: no temporary file may be left there.
  std::vector<std::string> Folder() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(fs::path(Host(kGz)).parent_path())) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(GunzipTest, DecompressesEveryHeaderField) {
  GzipMember m;
  m.content = Text(700000);
  m.extra = "EX\x02\x00zz";
  m.name = "Viewer.ocx";
  m.comment = "comment";
  m.header_crc = true;
  PutFile(kGz, GzipBytes(m));
  ASSERT_EQ(pelisto::GunzipFile(kGz, kOut), pelisto::kGunzipOk);
  EXPECT_EQ(GetFile(kOut), m.content);
  EXPECT_EQ(Folder(), (std::vector<std::string>{"Viewer.ocx", "pkg.gz"}));
}

TEST_F(GunzipTest, DecompressesEveryMemberOneAfterAnother) {
  GzipMember second;
  second.content = Text(300000).substr(1000);
  second.name = "ignored";
  PutFile(kGz, Gzip("first member\n") + Gzip("") + GzipBytes(second));
  ASSERT_EQ(pelisto::GunzipFile(kGz, kOut), pelisto::kGunzipOk);
  EXPECT_EQ(GetFile(kOut), "first member\n" + second.content);
}

TEST_F(GunzipTest, AnEmptyContentGivesAnEmptyFileAndSuccess) {
  PutFile(kGz, Gzip(""));
  PutFile(kOut, "old content");
  ASSERT_EQ(pelisto::GunzipFile(kGz, kOut), pelisto::kGunzipOk);
  EXPECT_TRUE(HostExists(kOut));
  EXPECT_EQ(GetFile(kOut), "");
}

TEST_F(GunzipTest, ReplacesAnExistingOutputWhole) {
  PutFile(kOut, std::string(2000000, 'o'));
  PutFile(kGz, Gzip("new"));
  ASSERT_EQ(pelisto::GunzipFile(kGz, kOut), pelisto::kGunzipOk);
  EXPECT_EQ(GetFile(kOut), "new");
}

// Damaged input gives zlib's error number; neither a new output nor a changed old one, nor
// a temporary file, is left.
struct BadInput {
  const char* label;
  std::string bytes;
  int result;
};

std::string Cut(const std::string& s, std::size_t drop) { return s.substr(0, s.size() - drop); }

std::string BadCrc() {
  GzipMember m;
  m.content = Text(5000);
  m.bad_crc = true;
  return GzipBytes(m);
}
std::string BadLength() {
  GzipMember m;
  m.content = Text(5000);
  m.bad_length = true;
  return GzipBytes(m);
}

class GunzipBadInput : public GunzipTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(GunzipBadInput, FailsAndLeavesTheOutputAsItWas) {
  PutFile(kGz, GetParam().bytes);
  EXPECT_EQ(pelisto::GunzipFile(kGz, kOut), GetParam().result) << GetParam().label;
  EXPECT_FALSE(HostExists(kOut));
  EXPECT_EQ(Folder(), std::vector<std::string>{"pkg.gz"});

  PutFile(kOut, "installed before");
  EXPECT_EQ(pelisto::GunzipFile(kGz, kOut), GetParam().result) << GetParam().label;
  EXPECT_EQ(GetFile(kOut), "installed before");
  EXPECT_EQ(Folder(), (std::vector<std::string>{"Viewer.ocx", "pkg.gz"}));
}

INSTANTIATE_TEST_SUITE_P(
    Files, GunzipBadInput,
    ::testing::Values(
        BadInput{"not gzip", "plain text, not compressed at all", Z_DATA_ERROR},
        BadInput{"empty file", "", Z_DATA_ERROR},
        BadInput{"only the magic", "\x1f\x8b", Z_BUF_ERROR},
        BadInput{"damaged after the magic", std::string("\x1f\x8b") + std::string(64, 'x'), Z_DATA_ERROR},
        BadInput{"truncated data", Cut(Gzip(Text(200000)), 5000), Z_BUF_ERROR},
        BadInput{"truncated trailer", Cut(Gzip(Text(2000)), 3), Z_BUF_ERROR},
        BadInput{"bad crc", BadCrc(), Z_DATA_ERROR},
        BadInput{"bad length", BadLength(), Z_DATA_ERROR},
        BadInput{"second member bad", Gzip("good") + BadCrc(), Z_DATA_ERROR},
        BadInput{"second member cut", Gzip("good") + Cut(Gzip(Text(3000)), 10), Z_BUF_ERROR}),
    [](const auto& info) {
      std::string name;
      for (char c : std::string(info.param.label)) name += c == ' ' ? '_' : c;
      return name;
    });

TEST_F(GunzipTest, SourceOrDestinationThatCannotBeOpenedGivesMinus20) {
  PutFile(kGz, Gzip("x"));
  EXPECT_EQ(pelisto::GunzipFile("C:\\dl\\missing.gz", kOut), pelisto::kGunzipOpenFailed);
  EXPECT_EQ(pelisto::GunzipFile(kGz, "C:\\no such folder\\Viewer.ocx"), pelisto::kGunzipOpenFailed);
  EXPECT_EQ(pelisto::GunzipFile(kGz, "Viewer.ocx"), pelisto::kGunzipOpenFailed);

  fs::create_directories(Host(kOut));  // a folder in the way
  EXPECT_EQ(pelisto::GunzipFile(kGz, kOut), pelisto::kGunzipOpenFailed);
  fs::remove(Host(kOut));

  PutFile(kOut, "read-only");
  ASSERT_TRUE(os::SetFileAttributesA(kOut, os::FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(pelisto::GunzipFile(kGz, kOut), pelisto::kGunzipOpenFailed);
  EXPECT_EQ(GetFile(kOut), "read-only");
  EXPECT_EQ(Folder(), (std::vector<std::string>{"Viewer.ocx", "pkg.gz"}));
}

TEST_F(GunzipTest, WritesOnWindows6OnlyWhereTheControlMay) {
  // The integrity rule holds for the decompression as for any direct write.
  SetOsMajor(6);
  PutFile(kGz, Gzip("x"));
  EXPECT_EQ(pelisto::GunzipFile(kGz, "C:\\Program Files\\Viewer.ocx"), pelisto::kGunzipOpenFailed);
  EXPECT_FALSE(HostExists("C:\\Program Files\\Viewer.ocx"));
}

TEST_F(GunzipTest, AStopFlagEndsTheWorkWithNothingWritten) {
  PutFile(kGz, Gzip(Text(2000000)));
  std::atomic<bool> stop{true};
  EXPECT_EQ(pelisto::GunzipFile(kGz, kOut, &stop), pelisto::kGunzipStopped);
  EXPECT_EQ(Folder(), std::vector<std::string>{"pkg.gz"});
}

// 256 MiB of zeros in a few hundred KiB: decompressed correctly, in memory that does not
// follow the output's size.
TEST_F(GunzipTest, ABombOfZerosDecompressesInConstantMemory) {
  constexpr std::uint64_t kSize = 256ull << 20;
  fs::create_directories(fs::path(Host(kGz)).parent_path());
  ASSERT_TRUE(pelisto::testing::WriteZerosGzip(Host(kGz), kSize));
  EXPECT_LT(fs::file_size(Host(kGz)), 1u << 20);

  pelisto::testing::ResetPeakMemory();
  const std::uint64_t before = pelisto::testing::CurrentMemory();
  ASSERT_EQ(pelisto::GunzipFile(kGz, kOut), pelisto::kGunzipOk);
  const std::uint64_t peak = pelisto::testing::PeakMemory();
  ASSERT_EQ(fs::file_size(Host(kOut)), kSize);
  if (peak > 0) {
    EXPECT_LT(peak - std::min(peak, before), 16u << 20) << "peak " << peak << " before " << before;
  }

  // The content really is zeros, end to end.
  std::ifstream in(Host(kOut), std::ios::binary);
  const std::vector<char> zeros(1 << 20, 0);
  std::vector<char> block(zeros.size());
  std::uint64_t nonzero = 0;
  while (in.read(block.data(), block.size()) || in.gcount() > 0) {
    nonzero += std::memcmp(block.data(), zeros.data(), static_cast<std::size_t>(in.gcount())) != 0;
  }
  EXPECT_EQ(nonzero, 0u);
}

// The reader itself.
class GzipWrapper : public pelisto::testing::ImageTest {};

TEST_F(GzipWrapper, WritesAndReadsBackWithAndWithoutAMaximum) {
  const std::string content = Text(10000);
  fs::create_directories(fs::path(Host(kGz)).parent_path());
  {
    pelisto::ZlibWrapper out(kGz, pelisto::ZlibWrapper::kWriteMode);
    ASSERT_TRUE(out.IsOpen());
    ASSERT_EQ(out.Write(content.data(), static_cast<unsigned>(content.size())), static_cast<int>(content.size()));
  }  // the destructor closes, flushing the writer
  pelisto::ZlibWrapper in(kGz, pelisto::ZlibWrapper::kReadMode);
  ASSERT_TRUE(in.IsOpen());
  std::vector<unsigned char> bytes;
  EXPECT_EQ(in.Read(bytes, 1500, 1024), 1500);
  EXPECT_EQ(in.Read(bytes, -1, 1024), static_cast<std::int64_t>(content.size() - 1500));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), content);
  EXPECT_EQ(in.Read(bytes, -1, 1024), 0);

  // Re-opening closes the first file and starts the second from its beginning.
  ASSERT_TRUE(in.Open(kGz, pelisto::ZlibWrapper::kReadMode));
  bytes.clear();
  EXPECT_EQ(in.Read(bytes, -1, 0), static_cast<std::int64_t>(content.size()));
}

TEST_F(GzipWrapper, OpensOnlyItsTwoModesAndReportsReadErrors) {
  PutFile(kGz, Cut(Gzip(Text(50000)), 100));
  EXPECT_FALSE(pelisto::ZlibWrapper(kGz, 0).IsOpen());
  EXPECT_FALSE(pelisto::ZlibWrapper(kGz, 3).IsOpen());
  EXPECT_FALSE(pelisto::ZlibWrapper("C:\\dl\\missing.gz", pelisto::ZlibWrapper::kReadMode).IsOpen());
  pelisto::ZlibWrapper in(kGz, pelisto::ZlibWrapper::kReadMode);
  std::vector<unsigned char> bytes;
  EXPECT_EQ(in.Read(bytes, -1, 1024), -1);
  EXPECT_EQ(in.ErrorNumber(), Z_BUF_ERROR);
  EXPECT_EQ(pelisto::ZlibWrapper().ErrorNumber(), Z_STREAM_ERROR);
}

}  // namespace
