// Where --base may put a printer port: nowhere a system device's registers lie.
#include <gtest/gtest.h>

#include <string>

#include "port/PortBaseCheck.h"

namespace brevomat {
namespace {

// A desktop's table as root reads it: the legacy devices, an on-board LPT1, a PCI card with its
// parallel port and a second range of its own, a network card, and the chipset's ACPI registers.
constexpr const char* kIoports =
    "0000-0cf7 : PCI Bus 0000:00\n"
    "  0000-001f : dma1\n"
    "  0060-0060 : keyboard\n"
    "  0378-037a : parport0\n"
    "  037b-037f : parport0\n"
    "  03c0-03df : vga+\n"
    "  03f8-03ff : serial\n"
    "  0400-047f : 0000:00:1f.0\n"
    "    0400-0403 : ACPI PM1a_EVT_BLK\n"
    "0cf8-0cff : PCI conf1\n"
    "0d00-ffff : PCI Bus 0000:00\n"
    "  d000-dfff : PCI Bus 0000:05\n"
    "    d000-d007 : 0000:05:00.0\n"
    "      d000-d002 : parport1\n"
    "    d010-d017 : 0000:05:00.0\n"
    "    d020-d027 : NetMos parallel\n"
    "      d020-d022 : parport2\n"
    "  e000-efff : PCI Bus 0000:02\n"
    "    e000-e0ff : 0000:02:00.0\n"
    "      e000-e0ff : r8169\n";

TEST(PortBaseCheck, OnlyWhereAPrinterPortCanBe) {
  const struct {
    std::uint32_t base;
    const char* ioports;
    const char* refusal;  // a piece of the reason; empty: accepted
  } rows[] = {
      {0x378, kIoports, ""},
      {0x278, kIoports, ""},
      {0x3BC, "", ""},
      {0xD000, kIoports, ""},  // the card's parallel port
      {0xD010, kIoports, ""},  // the card's second range: no driver claims it
      {0xD020, kIoports, ""},  // a card driver's name around its parallel port
      {0xE800, kIoports, ""},  // inside a bus window, nothing there
      {0x60, "",
       "0x60 is among the system board's own devices (0x0-0xFF: interrupt and DMA controllers, timer, "
       "keyboard controller), where no printer port lies"},
      {0xFC, "", "0xFC is among the system board's own devices"},
      {0x379, "", "0x379 is not on a 4-byte boundary, where a printer port's registers begin"},
      {0xCF8, "",
       "the registers 0xCF8-0xCFF would reach the PCI configuration ports 0xCF8-0xCFF, where no "
       "printer port lies"},
      {0xCF4, "", "the registers 0xCF4-0xCFB would reach the PCI configuration ports"},
      {0x3F8, kIoports,
       "the registers 0x3F8-0x3FF would reach 0x3F8-0x3FF, which the kernel gives to \"serial\" "
       "(/proc/ioports), not to a parallel port"},
      {0x3BC, kIoports,
       "the registers 0x3BC-0x3C3 would reach 0x3C0-0x3DF, which the kernel gives to \"vga+\""},
      {0x400, kIoports, "which the kernel gives to \"ACPI PM1a_EVT_BLK\""},
      {0xE000, kIoports, "which the kernel gives to \"r8169\""},
      // What a user without root reads: every range at zero, which refuses nothing.
      {0x3F8, "0000-0000 : PCI Bus 0000:00\n  0000-0000 : serial\n", ""},
  };
  for (const auto& row : rows) {
    const std::string refusal = PortBaseRefusal(row.base, row.ioports);
    if (*row.refusal == '\0')
      EXPECT_EQ(refusal, "") << std::hex << row.base;
    else
      EXPECT_NE(refusal.find(row.refusal), std::string::npos) << std::hex << row.base << ": " << refusal;
  }
}

}  // namespace
}  // namespace brevomat
