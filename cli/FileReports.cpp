#include "cli/FileReports.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "base/FileAccess.h"
#include "cli/RunEvents.h"
#include "commands/Core.h"
#include "sim/CartDirectory.h"

namespace brevomat::cli {

void ProtectCartFiles(const std::string& dir) {
  for (const char* name : sim::kCartFiles)
    ProtectFromOutput((std::filesystem::path(dir) / name).string(),
                      std::string("the virtual cart's own ") + name);
}

bool OutputUsable(const CliOptions& options) {
  if (options.command != Command::Backup && options.command != Command::BackupSave) return true;
  const std::string why = OutputRefusal(options.output);
  if (why.empty()) return true;
  Complain("cannot write to " + options.output + ": " + why + "; nothing was read");
  return false;
}

void SetUpKeptSaves(Core& core, const CliOptions& options) {
  if (options.noKeep) core.KeepReplacedSave = false;
}

void ReportOpenFailure(const Core& core, const CliOptions& options) {
  const OperationFrame::FileProblem& failure = core.frame.LastOpenFailure();
  if (failure.reason.empty()) return;
  std::string what = "cannot open ";
  if (!options.output.empty() && failure.file == options.output)
    what = "cannot write to ";
  else if (options.command == Command::Multi &&
           std::find(options.games.begin(), options.games.end(), failure.file) != options.games.end())
    what = "cannot open the game ";
  else if (options.command == Command::Multi && failure.file == options.bootFile)
    what = "cannot open the pre-boot image ";
  Complain(what + (failure.file.empty() ? "(no name)" : failure.file) + ": " + failure.reason);
}

void ReportUnfinishedOutput(const Core& core, const CliOptions& options) {
  const std::string& part = core.frame.PartialOutput();
  if (part.empty())
    Complain("the read-out is incomplete: " + options.output + " is as it was; nothing of it was kept");
  else
    Complain("the read-out is incomplete: " + options.output + " is as it was; the " +
             std::to_string(core.frame.PartialOutputBytes()) + " bytes read so far are in " + part);
}

void ReportKeptSave(const Core& core) {
  if (!core.KeptSaveFile.empty())
    Complain("the save memory it replaces is kept in " + core.KeptSaveFile);
  else if (!core.KeepSaveError.empty())
    Complain("the save memory it would replace could not be kept: " + core.KeepSaveError +
             "; nothing was written (--no-keep writes without keeping it)");
}

std::string FinalStatus(const std::string& status, bool ok) {
  if (ok || status.find("Error") != std::string::npos) return status;
  return "Error!!!";
}

}  // namespace brevomat::cli
