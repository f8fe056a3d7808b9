// The run log's file: what --log refuses before anything is touched, and that every line written
// there (and into the window's log, and as a JSON event) is one line, whatever a name from outside
// holds.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "FakeWindow.h"
#include "base/AtomicOutputFile.h"
#include "base/FileAccess.h"
#include "base/Operation.h"
#include "cli/JsonEvents.h"
#include "cli/RunLog.h"

namespace brevomat::cli {
namespace {

namespace fs = std::filesystem;

class RunLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    dir = fs::temp_directory_path() / ("brevomat-runlog-" + std::to_string(now));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::vector<std::string> Lines(const fs::path& p) const {
    std::ifstream in(p);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  fs::path dir;
};

#ifndef _WIN32
TEST_F(RunLogFile, WhatCannotTakeARunLogIsRefusedUnopenedWithTheReason) {
  const fs::path flash = dir / "flash.bin", target = dir / "target.log";
  std::ofstream(flash) << "cart data";
  std::ofstream(target) << "kept\n";
  ProtectFromOutput(flash.string(), "the virtual cart's own flash.bin");
  ASSERT_EQ(::mkfifo((dir / "fifo.log").c_str(), 0600), 0);
  fs::create_symlink(target, dir / "link.log");
  fs::create_hard_link(flash, dir / "other-name.bin");
  struct Row {
    fs::path path;
    std::string reason;
  };
  const std::vector<Row> rows = {
      {dir / "fifo.log", "it is a FIFO (named pipe): a run log needs a regular file"},
      {"/dev/null", "it is a device: a run log needs a regular file"},
      {dir, "it is a directory"},
      {dir / "link.log", "it is a symbolic link"},
      {flash, "it is the virtual cart's own flash.bin: writing there would destroy the cart"},
      {dir / "other-name.bin",
       "it is the virtual cart's own flash.bin: writing there would destroy the cart"},
  };
  for (const Row& row : rows) {
    // A FIFO with no reader would hold an open for writing for good: the look must come first.
    auto opened = std::async(std::launch::async, [&row] {
      RunLog log;
      std::string error;
      const bool ok = log.Open(row.path.string(), error);
      return ok ? std::string("opened") : error;
    });
    if (opened.wait_for(std::chrono::seconds(1)) != std::future_status::ready) {
      ADD_FAILURE() << row.path << " held the program";
      const int reader = ::open(row.path.c_str(), O_RDONLY | O_NONBLOCK);  // lets it go
      opened.wait();
      ::close(reader);
      continue;
    }
    EXPECT_EQ(opened.get(), row.reason) << row.path;
  }
  EXPECT_EQ(Lines(target), std::vector<std::string>{"kept"});
  EXPECT_EQ(fs::file_size(flash), 9u);
}
#endif

// A name from outside (a file name, a DAT's game name, a cart header) with a line break or a
// terminal's escape sequence in it, as the window's log and the run log show it.
TEST_F(RunLogFile, NamesFromOutsideNeverForgeALine) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"FileName = a.gba\nstatus: Read Flash ok", "FileName = a.gba\\nstatus: Read Flash ok"},
      {"dat: Game\ncrc32: deadbeef\r\n", "dat: Game\\ncrc32: deadbeef\\r\\n"},
      {"FileName = \x1b[2J\x1b]0;title\x07.gba", "FileName = \\x1b[2J\\x1b]0;title\\x07.gba"},
      {"Game Name = \tTAB\x7f", "Game Name = \\tTAB\\x7f"},
      {"C1 CSI \xc2\x9b"
       "31m",
       "C1 CSI \\u009b31m"},
      {std::string("NUL \0 cut", 9), "NUL \\x00 cut"},
      {"dat: A\xe2\x80\xa8status: ok\xe2\x80\xa9"
       "B\xc2\x85"
       "C",
       "dat: A\\u2028status: ok\\u2029B\\u0085C"},
      {"kept: C:\\games\\\xc3\xa9t\xc3\xa9.gba", "kept: C:\\games\\\xc3\xa9t\xc3\xa9.gba"},
  };
  const fs::path path = dir / "run.log";
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> events(std::tmpfile(), std::fclose);
  ASSERT_TRUE(events);
  {
    testing::FakeWindow window;
    OperationFrame frame(window);
    RunLog log;
    JsonEvents json(events.get());
    std::string error;
    ASSERT_TRUE(log.Open(path.string(), error)) << error;
    for (const auto& [text, shown] : rows) {
      frame.LogLine(text);
      log.OnQuestion(text, "", "Yes");
      json.OnQuestion(text, "", "Yes");
    }
    ASSERT_EQ(window.log.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(window.log[i], rows[i].second) << i;
  }
  const std::vector<std::string> lines = Lines(path);
  ASSERT_EQ(lines.size(), rows.size() + 1);  // and the first line, with the back end
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string& line = lines[i + 1];
    EXPECT_EQ(line.substr(line.find("] ? ") + 4), rows[i].second + " Yes") << i;
  }
  // JSON escapes them its own way: the text comes back whole, and no byte a reader might split a
  // line at stands raw in the line.
  std::rewind(events.get());
  char buffer[512];
  for (const auto& [text, shown] : rows) {
    ASSERT_NE(std::fgets(buffer, sizeof buffer, events.get()), nullptr);
    const std::string line = buffer;
    EXPECT_EQ(nlohmann::json::parse(line)["caption"], text) << line;
    for (const char* raw : {"\xe2\x80\xa8", "\xe2\x80\xa9", "\xc2\x85", "\xc2\x9b"})
      EXPECT_EQ(line.find(raw), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace brevomat::cli
