// The presenter on a view that records what it is told and answers from scripts, each test in a
// working directory of its own: what both windows do alike, tested once, on every platform.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "commands/Settings.h"
#include "form/Form1Presenter.h"
#include "support/RecordingBackend.h"

namespace brevomat::testing {

class RecordingView final : public FormView {
 public:
  struct FileDialogUse {
    std::string name, filter, currentFile;
    bool multiSelect;
  };

  std::vector<std::string> log;
  std::string status;
  std::map<std::string, bool> enabled;
  std::set<std::string> hidden;
  std::map<std::string, int> items{{"Port_sel", 0}, {"RadioSpeed", 0}, {"RadioIps", 0}};
  int width = 418, height = 418;
  std::vector<FileDialogUse> fileDialogs;
  std::deque<std::vector<std::string>> fileAnswers;  // none = cancel; cancel when none is left
  std::deque<DialogAnswer> dialogAnswers;            // Form2 and Form3; the close box when none is left
  std::vector<int> form2Preselected;
  std::optional<int> quitStatus;
  bool answer = false;
  int questions = 0;
  int closesAsked = 0;
  std::string workingDirectory;
  std::function<void()> duringFileDialog, atEndProgram;

  void AppendLog(std::string_view line) override { log.emplace_back(line); }
  void ClearLog() override { log.clear(); }
  void SetStatusText(std::string_view text) override { status = text; }
  void SetTimeText(std::string_view) override {}
  void SetProgressPosition(int) override {}
  void SetControlEnabled(const ControlEntry& control, bool on) override { enabled[control.name] = on; }
  void HideControl(const ControlEntry& control) override { hidden.insert(control.name); }
  int ItemIndex(const ControlEntry& group) const override { return items.at(group.name); }
  // As both windows' radio groups take it: an index past the items selects the last one, one
  // below -1 none.
  void SetItemIndex(const ControlEntry& group, int index) override {
    items[group.name] = ClampItemIndex(index, static_cast<int>(group.items.size()));
  }
  void PlaceWindow(int w, int h) override { width = w, height = h; }
  int OuterWidth() const override { return width; }
  int OuterHeight() const override { return height; }
  void StartTimer1() override {}
  void StopTimer1() override {}
  void ProcessMessages() override {}
  bool AskYesNo(std::string_view, std::string_view, bool) override {
    ++questions;
    return answer;
  }
  std::vector<std::string> RunFileDialog(const FileDialogEntry& dialog, bool multiSelect,
                                         const std::string& current) override {
    fileDialogs.push_back({dialog.name, dialog.filter, current, multiSelect});
    if (duringFileDialog) duringFileDialog();
    return Next(fileAnswers);
  }
  DialogAnswer RunForm2(int preselectItem) override {
    form2Preselected.push_back(preselectItem);
    return Next(dialogAnswers);
  }
  DialogAnswer RunForm3() override { return Next(dialogAnswers); }
  void CloseLater() override { ++closesAsked; }
  void EndProgram(int status) override {
    if (atEndProgram) atEndProgram();
    quitStatus = status;
  }
  std::string ProgramFolder() const override { return workingDirectory; }
  std::string WorkingDirectory() const override { return workingDirectory; }

 private:
  template <typename T>
  static T Next(std::deque<T>& queue) {
    if (queue.empty()) return T{};
    T next = queue.front();
    queue.pop_front();
    return next;
  }
};

inline std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Each test in its own empty working directory, as a user starting the program there.
class PresenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ =
        std::filesystem::temp_directory_path() /
        ("brevomat-form-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(directory_);
    std::filesystem::create_directories(directory_);
    view = std::make_unique<RecordingView>();
    view->workingDirectory = directory_.string();
  }
  void TearDown() override {
    presenter.reset();
    std::error_code ec;
    std::filesystem::permissions(directory_ / "config.sav", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(directory_, ec);
  }
  // A start of the program in the directory: the window as designed, the scripted answers kept.
  Form1Presenter& Start(bool driverActive = true) {
    presenter.reset();
    view->log.clear();
    view->enabled.clear();
    view->hidden.clear();
    view->items = {{"Port_sel", 0}, {"RadioSpeed", 0}, {"RadioIps", 0}};
    view->width = view->height = 418;
    view->quitStatus.reset();
    presenter =
        std::make_unique<Form1Presenter>(*view, std::make_unique<FixedPortDriver>(port, driverActive));
    presenter->ReportToStandardError = [this](std::string_view line) { standardError.emplace_back(line); };
    presenter->Setup();
    return *presenter;
  }
  std::filesystem::path Config() const { return directory_ / "config.sav"; }
  std::string File(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    WriteFile(directory_ / name, bytes);
    return (directory_ / name).string();
  }

  std::filesystem::path directory_;
  RecordingBackend port;
  std::unique_ptr<RecordingView> view;
  std::unique_ptr<Form1Presenter> presenter;
  std::vector<std::string> standardError;
};

}  // namespace brevomat::testing
