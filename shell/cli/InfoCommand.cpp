#include "shell/cli/InfoCommand.h"

#include "cart/CartHeader.h"
#include "cart/Flash.h"
#include "link/Detection.h"
#include "shell/Core.h"

namespace brevomat::cli {

namespace {

const char* ChipName(std::uint32_t flashSize) {
  switch (flashSize) {
    case kFlash4M:
      return "28F320J3";
    case kFlash8M:
      return "28F640J3";
    default:
      return "unknown";
  }
}

}  // namespace

bool InfoCommand(Core& core) {
  OperationFrame& frame = core.frame;
  core.CommandSeparator();
  frame.ClearOperationDisplay();
  if (!DetectAdapter(core)) {
    frame.SetStatus("Error!!!");
    return false;
  }
  const bool flash = IdentifyFlash(core);
  if (flash) {
    frame.LogLine(std::string("Flash = ") + ChipName(core.cart.FlashSize) + " " +
                  NumberToText(static_cast<std::int32_t>(core.cart.FlashSize)));
  } else {
    frame.LogLine("Flash not found!!!");
  }
  // A plain game cart has no flash chip but still shows its header: identification only sent it
  // writes that a ROM ignores, and the adapter is in ROM access mode either way.
  ReadHeaderWords(core);
  CheckCartHeader(frame);
  frame.SetStatus(flash ? "Cart Info Ok" : "Error!!!");
  return flash;
}

}  // namespace brevomat::cli
