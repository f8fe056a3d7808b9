// The console's answers to the commands: questions, dialogs, Ctrl-C as the Stop button, and the
// progress line, with the standard streams replaced by temporary files.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "shell/Operation.h"
#include "shell/cli/ConsoleWindow.h"

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

TEST_F(Console, LogLinesGoToStandardOutputAndStatusIsKept) {
  ConsoleWindow w(options, streams);
  w.AppendLog("PortMode = EPP");
  w.AppendLog("");
  w.SetStatusText("Cart Erasing...");
  w.SetStatusText("Cart Erase Ok");
  EXPECT_EQ(Contents(streams.out), "PortMode = EPP\n\n");
  EXPECT_EQ(w.Status(), "Cart Erase Ok");
  EXPECT_EQ(Contents(streams.err), "") << "no progress line when standard error is no terminal";
  EXPECT_FALSE(w.LogLost());
}

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

TEST_F(Console, QuestionsAnsweredByOptionOrNobody) {
  {
    ConsoleWindow w(options, streams);  // not a terminal, no option: No without reading
    Input("y\n");
    EXPECT_FALSE(w.AskYesNo("Do You want to Continue?", "File Size Error"));
  }
  options.answers = Answers::Yes;
  EXPECT_TRUE(ConsoleWindow(options, streams).AskYesNo("Do You want to Continue?", "File Size Error"));
  options.answers = Answers::No;
  streams.inIsTerminal = true;
  EXPECT_FALSE(ConsoleWindow(options, streams).AskYesNo("Do You want to Continue?", "File Size Error"));
  const std::string err = Contents(streams.err);
  EXPECT_NE(err.find("not a terminal"), std::string::npos);
  EXPECT_NE(err.find("Yes (--yes)"), std::string::npos);
  EXPECT_NE(err.find("No (--no)"), std::string::npos);
}

TEST_F(Console, DialogsAndRadioGroupsComeFromTheOptions) {
  options.image = "game.gba";
  options.portIndex = 1;
  options.speedIndex = 2;
  ConsoleWindow w(options, streams);
  std::vector<std::string> files;
  ASSERT_TRUE(w.ExecuteOpenDialog1(false, files));
  EXPECT_EQ(files, std::vector<std::string>{"game.gba"});
  std::string file;
  EXPECT_FALSE(w.ExecuteOpenDialog3(file)) << "no --ips: the patch dialog is cancelled";
  EXPECT_EQ(w.RadioIpsIndex(), 0);
  EXPECT_EQ(w.PortSelIndex(), 1);
  EXPECT_EQ(w.RadioSpeedIndex(), 2);
  EXPECT_FALSE(w.ExecuteOpenDialog2(file));
  EXPECT_FALSE(w.ExecuteSaveDialog1(file));
  std::int32_t chunks = 77;
  w.ShowForm2(3, chunks);
  EXPECT_EQ(chunks, 0);
  std::uint8_t bank = 1, size = 1;
  w.ShowForm3(bank, size);
  EXPECT_EQ(bank, 255);
  EXPECT_EQ(size, 255);

  options.ips = true;
  options.ipsPatch = "fix.ips";
  ConsoleWindow withIps(options, streams);
  ASSERT_TRUE(withIps.ExecuteOpenDialog3(file));
  EXPECT_EQ(file, "fix.ips");
  EXPECT_EQ(withIps.RadioIpsIndex(), 1);

  options.image.clear();
  EXPECT_FALSE(ConsoleWindow(options, streams).ExecuteOpenDialog1(false, files));
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
  // The handler went back to the default after the first press; leave the test process as it was.
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGPIPE, SIG_DFL);
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
  EXPECT_NE(err.find("\r 45 %  0 Sec"), std::string::npos) << err;
  EXPECT_EQ(err.back(), '\r') << "the progress line is wiped when the operation ends";
  EXPECT_EQ(Contents(streams.out), "Cart Erase Ok\n");
}

}  // namespace
}  // namespace brevomat::cli
