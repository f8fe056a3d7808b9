// Writing only what changed, the way Write Flash and Write Multi go unless asked for every block,
// through the scripted window and the virtual flash cart: whatever the flash held, it ends holding
// what a full write leaves, the log is a full write's and one line of block counts, and only the
// blocks that needed it were erased or programmed.
#include <gtest/gtest.h>

#include <algorithm>

#include "CartRig.h"
#include "IpsPatchFile.h"
#include "commands/Commands.h"

namespace brevomat {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
constexpr std::size_t kChunk = 0x8000, kBlock = 0x20000, kPatchAt = kBlock + 0x1234;
// The last block ends in a short chunk and two chunks outside the image, erased by a full write.
constexpr std::size_t kSize = 2 * kBlock + kChunk + 7232;
// Of the short chunk only the buffers that hold image bytes are programmed; its padding of 0xFF
// would change nothing.
constexpr std::uint32_t kTail = (7232 + 31) / 32;

TEST(ChangedWriteTest, OnlyTheBlocksThatNeedItAreErasedOrProgrammed) {
  const Bytes image = testing::MakeImage(kSize, 5), other = testing::MakeImage(3 * kBlock, 6);
  Bytes full = image;  // what a full write leaves in the three blocks
  full.resize(3 * kBlock, 0xFF);
  struct Row {
    const char* name;
    Bytes before;                                // the three blocks before the write
    bool patch;                                  // the write patches a byte of the middle block
    std::uint32_t counts[3], buffersProgrammed;  // blocks skipped, programmed only, erased
  };
  Bytes poked = full, stale = full, halfway = full;
  poked[kBlock + 0x777] ^= 0x5A;
  stale[2 * kBlock + 3 * kChunk + 9] = 0x12;  // behind the image, in its last block
  std::fill(halfway.begin() + 6 * kChunk, halfway.end(), 0xFF);
  const Row rows[] = {
      {"same image", full, false, {3, 0, 0}, 0},
      {"erased cart", Bytes(3 * kBlock, 0xFF), false, {0, 3, 0}, 9 * 1024 + kTail},
      {"different image", other, false, {0, 0, 3}, 9 * 1024 + kTail},
      {"one byte changed in the middle block", poked, false, {2, 0, 1}, 4 * 1024},
      {"a patch changes the middle block", full, true, {2, 0, 1}, 4 * 1024},
      {"stale byte behind the image", stale, false, {2, 0, 1}, 1024 + kTail},
      {"an earlier write stopped after six chunks", halfway, false, {1, 2, 0}, 3 * 1024 + kTail},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing::CartRig rig;
    rig.DirtyFlash(0x00);  // the blocks behind the image stay as they are
    std::copy(row.before.begin(), row.before.end(), rig.cart.Flash().begin());
    const std::string path = rig.File("game.gba", image);
    Lines log = {"PortMode = EPP", "FileName = " + path, "FileSize = " + std::to_string(kSize),
                 "File Size Error!!!"};
    Bytes expected = full;
    if (row.patch) {
      const std::string patch = rig.File("fix.ips", testing::PatchFile().Record(kPatchAt, {0xAB}).End());
      rig.window.radioIps = 1;
      rig.window.openDialog3 = {patch};
      log.insert(log.end(), {"IpsFileName = " + patch, "-->Ips Applied<--"});
      expected[kPatchAt] = 0xAB;
    }
    log.insert(log.end(),
               {"Game Name = GBA Tests", "Game Code = 1337",
                "Blocks = " + std::to_string(row.counts[0]) + " skipped, " + std::to_string(row.counts[1]) +
                    " programmed, " + std::to_string(row.counts[2]) + " erased",
                "Time = 0 Sec"});
    rig.window.openDialog1 = {Lines{path}};
    rig.window.answers = {true};
    EXPECT_EQ(WriteClick(rig.core), kResultDone);

    EXPECT_EQ(rig.window.log, log);
    EXPECT_EQ(rig.window.status, "Write Cart ok");
    expected.resize(rig.cart.Flash().size(), 0x00);
    EXPECT_TRUE(rig.cart.Flash() == expected);
    const ChangedBlocks& c = rig.core.cart.Changed;
    EXPECT_EQ((std::vector<std::uint32_t>{c.Skipped, c.Programmed, c.Erased}),
              std::vector<std::uint32_t>(std::begin(row.counts), std::end(row.counts)));
    EXPECT_EQ(rig.cart.EraseAddresses().size(), row.counts[2]);
    EXPECT_EQ(rig.cart.BufferPrograms(), row.buffersProgrammed);
  }
}

// The pre-boot image and the first game share block 0, the second game starts a chunk into block
// 32. Onto an erased cart both are only programmed; written again, block 0 holds the game behind
// the pre-boot image, which the pre-boot image alone would not leave there: it is erased.
TEST(ChangedWriteTest, MultiOntoAnErasedCartAndThenTheSameSetAgain) {
  testing::CartRig rig;
  rig.DirtyFlash(0xFF);
  const Bytes boot = testing::MakeImage(kChunk, 40), g0 = testing::MakeImage(2 * kChunk, 41),
              g1 = testing::MakeImage(2 * kChunk, 42);
  StoreFileName(rig.core.settings.BootFileName(), rig.File("boot.bin", boot));
  Bytes expected(rig.cart.Flash().size(), 0xFF);  // g0, given first, goes last
  std::copy(boot.begin(), boot.end(), expected.begin());
  std::copy(g1.begin(), g1.end(), expected.begin() + 0x8000);
  std::copy(g0.begin(), g0.end(), expected.begin() + 0x408000);
  for (const auto& counts : {std::vector<std::uint32_t>{0, 2, 0}, {1, 0, 1}}) {
    rig.window.openDialog1 = {Lines{rig.File("g0.gba", g0), rig.File("g1.gba", g1)}};
    EXPECT_EQ(WriteMultiClick(rig.core), kResultDone);
    EXPECT_TRUE(rig.cart.Flash() == expected);
    const ChangedBlocks& c = rig.core.cart.Changed;
    EXPECT_EQ((std::vector<std::uint32_t>{c.Skipped, c.Programmed, c.Erased}), counts);
  }
  EXPECT_EQ(rig.cart.EraseAddresses().size(), 1u);
}

}  // namespace
}  // namespace brevomat
