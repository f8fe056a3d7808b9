#include "cli/CliProgram.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define STDIN_FILENO 0
#define STDERR_FILENO 2
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/ConsoleWindow.h"
#include "cli/FileReports.h"
#include "cli/JsonEvents.h"
#include "cli/RunLog.h"
#include "cli/TraceCommand.h"
#include "commands/Captions.h"
#include "commands/Core.h"
#include "commands/Doctor.h"
#include "port/PortDriver.h"
#include "port/PortRecorder.h"
#include "sim/CartDirectory.h"
#include "sim/WallClockPort.h"

namespace brevomat::cli {

void OccupyClosedStandardStreams() {
#ifndef _WIN32
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int null = ::open("/dev/null", O_RDONLY);
    // Without a null device (a bare chroot) the root folder takes the place: it cannot be written
    // either, and the descriptor is taken before any file of the user's could be given it.
    if (null < 0) null = ::open("/", O_RDONLY);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
#endif
  // Windows: the C runtime keeps descriptors 0 to 2 for the standard streams even when the process
  // has no such handle, so no file the program opens can take their place.
}

namespace {

// One run of the program, in the order it happens.
class Program {
 public:
  Program(int argc, char** argv) : argc_(argc), argv_(argv) {}
  int Run();

 private:
  int Work();
  int UsageError(const ParseResult& parsed);
  int Answer(const std::string& text, bool asEvents);
  int Refuse(const std::string& why);
  int Finish(int exit, const std::string& status, bool cartChanged);
  std::string OpenRunLog();
  std::string OpenTrace();
  void StartTrace();
  bool OpenBackEnd();
  bool RunTheCommand();
  bool Report(bool ok);
  bool CloseBackEnd(bool ok);
  void CloseTrace();
  bool CheckStandardError(bool ok);

  int argc_;
  char** argv_;
  ParseResult parsed_;
  const CliOptions& options_ = parsed_.options;
  const CommandEntry* command_ = nullptr;
  RunFigures figures_;
  JsonEvents json_{stdout};
  RunLog runLog_;
  std::vector<RunListener*> listeners_;
  bool finished_ = false;

