// The main window as a terminal sees it: brevomat-cli's implementation of the window interface.
//
// The log goes to standard output one flushed line at a time, so that a pipe reader sees every
// line as it happens. The Status label's text is only kept; the program prints it last. Questions
// are answered by --yes / --no, asked on the terminal, or answered No when nobody can answer.
// The file dialogs are answered by the command's arguments, the cart size dialog by --size or
// with the size the command proposes. Timer1 is driven by the wall clock and
// Ctrl-C plays the Stop button, both serviced where a command pumps its messages.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/Operation.h"
#include "base/Window.h"
#include "cli/CliOptions.h"
#include "cli/Progress.h"
#include "cli/RunEvents.h"

namespace brevomat::cli {

// Ctrl-C: the first press only asks the running command to stop at its next poll; a second press
// (or SIGTERM, SIGHUP) ends a program that no longer polls, removing the temporary file of an
// unfinished output first. With `endingSignalsStop` (--json, whose reader is owed a result) a first
// SIGTERM or SIGHUP is a first press too. Also ignores SIGPIPE and SIGXFSZ.
void InstallInterruptHandler(bool endingSignalsStop = false);
bool InterruptPending();
void ClearInterrupt();

struct ConsoleStreams {
  std::FILE* out = stdout;  // the plain log; nullptr when the listeners carry it instead (--json)
  std::FILE* err = stderr;
  std::FILE* in = stdin;
  bool errIsTerminal = false;  // progress line on standard error
  bool inIsTerminal = false;   // questions can be asked
};

class ConsoleWindow final : public Window, public WindowDisplay {
 public:
  ConsoleWindow(const CliOptions& options, const ConsoleStreams& streams);

  // The frame whose StopClick and Timer1Timer the console triggers.
  void AttachFrame(OperationFrame& frame) { frame_ = &frame; }
  const std::string& Status() const { return status_; }
  // A log line could not be written to standard output (its reader went away, a full disk).
  bool LogLost() const { return logLost_; }
  // Ends a progress line that is still on the terminal.
  void FinishProgress();
  // Everything shown also goes to `listener` (the JSON events, the run log), in order.
  void AddListener(RunListener& listener) { listeners_.push_back(&listener); }
  // Called after the user took time to answer a question on the terminal.
  void SetAfterUserWait(std::function<void()> call) { afterUserWait_ = std::move(call); }

  WindowDisplay& Display() override { return *this; }
  void AppendLog(std::string_view line) override;
  void SetStatusText(std::string_view text) override;
  void SetTimeText(std::string_view text) override;
  void SetProgressPosition(int percent) override;
  void SetRunning(bool running) override;
  void StartTimer1() override;
  void StopTimer1() override { timerRunning_ = false; }
  void ProcessMessages() override;
  bool AskYesNo(std::string_view text, std::string_view caption) override;
  bool ExecuteOpenDialog1(bool multiSelect, std::vector<std::string>& files) override;
  bool ExecuteOpenDialog2(std::string&) override { return false; }
  bool ExecuteOpenDialog3(std::string& file) override;
  bool ExecuteSaveDialog1(std::string& file) override;
  std::string SaveDialog1FileName() override { return saveDialog1Name_; }
  std::optional<std::int32_t> ShowForm2(int preselectItem) override;
  std::optional<SaveChoice> ShowForm3(std::optional<SaveChoice> before) override;
  int PortSelIndex() override { return options_.portIndex; }
  int RadioSpeedIndex() override { return options_.speedIndex; }
  int RadioIpsIndex() override { return options_.ips ? 1 : 0; }

 private:
  using Clock = std::chrono::steady_clock;
  void DrawProgress();
  void EraseProgress();
  // Tells the listeners where the progress bar stands, when that changed since they last heard.
  void NotifyProgress();
  void NotifyQuestion(std::string_view caption, std::string_view text, std::string_view answer);
  // Where the running phase stands. Right after the status names a new phase, the frame still holds
  // the last phase's figures until the command sets its first progress: the new phase starts at 0.
  struct PhaseProgress {
    int percent;
    std::uint32_t done, total;
  };
  PhaseProgress Progress() const;

  const CliOptions& options_;
  ConsoleStreams streams_;
  OperationFrame* frame_ = nullptr;
  std::string status_;
  std::string timeText_;
  std::string saveDialog1Name_;
  int percent_ = 0;
  bool running_ = false;
  bool timerRunning_ = false;
  bool inPump_ = false;
  bool logLost_ = false;
  Clock::time_point nextTick_{};
  ProgressLine progressLine_;
  std::vector<RunListener*> listeners_;
  std::uint32_t phaseStaleDone_ = 0, phaseStaleTotal_ = 0;
  bool phaseFresh_ = false;
  int notifiedPercent_ = -1;
  std::string notifiedPhase_;
  std::function<void()> afterUserWait_;
};

}  // namespace brevomat::cli
