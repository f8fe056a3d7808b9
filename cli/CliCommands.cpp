#include "cli/CliCommands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/FileAccess.h"
#include "cart/ReadOut.h"
#include "cli/ConsoleWindow.h"
#include "cli/DumpReport.h"
#include "cli/FileReports.h"
#include "cli/Probe.h"
#include "commands/Commands.h"
#include "commands/Core.h"
#include "image/Ips.h"
#include "sim/CartDirectory.h"

namespace brevomat::cli {

namespace {

// --- what the commands check before the cart is touched ------------------------------------------

// The patch is named on the command line instead of being picked in a dialog, so a mistyped name
// or a file that is no patch is refused here, before the cart is touched: the window would write
// the image unpatched, which a script did not ask for.
bool PatchUsable(CommandRun& run) {
  if (!run.options.ips) return true;
  const std::string& name = run.options.ipsPatch;
  auto patch = std::make_unique<IpsPatch>();
  if (!StoreFileName(patch->IpsFileName, name)) {
    Complain("the IPS patch's name is too long: " + name);
    return false;
  }
  errno = 0;
  switch (ReadIpsPatch(*patch)) {
    case IpsLoad::Ok:
      return true;
    case IpsLoad::Unreadable:
      Complain("cannot read the IPS patch " + name + ": " +
               (errno == EINVAL ? std::string("not a regular file") : std::strerror(errno)));
      break;
    case IpsLoad::BadSize:
      Complain(name + " is not an IPS patch: a patch is 14 to 32768 bytes long");
      break;
    case IpsLoad::NotIps:
      Complain(name + " is not an IPS patch: it does not start with PATCH and end with EOF");
      break;
    case IpsLoad::BadRecords:
      Complain(name + " is a malformed IPS patch: its records do not fit the file (or exceed 1024)");
      break;
  }
  return false;
}

bool OutputAccepted(CommandRun& run) { return OutputUsable(run.options); }

// A DAT file that cannot be used is refused before the cart is touched, not after a long read;
// the first Ctrl-C stops its loading.
bool BackupInputsUsable(CommandRun& run) {
  if (!run.options.datFile.empty()) {
    run.dat = std::make_unique<DatFile>();
    std::string error;
    if (!run.dat->Load(run.options.datFile, error, [] { return InterruptPending(); })) {
      Complain(error);
      return false;
    }
    run.datVerdict.source = run.options.datFile;
  }
  return OutputUsable(run.options);
}

// The report is written whole through the one file-replacing routine, never into a file the run
// log or the virtual cart keeps.
bool DoctorInputsUsable(CommandRun& run) {
  const std::string& name = run.options.reportFile;
  if (name.empty()) return true;
  const std::string why = OutputRefusal(name);
  if (why.empty()) return true;
  Complain("cannot write the report to " + name + ": " + why + "; nothing was checked");
  return false;
}

// --- the commands ---------------------------------------------------------------------------------

int Info(CommandRun& run) { return CartInfoCommand(*run.core); }
int Erase(CommandRun& run) { return EraseFlashClick(*run.core); }

int Write(CommandRun& run) {
  run.core->cart.Changed.Enabled = !run.options.everyBlock;
  return WriteClick(*run.core);
}

int Multi(CommandRun& run) {
  run.core->cart.Changed.Enabled = !run.options.everyBlock;
  // The pre-boot image comes from the command line, not from the settings file.
  StoreFileName(run.core->settings.BootFileName(), run.options.bootFile);
  return WriteMultiClick(*run.core);
}

int Verify(CommandRun& run) {
  run.core->frame.ChunkListener = run.digest.get();
  return VerifyImageCommand(*run.core);
}

// Without --dat a backup consults the user's DAT folder, as the window does.
int Backup(CommandRun& run) {
  Core& core = *run.core;
  if (run.dat) {
    core.Dat = run.dat.get();
  } else if (std::error_code ec;
             !core.DatFolder.empty() && std::filesystem::is_directory(core.DatFolder, ec)) {
    Say("dat: no --dat given: the DAT files in " + core.DatFolder + " name the game");
    run.datVerdict.source = "the DAT folder " + core.DatFolder;
  }
  return ReadClick(core);
}

int BackupSave(CommandRun& run) { return SReadClick(*run.core); }
int WriteSave(CommandRun& run) { return SWriteClick(*run.core); }

// No window command: the program measures the link, with the result's figures.
sim::ChipTiming ChipTimingOf(const CommandRun& run) {
  return run.cart != nullptr ? sim::TimingOf(run.cart->Config().timing) : sim::ChipTiming::Datasheet();
}

int Probe(CommandRun& run) { return RunProbe(*run.core, ChipTimingOf(run), run.figures); }

int Doctor(CommandRun& run) {
  run.doctorSetup.speedFigures = [&run](int speedIndex, bool epp) {
    return DoctorSpeedFigures(*run.core, ChipTimingOf(run), speedIndex, epp, run.figures);
  };
  run.doctorReport = RunDoctor(*run.core, run.doctorSetup);
  return run.doctorReport.Passed() ? kResultDone : kResultFailed;
}

// Never reached: the program decodes a record before any port or cart is opened.
int Trace(CommandRun&) { return kResultFailed; }

// --- what they report besides the log ------------------------------------------------------------

std::string HexOffset(std::int64_t offset) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(offset));
  return text;
}