  std::unique_ptr<ConsoleWindow> console_;
  std::unique_ptr<Core> core_;
  std::unique_ptr<CommandRun> run_;
  std::unique_ptr<sim::VirtualCart> cart_;
  std::unique_ptr<sim::WallClockPort> paced_;
  std::unique_ptr<DirectPortDriver> driver_;
  std::unique_ptr<PortRecorder> recorder_;
  std::string backEnd_;  // in words, for the run log and the record's header
  std::uint64_t modelledNs_ = 0;
  bool saved_ = true;
};

int Program::Run() {
  // Nothing unexpected (memory running out on a huge file, say) ends the run without its status
  // and result. The virtual cart is saved only by a run that completes, so its files stay as they
  // were.
  try {
    return Work();
  } catch (const std::exception& e) {
    Complain(std::string("unexpected error: ") + e.what());
  } catch (...) {
    Complain("unexpected error");
  }
  if (finished_) return kExitFailed;
  std::fputs("status: Error!!!\n", stderr);
  return Finish(kExitFailed, "Error!!!", false);
}

int Program::Work() {
  std::vector<std::string_view> args;
  for (int i = 1; i < argc_; ++i) args.emplace_back(argv_[i]);
  parsed_ = ParseCliOptions(args);
  if (options_.json) listeners_.push_back(&json_);
  if (!parsed_.ok()) return UsageError(parsed_);
  if (options_.help) return Answer(UsageText(), options_.json);
  if (options_.version) return Answer(VersionText(), options_.json);
  if (options_.completionWords) return Answer(CompletionWords(), false);
  command_ = FindCommand(options_.command);
  // A record is read, never a port or a cart opened.
  if (options_.command == Command::Trace) {
    finished_ = true;
    const int result = RunTraceCommand(options_);
    // As after every command, the last line is the verdict a script reads.
    Say(std::string("status: ") + (result == kExitOk ? "Trace Ok" : "Error!!!"));
    return result;
  }

  // Ctrl-C must find its handler from the first file opened on: a slow disk could otherwise keep
  // the program from ever listening. Under --json a first kill stops the command as Ctrl-C does, so
  // that the result still follows.
  InstallInterruptHandler(options_.json);
  // The cart's own files are known before any file is opened, so that neither the run log nor a
  // backup can be one of them.
  if (options_.useVirtual) ProtectCartFiles(options_.virtualDir);
  if (std::string why = OpenRunLog(); !why.empty()) return Refuse(why);
  if (std::string why = OpenTrace(); !why.empty()) return Refuse(why);
  run_ = std::make_unique<CommandRun>(options_, figures_);
  if (command_->check != nullptr && !command_->check(*run_)) return Refuse("");

  ConsoleStreams streams;
  streams.out = options_.json ? nullptr : stdout;
  streams.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
  streams.inIsTerminal = ::isatty(STDIN_FILENO) == 1;
  console_ = std::make_unique<ConsoleWindow>(options_, streams);
  for (RunListener* listener : listeners_) console_->AddListener(*listener);
  core_ = std::make_unique<Core>(*console_);
  console_->AttachFrame(core_->frame);
  SetUpKeptSaves(*core_, options_);
  run_->core = core_.get();

  if (!OpenBackEnd()) return Refuse("");
  StartTrace();
  bool ok = RunTheCommand();
  ok = Report(ok);
  ok = CloseBackEnd(ok);
  ok = CheckStandardError(ok);
  // The status line is the verdict a script reads last: a cart that kept its old files did not
  // receive what the command's own status says, and a failure never ends on an empty status.
  std::string status = FinalStatus(saved_ ? console_->Status() : "Error!!!", ok);
  Say("status: " + status);
  // The status line may be the first line standard error could not take.
  if (ok && !CheckStandardError(ok)) {
    ok = false;
    status = FinalStatus(status, ok);
  }
  // A virtual cart that could not be saved kept its old files.
  return Finish(ok ? kExitOk : kExitFailed, status, core_->link.CartWritten && saved_);
}

int Program::UsageError(const ParseResult& parsed) {
  Complain(parsed.error);
  std::fputs("Try 'brevomat-cli --help'.\n", stderr);
  // Ends as every refusal does, so that a script that reads the last line of standard error finds
  // the verdict there too.
  std::fputs("status: Error!!!\n", stderr);
  // A script that asked for events still gets its result, also for a line it got wrong.
  return Finish(kExitUsage, "Error!!!", false);
}

// --help, --version: the text on standard output, under --json as log events and a result.
int Program::Answer(const std::string& text, bool asEvents) {
  bool written = true;
  if (asEvents) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) json_.OnLog(line);
    written = !json_.Lost();
  } else {
    written = std::fputs(text.c_str(), stdout) != EOF && std::fflush(stdout) == 0;
  }
  if (written) return Finish(kExitOk, "", false);
  Complain("the text could not be written to standard output");
  return Finish(kExitFailed, "Error!!!", false);
}

// Refused before the cart is touched: the reason, then the status line every run ends with.
int Program::Refuse(const std::string& why) {
  if (!why.empty()) Complain(why);
  std::fputs("status: Error!!!\n", stderr);
  return Finish(kExitFailed, "Error!!!", false);
}

// Every way out ends with the result, the last event.
int Program::Finish(int exit, const std::string& status, bool cartChanged) {
  finished_ = true;
  const RunResult result{exit, status, cartChanged, &figures_};
  for (RunListener* listener : listeners_) listener->OnResult(result);
  return exit;
}

std::string Program::OpenRunLog() {
  if (options_.runLog.empty()) return {};
  // Not one of the command's own files: the finished output would replace the log, or the log would
  // be appended to what the command reads.
  std::string why = RunLogClash(options_.runLog, options_);
  if (!why.empty() || !runLog_.Open(options_.runLog, why))
    return "cannot append to the run log " + options_.runLog + ": " + why;
  std::vector<std::string> commandLine(argv_, argv_ + argc_);
  runLog_.Begin(commandLine);
  listeners_.push_back(&runLog_);
  return {};
}

