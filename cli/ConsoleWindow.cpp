#include "cli/ConsoleWindow.h"

#ifndef _WIN32
#include <signal.h>
#endif

#include <cctype>
#include <csignal>

#include "base/AtomicOutputFile.h"
#include "base/FileAccess.h"
#include "cart/ReadOut.h"
#include "commands/Captions.h"

namespace brevomat::cli {

namespace {

volatile std::sig_atomic_t g_interrupt = 0;
volatile std::sig_atomic_t g_pressed = 0;
volatile std::sig_atomic_t g_endingSignalsStop = 0;

// The first Ctrl-C asks the command to stop at its next poll; so does a first SIGTERM or SIGHUP
// when the run owes its reader a result (--json), which the program writes once the stopped command
// has returned. Any other signal of these, and any second one, ends the program at once, as it
// would without a handler, but without leaving the temporary file of an unfinished output in the
// user's folder.
extern "C" void OnInterrupt(int sig) {
  if (g_pressed == 0 && (sig == SIGINT || g_endingSignalsStop != 0)) {
    g_pressed = 1;
    g_interrupt = 1;
#ifdef _WIN32
    // Windows puts the default action back before it calls a handler: without this the second
    // Ctrl-C would end the program with the unfinished output's temporary file left behind.
    std::signal(SIGINT, OnInterrupt);
#endif
    return;
  }
  brevomat::RemoveTemporaryOutputsNow();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

#ifdef _WIN32

void InstallInterruptHandler(bool endingSignalsStop) {
  g_endingSignalsStop = endingSignalsStop ? 1 : 0;
  // The C runtime turns Ctrl-C on the console into SIGINT; there are no broken pipes or file-size
  // signals to keep away.
  std::signal(SIGINT, OnInterrupt);
}

#else

void InstallInterruptHandler(bool endingSignalsStop) {
  g_endingSignalsStop = endingSignalsStop ? 1 : 0;
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a question waiting on the terminal is interrupted and answered No.
  action.sa_flags = 0;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
  // A log reader that goes away (a pager quit early) must not kill a command halfway through
  // the cart: the lost log lines are the lesser harm, the command runs to its end.
  std::signal(SIGPIPE, SIG_IGN);
  // A file grown past the user's size limit fails its write (and is reported) instead of
  // killing the program with the cart half saved.
  std::signal(SIGXFSZ, SIG_IGN);
}

#endif

bool InterruptPending() { return g_interrupt != 0; }
void ClearInterrupt() { g_interrupt = 0; }

ConsoleWindow::ConsoleWindow(const CliOptions& options, const ConsoleStreams& streams)
    : options_(options), streams_(streams), progressLine_(streams.err) {}

void ConsoleWindow::AppendLog(std::string_view line) {
  EraseProgress();
  if (streams_.out != nullptr) {
    const bool written = std::fwrite(line.data(), 1, line.size(), streams_.out) == line.size() &&
                         std::fputc('\n', streams_.out) != EOF && std::fflush(streams_.out) == 0;
    if (!written) logLost_ = true;
  }
  for (RunListener* listener : listeners_) listener->OnLog(line);
  DrawProgress();
}

ConsoleWindow::PhaseProgress ConsoleWindow::Progress() const {
  if (frame_ == nullptr) return {percent_, 0, 0};
  const bool stale = phaseFresh_ && frame_->ProgressPercent != 100 &&
                     frame_->ProgressDone == phaseStaleDone_ && frame_->ProgressTotal == phaseStaleTotal_;
  if (stale) return {0, 0, frame_->ProgressTotal};
  return {frame_->ProgressPercent, frame_->ProgressDone, frame_->ProgressTotal};
}

void ConsoleWindow::SetStatusText(std::string_view text) {
  if (text != status_ && frame_ != nullptr) {
    phaseFresh_ = true;
    phaseStaleDone_ = frame_->ProgressDone;
    phaseStaleTotal_ = frame_->ProgressTotal;
  }
  status_ = text;
  for (RunListener* listener : listeners_) listener->OnStatus(text);
}

void ConsoleWindow::NotifyProgress() {
  if (!running_) return;
  const int percent = Progress().percent;
  if (percent == notifiedPercent_ && status_ == notifiedPhase_) return;
  notifiedPercent_ = percent;
  notifiedPhase_ = status_;
  for (RunListener* listener : listeners_) listener->OnProgress(percent, status_);
}

void ConsoleWindow::NotifyQuestion(std::string_view caption, std::string_view text, std::string_view answer) {
  for (RunListener* listener : listeners_) listener->OnQuestion(caption, text, answer);
}

void ConsoleWindow::SetTimeText(std::string_view text) {
  timeText_ = text;
  DrawProgress();
}

void ConsoleWindow::SetProgressPosition(int percent) {
  percent_ = percent;
  NotifyProgress();
  DrawProgress();
}

void ConsoleWindow::SetRunning(bool running) {
  running_ = running;
  if (!running) EraseProgress();
}

void ConsoleWindow::StartTimer1() {
  timerRunning_ = true;
  nextTick_ = Clock::now() + std::chrono::seconds(1);
}

void ConsoleWindow::ProcessMessages() {
  // Timer1Timer pumps messages itself; a tick must not deliver another tick inside it.
  if (inPump_) return;
  inPump_ = true;
  // A Ctrl-C while no operation runs stays pending: the command stops at its first poll once
  // its operation has begun, instead of the press being lost in the idle state.
  if (running_ && InterruptPending() && frame_ != nullptr) {
    ClearInterrupt();
    frame_->StopClick();
  }
  if (timerRunning_ && frame_ != nullptr) {
    // One tick per second that has passed, so that the seconds counter keeps up with the clock
    // even when the command pumps less often than once a second.
    const Clock::time_point now = Clock::now();
    while (timerRunning_ && now >= nextTick_) {
      nextTick_ += std::chrono::seconds(1);
      frame_->Timer1Timer();
    }
  }
  // The commands pump once per unit of work: where the progress line and the events learn how far
  // it has come, also in the loops that set ProgressPercent without moving the bar.
  NotifyProgress();
  DrawProgress();
  inPump_ = false;
}

bool ConsoleWindow::AskYesNo(std::string_view text, std::string_view caption) {
  EraseProgress();
  const std::string question = PrintableLine(std::string(caption) + ": " + std::string(text));
  bool answer = false;
  if (options_.answers != Answers::Ask) {
    answer = options_.answers == Answers::Yes;
    std::fprintf(streams_.err, "%s %s (%s)\n", question.c_str(), answer ? "Yes" : "No",
                 answer ? "--yes" : "--no");
  } else if (!streams_.inIsTerminal) {
    std::fprintf(streams_.err, "%s No (standard input is not a terminal)\n", question.c_str());
  } else {
    std::fprintf(streams_.err, "%s [y/N] ", question.c_str());
    std::fflush(streams_.err);
    char line[64];
    if (std::fgets(line, sizeof line, streams_.in) != nullptr) {
      const char* p = line;
      while (*p == ' ' || *p == '\t') ++p;
      answer = *p == 'y' || *p == 'Y';
    } else {
      std::clearerr(streams_.in);
      std::fputc('\n', streams_.err);
    }
    if (afterUserWait_) afterUserWait_();
  }
  std::fflush(streams_.err);
  NotifyQuestion(caption, text, answer ? "Yes" : "No");
  DrawProgress();
  return answer;
}

bool ConsoleWindow::ExecuteOpenDialog1(bool, std::vector<std::string>& files) {
  if (options_.command == Command::Multi) {
    files = options_.games;
    return !files.empty();
  }
  if (options_.image.empty()) return false;
  files.assign(1, options_.image);
  return true;
}

bool ConsoleWindow::ExecuteOpenDialog3(std::string& file) {
  if (!options_.ips) return false;
  file = options_.ipsPatch;
  return true;
}

bool ConsoleWindow::ExecuteSaveDialog1(std::string& file) {
  if (options_.output.empty()) return false;
  file = options_.output;
  saveDialog1Name_ = file;
  return true;
}

// OK on the item --size names, or on the one the command preselected. Said on standard error,
// where the questions and their answers go.
std::optional<std::int32_t> ConsoleWindow::ShowForm2(int preselectItem) {
  const bool given = options_.sizeItem >= 0;
  const int item = given ? options_.sizeItem : preselectItem;
  EraseProgress();
  std::optional<std::int32_t> CartSizeChunks;
  if (item >= 0 && item < kCartSizeItems) {
    CartSizeChunks = CartSizeChunksOfItem(item);
    std::fprintf(streams_.err, "Select Cart size: %s (%s)\n", kCartSizeNames[item],
                 given ? "--size" : "proposed");
    NotifyQuestion("Select Cart size", "", kCartSizeNames[item]);
  } else {
    std::fprintf(streams_.err, "Select Cart size: CANCEL (nothing proposed)\n");
    NotifyQuestion("Select Cart size", "", "CANCEL");
  }
  std::fflush(streams_.err);
  DrawProgress();
  return CartSizeChunks;
}

// --bank and --size are the choice, confirmed with OK; the defaults are the dialog's own first
// items. The choice is shown on standard error, as the answers to questions are.
std::optional<SaveChoice> ConsoleWindow::ShowForm3(std::optional<SaveChoice>) {
  EraseProgress();
  const std::string choice =
      std::string(kSaveBankItems[options_.saveBank & 3]) + ", " + kSaveSizeItems[options_.saveSize & 3];
  std::fprintf(streams_.err, "Bank and Size Select: %s\n", choice.c_str());
  std::fflush(streams_.err);
  NotifyQuestion("Bank and Size Select", "", choice);
  return SaveChoice{static_cast<std::uint8_t>(options_.saveBank),
                    static_cast<std::uint8_t>(options_.saveSize)};
}

void ConsoleWindow::DrawProgress() {
  if (!streams_.errIsTerminal || !running_) return;
  // An erase counts 128 KB blocks; every other command 32 KB chunks or save units.
  const std::uint32_t unit = status_ == "Cart Erasing..." ? kBlockBytes : kChunkBytes;
  const PhaseProgress progress = Progress();
  progressLine_.Show(status_, progress.percent, progress.done, progress.total, unit, Clock::now());
}

void ConsoleWindow::EraseProgress() { progressLine_.Erase(); }

void ConsoleWindow::FinishProgress() { EraseProgress(); }

}  // namespace brevomat::cli