void ReportUnstableChunk(const Core& core) {
  if (core.cart.UnstableChunk < 0) return;
  Complain("the two reads of chunk " + std::to_string(core.cart.UnstableChunk) + " (32 KB from byte offset " +
           std::to_string(std::int64_t{core.cart.UnstableChunk} * kChunkBytes) +
           ") differed: check the cable, the port's mode and the cart's contacts");
}

// A patch the window would have skipped (see its log) is a failure here.
bool PatchApplied(CommandRun& run, bool ok) {
  if (!ok || !run.options.ips || run.core->cart.IpsActive != 0) return ok;
  Complain(std::string("the IPS patch was not applied (see the log): the image was ") +
           (run.options.command == Command::Verify ? "compared" : "written") + " unpatched");
  return false;
}

// What a write that touched only the changed blocks did with them (not after --every-block).
void ReportChangedBlocks(CommandRun& run) {
  const ChangedBlocks& c = run.core->cart.Changed;
  if (!c.Enabled) return;
  std::fprintf(stderr, "blocks: %u skipped, %u programmed without erase, %u erased\n", c.Skipped,
               c.Programmed, c.Erased);
  run.figures.Set("blocks_skipped", std::int64_t{c.Skipped});
  run.figures.Set("blocks_programmed_without_erase", std::int64_t{c.Programmed});
  run.figures.Set("blocks_erased", std::int64_t{c.Erased});
}

bool WriteReport(CommandRun& run, bool ok) {
  ok = PatchApplied(run, ok);
  ReportChangedBlocks(run);
  return ok;
}

// Write Multi ends without a word on a chip other than the 8 MB one; here it needs one.
bool MultiReport(CommandRun& run, bool ok) {
  const std::uint32_t flash = run.core->cart.FlashSize;
  if (!ok && flash != 0 && flash != kFlash8M)
    Complain("multi needs the 8 MB flash chip; this cart has a " + std::to_string(flash >> 20) +
             " MB chip: nothing was written");
  ReportChangedBlocks(run);
  return ok;
}

bool VerifyReport(CommandRun& run, bool ok) {
  ok = PatchApplied(run, ok);
  const Core& core = *run.core;
  if (ok) {
    ReportUsed(*run.digest, run.figures);
    return ok;
  }
  ReportUnstableChunk(core);
  if (core.cart.FirstDifference >= 0)
    Complain("the flash differs from " + run.options.image + " first at byte offset " +
             std::to_string(core.cart.FirstDifference) + " (" + HexOffset(core.cart.FirstDifference) + ")");
  return ok;
}

// A backup succeeds only when the file on disk holds the whole read-out; the checksums of the
// data read (confirmed chunk by chunk, not read back from the file) then go to standard error. A
// read-out that ended early left the file as it was, and the user is told where the chunks read so
// far are.
bool BackupReport(CommandRun& run, bool done) {
  const Core& core = *run.core;
  const CliOptions& options = run.options;
  ReportUnstableChunk(core);
  if (!core.cart.OutputFileCreated) return false;  // ended before the output was opened
  const std::string& name = options.output;
  const int item = CartSizeItemOf(core.CartSizeChunks);
  const std::uint64_t expected = std::uint64_t(CartSizeChunksOfItem(item)) * kChunkBytes;
  std::error_code ec;
  const bool regular = std::filesystem::is_regular_file(name, ec);
  if (!done) {
    if (!core.frame.OutputStillInPlace()) ReportUnfinishedOutput(core, options);
    return false;
  }
  if (!regular) {
    Complain(name + " is not a regular file: what it holds cannot be checked");
    return false;
  }
  const std::uintmax_t holds = std::filesystem::file_size(name, ec);
  DumpDigest& digest = core.Digest ? *core.Digest : *run.digest;
  if (ec || holds != expected || digest.Size() != expected) {
    Complain(name + " holds " + (ec ? std::string("an unknown number of") : std::to_string(holds)) +
             " bytes and the read-out confirmed " + std::to_string(digest.Size()) + " of its " +
             std::to_string(expected) + " bytes");
    return false;
  }
  // Another program may have put its own file in this name since: then the file is not this
  // read-out, whatever its checksums. (The file once replaced never comes back.)
  if (!core.frame.OutputStillInPlace()) {
    Complain(name +
             " was replaced by another program after the read-out was put there: what it holds now "
             "is not this read-out");
    return false;
  }
  run.datVerdict.game = core.DumpGame;
  run.datVerdict.size = core.DumpGameSize;
  return ReportBackupData(digest, options, run.datVerdict, run.figures);
}

