#include "port/PortDriver.h"

namespace brevomat {

std::string DirectPortDriver::Advice() const {
  if (DLPortIO.ActiveHW()) return {};
  std::string why = DLPortIO.LastError().empty() ? "no access to the printer port"
                                                 : "no access to the printer port: " + DLPortIO.LastError();
  return why +
         "\nrun it as root, or give the program the right CAP_SYS_RAWIO once with\n  sudo setcap "
         "cap_sys_rawio+ep " +
         ProgramName;
}

}  // namespace brevomat
