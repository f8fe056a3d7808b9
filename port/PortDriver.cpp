#include "port/PortDriver.h"

namespace brevomat {

std::string DirectPortDriver::IopermAdvice() const {
  if (DLPortIO.ActiveHW()) return {};
  std::string why = DLPortIO.LastError().empty() ? "no access to the printer port"
                                                 : "no access to the printer port: " + DLPortIO.LastError();
  return why +
         "\nrun it as root, or give the program the right CAP_SYS_RAWIO once with\n  sudo setcap "
         "cap_sys_rawio+ep " +
         ProgramName;
}

void DirectPortDriver::OpenDriver() {
  if (ActiveHW()) return;
  if (!ForcedDevice.empty()) {
    Devices.OpenDevice(ForcedDevice);
    return;
  }
  DLPortIO.OpenDriver();
  if (!DLPortIO.ActiveHW() && ParportDeviceBackend::Available()) Devices.OpenPrinterPorts(KernelRoot);
}

void DirectPortDriver::CloseDriver() {
  DLPortIO.CloseDriver();
  Devices.Close();
}

PortBackend& DirectPortDriver::Backend() {
  if (!DLPortIO.ActiveHW() && Devices.Active()) return Devices;
  return DLPortIO.Backend();
}

std::string DirectPortDriver::BackEndInUse() const {
  if (DLPortIO.ActiveHW()) return "ioperm, direct to the I/O ports";
  return Devices.InUse();
}

std::string DirectPortDriver::Advice() const {
  if (ActiveHW()) return {};
  if (!ForcedDevice.empty()) return Devices.Advice();
  if (!ParportDeviceBackend::Available()) return IopermAdvice();
  return IopermAdvice() + "\nnor through the kernel's parallel-port device:\n" + Devices.Advice();
}

}  // namespace brevomat
