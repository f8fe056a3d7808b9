// The operation frame: states, the seconds counter, Stop, and the file operations.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "FakeWindow.h"
#include "TestImages.h"
#include "base/AtomicOutputFile.h"
#include "base/FileAccess.h"
#include "commands/Core.h"

namespace brevomat {
namespace {

namespace fs = std::filesystem;
using testing::FakeWindow;

class OperationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("brevomat-op-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    window.frame = &frame;
  }
  void TearDown() override {
    frame.CloseCurrentFile();
    fs::remove_all(dir);
  }
  std::string WriteFile(const std::string& name, std::size_t bytes) {
    const fs::path p = dir / name;
    std::ofstream(p, std::ios::binary) << std::string(bytes, 'x');
    return p.string();
  }
  FakeWindow window;
  OperationFrame frame{window};
  fs::path dir;
};

TEST(NumberToTextTest, PlainDecimal) {
  EXPECT_EQ(NumberToText(-5), "-5");
  EXPECT_EQ(NumberToText(0), "0");
  EXPECT_EQ(NumberToText(8388608), "8388608");
  EXPECT_EQ(NumberToText(INT32_MIN), "-2147483648");
}

TEST_F(OperationTest, BeginAndEndSwitchStatesAndTimer) {
  frame.BeginOperation();
  EXPECT_FALSE(frame.StopFlag);
  EXPECT_TRUE(window.running);
  EXPECT_TRUE(window.timerRunning);
  EXPECT_EQ(window.timeText, "0 Sec");
  frame.Timer1Timer();
  frame.Timer1Timer();
  frame.Timer1Timer();
  EXPECT_EQ(window.timeText, "3 Sec");
  frame.EndOperation();
  frame.EndOperation();  // safe twice
  EXPECT_TRUE(frame.StopFlag);
  EXPECT_FALSE(window.running);
  EXPECT_FALSE(window.timerRunning);
  frame.LogElapsedTime();
  EXPECT_EQ(window.log.back(), "Time = 3 Sec");
}

TEST_F(OperationTest, StopIsSeenAtTheNextPollAndAborts) {
  frame.BeginOperation();
  EXPECT_FALSE(frame.PollStop());
  window.stopAtPump = window.pumps + 1;
  EXPECT_TRUE(frame.PollStop());
  EXPECT_EQ(window.log, (std::vector<std::string>{"Stop process !!!"}));
  EXPECT_FALSE(window.running);
}

TEST_F(OperationTest, ClearOperationDisplayKeepsProgressPercent) {
  frame.ProgressPercent = 42;
  frame.UpdateProgressBar();
  window.SetStatusText("Write Cart ok");
  frame.ClearOperationDisplay();
  EXPECT_EQ(window.progress, 0);
  EXPECT_EQ(window.status, "");
  EXPECT_EQ(window.timeText, "");
  EXPECT_EQ(frame.ProgressPercent, 42);
}

TEST_F(OperationTest, ProgressIsTruncatedPercent) {
  frame.SetProgress(1, 64);
  EXPECT_EQ(frame.ProgressPercent, 1);
  frame.SetProgress(3, 8);
  EXPECT_EQ(frame.ProgressPercent, 37);
  frame.SetProgress(127, 128);
  EXPECT_EQ(frame.ProgressPercent, 99);
}

TEST_F(OperationTest, ShortReadLoadsWhatThereIsAndReportsIt) {
  StoreFileName(frame.ImageFileName, WriteFile("short.bin", 10000));
  ASSERT_EQ(frame.OpenInputFile(), 0);
  EXPECT_EQ(frame.CurrentFileLength(), 10000u);
  frame.Buffer[9999] = 0;
  frame.Buffer[10000] = 0x55;
  EXPECT_FALSE(frame.ReadFileBlock(32768));
  EXPECT_EQ(frame.Buffer[9999], 'x');
  EXPECT_EQ(frame.Buffer[10000], 0x55);
  ASSERT_EQ(window.log.size(), 1u);
  EXPECT_EQ(window.log[0].rfind("Read ErrNo=", 0), 0u);
  EXPECT_GT(window.log[0].size(), std::string("Read ErrNo=").size());
  EXPECT_EQ(window.log[0].find("Success"), std::string::npos);
}

TEST_F(OperationTest, MissingFilesAndNamesFailWithMessage) {
  StoreFileName(frame.ImageFileName, (dir / "nope.gba").string());
  EXPECT_EQ(frame.OpenInputFile(), -1);
  window.saveDialog1Name.clear();
  EXPECT_EQ(frame.OpenOutputFile(), -1);
  EXPECT_EQ(window.log, (std::vector<std::string>{"File Open Error!!!", "File Open Error!!!"}));
  EXPECT_EQ(frame.CurrentFile, nullptr);
}

// Files in the folder besides `keep`: a leftover temporary file shows up here.
std::vector<std::string> Others(const fs::path& dir, const std::vector<std::string>& keep) {
  std::vector<std::string> others;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (std::find(keep.begin(), keep.end(), name) == keep.end()) others.push_back(name);
  }
  return others;
}

