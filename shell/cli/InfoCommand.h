// brevomat-cli's "info": what is in the adapter, without changing anything on the cart.
#pragma once

namespace brevomat {
struct Core;
}

namespace brevomat::cli {

// Detects the adapter, identifies the flash chip and logs it, reads the cart's header and judges
// it. True when the adapter answered and a known flash chip was identified; the header's verdict
// is only reported (an erased cart is a perfectly good cart).
bool InfoCommand(Core& core);

}  // namespace brevomat::cli
