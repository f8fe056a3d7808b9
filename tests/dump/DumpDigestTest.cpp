// The digests and the used size of a read-out, fed chunk by chunk as the read-out confirms them,
// and the trim that relies on them.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "TestImages.h"
#include "dump/DumpDigest.h"
#include "dump/Trim.h"

namespace brevomat {
namespace {

constexpr std::size_t k256K = 0x40000, k512K = 0x80000, k1M = 0x100000;

std::vector<std::uint8_t> Concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A 320 KB game and erased flash up to 1 MB.
std::vector<std::uint8_t> GameThenBlank() {
  return Concat(testing::MakeImage(0x50000), std::vector<std::uint8_t>(k1M - 0x50000, 0xFF));
}

void Feed(DumpDigest& digest, const std::vector<std::uint8_t>& data) {
  for (std::size_t at = 0; at < data.size(); at += kChunkBytes)
    digest.ChunkConfirmed(data.data() + at, kChunkBytes);
}

TEST(DumpDigestTest, UsedSizeIsWhereTheTailTurnsBlankOrMirrored) {
  const auto game = testing::MakeImage(k256K);
  struct Row {
    const char* what;
    std::vector<std::uint8_t> data;
    UsedSize used;
  } const rows[] = {
      {"blank tail", GameThenBlank(), {k512K, UnusedTail::Blank}},
      {"mirrored tail", Concat(Concat(game, game), Concat(game, game)), {k256K, UnusedTail::Mirror}},
      {"full", testing::MakeImage(k1M), {}},
      {"blank but for its last byte",
       Concat(game, Concat(std::vector<std::uint8_t>(k1M - k256K - 1, 0xFF), {0})),
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    DumpDigest digest;
    Feed(digest, row.data);
    EXPECT_EQ(digest.Used().size, row.used.size);
    EXPECT_EQ(digest.Used().tail, row.used.tail);
  }
}

// The values Python's zlib.crc32 and hashlib give for the same bytes.
TEST(DumpDigestTest, WholeAndPrefixDigestsAreTheLibrariesOwn) {
  DumpDigest digest;
  Feed(digest, GameThenBlank());
  Digests whole;
  ASSERT_TRUE(digest.Whole(whole));
  EXPECT_EQ(whole.size, k1M);
  EXPECT_EQ(Crc32Text(whole.crc32), "5b1cca2c");
  EXPECT_EQ(HexText(whole.sha1), "1930e22e87b22d6b5b5444d6cdad5872309aa390");
  EXPECT_EQ(HexText(whole.md5), "8d216e78b5698fe28215c9129df79056");
  EXPECT_EQ(HexText(whole.sha256), "5a476a07aef89dca5843c4fb968399d7080de6bf09cdb851c8f9cea1e9090022");
  const Digests* prefix = digest.Prefix(k512K);
  ASSERT_NE(prefix, nullptr);
  EXPECT_EQ(Crc32Text(prefix->crc32), "9e8e141b");
  EXPECT_EQ(HexText(prefix->sha1), "240362c58ff4ab8c0d1e3634fea092564a05db34");
  EXPECT_EQ(HexText(prefix->md5), "10614c59a270d3afbaf7998acbfdc8c8");
  EXPECT_EQ(HexText(prefix->sha256), "783916a0afce7aad8d028c1cffc0f91a917f8eb529798a064cb0c42888870fba");
  EXPECT_NE(digest.Prefix(k256K), nullptr);
  EXPECT_EQ(digest.Prefix(0x60000), nullptr);  // no power of two
}

// The trim cuts the file only when it holds exactly what was read, and then in one step.
TEST(DumpDigestTest, TrimKeepsThePrefixOnlyOfTheFileThatWasRead) {
  const auto data = GameThenBlank();
  DumpDigest digest;
  Feed(digest, data);
  Digests whole;
  ASSERT_TRUE(digest.Whole(whole));
  const Digests& kept = *digest.Prefix(k512K);
  const auto file = std::filesystem::temp_directory_path() /
                    ("brevomat-trim-" +
                     std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".gba");
  std::string error;

  auto changed = data;
  changed[k1M - 1] = 0;  // not the read-out any more: left alone
  testing::WriteBytes(file, changed);
  EXPECT_FALSE(TrimFile(file.string(), kept, whole, UnusedTail::Blank, error));
  EXPECT_EQ(error, "it no longer holds exactly what was read from the cart");
  EXPECT_EQ(testing::ReadBytes(file), changed);

  testing::WriteBytes(file, data);
  EXPECT_TRUE(TrimFile(file.string(), kept, whole, UnusedTail::Blank, error)) << error;
  EXPECT_EQ(testing::ReadBytes(file), std::vector<std::uint8_t>(data.begin(), data.begin() + k512K));
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace brevomat
