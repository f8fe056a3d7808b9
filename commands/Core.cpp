#include "commands/Core.h"

#include "cart/Flash.h"
#include "link/Detection.h"

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

bool Core::OpenLink() {
  cart.LastErasedBlock = -1;
  cart.Changed.NewCommand();
  return DetectAdapter(link, frame, window().RadioSpeedIndex());
}

bool Core::OpenFlash() {
  if (!OpenLink()) return false;
  if (!IdentifyFlash(link, frame, cart)) {
    frame.LogLine("Flash not found!!!");
    return false;
  }
  WaitFlashReady(link, frame);
  return true;
}

}  // namespace brevomat
