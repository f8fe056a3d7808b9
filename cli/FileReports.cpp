#include "cli/FileReports.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "base/AtomicOutputFile.h"
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

namespace {

// The name as an absolute path with its links, "." and ".." resolved as far as it exists.
std::filesystem::path Normal(const std::string& name) {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(name, ec);
  if (ec) return std::filesystem::path(name).lexically_normal();
  std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
  return ec ? path.lexically_normal() : resolved;
}

// A file not created yet is known by its name; one that exists by what it is on the disk (device
// and inode; on Windows the volume and file index).
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec) && !ec) return true;
  return Normal(a) == Normal(b);
}

}  // namespace

std::string RunLogClash(const std::string& log, const CliOptions& options) {
  struct CommandFile {
    std::string name;
    const char* what;
  };
  std::vector<CommandFile> files = {
      {options.image, options.command == Command::WriteSave ? "the save file the command reads"
                                                            : "the image the command reads"},
      {options.ipsPatch, "the IPS patch the command reads"},
      {options.bootFile, "the pre-boot image the command reads"},
      {options.datFile, "the DAT file the command reads"},
      {options.output, "the file the command writes"},
      {options.reportFile, "the report the command writes"},
  };
  // A read-out that does not complete is kept beside its file, replacing what was there.
  if (!options.output.empty())
    files.push_back({options.output + ".part", "where the command keeps an unfinished output"});
  for (const std::string& game : options.games) files.push_back({game, "a game image the command reads"});
  for (const CommandFile& file : files)
    if (!file.name.empty() && SameFile(log, file.name))
      return "it is the same file as " + file.name + ", " + file.what;
  return {};
}

std::string TraceClash(const std::string& trace, const CliOptions& options) {
  if (!options.runLog.empty() && SameFile(trace, options.runLog))
    return "it is the same file as " + options.runLog + ", the run log";
  return RunLogClash(trace, options);
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
