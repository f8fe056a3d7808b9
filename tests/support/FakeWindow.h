// A scripted stand-in for the main window: records everything a command shows and answers its
// questions and dialogs from queues. It can press Stop at a chosen message pump and deliver
// timer ticks every so many pumps.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Operation.h"
#include "base/Window.h"

namespace brevomat::testing {

class FakeWindow final : public Window, public WindowDisplay {
 public:
  // --- what was shown ---------------------------------------------------------------------------
  std::vector<std::string> log;
  std::string status;
  std::vector<std::string> statusHistory;
  std::string timeText;
  int progress = 0;
  std::vector<int> progressHistory;
  bool running = false;
  bool timerRunning = false;
  std::uint64_t pumps = 0;
  struct Question {
    std::string text, caption;
  };
  std::vector<Question> questions;
  int form2Shown = 0, form3Shown = 0;
  int form2Preselect = -1;
  int openDialog3Shown = 0;
  bool recordProgress = true;  // switch off for allocation-free runs

  // --- scripted answers -------------------------------------------------------------------------
  std::deque<bool> answers;                                         // Yes/No questions; No when empty
  std::deque<std::optional<std::vector<std::string>>> openDialog1;  // nullopt = cancel
  std::deque<std::optional<std::string>> openDialog2, openDialog3, saveDialog1;
  std::string saveDialog1Name;  // SaveDialog1's current file name
  // Form2: the item to "click" before OK; nullopt = press CANCEL; -2 = close box.
  std::deque<std::optional<int>> form2;
  // Form3: {bank, size} and OK; nullopt = CANCEL; {-2,-2} = close box.
  std::deque<std::optional<std::pair<int, int>>> form3;
  int portSel = 0, radioSpeed = 0, radioIps = 0;

  // Stop is pressed at this (1-based) message pump, while an operation runs.
  std::uint64_t stopAtPump = 0;
  // A Timer1 tick is delivered every this many pumps while the timer runs (0 = never).
  std::uint64_t tickEveryPumps = 0;
  OperationFrame* frame = nullptr;  // needed for Stop and timer ticks
  std::function<void(std::uint64_t pump)> onPump;

  // --- Window -----------------------------------------------------------------------------------
  WindowDisplay& Display() override { return *this; }
  void AppendLog(std::string_view line) override { log.emplace_back(line); }
  void SetStatusText(std::string_view text) override {
    status = text;
    statusHistory.emplace_back(text);
  }
  void SetTimeText(std::string_view text) override { timeText = text; }
  void SetProgressPosition(int percent) override {
    progress = percent;
    if (recordProgress) progressHistory.push_back(percent);
  }
  void SetRunning(bool r) override { running = r; }
  void StartTimer1() override { timerRunning = true; }
  void StopTimer1() override { timerRunning = false; }
  void ProcessMessages() override {
    if (inPump_) return;
    inPump_ = true;
    ++pumps;
    if (onPump) onPump(pumps);
    if (frame != nullptr) {
      if (stopAtPump != 0 && pumps == stopAtPump) frame->StopClick();
      if (tickEveryPumps != 0 && timerRunning && pumps % tickEveryPumps == 0) frame->Timer1Timer();
    }
    inPump_ = false;
  }
  bool AskYesNo(std::string_view text, std::string_view caption) override {
    questions.push_back({std::string(text), std::string(caption)});
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  }
  bool ExecuteOpenDialog1(bool multi, std::vector<std::string>& files) override {
    lastOpenDialog1Multi = multi;
    if (openDialog1.empty() || !openDialog1.front()) {
      if (!openDialog1.empty()) openDialog1.pop_front();
      return false;
    }
    files = *openDialog1.front();
    openDialog1.pop_front();
    return true;
  }
  bool ExecuteOpenDialog2(std::string& file) override { return Take(openDialog2, file); }
  bool ExecuteOpenDialog3(std::string& file) override {
    ++openDialog3Shown;
    return Take(openDialog3, file);
  }
  bool ExecuteSaveDialog1(std::string& file) override {
    if (!Take(saveDialog1, file)) return false;
    saveDialog1Name = file;
    return true;
  }
  std::string SaveDialog1FileName() override { return saveDialog1Name; }
  std::optional<std::int32_t> ShowForm2(int preselectItem) override {
    ++form2Shown;
    form2Preselect = preselectItem;
    std::optional<int> choice = preselectItem;
    if (!form2.empty()) {
      choice = form2.front();
      form2.pop_front();
    }
    // CANCEL, the close box (-2) and OK on no item give nothing.
    if (!choice || *choice < 0 || *choice > 5) return std::nullopt;
    return 32 << *choice;
  }
  std::optional<SaveChoice> ShowForm3(std::optional<SaveChoice> before) override {
    ++form3Shown;
    std::optional<std::pair<int, int>> choice = std::pair<int, int>{0, 0};
    if (!form3.empty()) {
      choice = form3.front();
      form3.pop_front();
    }
    if (!choice) return std::nullopt;        // CANCEL
    if (choice->first == -2) return before;  // close box
    return SaveChoice{static_cast<std::uint8_t>(choice->first), static_cast<std::uint8_t>(choice->second)};
  }
  int PortSelIndex() override { return portSel; }
  int RadioSpeedIndex() override { return radioSpeed; }
  int RadioIpsIndex() override { return radioIps; }

  bool lastOpenDialog1Multi = false;

 private:
  static bool Take(std::deque<std::optional<std::string>>& q, std::string& file) {
    if (q.empty()) return false;
    std::optional<std::string> v = q.front();
    q.pop_front();
    if (!v) return false;
    file = *v;
    return true;
  }
  bool inPump_ = false;
};

}  // namespace brevomat::testing
