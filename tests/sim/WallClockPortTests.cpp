// The demo's cart keeps real time: Stop in the middle of an erase, the user waits, and the next
// command finds the flash chip finished, as a real one would be.
#include <gtest/gtest.h>

#include "CartRig.h"
#include "commands/Commands.h"
#include "sim/WallClockPort.h"

namespace brevomat::testing {
namespace {

TEST(WallClockPort, AfterAStoppedEraseTheNextCommandFindsTheChipFinished) {
  const struct {
    sim::Pace pace;
    bool catchUp;  // the program lets the clock catch up before the next command
    const char* nextCommandEnds;
  } cases[] = {
      {sim::Pace::Fast, false, "Flash not found!!!"},  // the adapter's clock alone has stood still
      {sim::Pace::Fast, true, "Erase Flash Cancel"},
      {sim::Pace::Realtime, true, "Erase Flash Cancel"},
  };
  for (const auto& c : cases) {
    CartRigOptions options;
    options.timing = sim::ChipTiming::Datasheet();  // a block erase takes 1 s
    CartRig rig(options);
    std::uint64_t wallNs = 5'000'000'000;
    sim::WallClockPort port(rig.adapter, c.pace,
                            {[&] { return wallNs; }, [&](std::uint64_t ns) { wallNs += ns; }});
    rig.core.port.Attach(&port);
    const std::uint64_t virtualStart = rig.adapter.NowNs(), wallStart = wallNs;

    // Stop while the first block is being erased.
    rig.window.answers = {true};
    rig.window.onPump = [&](std::uint64_t) {
      if (rig.window.running && rig.cart.Busy()) rig.core.frame.StopClick();
    };
    EXPECT_EQ(EraseFlashClick(rig.core), kResultCancelled);
    ASSERT_TRUE(rig.cart.Busy());
    if (c.pace == sim::Pace::Realtime) {
      // The simulation waited for the wall clock: both have moved alike, to within a millisecond.
      const std::uint64_t modelled = rig.adapter.NowNs() - virtualStart, passed = wallNs - wallStart;
      EXPECT_LE(modelled, passed + 1'000'000);
      EXPECT_LE(passed, modelled + 1'000'000);
    }

    // Two seconds pass before the user starts the next command (and answers No).
    wallNs += 2'000'000'000;
    if (c.catchUp) port.CatchUp();
    rig.window.onPump = nullptr;
    rig.window.answers = {false};
    EraseFlashClick(rig.core);
    EXPECT_EQ(rig.window.log.back(), c.nextCommandEnds) << "pace " << static_cast<int>(c.pace);
  }
}

}  // namespace
}  // namespace brevomat::testing
