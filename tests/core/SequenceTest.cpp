// The cart control sequences as they cross the port.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "RecordingBackend.h"
#include "link/ControlSequences.h"
#include "link/Link.h"

namespace brevomat {
namespace {

using testing::PortCall;
using testing::RecordingBackend;

constexpr std::uint16_t C = 0x37A, EA = 0x37B, ED = 0x37C;

struct CartWrite {
  std::uint32_t address;
  std::uint16_t value;
  bool operator==(const CartWrite&) const = default;
};

// Decodes fast-EPP traffic back into register writes and cart word writes.
struct Decoded {
  std::vector<std::pair<int, int>> registerWrites;  // (register, value) for registers 0..2, 4
  std::vector<CartWrite> cartWrites;
  bool everyRepeatReloadsAddress = true;
};

Decoded Decode(const std::vector<PortCall>& calls) {
  Decoded d;
  int selected = -1;
  std::uint8_t regs[3] = {};
  bool loaded[3] = {};
  for (const PortCall& c : calls) {
    if (c.kind == PortCall::WriteByte && c.port == EA) {
      selected = c.value;
    } else if (c.kind == PortCall::WriteByte && c.port == ED) {
      d.registerWrites.push_back({selected, c.value});
      if (selected >= 0 && selected <= 2) {
        regs[selected] = static_cast<std::uint8_t>(c.value);
        loaded[selected] = true;
      }
    } else if (c.kind == PortCall::WriteWord && c.port == ED && selected == 3) {
      if (!(loaded[0] && loaded[1] && loaded[2])) d.everyRepeatReloadsAddress = false;
      d.cartWrites.push_back({static_cast<std::uint32_t>(regs[2] << 16 | regs[1] << 8 | regs[0]), c.value});
      loaded[0] = loaded[1] = loaded[2] = false;
    } else if (c.kind == PortCall::WriteByte && c.port == C) {
      continue;
    } else {
      ADD_FAILURE() << "unexpected call " << c;
    }
  }
  return d;
}

class SequenceTest : public ::testing::Test {
 protected:
  RecordingBackend rec;
  PortIo io{&rec};
  Link link{io};
};

TEST_F(SequenceTest, EnableFlashAccessSends1509CompleteCartWrites) {
  EnableFlashAccess(link);
  const Decoded d = Decode(rec.calls);
  ASSERT_EQ(d.cartWrites.size(), 1509u);
  EXPECT_TRUE(d.everyRepeatReloadsAddress);
  EXPECT_EQ(d.registerWrites.front(), (std::pair<int, int>{4, 0x07}));
  EXPECT_EQ(d.cartWrites.front(), (CartWrite{0x987654, 0x5354}));
  EXPECT_EQ(d.cartWrites[1], (CartWrite{0x012345, 0x1234}));
  EXPECT_EQ(d.cartWrites[500], (CartWrite{0x012345, 0x1234}));
  EXPECT_EQ(d.cartWrites[501], (CartWrite{0x007654, 0x5354}));
  EXPECT_EQ(d.cartWrites[1507], (CartWrite{0x987654, 0x5354}));
  EXPECT_EQ(d.cartWrites.back(), (CartWrite{0xF12345, 0x9413}));
  // 3 accesses for the mode write, 13 for each cart word write.
  EXPECT_EQ(rec.calls.size(), 3u + 1509u * 13u);
}

TEST_F(SequenceTest, SppSequenceStartsWithSppModeWrite) {
  link.Mode = LinkMode::SPP;
  EnableFlashAccess(link);
  // SppAddressCycle(4): control 1, data 4, control 9, control 1; SppDataCycle(0x47).
  ASSERT_GE(rec.calls.size(), 7u);
  EXPECT_EQ(rec.calls[1], testing::Wb(0x378, 4));
  EXPECT_EQ(rec.calls[4], testing::Wb(0x378, 0x47));
  EXPECT_EQ(rec.calls.size(), 7u + 1509u * 32u);
}

TEST_F(SequenceTest, SaveBankFinalWriteIsTheBankOfTheUnit) {
  const std::pair<int, int> expected[] = {{0, 0}, {1, 0}, {5, 2}, {7, 3}};
  for (auto [unit, bank] : expected) {
    rec.calls.clear();
    SelectSaveBank(link, static_cast<std::int8_t>(unit));
    const Decoded d = Decode(rec.calls);
    ASSERT_EQ(d.cartWrites.size(), 1509u);
    EXPECT_EQ(d.cartWrites.back(), (CartWrite{0xA12345, static_cast<std::uint16_t>(bank)})) << unit;
  }
}

TEST_F(SequenceTest, SaveBankOutOfRangeTouchesNoPort) {
  SelectSaveBank(link, 8);
  SelectSaveBank(link, -1);
  SelectSaveBank(link, -128);
  EXPECT_TRUE(rec.calls.empty());
}

}  // namespace
}  // namespace brevomat
