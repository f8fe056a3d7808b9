// What the runs of the built program cannot show: questions asked on a terminal, Ctrl-C pressed
// before an operation began, and the progress line, with the standard streams replaced by
// temporary files. (Answers by option, dialogs and radio groups are proven by those runs.)
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "base/Operation.h"
#include "cli/ConsoleWindow.h"

namespace brevomat::cli {
namespace {

std::string Contents(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  for (int c; (c = std::fgetc(f)) != EOF;) s.push_back(static_cast<char>(c));
  return s;
}

class Console : public ::testing::Test {
 protected:
  void SetUp() override {
    streams.out = std::tmpfile();
    streams.err = std::tmpfile();
    streams.in = std::tmpfile();
    ASSERT_TRUE(streams.out && streams.err && streams.in);
    ClearInterrupt();
  }
  void TearDown() override {
    for (std::FILE* f : {streams.out, streams.err, streams.in}) std::fclose(f);
    ClearInterrupt();
  }
  void Input(const std::string& text) {
    std::fputs(text.c_str(), streams.in);
    std::rewind(streams.in);
  }

  CliOptions options;
  ConsoleStreams streams;
};

TEST_F(Console, QuestionsOnTheTerminal) {
  streams.inIsTerminal = true;
  ConsoleWindow w(options, streams);
  Input("  y\n\nyes\n");
  EXPECT_TRUE(w.AskYesNo("Do You want to Erase Flash Data?", "Erase Flash"));
  EXPECT_FALSE(w.AskYesNo("Do You want to Continue?", "File Size Error")) << "an empty answer is No";
  EXPECT_TRUE(w.AskYesNo("Do You want to fix header problem?", "Fix Header"));
  EXPECT_FALSE(w.AskYesNo("Do You want to Continue?", "File Size Error")) << "end of input is No";
  EXPECT_NE(Contents(streams.err).find("Erase Flash: Do You want to Erase Flash Data? [y/N] "),
            std::string::npos);
}

TEST_F(Console, CtrlCIsTheStopButtonEvenWhenPressedEarly) {
  ConsoleWindow w(options, streams);
  OperationFrame frame(w);
  w.AttachFrame(frame);
  InstallInterruptHandler();
  std::raise(SIGINT);
  EXPECT_TRUE(InterruptPending());
  // Pressed before the operation began: kept until the operation's first message pump.
  w.ProcessMessages();
  EXPECT_TRUE(InterruptPending());
  frame.BeginOperation();  // pumps once at its end
  EXPECT_TRUE(frame.StopFlag);
  EXPECT_FALSE(InterruptPending());
  EXPECT_TRUE(frame.PollStop());
  EXPECT_EQ(Contents(streams.out), "Stop process !!!\n");
  // The handler stays for a second press (Windows puts the default back before each call unless
  // the handler installs itself again); leave the test process as it was.
  EXPECT_NE(std::signal(SIGINT, SIG_DFL), SIG_DFL);
#ifndef _WIN32
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGHUP, SIG_DFL);
  std::signal(SIGPIPE, SIG_DFL);
#endif
}

TEST_F(Console, ProgressLineOnlyOnATerminalAndOnlyWhileRunning) {
  streams.errIsTerminal = true;
  ConsoleWindow w(options, streams);
  OperationFrame frame(w);
  w.AttachFrame(frame);
  w.SetProgressPosition(10);
  EXPECT_EQ(Contents(streams.err), "") << "idle: no progress line";
  frame.BeginOperation();
  frame.ProgressPercent = 45;
  frame.UpdateProgressBar();
  frame.LogLine("Cart Erase Ok");
  frame.EndOperation();
  const std::string err = Contents(streams.err);
  EXPECT_NE(err.find(" 45 % [#"), std::string::npos) << err;
  EXPECT_EQ(err.back(), '\r') << "the progress line is wiped when the operation ends";
  EXPECT_EQ(Contents(streams.out), "Cart Erase Ok\n");
}

}  // namespace
}  // namespace brevomat::cli
