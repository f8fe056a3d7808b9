// GetTickCount64 for the 32-bit programs, which must start on Windows XP.
//
// The MinGW-w64 threads library (winpthreads), on which the C++ runtime's mutexes and timed waits
// are built, calls kernel32's GetTickCount64 through its import slot "__imp__GetTickCount64@0".
// GetTickCount64 came with Vista, and Windows refuses to start a program that imports a function
// its kernel32 lacks. This file defines that import slot itself: the linker takes it from here
// before it would look into kernel32's import library, so the programs import no GetTickCount64.
// The slot points to a function that calls the system's GetTickCount64 where there is one and,
// on XP, counts the milliseconds since start-up with the performance counter, which does not wrap
// after 49.7 days as GetTickCount does.
//
// Nothing here may use the C++ runtime's thread-safe statics or mutexes: those are built on the
// very library that calls this function.
#include <windows.h>

#include <atomic>

namespace {

using TickCountFunction = ULONGLONG(WINAPI*)();

ULONGLONG WINAPI PerformanceCounterMilliseconds() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER now;
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 || !QueryPerformanceCounter(&now))
    return GetTickCount();
  const ULONGLONG ticks = static_cast<ULONGLONG>(now.QuadPart);
  const ULONGLONG perSecond = static_cast<ULONGLONG>(frequency.QuadPart);
  return ticks / perSecond * 1000 + ticks % perSecond * 1000 / perSecond;
}

// The function to call, found once; looking it up twice at the same time finds the same thing.
std::atomic<TickCountFunction> resolved{nullptr};

ULONGLONG WINAPI TickCount64() {
  TickCountFunction function = resolved.load(std::memory_order_acquire);
  if (function == nullptr) {
    const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    function = kernel32 == nullptr ? nullptr
                                   : reinterpret_cast<TickCountFunction>(
                                         reinterpret_cast<void*>(GetProcAddress(kernel32, "GetTickCount64")));
    if (function == nullptr) function = PerformanceCounterMilliseconds;
    resolved.store(function, std::memory_order_release);
  }
  return function();
}

}  // namespace

// The import slot itself, under the name the threads library refers to.
extern "C" {
extern const TickCountFunction brevomatGetTickCount64Slot __asm__("__imp__GetTickCount64@0");
const TickCountFunction brevomatGetTickCount64Slot = TickCount64;
}
