#include "cart/Erase.h"
#include "commands/Commands.h"
#include "commands/Core.h"

namespace brevomat {

int EraseFlashClick(Core& core) {
  OperationFrame& frame = core.frame;
  core.CommandSeparator();
  if (!core.OpenFlash()) return kResultFailed;
  if (!frame.Ask("Do You want to Erase Flash Data?", "Erase Flash")) {
    frame.LogLine("Erase Flash Cancel");
    return kResultCancelled;
  }
  const bool erased = EraseAllBlocks(core.link, frame, core.cart.FlashSize);
  const bool stopped = !erased && !frame.Running();  // Stop has closed the frame already
  if (erased) {
    frame.SetStatus("Cart Erase Ok");
    frame.LogLine("Cart Erase Ok");
    frame.ProgressPercent = 100;
  } else {
    frame.SetStatus("Cart Erase Error!!!");
    frame.LogLine("Cart Erase Error!!!");
  }
  frame.UpdateProgressBar();
  frame.EndOperation();
  frame.LogElapsedTime();
  frame.ProcessMessages();
  if (erased) return kResultDone;
  return stopped ? kResultCancelled : kResultFailed;
}

}  // namespace brevomat
