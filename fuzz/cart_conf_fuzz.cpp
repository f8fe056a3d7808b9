// Feeds arbitrary bytes to the cart.conf parser: it must never crash, and a text it accepts must
// come back the same when written out and parsed again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/CartConf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  brevomat::sim::CartConfig config;
  std::string error;
  if (!brevomat::sim::ParseCartConf(text, config, error)) {
    if (error.rfind("cart.conf line ", 0) != 0) std::abort();  // every refusal names its line
    return 0;
  }
  brevomat::sim::CartConfig again;
  if (!brevomat::sim::ParseCartConf(brevomat::sim::FormatCartConf(config), again, error)) std::abort();
  const auto& a = config;
  const auto& b = again;
  if (a.cart != b.cart || a.save != b.save || a.adapter != b.adapter || a.base != b.base ||
      (a.cart != brevomat::sim::CartKind::Rom && a.timing != b.timing) || a.pace != b.pace ||
      a.faults.eraseErrorBlock != b.faults.eraseErrorBlock ||
      a.faults.programErrorWord != b.faults.programErrorWord || a.faults.neverReady != b.faults.neverReady ||
      a.faults.setupStatusB0Polls != b.faults.setupStatusB0Polls || a.faults.flipRead != b.faults.flipRead ||
      a.faults.readNoise != b.faults.readNoise || a.faults.seed != b.faults.seed ||
      a.faults.saveStuckByte != b.faults.saveStuckByte)
    std::abort();
  return 0;
}
