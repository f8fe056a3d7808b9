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

std::string DirectPortDriver::Advice() const {
  if (DLPortIO.ActiveHW()) return {};
#ifdef _WIN32
  const bool root = false;
#else
  const bool root = ::geteuid() == 0;
#endif
  return PortAccessAdvice(DLPortIO.LastError(), DLPortIO.LastErrno(), root, ProgramName);
}

}  // namespace brevomat
