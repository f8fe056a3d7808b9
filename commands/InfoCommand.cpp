#include <string>

#include "cart/Flash.h"
#include "cart/FlashChips.h"
#include "cart/SaveMemory.h"
#include "commands/Commands.h"
#include "commands/Core.h"
#include "image/CartHeader.h"

namespace brevomat {

int CartInfoCommand(Core& core) {
  OperationFrame& frame = core.frame;
  core.CommandSeparator();
  frame.ClearOperationDisplay();
  if (!core.OpenLink()) {
    frame.SetStatus("Error!!!");
    return kResultFailed;
  }
  const bool flash = IdentifyFlash(core.link, frame, core.cart);
  if (flash) {
    const FlashChipInfo* chip = FlashChipBySize(core.cart.FlashSize);
    frame.LogLine(std::string("Flash = ") + (chip ? chip->name : "unknown") + " " +
                  NumberToText(static_cast<std::int32_t>(core.cart.FlashSize)));
  } else {
    frame.LogLine("Flash not found!!!");
  }
  // A plain game cart has no flash chip but still shows its header: identification only sent it
  // writes that a ROM ignores, and the adapter is in ROM access mode either way.
  ReadHeaderWords(core.link, frame.Buffer);
  CheckCartHeader(frame);
  LogHeaderFields(frame);
  // The presence probe only reads (the first save unit, twice): it answers before anything would
  // be written there.
  frame.LogLine(std::string("Save Memory = ") +
                (ProbeSaveMemory(core.link, frame.Buffer) ? "present" : "absent"));
  frame.SetStatus(flash ? "Cart Info Ok" : "Error!!!");
  return flash ? kResultDone : kResultFailed;
}

}  // namespace brevomat
