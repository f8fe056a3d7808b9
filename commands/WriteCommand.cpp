#include <string>
#include <vector>

#include "cart/Program.h"
#include "commands/Commands.h"
#include "commands/Core.h"
#include "commands/ImageFile.h"

namespace brevomat {

int OpenImageForFlash(Core& core, const std::string& file) {
  OperationFrame& frame = core.frame;
  CartState& cart = core.cart;
  frame.ClearOperationDisplay();
  if (!core.OpenFlash()) return kResultFailed;

  StoreFileName(frame.ImageFileName, file);
  frame.LogLine("FileName = " + file);
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
  return kResultDone;
}

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
  if (const int checked = OpenImageForFlash(core, files.front()); checked != kResultDone) return checked;

  const bool offerIps = core.window().RadioIpsIndex() == 1;
  frame.BeginOperation();
  const int result = WriteImage(core.link, frame, cart, core.ips, cart.InputFileSize, 0, offerIps);
  if (result != kResultDone) frame.SetStatus("Error!!!");
  core.LogBlockCounts();
  frame.EndOperation();
  frame.LogElapsedTime();
  return result;
}

}  // namespace brevomat
