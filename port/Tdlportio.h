// TDLPortIO: opens raw access to the printer ports and provides the port back end behind it.
//
// Both front ends use this one component and see the same surface on every platform: DriverPath,
// DLLPath, OpenDriver, ActiveHW, LastError, CloseDriver and Backend.
//
// On Windows it is the DriverLINX driver component of TdlportioWin.h.
//
// On Linux on x86 the processor's I/O permission bitmap is opened with ioperm() for the three
// printer-port register ranges (LPT1 0x378-0x37F, LPT2 0x278-0x27F, LPT3 0x3BC-0x3C3); this needs
// root or the CAP_SYS_RAWIO capability. The accesses themselves are single in/out instructions.
// A printer port on a PCI or PCIe card lies elsewhere (0xD010, say): with CardBase set only its
// eight registers are opened instead. ioperm reaches only the first 1024 I/O addresses; a card above
// them is opened by raising the I/O privilege level with iopl(3), which needs the same right and
// then permits every port, so it is lowered again by CloseDriver.
// Elsewhere, or without the right, ActiveHW stays false, LastError says why, and the back end
// behaves as a closed port (reads 0xFF, writes vanish), so nothing can fault on a port instruction
// that was never permitted.
#pragma once

#include <cstdint>
#include <string>

#include "port/Port.h"

#if defined(_WIN32)

#include "port/TdlportioWin.h"

namespace brevomat {
using TDLPortIO = win::TDLPortIO;
}  // namespace brevomat

#else

namespace brevomat {

class TDLPortIO {
 public:
  TDLPortIO() = default;
  ~TDLPortIO();
  TDLPortIO(const TDLPortIO&) = delete;
  TDLPortIO& operator=(const TDLPortIO&) = delete;

  // Directory of the program (set by the main window); kept for the window's set-up. Direct port
  // access loads no driver file, so neither path changes what OpenDriver does on Linux.
  std::string DriverPath;
  std::string DLLPath;
  // The base of the one port to open in place of the three printer ports; 0 for those three.
  std::uint16_t CardBase = 0;

  bool ActiveHW() const { return backend_.active; }
  const std::string& LastError() const { return lastError_; }
  // The system's error number behind LastError (errno of the failed ioperm), 0 when there is none.
  int LastErrno() const { return lastErrno_; }

  // Opens port access; the outcome is read from ActiveHW. Does nothing while already open.
  void OpenDriver();
  // Gives the port access back; true when it was open and is now closed.
  bool CloseDriver();

  // The back end to attach to PortIo. While the driver is not open it answers as a closed port.
  PortBackend& Backend() { return backend_; }

  // The register ranges opened, base address and length.
  struct Range {
    std::uint16_t base;
    std::uint16_t length;
  };
  static constexpr Range kRanges[] = {{0x378, 8}, {0x278, 8}, {0x3BC, 8}};
  // The first address that ioperm cannot open.
  static constexpr std::uint32_t kIopermLimit = 0x400;

 private:
  class DirectBackend final : public PortBackend {
   public:
    bool active = false;
    std::uint8_t ReadByte(std::uint16_t port) override;
    void WriteByte(std::uint16_t port, std::uint8_t value) override;
    std::uint16_t ReadWord(std::uint16_t port) override;
    void WriteWord(std::uint16_t port, std::uint16_t value) override;
  };

  bool OpenCard();
  void Refused(const char* call, std::uint16_t port, int error);

  DirectBackend backend_;
  bool ioplRaised_ = false;
  std::string lastError_;
  int lastErrno_ = 0;
};

}  // namespace brevomat

#endif
