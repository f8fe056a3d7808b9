// --log FILE: the run appended to a file, written as it goes so that a crash still leaves the lines
// so far:
//   2026-12-09 17:03:12 brevomat-cli 1.2: brevomat-cli --virtual demo write game.gba; back end: virtual cart
//   demo [   0.004] PortMode = EPP
//   ...
//   [   1.362] ? File Size Error: Do You want to Continue? Yes
//   crc32: f225a268                (the result's figures, if any)
//   status: Write Cart ok
//   exit: 0
// Each run ends with an empty line, so that runs stay apart. Every line is flushed as it is
// written; the file is synced when the run ends.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/RunEvents.h"

namespace brevomat::cli {

// Why `path` cannot take a run log, or the empty text when it can (absent: it will be created): a
// symbolic link, a directory, a FIFO, a device, a socket, or a file no output may touch (the
// virtual cart's own files, by what they are on the disk). Looks only; never opens `path`.
std::string RunLogRefusal(const std::string& path);

class RunLog final : public RunListener {
 public:
  RunLog() = default;
  ~RunLog() override;
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Opens `path` for appending: created if missing, never through a symbolic link, only a regular
  // file, never a file RunLogRefusal refuses (which is looked at first, so a FIFO is never opened
  // and nothing waits). False, with the reason in `error`, when that is not possible.
  bool Open(const std::string& path, std::string& error);
  // The first line: date and time, version, the command line as given (taken now), and the back end
  // that carries the port operations ("virtual cart DIR", "ioperm, direct to the I/O ports"), written
  // by BackEnd once it is open, or with "none" by the result of a run that never got one.
  void Begin(const std::vector<std::string>& commandLine);
  void BackEnd(std::string_view text);
  bool Lost() const { return lost_; }

  void OnLog(std::string_view text) override;
  void OnStatus(std::string_view) override {}
  void OnProgress(int, std::string_view) override {}
  void OnQuestion(std::string_view caption, std::string_view text, std::string_view answer) override;
  void OnResult(const RunResult& result) override;

 private:
  void Line(const std::string& text);
  std::string Stamp() const;

  std::FILE* file_ = nullptr;
  std::string header_;
  bool headerWritten_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  bool lost_ = false;
};

}  // namespace brevomat::cli
