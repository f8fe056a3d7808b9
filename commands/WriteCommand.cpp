#include <string>
#include <vector>

#include "cart/Flash.h"
#include "cart/Program.h"
#include "commands/Commands.h"
#include "commands/Core.h"

namespace brevomat {

int WriteClick(Core& core) {
  OperationFrame& frame = core.frame;
  CartState& cart = core.cart;
  core.CommandSeparator();
  cart.HeaderChecked = 0;
  cart.HeaderFixed = 0;

  std::vector<std::string> files;
  if (!core.window().ExecuteOpenDialog1(false, files) || files.empty()) {
    frame.LogLine("Write To Cart Cancel");
    return kResultCancelled;
  }
  frame.ClearOperationDisplay();
  if (!core.OpenLink()) return kResultFailed;
  if (!IdentifyFlash(core.link, frame, cart)) {
    frame.LogLine("Flash not found!!!");
    return kResultFailed;
  }
  WaitFlashReady(core.link, frame);

  StoreFileName(frame.ImageFileName, files.front());
  frame.LogLine("FileName = " + files.front());
  if (frame.OpenInputFile() != 0) return kResultFailed;
  cart.InputFileSize = frame.CurrentFileLength();
  frame.LogLine("FileSize = " + std::to_string(cart.InputFileSize));

  const std::uint32_t length = cart.InputFileSize;
  const bool wholeChunks = length >= kChunkBytes && length % kChunkBytes == 0;
  if (!wholeChunks || length > cart.FlashSize) {
    frame.LogLine("File Size Error!!!");
    if (length == 0 || length > cart.FlashSize) {
      frame.LogLine("MaxFileSize = " + std::to_string(cart.FlashSize));
      frame.CloseCurrentFile();
      return kResultFailed;
    }
    if (!frame.Ask("Do You want to Continue?", "File Size Error")) {
      frame.CloseCurrentFile();
      return kResultCancelled;
    }
  }

  const bool offerIps = core.window().RadioIpsIndex() == 1;
  frame.BeginOperation();
  const int result = WriteImage(core.link, frame, cart, core.ips, cart.InputFileSize, 0, offerIps);
  if (result != kResultDone) frame.SetStatus("Error!!!");
  frame.EndOperation();
  frame.LogElapsedTime();
  return result;
}

}  // namespace brevomat
