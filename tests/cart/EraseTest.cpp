// The EraseFlash command end to end: window fake, virtual adapter, virtual flash cart.
#include <gtest/gtest.h>

#include <algorithm>

#include "CartRig.h"
#include "cart/Erase.h"
#include "cart/Flash.h"
#include "commands/Commands.h"
#include "link/Detection.h"

namespace brevomat {
namespace {

using testing::CartRig;
using testing::CartRigOptions;
using Lines = std::vector<std::string>;

bool AllErased(sim::FlashCart& cart) {
  return std::all_of(cart.Flash().begin(), cart.Flash().end(), [](std::uint8_t b) { return b == 0xFF; });
}

TEST(EraseFlashTest, FourMegabyteChipErasesThirtyTwoBlocks) {
  CartRigOptions o;
  o.chip = sim::FlashChip::J3_32Mbit;
  CartRig rig(o);
  rig.DirtyFlash();
  rig.window.answers = {true};
  EXPECT_EQ(EraseFlashClick(rig.core), kResultDone);

  EXPECT_EQ(rig.window.log, (Lines{"PortMode = EPP", "Cart Erase Ok", "Time = 0 Sec"}));
  ASSERT_EQ(rig.window.questions.size(), 1u);
  EXPECT_EQ(rig.window.questions[0].text, "Do You want to Erase Flash Data?");
  EXPECT_EQ(rig.window.questions[0].caption, "Erase Flash");
  EXPECT_EQ(rig.window.status, "Cart Erase Ok");
  std::vector<std::uint32_t> expected;
  for (std::uint32_t k = 0; k < 32; ++k) expected.push_back(k * 0x10000);
  EXPECT_EQ(rig.cart.EraseAddresses(), expected);
  std::vector<int> progress;
  for (int k = 0; k < 32; ++k) progress.push_back(k * 100 / 32);
  progress.push_back(100);
  EXPECT_EQ(rig.window.progressHistory, progress);
  EXPECT_EQ(progress[1], 3);
  EXPECT_EQ(progress[31], 96);
  EXPECT_TRUE(AllErased(rig.cart));
  EXPECT_FALSE(rig.window.running);
  EXPECT_EQ(rig.adapter.counters().violations, 0u);
}

TEST(EraseFlashTest, EightMegabyteChipErasesSixtyFourBlocksWithTruncatedProgress) {
  CartRig rig;
  rig.DirtyFlash();
  rig.window.answers = {true};
  EraseFlashClick(rig.core);
  EXPECT_EQ(rig.cart.EraseAddresses().size(), 64u);
  EXPECT_EQ(rig.cart.EraseAddresses().back(), 63u * 0x10000);
  ASSERT_EQ(rig.window.progressHistory.size(), 65u);
  EXPECT_EQ((std::vector<int>(rig.window.progressHistory.begin(), rig.window.progressHistory.begin() + 5)),
            (std::vector<int>{0, 1, 3, 4, 6}));
  EXPECT_TRUE(AllErased(rig.cart));
  EXPECT_EQ(rig.window.status, "Cart Erase Ok");
}

TEST(EraseFlashTest, SecondCommandIsSeparatedByOneEmptyLine) {
  CartRig rig;
  rig.window.answers = {false, true};
  EraseFlashClick(rig.core);
  EraseFlashClick(rig.core);
  EXPECT_EQ(rig.window.log, (Lines{"PortMode = EPP", "Erase Flash Cancel", "", "PortMode = EPP",
                                   "Cart Erase Ok", "Time = 0 Sec"}));
}

TEST(EraseFlashTest, AnsweringNoSendsNoFlashCommandAfterIdentification) {
  CartRig reference;
  ASSERT_TRUE(reference.core.OpenLink());
  ASSERT_TRUE(IdentifyFlash(reference.core.link, reference.core.frame, reference.core.cart));
  WaitFlashReady(reference.core.link, reference.core.frame);

  CartRig rig;
  rig.DirtyFlash();
  rig.window.answers = {false};
  EXPECT_EQ(EraseFlashClick(rig.core), kResultCancelled);
  EXPECT_EQ(rig.window.log, (Lines{"PortMode = EPP", "Erase Flash Cancel"}));
  EXPECT_EQ(rig.cart.ChipWrites(), reference.cart.ChipWrites());
  EXPECT_TRUE(rig.cart.EraseAddresses().empty());
  EXPECT_EQ(rig.cart.Flash()[0], 0x00);
}

TEST(EraseFlashTest, NoAdapterAndNoChip) {
  CartRigOptions o;
  o.answers = sim::AdapterAnswers::None;
  CartRig absent(o);
  EXPECT_EQ(EraseFlashClick(absent.core), kResultFailed);
  EXPECT_EQ(absent.window.log, (Lines{"No Adaptor Found!"}));
  EXPECT_TRUE(absent.window.questions.empty());

  CartRig rig;
  rig.cart.SetQueryIds(0x89, 0x18);
  EXPECT_EQ(EraseFlashClick(rig.core), kResultFailed);
  EXPECT_EQ(rig.window.log, (Lines{"PortMode = EPP", "Flash not found!!!"}));
  EXPECT_TRUE(rig.window.questions.empty());
}

TEST(EraseFlashTest, EraseErrorStopsAtTheBlockWithCleanUpWrites) {
  CartRig rig;
  rig.DirtyFlash();
  rig.cart.Faults().eraseErrorBlock = 2;
  rig.window.answers = {true};
  rig.adapter.ResetCounters();
  EXPECT_EQ(EraseFlashClick(rig.core), kResultFailed);
  EXPECT_EQ(rig.window.log, (Lines{"PortMode = EPP", "Cart Erase Error!!!", "Time = 0 Sec"}));
  EXPECT_EQ(rig.window.status, "Cart Erase Error!!!");
  EXPECT_EQ(rig.window.progress, 3);  // the progress keeps its last value (2 * 100 / 64)
  // The chip reports ready with the erase error bit: the wait ends at that answer instead of
  // polling on to its limit, with clear status at the block, then read array.
  // (Two good blocks read back, 65,536 words each, and a few polls.)
  EXPECT_LT(rig.adapter.counters().wordReads, 2 * 65'536u + 10'000u);
  const auto& w = rig.tee.cartWrites;
  ASSERT_GE(w.size(), 2u);
  EXPECT_EQ(w[w.size() - 2], (testing::CartWrite{0x20000, 0x50}));
  EXPECT_EQ(w[w.size() - 1], (testing::CartWrite{0, 0xFF}));
  // Blocks before the failing one are erased, later ones untouched.
  EXPECT_EQ(rig.cart.Flash()[0x3FFFF], 0xFF);
  EXPECT_EQ(rig.cart.Flash()[0x60000], 0x00);
}

// Reports a status of "ready, erase error" as a clean "ready", as a garbled cable might.
class StatusLiar final : public PortBackend {
 public:
  explicit StatusLiar(PortBackend& inner) : inner_(inner) {}
  std::uint8_t ReadByte(std::uint16_t port) override { return inner_.ReadByte(port); }
  void WriteByte(std::uint16_t port, std::uint8_t value) override { inner_.WriteByte(port, value); }
  std::uint16_t ReadWord(std::uint16_t port) override {
    const std::uint16_t v = inner_.ReadWord(port);
    return (v & 0xFF) == 0xA0 ? static_cast<std::uint16_t>((v & 0xFF00) | 0x80) : v;
  }
  void WriteWord(std::uint16_t port, std::uint16_t value) override { inner_.WriteWord(port, value); }
  std::uint64_t ClockNs() override { return inner_.ClockNs(); }

