#include "cli/CliProgram.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define STDIN_FILENO 0
#define STDERR_FILENO 2
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cart/ReadOut.h"
#include "cli/ConsoleWindow.h"
#include "cli/DumpReport.h"
#include "cli/FileReports.h"
#include "cli/JsonEvents.h"
#include "cli/Probe.h"
#include "cli/RunLog.h"
#include "commands/Core.h"
#include "dump/Dat.h"
#include "dump/DumpDigest.h"
#include "image/Ips.h"
#include "port/PortDriver.h"
#include "sim/CartDirectory.h"
#include "sim/WallClockPort.h"

namespace brevomat::cli {

namespace {

// The patch is named on the command line instead of being picked in a dialog, so a mistyped name
// or a file that is no patch is refused here, before the cart is touched: the window would write
// the image unpatched, which a script did not ask for.
bool PatchUsable(const std::string& name) {
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

// A backup succeeds only when the file on disk holds the whole read-out; the checksums of the
// data read (confirmed chunk by chunk, not read back from the file) then go to standard error. A
// read-out that ended early left the file as it was, and the user is told where the chunks read so
// far are.
bool ReportBackup(const Core& core, const CliOptions& options, bool done, DumpDigest& digest,
                  const DatVerdict& dat, RunFigures& figures) {
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
  return ReportBackupData(digest, options, dat, figures);
}

void ReportVerify(const Core& core, const CliOptions& options, bool done, const DumpDigest& digest,
                  RunFigures& figures) {
  if (done) {
    ReportUsed(digest, figures);
    return;
  }
  ReportUnstableChunk(core);
  if (core.cart.FirstDifference >= 0)
    Complain("the flash differs from " + options.image + " first at byte offset " +
             std::to_string(core.cart.FirstDifference) + " (" + HexOffset(core.cart.FirstDifference) + ")");
}

// What a write that touched only the changed blocks did with them (not after --every-block).
void ReportChangedBlocks(const Core& core, RunFigures& figures) {
  const ChangedBlocks& c = core.cart.Changed;
  if (!c.Enabled) return;
  std::fprintf(stderr, "blocks: %u skipped, %u programmed without erase, %u erased\n", c.Skipped,
               c.Programmed, c.Erased);
  figures.Set("blocks_skipped", std::int64_t{c.Skipped});
  figures.Set("blocks_programmed_without_erase", std::int64_t{c.Programmed});
  figures.Set("blocks_erased", std::int64_t{c.Erased});
}

}  // namespace

int RunProgram(int argc, char** argv) {
  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  const ParseResult parsed = ParseCliOptions(args);
  if (!parsed.ok()) {
    Complain(parsed.error);
    std::fputs("Try 'brevomat-cli --help'.\n", stderr);
    // A script that asked for events still gets its result, also for a line it got wrong.
    for (const std::string_view arg : args)
      if (arg == "--json") {
        WriteJsonResult(stdout, {kExitUsage, "", false, nullptr});
        break;
      }
    return kExitUsage;
  }
  const CliOptions& options = parsed.options;
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return kExitOk;
  }
  if (options.version) {
    std::fputs(VersionText().c_str(), stdout);
    return kExitOk;
  }
  // Ctrl-C must find its handler from the first file opened on: a FIFO or a slow disk could
  // otherwise keep the program from ever listening.
  InstallInterruptHandler();

