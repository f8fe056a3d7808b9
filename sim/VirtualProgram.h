// brevomat-virtual's course, whichever window it shows: the virtual cart kept in virtual-cart of
// the working directory is opened (made on the first start), the window runs on a port over it
// that keeps real time, and the cart's contents are written back once the window has ended (by
// Exit or by the close box).
#pragma once

#include <functional>
#include <string>

#include "sim/CartDirectory.h"
#include "sim/WallClockPort.h"

namespace brevomat::sim {

// Runs `window` on the cart and returns its exit status. When the cart cannot be opened, or not
// saved afterwards, `complain` is told why (`saving` says which) and the status is 1.
int RunOnVirtualCart(const std::function<int(WallClockPort& port, VirtualCart& cart)>& window,
                     const std::function<void(const std::string& why, bool saving)>& complain);

}  // namespace brevomat::sim