bool BackupSaveReport(CommandRun& run, bool ok) {
  if (!ok && !run.core->frame.PartialOutput().empty()) ReportUnfinishedOutput(*run.core, run.options);
  return ok;
}

bool WriteDoctorReportFile(const std::string& name, const DoctorReport& report) {
  std::string text;
  for (const std::string& line : DoctorReportLines(report)) text += line + "\n";
  AtomicOutputFile file;
  if (!file.Create(name)) {
    Complain("cannot write the report to " + name + ": " + file.Error());
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file.Stream()) == text.size();
  if (!written || !file.Commit()) {
    Complain("cannot write the report to " + name + ": " + std::strerror(errno));
    file.Discard();
    return false;
  }
  return true;
}

bool DoctorReportOut(CommandRun& run, bool ok) {
  const DoctorReport& report = run.doctorReport;
  FigureList checks{{}, {}, true};
  for (const DoctorCheck& check : report.checks) {
    std::string result = CheckResultText(check.result);
    if (check.result == CheckResult::Fault) result = "fault";
    checks.records.push_back({{"name", check.name}, {"result", result}, {"detail", check.detail}});
  }
  FigureList faults{{}, {}, true};
  for (const LineFault& fault : report.faults) {
    std::vector<FigureField> record = {
        {"line", fault.line}, {"pin", std::int64_t{fault.pin}}, {"kind", fault.kind}};
    if (!fault.with.empty()) record.push_back({"with", fault.with});
    faults.records.push_back(std::move(record));
  }
  run.figures.Set("checks", checks);
  run.figures.Set("faults", faults);
  run.figures.Set("advice", FigureList{report.advice, {}, false});
  if (report.fastestSpeed >= 0) run.figures.Set("speed", std::string(SpeedCaption(report.fastestSpeed)));
  if (!run.options.reportFile.empty() && !WriteDoctorReportFile(run.options.reportFile, report)) ok = false;
  return ok;
}

bool WriteSaveReport(CommandRun& run, bool ok) {
  ReportKeptSave(*run.core);
  return ok;
}

// --- how the arguments are kept -------------------------------------------------------------------

void TakeImage(CliOptions& o, const std::vector<std::string>& a) { o.image = a.front(); }
void TakeOutput(CliOptions& o, const std::vector<std::string>& a) { o.output = a.front(); }
void TakeGames(CliOptions& o, const std::vector<std::string>& a) { o.games = a; }
void TakeRecord(CliOptions& o, const std::vector<std::string>& a) { o.record = a.front(); }

