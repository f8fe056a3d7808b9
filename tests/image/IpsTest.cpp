#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "FakeWindow.h"
#include "IpsPatchFile.h"
#include "commands/Core.h"
#include "image/Ips.h"

namespace brevomat {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::FakeWindow;
using testing::PatchFile;

const std::vector<std::string> kApplied = {"-->Ips Applied<--"};
const std::vector<std::string> kSizeError = {"***** Ips Size Error *****"};
const std::vector<std::string> kDataError = {"***** Ips Data Error *****"};

Bytes Pattern(std::size_t size, std::uint32_t seed) {
  Bytes b(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<std::uint8_t>(x >> 16);
  }
  return b;
}

// What the flash should hold: the image padded with 0xFF to whole chunks, then every record in
// file order, bytes beyond the padded image dropped.
Bytes Expected(const Bytes& image, const std::vector<PatchFile::Rec>& records) {
  Bytes out = image;
  out.resize((image.size() + kChunkBytes - 1) / kChunkBytes * kChunkBytes, 0xFF);
  for (const auto& r : records)
    for (std::size_t k = 0; k < r.data.size(); ++k)
      if (r.offset + k < out.size()) out[r.offset + k] = r.data[k];
  return out;
}

struct IpsTest : ::testing::Test {
  FakeWindow window;
  Core core{window};
  IpsPatch& ips = core.ips;
  TransferBuffer& buf = core.frame.Buffer;
  std::filesystem::path dir;

  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("brevomat_ips_" + std::to_string(getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  int Load(const Bytes& file) {
    const std::filesystem::path path = dir / "patch.ips";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    EXPECT_TRUE(StoreFileName(ips.IpsFileName, path.string()));
    return LoadIpsPatch(ips, core.frame);
  }

  // One pass of the writer over the image: every chunk read, padded, patched.
  Bytes Pass(const Bytes& image) {
    const std::size_t chunks = (image.size() + kChunkBytes - 1) / kChunkBytes;
    Bytes out;
    for (std::uint32_t n = 0; n < chunks; ++n) {
      std::fill(buf.bytes.begin(), buf.bytes.end(), 0xFF);
      const std::size_t from = std::size_t{n} * kChunkBytes;
      std::copy(image.begin() + from, image.begin() + std::min(image.size(), from + kChunkBytes), buf.data());
      ApplyIpsToChunk(ips, n, buf);
      out.insert(out.end(), buf.bytes.begin(), buf.bytes.end());
    }
    return out;
  }

  // Write pass, re-parse, verify pass: both must give the patched image.
  void ExpectBothPasses(const Bytes& image, const PatchFile& patch) {
    const Bytes expected = Expected(image, patch.records);
    EXPECT_TRUE(Pass(image) == expected) << "write pass";
    ASSERT_EQ(ParseIpsRecords(ips), 0);
    EXPECT_TRUE(Pass(image) == expected) << "verify pass";
  }
};

TEST_F(IpsTest, SmallestPatchPlacesOneByteInBothPasses) {
  const Bytes file = PatchFile().Record(0x10, {0xAB}).End();
  ASSERT_EQ(file.size(), 14u);
  ASSERT_EQ(Load(file), 0);
  EXPECT_EQ(window.log, kApplied);
  EXPECT_EQ(ips.IpsSize, 14u);
  ASSERT_EQ(ips.IpsRecordCount, 1);
  EXPECT_EQ(ips.IpsRecordTable[0].Offset, 0x10u);
  EXPECT_EQ(ips.IpsRecordTable[0].Size, 1);
  EXPECT_EQ(ips.IpsRecordTable[0].DataPos, 10);

  const Bytes image = Pattern(2 * kChunkBytes, 1);
  const Bytes first = Pass(image);
  EXPECT_EQ(first[0x10], 0xAB);
  EXPECT_EQ(ips.IpsRecordTable[0].Size, 0);  // consumed
  EXPECT_TRUE(Pass(image) == image) << "a consumed record must not apply again";
  ASSERT_EQ(ParseIpsRecords(ips), 0);
  EXPECT_EQ(ips.IpsSize, 14u);
  EXPECT_TRUE(Pass(image) == first);
}

TEST_F(IpsTest, RecordsAcrossChunkBoundariesOverlapsAndImageEnd) {
  // Image of one and a half chunks: the partial chunk's 0xFF fill is patched too.
  const Bytes image = Pattern(kChunkBytes + kChunkBytes / 2, 2);
  PatchFile patch;
  patch
      .Record(0x7FFE, {1, 2, 3, 4})       // across the boundary
      .Record(0x8000, {9})                // overlaps its chunk-1 part: later wins
      .Record(0x7FF0, {5, 5, 5, 5})       // chunk 0 only
      .Record(0x7FF2, {6, 6})             // overlaps the one before it
      .Record(0x8100, {7, 7})             // earlier in the file ...
      .Record(0x7FFF, Bytes(0x110, 8))    // ... overwritten by this remainder
      .Record(0xC010, {0xAA, 0xBB})       // in the 0xFF fill of the last chunk
      .Record(0x10000, {0xCC})            // first byte past the image
      .Record(0x20000, Bytes(40, 0xDD));  // far past it
  ASSERT_EQ(Load(patch.End()), 0);
  EXPECT_EQ(window.log, kApplied);
  const Bytes expected = Expected(image, patch.records);
  EXPECT_EQ(expected[0x7FFE], 1);
  EXPECT_EQ(expected[0x8000], 8);
  EXPECT_EQ(expected[0x8100], 8);
  EXPECT_EQ(expected[0x7FF2], 6);
  EXPECT_EQ(expected[0xC010], 0xAA);
  ExpectBothPasses(image, patch);
  EXPECT_EQ(window.log, kApplied);  // records past the image are not reported
}

TEST_F(IpsTest, SizeLimits) {
  const Bytes thirteen = PatchFile().Head(0x10, 0).End();
  ASSERT_EQ(thirteen.size(), 13u);
  EXPECT_EQ(Load(thirteen), -1);
  EXPECT_EQ(window.log, kSizeError);
  EXPECT_EQ(ips.IpsRecordCount, 0);

  // The largest file: one record whose data runs right up to "EOF".
  PatchFile largest;
  largest.Record(0x10, Pattern(kIpsMaxSize - 13, 3));
  ASSERT_EQ(largest.End().size(), kIpsMaxSize);
  window.log.clear();
  ASSERT_EQ(Load(largest.End()), 0);
  EXPECT_EQ(window.log, kApplied);
  ExpectBothPasses(Pattern(3 * kChunkBytes, 4), largest);

  Bytes over = largest.End();
  over.insert(over.begin() + 5, 0x00);  // one stray byte more
  ASSERT_EQ(over.size(), kIpsMaxSize + 1);
  window.log.clear();
  EXPECT_EQ(Load(over), -1);
  EXPECT_EQ(window.log, kSizeError);
  EXPECT_EQ(ips.IpsRecordCount, 0) << "a failed load must leave nothing to apply";

  window.log.clear();
  EXPECT_EQ(Load({}), -1);
  EXPECT_EQ(window.log, kSizeError);
}

TEST_F(IpsTest, RecordCountLimit) {
  PatchFile full;
  for (std::uint32_t i = 0; i < kIpsMaxRecords; ++i) full.Record(i * 3, {static_cast<std::uint8_t>(i)});
  ASSERT_EQ(Load(full.End()), 0);
  EXPECT_EQ(ips.IpsRecordCount, kIpsMaxRecords);
  ExpectBothPasses(Pattern(kChunkBytes, 5), full);

  PatchFile fullWithStray = full;
  fullWithStray.Raw({0, 0, 0, 0, 0});
  window.log.clear();
  EXPECT_EQ(Load(fullWithStray.End()), 0);
  EXPECT_EQ(window.log, kApplied);

  PatchFile tooMany = full;
  tooMany.Record(0x5000, {1});
  window.log.clear();
  EXPECT_EQ(Load(tooMany.End()), -1);
  EXPECT_EQ(window.log, kDataError);
  EXPECT_EQ(ips.IpsRecordCount, 0);
}

TEST_F(IpsTest, StrayBytesBeforeEndMarker) {
  for (std::uint8_t stray = 0; stray <= 5; ++stray) {
    SCOPED_TRACE(int{stray});
    window.log.clear();
    EXPECT_EQ(Load(PatchFile().Record(0x20, {1, 2}).Raw(Bytes(stray, 0x00)).End()), 0);
    EXPECT_EQ(window.log, kApplied);
    EXPECT_EQ(ips.IpsRecordCount, 1);
  }
  // Six zero bytes are read as a record of length 0.
  window.log.clear();
  EXPECT_EQ(Load(PatchFile().Record(0x20, {1, 2}).Raw(Bytes(6, 0x00)).End()), -1);
  EXPECT_EQ(window.log, kDataError);
  // Six bytes that form a record are one, even when its offset spells "EOF".
  window.log.clear();
  EXPECT_EQ(Load(PatchFile().Record(0x20, {1, 2}).Raw({'E', 'O', 'F', 0, 1, 0x77}).End()), 0);
  ASSERT_EQ(ips.IpsRecordCount, 2);
  EXPECT_EQ(ips.IpsRecordTable[1].Offset, 0x454F46u);
}

TEST_F(IpsTest, MalformedRecordsAreDataErrors) {
  const std::vector<Bytes> files = {
      PatchFile().Record(0x10, {1}).Head(0x20, 0).Raw({1, 2, 3}).End(),  // run-length form
      PatchFile().Head(0x10, 2).Raw({0xAB}).End(),                       // data runs into "EOF"
      PatchFile().Head(0x10, 4).Raw({0xAB}).End(),                       // data runs past the file
      PatchFile().Record(0x10, {1}).Head(0x20, 0xFFFF).Raw({1, 2}).End(),
  };
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(i);
    window.log.clear();
    EXPECT_EQ(Load(files[i]), -1);
    EXPECT_EQ(window.log, kDataError);
    EXPECT_EQ(ips.IpsRecordCount, 0);
  }
}

TEST_F(IpsTest, RefusedWithALineSayingItIsNotApplied) {
  Bytes lower = PatchFile().Record(0x10, {0xAB}).End();
  std::copy_n("patch", 5, lower.begin());
  Bytes trailing = PatchFile().Record(0x10, {0xAB}).End();
  trailing.insert(trailing.end(), {0x00, 0x80, 0x00});  // a size field after the marker
  EXPECT_EQ(Load(lower), -1);
  EXPECT_EQ(Load(trailing), -1);
  const std::string notIps = "Not an IPS patch: not applied";
  EXPECT_EQ(window.log, (std::vector<std::string>{notIps, notIps}));
  window.log.clear();

  // Missing, a directory, a FIFO (which must not block the open), a name without its NUL.
  std::vector<std::filesystem::path> names = {dir / "missing.ips", dir};
#ifndef _WIN32
  names.push_back(dir / "fifo.ips");
  ASSERT_EQ(::mkfifo(names.back().c_str(), 0600), 0);
#endif
  for (const auto& name : names) {
    StoreFileName(ips.IpsFileName, name.string());
    EXPECT_EQ(LoadIpsPatch(ips, core.frame), -1) << name;
  }
  std::fill(std::begin(ips.IpsFileName), std::end(ips.IpsFileName), 'a');
  EXPECT_EQ(LoadIpsPatch(ips, core.frame), -1);
  EXPECT_EQ(window.log, std::vector<std::string>(names.size() + 1, "Ips File Open Error: not applied"));
  EXPECT_EQ(ips.IpsRecordCount, 0);
}

TEST_F(IpsTest, FailedLoadDropsThePreviousPatch) {
  ASSERT_EQ(Load(PatchFile().Record(0x10, {0xAB}).End()), 0);
  EXPECT_EQ(Load(PatchFile().Record(0x10, {0xAB}).Raw({1, 2, 3, 4, 5, 6, 7}).End()), -1);
  const Bytes image = Pattern(kChunkBytes, 6);
  EXPECT_TRUE(Pass(image) == image);
  EXPECT_EQ(ParseIpsRecords(ips), -1);
}

TEST_F(IpsTest, ParseRefusesImpossibleSizesAndKeepsIpsSize) {
  ips.IpsData.fill(0x01);  // every record head reads as offset 0x010101, length 0x0101
  for (std::uint32_t size : {0u, 4u, 5u, 13u, kIpsMaxSize + 1, 0xFFFFFFFFu}) {
    SCOPED_TRACE(size);
    ips.IpsSize = size;
    ips.IpsRecordCount = 7;
    EXPECT_EQ(ParseIpsRecords(ips), -1);
    EXPECT_EQ(ips.IpsRecordCount, 0);
    EXPECT_EQ(ips.IpsSize, size);
  }
  ips.IpsSize = kIpsMaxSize;  // 0x0101-byte records: 125 fit, then the last runs into the end
  EXPECT_EQ(ParseIpsRecords(ips), -1);
  EXPECT_EQ(ips.IpsSize, kIpsMaxSize);
}

TEST_F(IpsTest, RecordsNearTheTopOfTheOffsetRange) {
  PatchFile patch;
  patch.Record(0xFFFFF0, Pattern(32, 7)).Record(0xFFFFFF, {0x42});
  ASSERT_EQ(Load(patch.End()), 0);
  std::fill(buf.bytes.begin(), buf.bytes.end(), 0);
  ApplyIpsToChunk(ips, 511, buf);
  EXPECT_TRUE(std::equal(buf.data() + 0x7FF0, buf.data() + 0x7FFF, patch.records[0].data.begin()));
  EXPECT_EQ(buf[0x7FFF], 0x42);
  // The 16 bytes beyond 16 MB have no place: they must not wrap round into chunk 0.
  std::fill(buf.bytes.begin(), buf.bytes.end(), 0);
  for (std::uint32_t n : {0u, 1u, 512u, 0xFFFFFFFFu}) ApplyIpsToChunk(ips, n, buf);
  EXPECT_TRUE(std::all_of(buf.bytes.begin(), buf.bytes.end(), [](auto v) { return v == 0; }));
}

TEST_F(IpsTest, DamagedTableStaysInsideTheBuffers) {
  ASSERT_EQ(Load(PatchFile().Record(0x10, {0xAB}).Record(0x20, {0xCD}).End()), 0);
  ips.IpsRecordTable[0].DataPos = 0xFFFF;
  ips.IpsRecordTable[1].Size = 0xFFFF;  // more than the data holds
  ips.IpsRecordTable[5] = {0x30, 3, 0x7FFE};
  ApplyIpsRecord(ips, 5, buf);       // beyond the count
  ApplyIpsRecord(ips, 100000, buf);  // beyond the table
  std::fill(buf.bytes.begin(), buf.bytes.end(), 0);
  ApplyIpsToChunk(ips, 0, buf);
  EXPECT_EQ(buf[0x10], 0);
  EXPECT_EQ(buf[0x20], 0xCD);
  EXPECT_EQ(buf[0x30], 0);
  ips.IpsRecordCount = 0xFFFF;
  ApplyIpsToChunk(ips, 0, buf);  // the count is held to the table's size
}

// Random patches against the byte-by-byte model, across chunk boundaries and with overlaps.
TEST_F(IpsTest, RandomPatchesMatchTheModel) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    const std::size_t imageSize = 1 + rng() % (5 * kChunkBytes);
    const Bytes image = Pattern(imageSize, round);
    PatchFile patch;
    const int records = 1 + static_cast<int>(rng() % 80);
    for (int r = 0; r < records; ++r) {
      std::uint32_t length = rng() % 4 == 0 ? 1 + rng() % 3000 : 1 + rng() % 40;
      if (patch.bytes.size() + 5 + length + 3 > kIpsMaxSize) break;
      const std::uint32_t boundary = (rng() % 7) * kChunkBytes;
      const std::uint32_t offset =
          rng() % 2 ? boundary - std::min<std::uint32_t>(boundary, rng() % 64) : rng() % (6 * kChunkBytes);
      patch.Record(offset, Pattern(length, rng()));
    }
    window.log.clear();
    ASSERT_EQ(Load(patch.End()), 0);
    ASSERT_EQ(ips.IpsRecordCount, patch.records.size());
    ExpectBothPasses(image, patch);
  }
}

}  // namespace
}  // namespace brevomat