  // Who hears the run besides the terminal, and the figures its result carries.
  RunFigures figures;
  JsonEvents json(stdout);
  RunLog runLog;
  std::vector<RunListener*> listeners;
  if (options.json) listeners.push_back(&json);
  if (!options.runLog.empty()) {
    std::string why;
    if (!runLog.Open(options.runLog, why)) {
      Complain("cannot append to the run log " + options.runLog + ": " + why);
      std::fputs("status: Error!!!\n", stderr);
      if (options.json) json.OnResult({kExitFailed, "Error!!!", false, nullptr});
      return kExitFailed;
    }
    std::vector<std::string> commandLine;
    for (int i = 0; i < argc; ++i) commandLine.emplace_back(argv[i]);
    runLog.Begin(commandLine);
    listeners.push_back(&runLog);
  }
  // Every way out ends with the result, the last event.
  auto finish = [&](int exit, const std::string& status, bool cartChanged) {
    const RunResult result{exit, status, cartChanged, &figures};
    for (RunListener* listener : listeners) listener->OnResult(result);
    return exit;
  };
  // Refused before the cart is touched: the reason, then the status line every run ends with.
  auto refuse = [&](const std::string& why) {
    if (!why.empty()) Complain(why);
    std::fputs("status: Error!!!\n", stderr);
    return finish(kExitFailed, "Error!!!", false);
  };
  if (options.ips && !PatchUsable(options.ipsPatch)) return refuse("");
  // A DAT file that cannot be used is refused before the cart is touched, not after a long read;
  // the first Ctrl-C stops its loading. Without one a backup consults the user's DAT folder, as the
  // window does.
  std::unique_ptr<DatFile> dat;
  DatVerdict datVerdict;
  if (!options.datFile.empty()) {
    dat = std::make_unique<DatFile>();
    std::string datError;
    if (!dat->Load(options.datFile, datError, [] { return InterruptPending(); })) return refuse(datError);
    datVerdict.source = options.datFile;
  }
  if (options.useVirtual) ProtectCartFiles(options.virtualDir);
  if (!OutputUsable(options)) return refuse("");

  ConsoleStreams streams;
  streams.out = options.json ? nullptr : stdout;
  streams.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
  streams.inIsTerminal = ::isatty(STDIN_FILENO) == 1;
  ConsoleWindow console(options, streams);
  for (RunListener* listener : listeners) console.AddListener(*listener);
  Core core(console);
  console.AttachFrame(core.frame);
  SetUpKeptSaves(core, options);
  if (dat) {
    core.Dat = dat.get();
  } else if (options.command == Command::Backup) {
    std::error_code ec;
    if (!core.DatFolder.empty() && std::filesystem::is_directory(core.DatFolder, ec)) {
      std::fprintf(stderr, "dat: no --dat given: the DAT files in %s name the game\n",
                   core.DatFolder.c_str());
      datVerdict.source = "the DAT folder " + core.DatFolder;
    }
  }

  std::unique_ptr<sim::VirtualCart> cart;
  std::unique_ptr<sim::WallClockPort> paced;
  DirectPortDriver driver;
  driver.ProgramName = argc > 0 ? argv[0] : "brevomat-cli";
  driver.CardBase = static_cast<std::uint16_t>(options.cardBase);
  std::string error;
  if (options.useVirtual) {
    cart = sim::VirtualCart::Open(std::filesystem::path(options.virtualDir), error);
    if (!cart) return refuse("virtual cart: " + error);
    // "pace = realtime": every command takes the time it would take on the hardware, as in the
    // window, so that its progress can be watched. The modelled time is the same either way.
    if (cart->Config().pace == sim::Pace::Realtime) {
      paced = std::make_unique<sim::WallClockPort>(cart->Adapter(), sim::Pace::Realtime);
      console.SetAfterUserWait([&paced] { paced->Resume(); });
      core.port.Attach(paced.get());
    } else {
      core.port.Attach(&cart->Port());
    }
    runLog.BackEnd("virtual cart " + options.virtualDir + (paced ? " (pace realtime)" : ""));
  } else {
    driver.ForcedDevice = options.device;
    driver.OpenDriver();
    if (!driver.ActiveHW())
      return refuse(driver.Advice() + "\nor try it on a virtual cart with --virtual DIR");
    std::fprintf(stderr, "port access: %s\n", driver.BackEndInUse().c_str());
    runLog.BackEnd(driver.BackEndInUse());
    core.port.Attach(&driver.Backend());
  }
  SelectPort(core, options);
  // The data a verify reads, digested chunk by chunk as it is confirmed (a backup digests its own).
  const auto digest = std::make_unique<DumpDigest>();
  if (options.command == Command::Verify) core.frame.ChunkListener = digest.get();

