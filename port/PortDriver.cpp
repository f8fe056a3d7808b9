#include "port/PortDriver.h"

#include <cerrno>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace brevomat {

std::string PortAccessAdvice(const std::string& why, int error, bool root, const std::string& programName) {
  std::string advice =
      why.empty() ? "no access to the printer port" : "no access to the printer port: " + why;
  if (error == ENOSYS)
    return advice +
           "\nthis system offers no direct port I/O: its kernel was built without it, or the container or"
           "\nvirtual machine it runs in does not pass it on. Neither root nor CAP_SYS_RAWIO changes that:"
           "\nrun the program on a Linux that runs directly on the PC with the printer port";
  if ((error == EPERM || error == EACCES) && root)
    return advice +
           "\nthe program runs as root, so either the right CAP_SYS_RAWIO was taken from it (a container or"
           "\nservice started without it: give it back, e.g. docker run --cap-add SYS_RAWIO) or the kernel is"
           "\nlocked down (Secure Boot), which refuses port access to every program";
  if (error == EPERM || error == EACCES)
    return advice +
           "\nrun it as root, or give the program the right CAP_SYS_RAWIO once with\n  sudo setcap "
           "cap_sys_rawio+ep " +
           programName;
  return advice;
}

std::string DirectPortDriver::IopermAdvice() const {
  if (DLPortIO.ActiveHW()) return {};
#ifdef _WIN32
  // The component installs the DriverLINX service itself, which needs the driver files beside
  // the program and, the first time, an administrator.
  return "no access to the printer port" +
         (DLPortIO.LastError().empty() ? std::string() : ": " + DLPortIO.LastError()) +
         "\nput DLPortIO.dll and DLPortIO.SYS (32-bit Windows) or inpoutx64.dll (64-bit Windows) in the "
         "program's folder\nand start the program once as administrator, so that it can install the driver";
#else
  std::string advice =
      PortAccessAdvice(DLPortIO.LastError(), DLPortIO.LastErrno(), ::geteuid() == 0, ProgramName);
  if (CardBase + 8u > TDLPortIO::kIopermLimit)
    advice +=
        "\n(a port at or above 0x400 is beyond what ioperm opens: it is reached through iopl, which needs"
        "\nthe same right, root or CAP_SYS_RAWIO)";
  return advice;
#endif
}

void DirectPortDriver::OpenDriver() {
  if (ActiveHW()) return;
  if (!ForcedDevice.empty()) {
    Devices.OpenDevice(ForcedDevice, CardBase);
    return;
  }
#ifndef _WIN32
  DLPortIO.CardBase = CardBase;
#endif
  DLPortIO.OpenDriver();
  if (DLPortIO.ActiveHW() || !ParportDeviceBackend::Available()) return;
  if (CardBase != 0)
    Devices.OpenPortAt(KernelRoot, CardBase);
  else
    Devices.OpenPrinterPorts(KernelRoot);
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
#ifdef _WIN32
  if (DLPortIO.ActiveHW())
    return DLPortIO.FallbackActive() ? "the port I/O library inpoutx64" : "the DriverLINX driver DLPortIO";
#else
  if (DLPortIO.ActiveHW() && CardBase + 8u > TDLPortIO::kIopermLimit) return "iopl, direct to the I/O ports";
  if (DLPortIO.ActiveHW()) return "ioperm, direct to the I/O ports";
#endif
  return Devices.InUse();
}

bool DirectPortDriver::ReachesEcr() const {
#ifdef _WIN32
  return DLPortIO.ActiveHW() && CardBase == 0;
#else
  return false;
#endif
}

std::string DirectPortDriver::Advice() const {
  if (ActiveHW()) return {};
  if (!ForcedDevice.empty()) return Devices.Advice();
  if (!ParportDeviceBackend::Available()) return IopermAdvice();
  return IopermAdvice() + "\nnor through the kernel's parallel-port device:\n" + Devices.Advice();
}

}  // namespace brevomat