const CommandEntry kCommands[] = {
    {
        .name = "info",
        .command = Command::Info,
        .usage = "info",
        .help = "detect the adapter, identify the flash, read and check the header",
        .run = Info,
    },
    {
        .name = "erase",
        .command = Command::Erase,
        .usage = "erase",
        .help = "erase the whole flash",
        .run = Erase,
    },
    {
        .name = "write",
        .command = Command::Write,
        .argument = "IMAGE",
        .missing = "an image file",
        .options = "--ips --only-changed --every-block",
        .usage = "write IMAGE [--ips PATCH] [--every-block]",
        .help = "write IMAGE into the flash and verify it; --ips patches it on the way;\n"
                "each block is read first and only those that differ from the image\n"
                "are erased and programmed (--only-changed, the default); --every-block\n"
                "erases and programs every block the image touches; verified as always",
        .take = TakeImage,
        .check = PatchUsable,
        .run = Write,
        .report = WriteReport,
    },
    {
        .name = "multi",
        .command = Command::Multi,
        .argument = "GAME...",
        .missing = "the game images",
        .options = "--boot --only-changed --every-block",
        .required = "--boot",
        .usage = "multi --boot BOOT GAME... [--every-block]",
        .help = "write the 32 KB pre-boot image BOOT and two games behind it into\n"
                "the 8 MB flash, each verified; the order decides the places",
        .take = TakeGames,
        .run = Multi,
        .report = MultiReport,
    },
    {
        .name = "verify",
        .command = Command::Verify,
        .argument = "IMAGE",
        .missing = "an image file",
        .options = "--ips",
        .usage = "verify IMAGE [--ips PATCH]",
        .help = "compare the flash with IMAGE as write would have put it there\n"
                "(each chunk read twice; nothing is written to the cart)",
        .take = TakeImage,
        .check = PatchUsable,
        .run = Verify,
        .report = VerifyReport,
    },
    {
        .name = "backup",
        .command = Command::Backup,
        .argument = "FILE",
        .missing = "the name of the file to write",
        .options = "--size --trim --dat",
        .usage = "backup FILE [--size S] [--trim] [--dat DATFILE]",
        .help = "read the cart into FILE, each chunk read twice; S is 8M, 16M, 32M,\n"
                "64M, 128M or 256M (megabits), otherwise the size the cart proposes;\n"
                "--trim keeps only the part the game uses (\"used:\") in FILE,\n"
                "--dat names the game from a Logiqx XML DAT file (No-Intro's);\n"
                "without it from the DAT files in $XDG_DATA_HOME/brevomat/dat",
        .take = TakeOutput,
        .check = BackupInputsUsable,
        .run = Backup,
        .report = BackupReport,
    },
    {
        .name = "backup-save",
        .command = Command::BackupSave,
        .argument = "FILE",
        .missing = "a save file",
        .options = "--bank --size",
        .usage = "backup-save FILE [--bank 1|2|3|4] [--size 32K|64K|128K|256K]",
        .help = "read save memory from the bank on into FILE (default bank 1, 32K)",
        .take = TakeOutput,
        .check = OutputAccepted,
        .run = BackupSave,
        .report = BackupSaveReport,
    },
    {
        .name = "write-save",
        .command = Command::WriteSave,
        .argument = "FILE",
        .missing = "a save file",
        .options = "--bank --size --no-keep",
        .usage = "write-save FILE [--bank 1|2|3|4] [--size 32K|64K|128K|256K] [--no-keep]",
        .help = "write FILE (32768 or 65536 bytes) into save memory from the bank on;\n"
                "--size 32K writes only the first 32K of a 64K file; the save it\n"
                "replaces is kept first in $XDG_DATA_HOME/brevomat/saves (--no-keep:\n"
                "not kept)",
        .take = TakeImage,
        .run = WriteSave,
        .report = WriteSaveReport,
    },
    {
        .name = "probe",
        .command = Command::Probe,
        .usage = "probe",
        .help = "detect the adapter, time its register accesses in each mode it\n"
                "answers and estimate each command's duration at each speed\n"
                "(nothing on the cart changes)",
        .run = Probe,
    },
    {
        .name = "doctor",
        .command = Command::Doctor,
        .options = "--report",
        .usage = "doctor [--report FILE]",
        .help = "find out why the adapter does not answer: port access, the port's\n"
                "mode, detection, every wire of the cable, the cart and the speeds\n"
                "that work, one line each with advice; --report puts the report in\n"
                "FILE as well (nothing is written to the flash or save memory)",
        .check = DoctorInputsUsable,
        .run = Doctor,
        .report = DoctorReportOut,
    },
    {
        .name = "trace",
        .command = Command::Trace,
        .argument = "FILE",
        .missing = "a record of port accesses",
        .options = "--level --raw --check",
        .usage = "trace FILE [--level cycles|link|cart | --raw | --check]",
        .help = "decode the record --trace left in FILE: the printer-port cycles,\n"
                "the adapter's link operations or (the default) the cart's commands;\n"
                "--raw lists one access a line (seq time_us R|W offset bits value);\n"
                "--check replays it on the virtual adapter and cart and says\n"
                "\"agrees\" or where hardware and model part; --json: a summary",
        .take = TakeRecord,
        .run = Trace,
    },
};

}  // namespace

std::span<const CommandEntry> CommandTable() { return kCommands; }

const CommandEntry* FindCommand(Command command) {
  for (const CommandEntry& entry : kCommands)
    if (entry.command == command) return &entry;
  return nullptr;
}

void SelectPort(Core& core, const CliOptions& options) {
  if (options.cardBase != 0)
    core.SelectPortBase(options.cardBase);
  else
    core.SelectPortAddresses();
}

}  // namespace brevomat::cli
