#include <string>
#include <vector>

#include "cart/ImageVerify.h"
#include "commands/Commands.h"
#include "commands/Core.h"
#include "commands/ImageFile.h"

namespace brevomat {

int VerifyImageCommand(Core& core) {
  OperationFrame& frame = core.frame;
  CartState& cart = core.cart;
  core.CommandSeparator();
  cart.HeaderChecked = 0;
  cart.HeaderFixed = 0;
  cart.FirstDifference = -1;
  cart.UnstableChunk = -1;

  std::vector<std::string> files;
  if (!core.window().ExecuteOpenDialog1(false, files) || files.empty()) {
    frame.LogLine("Verify Cancel");
    return kResultCancelled;
  }
  if (const int checked = OpenImageForFlash(core, files.front()); checked != kResultDone) return checked;

  const bool offerIps = core.window().RadioIpsIndex() == 1;
  frame.BeginOperation();
  const int result = VerifyImage(core.link, frame, cart, core.ips, cart.InputFileSize, offerIps);
  if (result != kResultDone) frame.SetStatus("Error!!!");
  frame.EndOperation();
  frame.LogElapsedTime();
  return result;
}

}  // namespace brevomat
