// TDLPortIO for Windows: opens the DriverLINX port I/O driver and provides the port back end on it.
//
// User programs on Windows NT may not execute port instructions; the DriverLINX kernel driver
// "DLPortIO" does them on the program's behalf, reached through the user-mode library DLPortIO.dll.
// On an NT-family system the component installs the driver as a demand-start system service (if it
// is not installed already), starts it (if it is not running already), then loads the library and
// resolves its twelve port entry points. Closing stops and removes the service only as far as the
// component installed or started it itself, so a driver that another program set up stays as it
// was. On a 9x-family system programs may use the ports directly and only the library is loaded.
//
// DLPortIO.SYS is a 32-bit driver, which 64-bit Windows refuses to start. When DLPortIO cannot be
// opened, the component therefore tries a second port library that brings and installs its own
// 64-bit driver and exports the same byte and word entry points ("inpoutx64.dll" for a 64-bit
// program, "inpout32.dll" for a 32-bit one). Neither library nor driver ships with this program.
//
// Every system call goes through a WinApi table, so that all of this runs against a model of
// Windows in the tests, on any platform.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "port/Port.h"
#include "port/WinApi.h"

namespace brevomat::win {

inline constexpr char kLibraryName[] = "DLPortIO.dll";
inline constexpr char kServiceName[] = "DLPortIO";
inline constexpr char kServiceDisplayName[] = "DriverLINX Port I/O Driver";
inline constexpr char kServiceGroup[] = "SST miniport drivers";
inline constexpr char kDriverSuffix[] = ".SYS";

inline constexpr Dword kScManagerFullAccess =
    kScManagerConnect | kScManagerCreateService | kScManagerEnumerateService | kScManagerQueryLockStatus;
inline constexpr Dword kScManagerReducedAccess = kScManagerFullAccess & ~kScManagerCreateService;
inline constexpr Dword kServiceInstallAccess = kDelete | kServiceStop | kServiceStart | kServiceQueryStatus;

// The library's entry points, in the order they are resolved. The port operations use the first,
// second, fourth and fifth; the 32-bit and buffer ones are resolved only to make sure the library
// is the complete one.
inline constexpr int kEntryPointCount = 12;
inline constexpr std::array<const char*, kEntryPointCount> kEntryPointNames = {
    "DlPortReadPortUchar",        "DlPortReadPortUshort",        "DlPortReadPortUlong",
    "DlPortWritePortUchar",       "DlPortWritePortUshort",       "DlPortWritePortUlong",
    "DlPortReadPortBufferUchar",  "DlPortReadPortBufferUshort",  "DlPortReadPortBufferUlong",
    "DlPortWritePortBufferUchar", "DlPortWritePortBufferUshort", "DlPortWritePortBufferUlong"};
inline constexpr int kReadUcharEntry = 0;
inline constexpr int kReadUshortEntry = 1;
inline constexpr int kWriteUcharEntry = 3;
inline constexpr int kWriteUshortEntry = 4;

// The second library, for 64-bit Windows: the four byte and word entry points it must export, and
// an optional one that tells whether it managed to install and open its driver (which needs
// administrator rights the first time).
inline constexpr const char* kFallbackLibraryName = sizeof(void*) == 8 ? "inpoutx64.dll" : "inpout32.dll";
inline constexpr std::array<const char*, 4> kFallbackEntryPointNames = {
    "DlPortReadPortUchar", "DlPortReadPortUshort", "DlPortWritePortUchar", "DlPortWritePortUshort"};
inline constexpr char kFallbackDriverOpenEntry[] = "IsInpOutDriverOpen";

// The entry points as the libraries export them: the port travels zero-extended to 32 bits.
using ReadUcharProc = std::uint8_t(BREVOMAT_WINAPI*)(Dword port);
using ReadUshortProc = std::uint16_t(BREVOMAT_WINAPI*)(Dword port);
using WriteUcharProc = void(BREVOMAT_WINAPI*)(Dword port, std::uint8_t value);
using WriteUshortProc = void(BREVOMAT_WINAPI*)(Dword port, std::uint16_t value);
using DriverOpenProc = std::int32_t(BREVOMAT_WINAPI*)();

class TDLPortIO {
 public:
  explicit TDLPortIO(WinApi& api);
#if defined(_WIN32)
  TDLPortIO() : TDLPortIO(SystemWinApi()) {}
#endif
  ~TDLPortIO();
  TDLPortIO(const TDLPortIO&) = delete;
  TDLPortIO& operator=(const TDLPortIO&) = delete;

  // Directory of the driver file DLPortIO.SYS; the system directory followed by "\DRIVERS" until
  // the main window sets the program's own directory.
  std::string DriverPath;
  // Directory of the libraries; empty loads them by bare name through the system's library search.
  std::string DLLPath;
  // Whether the 64-bit port library is tried when DLPortIO cannot be opened.
  bool UseFallbackLibrary = true;

  // True while a driver is open and its library's entry points are resolved.
  bool ActiveHW() const { return activeHW_; }
  // Text of the last service-control failure ("DriverStart: Error #2"); empty if there was none.
  const std::string& LastError() const { return lastError_; }
  // True while the port operations go to the 64-bit port library instead of DLPortIO.
  bool FallbackActive() const { return activeHW_ && fallback_; }

  // Opens the driver; the outcome is read from ActiveHW. Does nothing while already open.
  void OpenDriver();
  // Closes the driver; true when the library was unloaded. A driver that cannot be stopped stays
  // open (false).
  bool CloseDriver();

  // The back end to attach to PortIo: the library's entry points while open, a floating bus
  // (reads 0xFF, writes dropped) otherwise.
  PortBackend& Backend() { return backend_; }

 private:
  class LibraryBackend final : public PortBackend {
   public:
    LibraryBackend() { Close(); }
    void Close();
    std::uint8_t ReadByte(std::uint16_t port) override { return readByte(port); }
    void WriteByte(std::uint16_t port, std::uint8_t value) override { writeByte(port, value); }
    std::uint16_t ReadWord(std::uint16_t port) override { return readWord(port); }
    void WriteWord(std::uint16_t port, std::uint16_t value) override { writeWord(port, value); }

    ReadUcharProc readByte;
    ReadUshortProc readWord;
    WriteUcharProc writeByte;
    WriteUshortProc writeWord;
  };

  // The service steps; each records its failure in LastError.
  bool ConnectSCM();
  bool DisconnectSCM();
  bool DriverInstall();
  bool DriverStart();
  bool DriverStop();
  bool DriverRemove();

  void OpenDriverLinx();
  void OpenFallbackLibrary();
  std::string LibraryPath(const char* fileName) const;
  void Fail(const char* step, std::int64_t error);

  WinApi& api_;
  bool runningOnNt_ = false;
  Handle library_ = nullptr;
  Handle scManager_ = nullptr;
  bool installedBefore_ = false;
  bool runningBefore_ = false;
  std::array<Proc, kEntryPointCount> entryPoints_{};
  bool activeHW_ = false;
  bool fallback_ = false;
  std::string lastError_;
  LibraryBackend backend_;
};

}  // namespace brevomat::win
