#include <string>

#include "cart/ReadOut.h"
#include "commands/Commands.h"
#include "commands/Core.h"

namespace brevomat {

int ReadClick(Core& core) {
  OperationFrame& frame = core.frame;
  core.CommandSeparator();
  if (!core.OpenLink()) return kResultFailed;
  std::string file;
  if (!core.window().ExecuteSaveDialog1(file) || file.empty()) {
    frame.LogLine("Cancel");
    return kResultCancelled;
  }
  frame.ClearOperationDisplay();
  // The read-out may end before its frame opens (and counts seconds from 0); the time it logs
  // then must not be the one the previous command left.
  frame.ElapsedSeconds = 0;
  frame.LogLine("FileName = " + file);
  const int result = ReadCartToFile(core.link, frame, core.cart, core.CartSizeChunks);
  if (result != kResultDone) frame.SetStatus("Error!!!");
  frame.EndOperation();
  frame.LogElapsedTime();
  return result;
}

}  // namespace brevomat