 private:
  PortBackend& inner_;
};

TEST(EraseFlashTest, ABlockThatIsNotBlankFailsWhateverTheStatusSaid) {
  CartRig rig;
  rig.DirtyFlash();
  rig.cart.Faults().eraseErrorBlock = 2;
  StatusLiar liar(rig.tee);
  rig.core.port.Attach(&liar);
  rig.window.answers = {true};
  EXPECT_EQ(EraseFlashClick(rig.core), kResultFailed);
  EXPECT_EQ(rig.window.log, (Lines{"PortMode = EPP", "Cart Erase Error!!!", "Time = 0 Sec"}));
  EXPECT_EQ(rig.cart.EraseAddresses().size(), 3u);  // no block after the one that stayed full
}

TEST(EraseFlashTest, ASlowChipErasesAtEverySpeed) {
  // 5 s per block, the datasheet's maximum: at speed "4" the poll count alone runs out after
  // about 1.6 s, so the wait must also give the chip its time.
  for (int speed = 0; speed < 4; ++speed) {
    CartRigOptions o;
    o.timing = sim::ChipTiming::Slow();
    CartRig rig(o);
    rig.DirtyFlash();
    rig.window.radioSpeed = speed;
    ASSERT_TRUE(rig.core.OpenLink());
    ASSERT_TRUE(IdentifyFlash(rig.core.link, rig.core.frame, rig.core.cart));
    rig.core.frame.BeginOperation();
    EXPECT_TRUE(EraseFlashBlock(rig.core.link, rig.core.frame, 0x10000)) << "speed index " << speed;
    EXPECT_EQ(rig.cart.Flash()[0x20000], 0xFF);
    EXPECT_EQ(rig.cart.Flash()[0x3FFFF], 0xFF);
  }
}

TEST(EraseFlashTest, EraseThatNeverFinishesRunsOutOfPolls) {
  CartRig rig;
  ASSERT_TRUE(rig.core.OpenLink());
  ASSERT_TRUE(IdentifyFlash(rig.core.link, rig.core.frame, rig.core.cart));
  rig.cart.Faults().neverReady = true;
  rig.core.frame.BeginOperation();
  rig.tee.cartWrites.clear();
  EXPECT_FALSE(EraseFlashBlock(rig.core.link, rig.core.frame, 0x30000));
  // The erase phase waits 524,288 polls for a clean 0x80, then clears status at the block and
  // returns the chip to read array.
  const auto& w = rig.tee.cartWrites;
  ASSERT_GE(w.size(), 2u);
  EXPECT_EQ(w[w.size() - 2], (testing::CartWrite{0x30000, 0x50}));
  EXPECT_EQ(w[w.size() - 1], (testing::CartWrite{0, 0xFF}));
  EXPECT_EQ(std::count(w.begin(), w.end(), testing::CartWrite{0x30000, 0xD0}), 1);
  EXPECT_TRUE(rig.window.log.size() == 1);  // no Stop, no message of its own
}

TEST(EraseFlashTest, BusyChipBeforeTheEraseRunsOutOfReadyPollsAndTime) {
  CartRig rig;
  ASSERT_TRUE(rig.core.OpenLink());
  ASSERT_TRUE(IdentifyFlash(rig.core.link, rig.core.frame, rig.core.cart));
  rig.cart.Faults().neverReady = true;
  rig.core.frame.BeginOperation();
  EXPECT_FALSE(EraseFlashBlock(rig.core.link, rig.core.frame, 0));  // leaves the chip busy for good
  rig.tee.cartWrites.clear();
  const std::uint64_t startNs = rig.adapter.NowNs();
  EXPECT_FALSE(EraseFlashBlock(rig.core.link, rig.core.frame, 0x10000));
  // It gives up only after 32,768 polls and the chip's longest erase time, whichever is later.
  const auto& w = rig.tee.cartWrites;
  const auto polls = std::count(w.begin(), w.end(), testing::CartWrite{0, 0x70});
  EXPECT_GT(polls, 32768);
  EXPECT_GE(rig.adapter.NowNs() - startNs, flash::kEraseWaitNs);
  EXPECT_LT(rig.adapter.NowNs() - startNs, flash::kEraseWaitNs + 1'000'000);
  ASSERT_GE(w.size(), 2u);
  EXPECT_EQ(w[w.size() - 2], (testing::CartWrite{0x10000, 0x50}));
  EXPECT_EQ(w[w.size() - 1], (testing::CartWrite{0, 0xFF}));
  EXPECT_EQ(std::count(w.begin(), w.end(), testing::CartWrite{0x10000, 0x20}), 0);
}

TEST(EraseFlashTest, SetupStatusB0RepeatsTheSetupCommand) {
  CartRig rig;
  ASSERT_TRUE(rig.core.OpenLink());
  ASSERT_TRUE(IdentifyFlash(rig.core.link, rig.core.frame, rig.core.cart));
  rig.cart.Faults().setupStatusB0Polls = 5;
  rig.DirtyFlash();
  rig.core.frame.BeginOperation();
  rig.tee.cartWrites.clear();
  EXPECT_TRUE(EraseFlashBlock(rig.core.link, rig.core.frame, 0x10000));
  const auto& w = rig.tee.cartWrites;
  EXPECT_EQ(std::count(w.begin(), w.end(), testing::CartWrite{0x10000, 0x20}), 6);
  EXPECT_EQ(rig.cart.Flash()[0x20000], 0xFF);
}

TEST(EraseFlashTest, StopDuringAnEraseEndsWithTheTimeLine) {
  CartRigOptions o;
  o.timing = sim::ChipTiming::Datasheet();  // a real erase takes about a second of polling
  CartRig rig(o);
  rig.window.answers = {true};
  rig.window.tickEveryPumps = 50;
  rig.window.onPump = [&rig](std::uint64_t) {
    if (rig.cart.EraseAddresses().size() == 2 && rig.window.running) rig.core.frame.StopClick();
  };
  EXPECT_EQ(EraseFlashClick(rig.core), kResultCancelled);
  EXPECT_EQ(rig.window.log.size(), 4u);
  EXPECT_EQ((Lines(rig.window.log.begin(), rig.window.log.begin() + 3)),
            (Lines{"PortMode = EPP", "Stop process !!!", "Cart Erase Error!!!"}));
  EXPECT_EQ(rig.window.log.back().rfind("Time = ", 0), 0u);
  EXPECT_EQ(rig.window.status, "Cart Erase Error!!!");
  EXPECT_FALSE(rig.window.running);
  EXPECT_EQ(rig.cart.EraseAddresses().size(), 2u);
}

}  // namespace
}  // namespace brevomat