  const std::uint64_t startNs = cart ? cart->Adapter().NowNs() : 0;
  bool ok = (options.command == Command::Probe
                 ? RunProbe(core, cart ? sim::TimingOf(cart->Config().timing) : sim::ChipTiming::Datasheet(),
                            figures)
                 : RunCommand(core, options)) == kResultDone;
  console.FinishProgress();
  const std::uint64_t modelledNs = cart ? cart->Adapter().NowNs() - startNs : 0;
  // The virtual adapter checks every cycle as the real one would need it; a cycle it could not
  // follow would have garbled data on real hardware.
  if (cart && !cart->Adapter().FirstViolation().empty()) {
    Complain("the virtual adapter saw a protocol violation: " + cart->Adapter().FirstViolation());
    ok = false;
  }

  // Write Multi ends without a word on a chip other than the 8 MB one; here it needs one.
  if (!ok && options.command == Command::Multi && core.cart.FlashSize != 0 && core.cart.FlashSize != kFlash8M)
    Complain("multi needs the 8 MB flash chip; this cart has a " + std::to_string(core.cart.FlashSize >> 20) +
             " MB chip: nothing was written");
  if (ok && options.ips && core.cart.IpsActive == 0) {
    Complain(std::string("the IPS patch was not applied (see the log): the image was ") +
             (options.command == Command::Verify ? "compared" : "written") + " unpatched");
    ok = false;
  }
  // Before the cart is closed, so that the modelled time still comes right before the status.
  ReportOpenFailure(core, options);
  if (options.command == Command::WriteSave) ReportKeptSave(core);
  if (options.command == Command::Backup) {
    datVerdict.game = core.DumpGame;
    datVerdict.size = core.DumpGameSize;
    ok = ReportBackup(core, options, ok, core.Digest ? *core.Digest : *digest, datVerdict, figures);
  }
  if (options.command == Command::BackupSave && !ok && !core.frame.PartialOutput().empty())
    ReportUnfinishedOutput(core, options);
  if (options.command == Command::Verify) ReportVerify(core, options, ok, *digest, figures);
  if (options.command == Command::Write || options.command == Command::Multi)
    ReportChangedBlocks(core, figures);
  if (console.LogLost() || json.Lost()) {
    // The exit status is a failure then, and the status line says so; this says what failed.
    const std::string status = console.Status().empty() ? "" : " (" + console.Status() + ")";
    Complain(ok ? "the command succeeded" + status + ", but its log could not be written to standard output"
                : "the log could not be written to standard output");
    ok = false;
  }
  if (runLog.Lost()) {
    Complain("the run log " + options.runLog + " could not be written");
    ok = false;
  }
  core.frame.CloseCurrentFile();
  core.port.Detach();
  bool saved = true;
  if (cart) {
    if (!cart->Close(error)) {
      Complain("the virtual cart was not saved: " + error);
      ok = saved = false;
    }
    std::fprintf(stderr, "modelled hardware time: %" PRIu64 ".%03" PRIu64 " s\n", modelledNs / 1000000000u,
                 modelledNs / 1000000u % 1000u);
    figures.Set("modelled_seconds", static_cast<double>(modelledNs / 1000000u) / 1000.0);
  } else {
    driver.CloseDriver();
  }
  // The status line is the verdict a script reads last: a cart that kept its old files did not
  // receive what the command's own status says.
  const std::string status = FinalStatus(saved ? console.Status() : "Error!!!", ok);
  std::fprintf(stderr, "status: %s\n", status.c_str());
  std::fflush(stderr);
  // A virtual cart that could not be saved kept its old files.
  return finish(ok ? kExitOk : kExitFailed, status, core.link.CartWritten && saved);
}

}  // namespace brevomat::cli
