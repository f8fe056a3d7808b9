// A port library for the tests, built as DLPortIO.dll (all twelve entry points, or all but the last)
// and as the 64-bit fallback library. Instead of reaching the ports it keeps a latch per port
// address, so that a read gives back what was last written there, and records every call in a
// text that the test fetches through RecordedPortCalls.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "port/WinApi.h"

using brevomat::win::Dword;

#define EXPORT extern "C" __declspec(dllexport)

namespace {

std::uint8_t latches[0x10000];
bool latchesFloating = false;
char record[8192];
std::size_t recorded = 0;

std::uint8_t& Latch(Dword port) {
  if (!latchesFloating) {
    std::memset(latches, 0xFF, sizeof latches);
    latchesFloating = true;
  }
  return latches[port & 0xFFFF];
}

void Record(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(record + recorded, sizeof record - recorded, format, args);
  va_end(args);
  if (n > 0)
    recorded = recorded + static_cast<std::size_t>(n) < sizeof record ? recorded + n : sizeof record - 1;
}

}  // namespace

EXPORT const char* RecordedPortCalls() { return record; }
EXPORT void ClearRecordedPortCalls() {
  recorded = 0;
  record[0] = '\0';
}

EXPORT std::uint8_t BREVOMAT_WINAPI DlPortReadPortUchar(Dword port) {
  Record("rb %X\n", port);
  return Latch(port);
}
EXPORT void BREVOMAT_WINAPI DlPortWritePortUchar(Dword port, std::uint8_t value) {
  Record("wb %X %X\n", port, value);
  Latch(port) = value;
}

EXPORT std::uint16_t BREVOMAT_WINAPI DlPortReadPortUshort(Dword port) {
  Record("rw %X\n", port);
  return static_cast<std::uint16_t>(Latch(port) | Latch(port + 1) << 8);
}
EXPORT void BREVOMAT_WINAPI DlPortWritePortUshort(Dword port, std::uint16_t value) {
  Record("ww %X %X\n", port, value);
  Latch(port) = static_cast<std::uint8_t>(value);
  Latch(port + 1) = static_cast<std::uint8_t>(value >> 8);
}

#ifdef BREVOMAT_TEST_FALLBACK
// The fallback library tells whether it could open its driver.
EXPORT std::int32_t BREVOMAT_WINAPI IsInpOutDriverOpen() { return 1; }
#else
// The rest of DLPortIO.dll's entry points: resolved by the component, never used by the link.
EXPORT Dword BREVOMAT_WINAPI DlPortReadPortUlong(Dword port) {
  Record("unused rl %X\n", port);
  return 0xFFFFFFFF;
}
EXPORT void BREVOMAT_WINAPI DlPortWritePortUlong(Dword port, Dword) { Record("unused wl %X\n", port); }
EXPORT void BREVOMAT_WINAPI DlPortReadPortBufferUchar(Dword port, std::uint8_t*, Dword) {
  Record("unused rbb %X\n", port);
}
EXPORT void BREVOMAT_WINAPI DlPortReadPortBufferUshort(Dword port, std::uint16_t*, Dword) {
  Record("unused rwb %X\n", port);
}
EXPORT void BREVOMAT_WINAPI DlPortReadPortBufferUlong(Dword port, Dword*, Dword) {
  Record("unused rlb %X\n", port);
}
EXPORT void BREVOMAT_WINAPI DlPortWritePortBufferUchar(Dword port, std::uint8_t*, Dword) {
  Record("unused wbb %X\n", port);
}
EXPORT void BREVOMAT_WINAPI DlPortWritePortBufferUshort(Dword port, std::uint16_t*, Dword) {
  Record("unused wwb %X\n", port);
}
// Left out of the incomplete library: the last one resolved, and one the link never uses.
#ifndef BREVOMAT_TEST_INCOMPLETE
EXPORT void BREVOMAT_WINAPI DlPortWritePortBufferUlong(Dword port, Dword*, Dword) {
  Record("unused wlb %X\n", port);
}
#endif
#endif
