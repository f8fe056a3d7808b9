// The progress line brevomat-cli keeps on a terminal's standard error while a command runs:
//
//   Writing...    37 % [##########----------------]   104.6 KiB/s   1:41 left
//
// the phase (the status text), the percentage, a bar that fills the rest of the terminal's width,
// the throughput and the time left. Both come from the units done since the phase began (32 KB
// chunks or save units, 128 KB blocks for an erase) and the time that took, so they settle after a
// few units; until then they show as "--". Redrawn at most five times a second, and at once after
// it was erased for another line.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace brevomat::cli {

// The columns of the terminal behind `stream`; 80 when it does not say.
int TerminalWidth(std::FILE* stream);

// The line for these figures, at most width - 1 columns (the last column would wrap on some
// terminals). kibPerSecond and secondsLeft below 0 are not known yet.
std::string FormatProgressLine(std::string_view phase, int percent, double kibPerSecond, double secondsLeft,
                               int width);

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kRedrawInterval = std::chrono::milliseconds(200);

  explicit ProgressLine(std::FILE* stream) : stream_(stream) {}

  // The phase has `done` of `total` units of `unitBytes` behind it. Draws the line unless it was
  // drawn less than kRedrawInterval ago (a new phase is drawn at once).
  void Show(std::string_view phase, int percent, std::uint32_t done, std::uint32_t total,
            std::uint32_t unitBytes, Clock::time_point now);
  // Clears the line, so that another line can take its place.
  void Erase();
  bool Shown() const { return shown_; }

 private:
  std::FILE* stream_;
  std::string phase_;
  Clock::time_point phaseStart_{};
  std::uint32_t phaseStartDone_ = 0;
  Clock::time_point lastDraw_{};
  std::size_t drawnColumns_ = 0;
  bool shown_ = false;
};

}  // namespace brevomat::cli
