// The operation frame: states, the seconds counter, Stop, and the file operations.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FakeWindow.h"
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

TEST_F(OperationTest, OutputFileIsTruncatedAndWritten) {
  window.saveDialog1Name = WriteFile("out.bin", 5000);
  ASSERT_EQ(frame.OpenOutputFile(), 0);
  frame.Buffer.SetWord(0, 0x1234);
  ASSERT_TRUE(frame.WriteFileBlock(2));
  frame.CloseCurrentFile();
  EXPECT_EQ(fs::file_size(window.saveDialog1Name), 2u);
}

TEST_F(OperationTest, FullDiskIsReportedAtTheBlock) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  window.saveDialog1Name = "/dev/full";
  ASSERT_EQ(frame.OpenOutputFile(), 0);
  EXPECT_FALSE(frame.WriteFileBlock(32768));
  ASSERT_EQ(window.log.size(), 1u);
  EXPECT_EQ(window.log[0], "Write ErrNo=No space left on device");
}

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
