// Test helpers for the window: a dialog provider that answers from queues and records what was
// asked, a temporary working directory per test, and the window on a recording port.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/DialogProvider.h"
#include "gui/MainWindow.h"
#include "support/RecordingBackend.h"

namespace brevomat::testing {

// A control of the window, found by its object name as a user's automation tool would find it.
template <typename T>
T* Ctl(QObject& window, const char* name) {
  T* control = window.findChild<T*>(QString::fromLatin1(name));
  if (control == nullptr) {
    ADD_FAILURE() << "no control named " << name;
    std::abort();
  }
  return control;
}

// Clicks a radio item on its indicator, as a user would.
inline void ClickItem(gui::RadioGroup* group, int index) {
  QRadioButton* item = group->Item(index);
  QTest::mouseClick(item, Qt::LeftButton, {}, QPoint(6, item->height() / 2));
}

// Lets events run until `done` holds, for at most five seconds.
template <typename Done>
bool WaitFor(Done done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 5000) QTest::qWait(10);
  return done();
}

class ScriptedDialogs final : public gui::DialogProvider {
 public:
  struct Question {
    QString text, caption;
  };
  struct FileDialogUse {
    std::string name;
    QString filter;
    bool multiSelect;
    QString currentFile;
  };

  std::deque<bool> answers;             // Yes/No; No when empty
  std::deque<QStringList> fileAnswers;  // empty list = cancel; cancel when the queue is empty
  std::vector<Question> questions;
  std::vector<FileDialogUse> fileDialogs;
  std::vector<QString> exceptions;
  // Runs in place of a modal Form2/Form3; default: the dialog's exec() loop.
  std::function<void(QDialog&)> onModal;
  // Runs while a file dialog is "open", before it answers.
  std::function<void()> onFileDialog;

  bool AskYesNo(QWidget*, const QString& text, const QString& caption) override {
    questions.push_back({text, caption});
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  }
  QStringList RunFileDialog(QWidget*, const FileDialogEntry& dialog, bool multiSelect,
                            const QString& currentFile) override {
    fileDialogs.push_back({dialog.name, QString::fromLatin1(dialog.filter), multiSelect, currentFile});
    if (onFileDialog) onFileDialog();
    if (fileAnswers.empty()) return {};
    QStringList a = fileAnswers.front();
    fileAnswers.pop_front();
    return a;
  }
  void ShowModal(QDialog& dialog) override {
    if (onModal)
      onModal(dialog);
    else
      dialog.exec();
  }
  void ShowException(QWidget*, const QString& message) override { exceptions.push_back(message); }
};

// Each test runs in its own empty working directory, as a user starting the program there.
class InTempDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    previous_ = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
    // Kept saves and DAT files come from the user's data folder: here one inside the test's own.
    hadData_ = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    previousData_ = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dir_.filePath(QStringLiteral("data")).toLocal8Bit());
  }
  void TearDown() override {
    QDir::setCurrent(previous_);
    if (hadData_)
      qputenv("XDG_DATA_HOME", previousData_);
    else
      qunsetenv("XDG_DATA_HOME");
  }

  QString Path(const QString& name) const { return dir_.filePath(name); }
  std::string ConfigPath() const { return dir_.filePath(QStringLiteral("config.sav")).toStdString(); }

  std::unique_ptr<gui::TForm1> Start(bool driverActive = true) {
    return std::make_unique<gui::TForm1>(std::make_unique<FixedPortDriver>(port, driverActive), &dialogs);
  }

  QTemporaryDir dir_;
  QString previous_;
  QByteArray previousData_;
  bool hadData_ = false;
  RecordingBackend port;
  ScriptedDialogs dialogs;
};

}  // namespace brevomat::testing