// --trace FILE: refused for the files the run log is refused for, and for the run log itself;
// opened (and emptied) before the cart is touched.
std::string Program::OpenTrace() {
  const std::string& name = options_.traceFile;
  if (name.empty()) return {};
  std::string why = RunLogRefusal(name);
  if (why.empty()) why = TraceClash(name, options_);
  recorder_ = std::make_unique<PortRecorder>();
  if (why.empty() && recorder_->Open(name, why)) return {};
  recorder_.reset();
  return "cannot record the port accesses in " + name + ": " + why;
}

// The record starts on the back end the command will use, at the port it will use.
void Program::StartTrace() {
  if (!recorder_) return;
  RecordHeader header;
  header.program = std::string(kProgramTitle) + " (brevomat-cli " BREVOMAT_VERSION ")";
  header.backEnd = backEnd_.empty() ? "none (the port could not be opened)" : backEnd_;
  header.base = static_cast<std::uint16_t>(core_->link.DataPort);
  header.linkMode = "chosen by detection at the start of each command (see the end marks)";
  header.speed = SpeedCaption(options_.speedIndex);
  core_->port.Attach(&recorder_->Start(core_->port.Backend(), header));
}

// What the record holds, and why it may hold less than the run did; neither fails the command.
void Program::CloseTrace() {
  if (!recorder_) return;
  std::string error;
  const bool closed = recorder_->Close(error);
  const std::string& name = options_.traceFile;
  Say("trace: " + std::to_string(recorder_->Accesses()) + " port accesses recorded in " + name + " (" +
      std::to_string(recorder_->FileBytes()) + " bytes)");
  if (recorder_->ReachedLimit())
    Say("trace: the record reached its limit of " + std::to_string(recorder_->LimitBytes() >> 20) +
        " MB and ends there; the command went on unrecorded");
  if (!closed) Complain("the record " + name + " could not be written completely: " + error);
  figures_.Set("trace_accesses", static_cast<std::int64_t>(recorder_->Accesses()));
  recorder_.reset();
}

// The virtual cart or the printer port. False, with the reason said, when it cannot be used.
bool Program::OpenBackEnd() {
  std::string error;
  if (options_.useVirtual) {
    cart_ = sim::VirtualCart::Open(std::filesystem::path(options_.virtualDir), error);
    if (!cart_) {
      Complain("virtual cart: " + error);
      return false;
    }
    run_->cart = cart_.get();
    // "pace = realtime": every command takes the time it would take on the hardware, as in the
    // window, so that its progress can be watched. The modelled time is the same either way.
    if (cart_->Config().pace == sim::Pace::Realtime) {
      paced_ = std::make_unique<sim::WallClockPort>(cart_->Adapter(), sim::Pace::Realtime);
      console_->SetAfterUserWait([this] { paced_->Resume(); });
      core_->port.Attach(paced_.get());
    } else {
      core_->port.Attach(&cart_->Port());
    }
    backEnd_ = "virtual cart " + options_.virtualDir + (paced_ ? " (pace realtime)" : "");
    runLog_.BackEnd(backEnd_);
    run_->doctorSetup.portAccess = "virtual cart " + options_.virtualDir;
    run_->doctorSetup.ecrReachable = true;
  } else {
    driver_ = std::make_unique<DirectPortDriver>();
    driver_->ProgramName = argc_ > 0 ? argv_[0] : "brevomat-cli";
    driver_->CardBase = static_cast<std::uint16_t>(options_.cardBase);
    driver_->ForcedDevice = options_.device;
    driver_->OpenDriver();
    // The doctor reports a port it cannot reach as its first check, with the same advice.
    if (!driver_->ActiveHW() && options_.command == Command::Doctor) {
      run_->doctorSetup.portOpen = false;
      run_->doctorSetup.portAccess = driver_->Advice() + "\nor try it on a virtual cart with --virtual DIR";
      SelectPort(*core_, options_);
      return true;
    }
    if (!driver_->ActiveHW()) {
      // The advice is several lines of the program's own: what was tried and what would help.
      ComplainLines(driver_->Advice() + "\nor try it on a virtual cart with --virtual DIR");
      return false;
    }
    Say("port access: " + driver_->BackEndInUse());
    run_->doctorSetup.portAccess = driver_->BackEndInUse();
    run_->doctorSetup.ecrReachable = driver_->ReachesEcr();
    if (driver_->UsesDevice()) run_->doctorSetup.kernelRoot = driver_->KernelRoot;
    backEnd_ = driver_->BackEndInUse();
    runLog_.BackEnd(backEnd_);
    core_->port.Attach(&driver_->Backend());
  }
  SelectPort(*core_, options_);
  return true;
}

