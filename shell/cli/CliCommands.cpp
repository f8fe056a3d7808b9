#include "cart/Commands.h"
#include "shell/Core.h"
#include "shell/cli/CliProgram.h"
#include "shell/cli/ConsoleWindow.h"
#include "shell/cli/InfoCommand.h"

namespace brevomat::cli {

bool RunCommand(Core& core, const ConsoleWindow& console, const CliOptions& options) {
  switch (options.command) {
    case Command::Info:
      return InfoCommand(core);
    case Command::Erase:
      // The window commands report their outcome in the Status label and nowhere else.
      EraseFlashClick(core);
      return console.Status() == "Cart Erase Ok";
    case Command::Write:
      WriteClick(core);
      return console.Status() == "Write Cart ok";
    case Command::None:
      break;
  }
  return false;
}

}  // namespace brevomat::cli
