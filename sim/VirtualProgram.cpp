#include "sim/VirtualProgram.h"

#include <memory>

namespace brevomat::sim {

int RunOnVirtualCart(const std::function<int(WallClockPort& port, VirtualCart& cart)>& window,
                     const std::function<void(const std::string& why, bool saving)>& complain) {
  std::string error;
  const std::unique_ptr<VirtualCart> cart = VirtualCart::OpenInWorkingDirectory(error);
  if (!cart) {
    complain(error, false);
    return 1;
  }
  WallClockPort port(cart->Adapter(), cart->Config().pace);
  const int status = window(port, *cart);
  if (!cart->Close(error)) {
    complain(error, true);
    return 1;
  }
  return status;
}

}  // namespace brevomat::sim