bool Program::RunTheCommand() {
  const std::uint64_t startNs = cart_ ? cart_->Adapter().NowNs() : 0;
  if (recorder_) recorder_->Mark(record::Mark::Begin, command_->name);
  bool ok = command_->run(*run_) == kResultDone;
  if (recorder_) {
    const Link& link = core_->link;
    recorder_->Mark(record::Mark::Note, std::string("link mode ") +
                                            (link.Mode == LinkMode::SPP ? "SPP" : "EPP") + ", speed " +
                                            SpeedCaption(link.SpeedSetting));
    recorder_->Mark(record::Mark::End, std::string(command_->name) + ": " + console_->Status());
  }
  console_->FinishProgress();
  modelledNs_ = cart_ ? cart_->Adapter().NowNs() - startNs : 0;
  // The virtual adapter checks every cycle as the real one would need it; a cycle it could not
  // follow would have garbled data on real hardware.
  if (cart_ && !cart_->Adapter().FirstViolation().empty()) {
    Complain("the virtual adapter saw a protocol violation: " + cart_->Adapter().FirstViolation());
    ok = false;
  }
  return ok;
}

// Before the cart is closed, so that the modelled time still comes right before the status.
bool Program::Report(bool ok) {
  ReportOpenFailure(*core_, options_);
  if (command_->report != nullptr) ok = command_->report(*run_, ok);
  if (console_->LogLost() || json_.Lost()) {
    // The exit status is a failure then, and the status line says so; this says what failed.
    const std::string status = console_->Status().empty() ? "" : " (" + console_->Status() + ")";
    Complain(ok ? "the command succeeded" + status + ", but its log could not be written to standard output"
                : "the log could not be written to standard output");
    ok = false;
  }
  if (runLog_.Lost()) {
    Complain("the run log " + options_.runLog + " could not be written");
    ok = false;
  }
  return ok;
}

// Standard error closed or full: the status line, a backup's checksums, where a kept save went
// were lost with it, so the run fails as it does when standard output is lost. The reason said
// there may reach nobody; the --json result carries it, the run log the failed status.
bool Program::CheckStandardError(bool ok) {
  if (std::fflush(stderr) == 0 && std::ferror(stderr) == 0) return ok;
  const std::string status = console_->Status().empty() ? "" : " (" + console_->Status() + ")";
  Complain(ok ? "the command succeeded" + status + ", but what it said could not be written to standard error"
              : "what the command said could not be written to standard error");
  return false;
}

bool Program::CloseBackEnd(bool ok) {
  core_->frame.CloseCurrentFile();
  core_->port.Detach();
  CloseTrace();
  if (!cart_) {
    driver_->CloseDriver();
    return ok;
  }
  std::string error;
  if (!cart_->Close(error)) {
    Complain("the virtual cart was not saved: " + error);
    ok = saved_ = false;
  }
  std::fprintf(stderr, "modelled hardware time: %" PRIu64 ".%03" PRIu64 " s\n", modelledNs_ / 1000000000u,
               modelledNs_ / 1000000u % 1000u);
  figures_.Set("modelled_seconds", static_cast<double>(modelledNs_ / 1000000u) / 1000.0);
  return ok;
}

}  // namespace

int RunProgram(int argc, char** argv) {
  OccupyClosedStandardStreams();
  Program program(argc, argv);
  return program.Run();
}

}  // namespace brevomat::cli