TEST_F(OperationTest, OutputReplacesItsFileOnlyWhenComplete) {
  // How the output ends, what it has written, and what the file and NAME.part hold afterwards.
  enum class End { Complete, Abandoned, FileTooLarge };
  struct Row {
    const char* what;
    End end;
    int blocks;        // 2-byte blocks written
    std::string file;  // the file afterwards ("old" is the earlier one)
    std::string part;  // NAME.part afterwards; "-" for none
    std::vector<std::string> log;
  };
  const std::vector<Row> rows = {
      {"complete", End::Complete, 2, "ABAB", "-", {}},
      {"failed or stopped after two blocks", End::Abandoned, 2, "old", "ABAB", {}},
      {"ended before any block", End::Abandoned, 0, "old", "-", {}},
      {"a block cut short by a full disk",
       End::FileTooLarge,
       3,
       "old",
       "ABAB",
       {"Write ErrNo=File too large"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
#ifdef _WIN32
    if (row.end == End::FileTooLarge) continue;  // no file size limits
#endif
    window.log.clear();
    const std::string name = WriteFile("out.bin", 0);
    std::ofstream(name, std::ios::binary) << "old";
    fs::remove(name + ".part");
    window.saveDialog1Name = name;
    ASSERT_EQ(frame.OpenOutputFile(), 0);
    frame.Buffer[0] = 'A';
    frame.Buffer[1] = 'B';
#ifndef _WIN32
    // A size limit of 5 bytes lets the third block only half in, as a disk that fills up would.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (row.end == End::FileTooLarge) {
      rlimit tight = old;
      tight.rlim_cur = 5;
      setrlimit(RLIMIT_FSIZE, &tight);
    }
#endif
    for (int i = 0; i < row.blocks; ++i) frame.WriteFileBlock(2);
#ifndef _WIN32
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
#endif
    EXPECT_EQ(fs::file_size(name), 3u) << "the file changed during the output";
    if (row.end == End::Complete)
      EXPECT_TRUE(frame.CloseOutputFile());
    else
      frame.CloseCurrentFile();
    EXPECT_EQ(frame.CurrentFile, nullptr);
    const auto bytes = testing::ReadBytes(name);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), row.file);
    if (row.part == "-") {
      EXPECT_FALSE(fs::exists(name + ".part"));
      EXPECT_EQ(frame.PartialOutput(), "");
    } else {
      const auto part = testing::ReadBytes(name + ".part");
      EXPECT_EQ(std::string(part.begin(), part.end()), row.part);
      EXPECT_EQ(frame.PartialOutput(), name + ".part");
      EXPECT_EQ(frame.PartialOutputBytes(), row.part.size());
    }
    EXPECT_EQ(frame.OutputStillInPlace(), row.end == End::Complete);
    EXPECT_EQ(window.log, row.log);
    EXPECT_EQ(Others(dir, {"out.bin", "out.bin.part"}), std::vector<std::string>{})
        << "a temporary file is left";
  }
}

// A program ended by a signal (a second Ctrl-C) removes its unfinished output on the way out,
// while the file is still open: Windows allows that only to a file opened for it.
TEST_F(OperationTest, AnOutputBeingWrittenCanBeRemovedOnTheWayOut) {
  window.saveDialog1Name = (dir / "out.bin").string();
  ASSERT_EQ(frame.OpenOutputFile(), 0);
  frame.WriteFileBlock(2);
  ASSERT_EQ(Others(dir, {}).size(), 1u) << "the temporary file";
  RemoveTemporaryOutputsNow();
  frame.CloseCurrentFile();  // the program's end closes it
  EXPECT_EQ(Others(dir, {}), std::vector<std::string>{});
}

TEST_F(OperationTest, OutputsThatCannotHoldABackupAreRefusedWithTheirReason) {
  const std::string cartFile = WriteFile("flash.bin", 16);
  ProtectFromOutput(cartFile, "the virtual cart's own flash.bin");
  struct Row {
    std::string name, reason;
  };
  std::vector<Row> rows = {
      {dir.string(), "it is a directory"},
      {(dir / "no-folder" / "out.bin").string(), "No such file or directory (its folder does not exist)"},
      {"", "no file name was given"},
      {cartFile, "it is the virtual cart's own flash.bin: writing there would destroy the cart"},
  };
#ifndef _WIN32
  fs::create_symlink(cartFile, dir / "link.bin");
  fs::create_hard_link(cartFile, dir / "hard.bin");
  const std::string fifo = (dir / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  rows.push_back({(dir / "link.bin").string(), rows.back().reason});
  rows.push_back({(dir / "hard.bin").string(), rows.back().reason});
  rows.push_back({"/dev/null", "it is a device: a backup needs a regular file"});
  rows.push_back({fifo,
                  "it is a FIFO (named pipe), which passes data on instead of keeping it: a backup needs a "
                  "regular file"});
#endif
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    window.log.clear();
    window.saveDialog1Name = row.name;
    // A FIFO without a reader would block an open for good: the refusal must come without one.
    auto opened = std::async(std::launch::async, [&] { return frame.OpenOutputFile(); });
    ASSERT_EQ(opened.wait_for(std::chrono::seconds(1)), std::future_status::ready) << "the open blocks";
    EXPECT_EQ(opened.get(), -1);
    EXPECT_EQ(window.log, std::vector<std::string>{"File Open Error!!!"});
    EXPECT_EQ(frame.LastOpenFailure().file, row.name);
    EXPECT_EQ(frame.LastOpenFailure().reason, row.reason);
  }
  EXPECT_EQ(testing::ReadBytes(cartFile).size(), 16u);
  EXPECT_EQ(OutputRefusal((dir / "new.bin").string()), "");
}

