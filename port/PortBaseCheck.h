// Where a printer port can be. A port named by its base address gets eight registers written
// (base+0 .. base+7: data, status, control, EPP address and data); at the wrong address those
// writes go into a system device instead: the interrupt controller, the keyboard controller, the
// PCI configuration mechanism, a network card.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brevomat {

// Why the printer port's registers cannot lie at `base`, or the empty text when they can. Refused:
// a base not on a 4-byte boundary (a port's registers begin on one: 0x378, 0x3BC, 0xD010), the
// system board's own devices below 0x100, the PCI configuration ports 0xCF8-0xCFF, and a range
// that `ioports` (the text of Linux's /proc/ioports; empty elsewhere) gives to another device than
// a parallel port, which is named. Bus windows and PCI functions without a driver's name are no
// device of their own: a parallel-port card's registers lie inside them.
std::string PortBaseRefusal(std::uint32_t base, std::string_view ioports);

// The kernel's table of I/O ranges (/proc/ioports); empty where the system has none or it cannot
// be read. Only root sees the real addresses; everyone else reads zeros, which refuse nothing.
std::string SystemIoports();

}  // namespace brevomat
