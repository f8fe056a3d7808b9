#include "cli/CliProgram.h"
#include "commands/Commands.h"
#include "commands/Core.h"

namespace brevomat::cli {

void SelectPort(Core& core, const CliOptions& options) {
  if (options.cardBase != 0)
    core.SelectPortBase(options.cardBase);
  else
    core.SelectPortAddresses();
}

int RunCommand(Core& core, const CliOptions& options) {
  core.cart.Changed.Enabled = !options.everyBlock;
  switch (options.command) {
    case Command::Info:
      return CartInfoCommand(core);
    case Command::Erase:
      return EraseFlashClick(core);
    case Command::Write:
      return WriteClick(core);
    case Command::Multi:
      // The pre-boot image comes from the command line, not from the settings file.
      StoreFileName(core.settings.BootFileName(), options.bootFile);
      return WriteMultiClick(core);
    case Command::Backup:
      return ReadClick(core);
    case Command::Verify:
      return VerifyImageCommand(core);
    case Command::BackupSave:
      return SReadClick(core);
    case Command::WriteSave:
      return SWriteClick(core);
    case Command::Probe:  // no window command: the program runs it, with the result's figures
    case Command::None:
      break;
  }
  return kResultFailed;
}

}  // namespace brevomat::cli