// What a path names, with a link followed or not; what cannot be looked at is absent.
TEST_F(OperationTest, KindOfFileTellsWhatAPathNames) {
  const std::string file = WriteFile("a.bin", 1);
  struct Row {
    fs::path path;
    bool followLinks;
    FileKind kind;
  };
  std::vector<Row> rows = {{file, true, FileKind::Regular},
                           {dir, true, FileKind::Directory},
                           {dir / "none", true, FileKind::Absent}};
#ifndef _WIN32
  fs::create_symlink(file, dir / "link");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  rows.push_back({dir / "link", true, FileKind::Regular});
  rows.push_back({dir / "link", false, FileKind::Link});
  rows.push_back({dir / "fifo", true, FileKind::Fifo});
  rows.push_back({"/dev/null", true, FileKind::Device});
#endif
  for (const Row& row : rows)
    EXPECT_EQ(KindOfFile(row.path.string(), row.followLinks), row.kind) << row.path << row.followLinks;
}

// config.sav and a trimmed backup are replaced in one step: the file holds the old bytes or all
// of the new ones, a target that is no file is left alone, and nothing else stays in the folder.
TEST_F(OperationTest, ReplaceFileContentsPutsAllTheBytesOrNone) {
  fs::create_directory(dir / "folder");
  const struct {
    const char* name;
    std::size_t before;  // bytes the file holds first; 0: absent
    bool replaced;
  } rows[] = {{"new.sav", 0, true}, {"longer.sav", 2000, true}, {"folder", 0, false}};
  const std::string bytes(796, '\x5A');
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string name = row.before > 0 ? WriteFile(row.name, row.before) : (dir / row.name).string();
    EXPECT_EQ(ReplaceFileContents(name.c_str(), bytes.data(), bytes.size()), row.replaced);
    if (row.replaced) {
      std::ifstream in(name, std::ios::binary);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes);
    } else {
      EXPECT_TRUE(fs::is_directory(name));
    }
  }
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir)) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"folder", "longer.sav", "new.sav"}));
}

#ifndef _WIN32
// What the programs' signal handlers do on an ending signal (a second Ctrl-C, a hang-up, kill).
extern "C" void EndAsTheProgramsDo(int sig) {
  RemoveTemporaryOutputsNow();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// A trimmed backup or config.sav being replaced when the program is ended: the file is whole (old
// or new) and no temporary file stays beside it. The child replaces the file over and over; the
// signal comes once a temporary file has been seen, so it falls inside a replacement.
TEST_F(OperationTest, AnEndingSignalDuringAReplacementLeavesNoTemporaryFile) {
  const std::string name = (dir / "dump.gba").string();
  const std::string bytes(8u << 20, '\x5A');
  for (const int sig : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(sig);
    ASSERT_TRUE(ReplaceFileContents(name.c_str(), bytes.data(), bytes.size()));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::signal(sig, EndAsTheProgramsDo);
      for (;;) ReplaceFileContents(name.c_str(), bytes.data(), bytes.size());
    }
    bool seen = false;
    for (int waited = 0; !seen && waited < 10000; ++waited) {
      seen = Others(dir, {"dump.gba"}).size() == 1;
      if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(child, sig);
    int status = 0;
    pid_t ended = 0;
    for (int waited = 0; ended == 0 && waited < 10000; ++waited) {
      ended = ::waitpid(child, &status, WNOHANG);
      if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (ended == 0) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      FAIL() << "the child did not end on the signal";
    }
    EXPECT_TRUE(seen) << "no temporary file was ever seen";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig);
    EXPECT_EQ(Others(dir, {"dump.gba"}), std::vector<std::string>{}) << "a temporary file is left";
    EXPECT_EQ(fs::file_size(name), bytes.size());
  }
}
#endif

TEST(StoreFileNameTest, NamesThatDoNotFitAreNotStored) {
  char field[kFileNameBytes];
  EXPECT_TRUE(StoreFileName(field, std::string(259, 'a')));
  EXPECT_EQ(std::string(field).size(), 259u);
  EXPECT_FALSE(StoreFileName(field, std::string(260, 'a')));
  EXPECT_STREQ(field, "");
}

TEST(TransferBufferTest, WordsAreLittleEndianBytePairs) {
  TransferBuffer b;
  b.SetWord(3, 0xA1B2);
  EXPECT_EQ(b[6], 0xB2);
  EXPECT_EQ(b[7], 0xA1);
  EXPECT_EQ(b.Word(3), 0xA1B2);
}

}  // namespace
}  // namespace brevomat
