// Adapter detection against the virtual adapter and against a silent port.
#include <gtest/gtest.h>

#include "CartRig.h"
#include "RecordingBackend.h"
#include "link/Detection.h"

namespace brevomat {
namespace {

using testing::CartRig;
using testing::CartRigOptions;

TEST(DetectionTest, BothModesOnLpt1ChoosesEpp) {
  CartRig rig;
  rig.core.cart.LastErasedBlock = 12;
  ASSERT_TRUE(rig.core.OpenLink());
  EXPECT_EQ(rig.window.log, (std::vector<std::string>{"PortMode = EPP"}));
  EXPECT_EQ(rig.core.link.Mode, LinkMode::EPP);
  EXPECT_EQ(rig.adapter.Register(4), 0x07);
  EXPECT_EQ(rig.core.cart.LastErasedBlock, -1);
  EXPECT_EQ(rig.adapter.counters().violations, 0u);
}

TEST(DetectionTest, SppOnlyOnLpt3RunsOnlyTheSppTest) {
  CartRigOptions o;
  o.base = 0x3BC;
  o.answers = sim::AdapterAnswers::SppOnly;
  CartRig rig(o);
  rig.window.portSel = 2;
  rig.core.SelectPortAddresses();
  ASSERT_TRUE(rig.core.OpenLink());
  EXPECT_EQ(rig.window.log, (std::vector<std::string>{"PortMode = SPP"}));
  EXPECT_EQ(rig.adapter.Register(4), 0x47);
  // The EPP test never ran: it would have read the EPP data register.
  EXPECT_EQ(rig.adapter.counters().violations, 0u);
  EXPECT_EQ(rig.tee.controlWrites4, 1u);
}

TEST(DetectionTest, BothModesOnLpt3StillChoosesSpp) {
  CartRigOptions o;
  o.base = 0x3BC;
  CartRig rig(o);
  rig.window.portSel = 2;
  rig.core.SelectPortAddresses();
  ASSERT_TRUE(rig.core.OpenLink());
  EXPECT_EQ(rig.window.log, (std::vector<std::string>{"PortMode = SPP"}));
}

TEST(DetectionTest, SppOnlyOnLpt1FallsBackAndReleasesTheLink) {
  CartRigOptions o;
  o.answers = sim::AdapterAnswers::SppOnly;
  CartRig rig(o);
  ASSERT_TRUE(rig.core.OpenLink());
  EXPECT_EQ(rig.window.log, (std::vector<std::string>{"PortMode = SPP"}));
  EXPECT_EQ(rig.core.link.Mode, LinkMode::SPP);
  // Released after the passed SPP test, and again by the fallback.
  EXPECT_EQ(rig.tee.controlWrites4, 2u);
  EXPECT_EQ(rig.adapter.Register(4), 0x47);
}

TEST(DetectionTest, SpeedOneLogsEppButUsesSppCycles) {
  CartRig rig;
  rig.window.radioSpeed = 3;
  ASSERT_TRUE(rig.core.OpenLink());
  EXPECT_EQ(rig.window.log, (std::vector<std::string>{"PortMode = EPP"}));
  EXPECT_EQ(rig.core.link.Mode, LinkMode::SPP);
  EXPECT_EQ(rig.core.link.SpeedSetting, 3);
  EXPECT_EQ(rig.adapter.Register(4), 0x47);
}

TEST(DetectionTest, NothingConnected) {
  CartRigOptions o;
  o.answers = sim::AdapterAnswers::None;
  CartRig rig(o);
  EXPECT_FALSE(rig.core.OpenLink());
  EXPECT_EQ(rig.window.log, (std::vector<std::string>{"No Adaptor Found!"}));
}

TEST(DetectionTest, AdapterOnAnotherPortIsNotFound) {
  CartRig rig;  // adapter at 0x378
  rig.window.portSel = 1;
  rig.core.SelectPortAddresses();
  EXPECT_FALSE(rig.core.OpenLink());
  EXPECT_EQ(rig.window.log, (std::vector<std::string>{"No Adaptor Found!"}));
}

TEST(DetectionTest, WrongRegisterTwoEndsEachTestAfterOneRead) {
  testing::FakeWindow window;
  Core core(window);
  testing::RecordingBackend rec;  // answers 0xFF to everything
  core.port.Attach(&rec);
  EXPECT_FALSE(core.OpenLink());
  int statusReads = 0, eppReads = 0;
  for (const auto& c : rec.calls) {
    if (c.kind == testing::PortCall::ReadByte && c.port == 0x379) ++statusReads;
    if (c.kind == testing::PortCall::ReadByte && c.port == 0x37C) ++eppReads;
  }
  EXPECT_EQ(statusReads, 2);  // one nibble read in the SPP test
  EXPECT_EQ(eppReads, 1);     // one data read in the EPP test
  EXPECT_EQ(core.link.Mode, LinkMode::EPP);
}

}  // namespace
}  // namespace brevomat
