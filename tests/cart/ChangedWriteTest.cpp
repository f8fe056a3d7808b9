// Writing only what changed, through the scripted window and the virtual flash cart: whatever the
// flash held before, it ends holding what a full write leaves, the log is a full write's, and only
// the blocks that needed it were erased or programmed.
#include <gtest/gtest.h>

#include <algorithm>

#include "CartRig.h"
#include "IpsPatchFile.h"
#include "commands/Commands.h"

namespace brevomat {
namespace {

using testing::CartRig;
using testing::MakeImage;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

constexpr std::size_t kChunk = 0x8000, kBlock = 0x20000;
// Two whole blocks, a whole chunk and 7232 bytes: the last block ends in a short chunk and two
// chunks outside the image, which a full write leaves erased.
constexpr std::size_t kSize = 2 * kBlock + kChunk + 7232;
constexpr std::size_t kPatchAt = kBlock + 0x1234;  // in the middle block

struct Row {
  const char* name;
  int flash;              // what the three blocks held before: 0 the image, 1 erased, 2 another image
  std::size_t poke;       // a byte of them changed before the write (0: none)
  std::size_t blankFrom;  // from here to the end of the blocks erased before the write (0: none)
  bool patch;             // the write patches kPatchAt
  std::uint32_t skipped, programmed, erased, chunksProgrammed;
};

TEST(ChangedWriteTest, OnlyTheBlocksThatNeedItAreErasedOrProgrammed) {
  const Bytes image = MakeImage(kSize, 5);
  Bytes full = image;  // what a full write leaves in the three blocks
  full.resize(3 * kBlock, 0xFF);
  const Bytes other = MakeImage(3 * kBlock, 6);
  const Row rows[] = {
      {"same image", 0, 0, 0, false, 3, 0, 0, 0},
      {"erased cart", 1, 0, 0, false, 0, 3, 0, 10},
      {"different image", 2, 0, 0, false, 0, 0, 3, 10},
      {"one byte changed in the middle block", 0, kBlock + 0x777, 0, false, 2, 0, 1, 4},
      {"a patch changes the middle block", 0, 0, 0, true, 2, 0, 1, 4},
      {"stale byte behind the image in its last block", 0, 2 * kBlock + 3 * kChunk + 9, 0, false, 2, 0, 1, 2},
      {"an earlier write stopped after six chunks", 0, 0, 6 * kChunk, false, 1, 2, 0, 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CartRig rig;
    rig.DirtyFlash(0x00);  // the blocks behind the image must stay as they are
    Bytes before = row.flash == 0 ? full : row.flash == 1 ? Bytes(3 * kBlock, 0xFF) : other;
    if (row.poke != 0) before[row.poke] ^= 0x5A;
    if (row.blankFrom != 0)
      std::fill(before.begin() + static_cast<std::ptrdiff_t>(row.blankFrom), before.end(), 0xFF);
    std::copy(before.begin(), before.end(), rig.cart.Flash().begin());

    const std::string path = rig.File("game.gba", image);
    Lines log = {"PortMode = EPP", "FileName = " + path, "FileSize = " + std::to_string(kSize),
                 "File Size Error!!!"};
    Bytes expected = full;
    if (row.patch) {
      const std::string patch =
          rig.File("fix.ips", testing::PatchFile().Record(kPatchAt, {0xAB, 0xCD}).End());
      rig.window.radioIps = 1;
      rig.window.openDialog3 = {patch};
      log.insert(log.end(), {"IpsFileName = " + patch, "-->Ips Applied<--"});
      expected[kPatchAt] = 0xAB;
      expected[kPatchAt + 1] = 0xCD;
    }
    log.insert(log.end(), {"Game Name = GBA Tests", "Game Code = 1337", "Time = 0 Sec"});
    rig.window.openDialog1 = {Lines{path}};
    rig.window.answers = {true};
    rig.core.cart.Changed.Enabled = true;
    EXPECT_EQ(WriteClick(rig.core), kResultDone);

    EXPECT_EQ(rig.window.log, log);
    EXPECT_EQ(rig.window.status, "Write Cart ok");
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), rig.cart.Flash().begin()));
    EXPECT_TRUE(std::all_of(rig.cart.Flash().begin() + 3 * kBlock, rig.cart.Flash().end(),
                            [](std::uint8_t b) { return b == 0x00; }));
    const ChangedBlocks& c = rig.core.cart.Changed;
    EXPECT_EQ(c.Skipped, row.skipped);
    EXPECT_EQ(c.Programmed, row.programmed);
    EXPECT_EQ(c.Erased, row.erased);
    EXPECT_EQ(rig.cart.EraseAddresses().size(), row.erased);
    EXPECT_EQ(rig.cart.BufferPrograms(), row.chunksProgrammed * 1024u);
  }
}

// The pre-boot image and the first game share block 0: the pre-boot image keeps or erases it for
// both. The second game starts one chunk into block 32.
TEST(ChangedWriteTest, MultiOntoAnErasedCartAndThenTheSameSetAgain) {
  CartRig rig;
  rig.DirtyFlash(0xFF);
  const Bytes boot = MakeImage(kChunk, 40), first = MakeImage(2 * kChunk, 41),
              second = MakeImage(2 * kChunk, 42);
  StoreFileName(rig.core.settings.BootFileName(), rig.File("boot.bin", boot));
  // Both games fit the last place; the first one given takes it.
  const Lines games = {rig.File("g0.gba", first), rig.File("g1.gba", second)};
  Bytes expected(rig.cart.Flash().size(), 0xFF);
  std::copy(boot.begin(), boot.end(), expected.begin());
  std::copy(second.begin(), second.end(), expected.begin() + 0x8000);
  std::copy(first.begin(), first.end(), expected.begin() + 0x408000);
  rig.core.cart.Changed.Enabled = true;

  struct Run {
    std::uint32_t skipped, programmed, erased;
  };
  // Onto the erased cart both blocks are only programmed. Then block 0 holds the first game
  // behind the pre-boot image, which a write of the pre-boot image alone would not leave there:
  // it is erased and written again; block 32 already holds its bytes.
  for (const Run run : {Run{0, 2, 0}, Run{1, 0, 1}}) {
    rig.window.openDialog1 = {games};
    EXPECT_EQ(WriteMultiClick(rig.core), kResultDone);
    EXPECT_EQ(rig.window.status, "Write Cart ok");
    EXPECT_TRUE(rig.cart.Flash() == expected);
    const ChangedBlocks& c = rig.core.cart.Changed;
    EXPECT_EQ(c.Skipped, run.skipped);
    EXPECT_EQ(c.Programmed, run.programmed);
    EXPECT_EQ(c.Erased, run.erased);
  }
  EXPECT_EQ(rig.cart.EraseAddresses().size(), 1u);
}

}  // namespace
}  // namespace brevomat
