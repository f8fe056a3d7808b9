#include "shell/Core.h"

namespace brevomat {

void Core::SelectPortAddresses() {
  switch (window().PortSelIndex()) {
    case 1:
      link.SetBase(kLpt2Base);
      break;
    case 2:
      link.SetBase(kLpt3Base);
      break;
    default:
      link.SetBase(kLpt1Base);
      break;
  }
}

}  // namespace brevomat
