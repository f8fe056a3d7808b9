#include "port/Tdlportio.h"

#include <cerrno>
#include <cstring>

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
#define BREVOMAT_DIRECT_PORT_IO 1
#include <sys/io.h>
#else
#define BREVOMAT_DIRECT_PORT_IO 0
#endif

namespace brevomat {

namespace {

std::string HexAddress(std::uint16_t port) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = 8; shift >= 0; shift -= 4) text += digits[(port >> shift) & 0xF];
  return text;
}

}  // namespace

TDLPortIO::~TDLPortIO() {
  if (ActiveHW()) CloseDriver();
}

#if BREVOMAT_DIRECT_PORT_IO

// The one check per access keeps a back end that outlived CloseDriver from executing a port
// instruction the process may no longer issue; it costs nothing next to an ISA bus cycle.
std::uint8_t TDLPortIO::DirectBackend::ReadByte(std::uint16_t port) { return active ? inb(port) : 0xFF; }
void TDLPortIO::DirectBackend::WriteByte(std::uint16_t port, std::uint8_t value) {
  if (active) outb(value, port);
}
std::uint16_t TDLPortIO::DirectBackend::ReadWord(std::uint16_t port) { return active ? inw(port) : 0xFFFF; }
void TDLPortIO::DirectBackend::WriteWord(std::uint16_t port, std::uint16_t value) {
  if (active) outw(value, port);
}

void TDLPortIO::OpenDriver() {
  if (ActiveHW()) return;
  std::size_t opened = 0;
  for (const Range& range : kRanges) {
    if (ioperm(range.base, range.length, 1) != 0) {
      const int error = errno;
      lastErrno_ = error;
      lastError_ = "OpenDriver: ioperm(" + HexAddress(range.base) + ") Error #" + std::to_string(error) +
                   " (" + std::strerror(error) + ")";
      // Leave nothing half open.
      for (std::size_t i = 0; i < opened; ++i) ioperm(kRanges[i].base, kRanges[i].length, 0);
      return;
    }
    ++opened;
  }
  backend_.active = true;
}

bool TDLPortIO::CloseDriver() {
  if (!ActiveHW()) return false;
  backend_.active = false;
  bool ok = true;
  for (const Range& range : kRanges) {
    if (ioperm(range.base, range.length, 0) != 0) {
      lastError_ = "CloseDriver: ioperm(" + HexAddress(range.base) + ") Error #" + std::to_string(errno);
      ok = false;
    }
  }
  return ok;
}

#else

std::uint8_t TDLPortIO::DirectBackend::ReadByte(std::uint16_t) { return 0xFF; }
void TDLPortIO::DirectBackend::WriteByte(std::uint16_t, std::uint8_t) {}
std::uint16_t TDLPortIO::DirectBackend::ReadWord(std::uint16_t) { return 0xFFFF; }
void TDLPortIO::DirectBackend::WriteWord(std::uint16_t, std::uint16_t) {}

void TDLPortIO::OpenDriver() {
  if (ActiveHW()) return;
  lastError_ = "OpenDriver: direct port access needs Linux on an x86 processor";
}

bool TDLPortIO::CloseDriver() { return false; }

#endif

}  // namespace brevomat
