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
  for (int shift = port > 0xFFF ? 12 : 8; shift >= 0; shift -= 4) text += digits[(port >> shift) & 0xF];
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

void TDLPortIO::Refused(const char* call, std::uint16_t port, int error) {
  lastErrno_ = error;
  lastError_ = std::string("OpenDriver: ") + call + "(" + HexAddress(port) + ") Error #" +
               std::to_string(error) + " (" + std::strerror(error) + ")";
}

bool TDLPortIO::OpenCard() {
  if (CardBase + 8u <= kIopermLimit) {
    if (ioperm(CardBase, 8, 1) == 0) return true;
    Refused("ioperm", CardBase, errno);
    return false;
  }
  if (iopl(3) == 0) {
    ioplRaised_ = true;
    return true;
  }
  Refused("iopl", CardBase, errno);
  return false;
}

void TDLPortIO::OpenDriver() {
  if (ActiveHW()) return;
  if (CardBase != 0) {
    backend_.active = OpenCard();
    return;
  }
  std::size_t opened = 0;
  for (const Range& range : kRanges) {
    if (ioperm(range.base, range.length, 1) != 0) {
      Refused("ioperm", range.base, errno);
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
  if (CardBase != 0) {
    if (ioplRaised_) {
      ioplRaised_ = false;
      if (iopl(0) == 0) return true;
      lastError_ = "CloseDriver: iopl(0) Error #" + std::to_string(errno);
      return false;
    }
    if (ioperm(CardBase, 8, 0) == 0) return true;
    lastError_ = "CloseDriver: ioperm(" + HexAddress(CardBase) + ") Error #" + std::to_string(errno);
    return false;
  }
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
