// Where a program's port operations go: the real printer port through TDLPortIO, or a back end
// that is always there (the virtual cart, a test's recording back end). Both front ends open the
// port through this one interface, so a new back end is wired in here once.
#pragma once

#include <cstdint>
#include <string>

#include "port/ParportDevice.h"
#include "port/Port.h"
#include "port/Tdlportio.h"

namespace brevomat {

class PortDriver {
 public:
  virtual ~PortDriver() = default;
  virtual void SetDriverPath(const std::string& directory) = 0;
  virtual void OpenDriver() = 0;
  virtual bool ActiveHW() const = 0;
  // Why the port could not be opened and what the user can do about it; empty while active.
  virtual std::string Advice() const = 0;
  virtual void CloseDriver() = 0;
  virtual PortBackend& Backend() = 0;
  // Which back end carries the port operations, in words for the user; empty when none does.
  virtual std::string BackEndInUse() const { return {}; }
};

// The printer port of this PC, through the platform's driver component. Where that is not
// permitted (ioperm needs root), through the kernel's parallel-port devices instead.
class DirectPortDriver final : public PortDriver {
 public:
  explicit DirectPortDriver(ParportCalls& calls = SystemParportCalls()) : Devices(calls) {}
  void SetDriverPath(const std::string& directory) override { DLPortIO.DriverPath = directory; }
  void OpenDriver() override;
  bool ActiveHW() const override { return DLPortIO.ActiveHW() || Devices.Active(); }
  std::string Advice() const override;
  void CloseDriver() override;
  PortBackend& Backend() override;
  std::string BackEndInUse() const override;
  // The port operations go through the kernel's parallel-port device.
  bool UsesDevice() const { return !DLPortIO.ActiveHW() && Devices.Active(); }
  // A printer port's extended control register (base+0x402) can be read: the Windows drivers reach
  // every I/O address; ioperm opens only the eight registers (and nothing above 0x3FF), the device
  // nothing beyond them. A card's port (CardBase) keeps its ECR elsewhere, so it is never read.
  bool ReachesEcr() const;

  TDLPortIO DLPortIO;
  // /dev/parportN, opened when direct port access is refused (or ForcedDevice is set).
  ParportDeviceBackend Devices;
  // A device the user named: only it is opened, for every printer-port address, ioperm untried.
  std::string ForcedDevice;
  // A printer port at any other I/O address (a PCI or PCIe card, e.g. 0xD010), opened in place of
  // the three standard ones; 0 for those. The Windows drivers reach every address as they are.
  std::uint16_t CardBase = 0;
  // Where the kernel describes its parallel ports; "/" but for tests.
  std::string KernelRoot = "/";
  // How the advice names the program (its path as the user started it).
  std::string ProgramName = "brevomat";

 private:
  std::string IopermAdvice() const;
};

// What to tell a user whose printer port could not be opened: `why` (the driver's LastError), then
// what can be done, which depends on the system's error number and on whether the program already
// runs as root. `programName` is the program as the user started it.
std::string PortAccessAdvice(const std::string& why, int error, bool root, const std::string& programName);

// A back end that needs no opening.
class FixedPortDriver final : public PortDriver {
 public:
  explicit FixedPortDriver(PortBackend& backend, bool active = true) : backend_(backend), active_(active) {}
  void SetDriverPath(const std::string& directory) override { driverPath = directory; }
  void OpenDriver() override {}
  bool ActiveHW() const override { return active_; }
  std::string Advice() const override { return active_ ? std::string() : "the port is not connected"; }
  void CloseDriver() override {}
  PortBackend& Backend() override { return backend_; }

  std::string driverPath;

 private:
  PortBackend& backend_;
  bool active_;
};

}  // namespace brevomat
