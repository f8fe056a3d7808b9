#include "cli/Progress.h"

#include <algorithm>
#include <cstdlib>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace brevomat::cli {

int TerminalWidth(std::FILE* stream) {
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info;
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (GetConsoleScreenBufferInfo(handle, &info)) return info.srWindow.Right - info.srWindow.Left + 1;
#else
  winsize size = {};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
  return 80;
}

std::string FormatProgressLine(std::string_view phase, int percent, double kibPerSecond, double secondsLeft,
                               int width) {
  char head[64];
  std::snprintf(head, sizeof head, "%-13.20s %3d %%", std::string(phase).c_str(), percent);
  // Fixed widths, so that the bar keeps its length while the figures change.
  char rate[48] = "     -- KiB/s";
  if (kibPerSecond >= 0) std::snprintf(rate, sizeof rate, "%7.1f KiB/s", std::min(kibPerSecond, 9999999.0));
  char left[48] = "   --:-- left";
  if (secondsLeft >= 0) {
    const long s = static_cast<long>(std::min(secondsLeft, 359999.0) + 0.5);
    if (s >= 3600)
      std::snprintf(left, sizeof left, "%2ld:%02ld:%02ld left", s / 3600, s / 60 % 60, s % 60);
    else
      std::snprintf(left, sizeof left, "%5ld:%02ld left", s / 60, s % 60);
  }
  char tail[112];
  std::snprintf(tail, sizeof tail, " %s %s", rate, left);

  const int room = width - 1;
  std::string line = head;
  const int bar = room - static_cast<int>(line.size() + std::string_view(tail).size()) - 3;
  if (bar >= 4) {
    const int filled = bar * (percent < 0 ? 0 : percent > 100 ? 100 : percent) / 100;
    line += " [" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(bar - filled), '-') + "]";
  }
  line += tail;
  if (room > 0 && line.size() > static_cast<std::size_t>(room)) line.resize(static_cast<std::size_t>(room));
  return line;
}

void ProgressLine::Show(std::string_view phase, int percent, std::uint32_t done, std::uint32_t total,
                        std::uint32_t unitBytes, Clock::time_point now) {
  const bool newPhase = phase != phase_ || done < phaseStartDone_;
  if (newPhase) {
    phase_ = phase;
    phaseStart_ = now;
    phaseStartDone_ = done;
  } else if (shown_ && now - lastDraw_ < kRedrawInterval) {
    return;
  }
  double rate = -1, left = -1;
  const double seconds = std::chrono::duration<double>(now - phaseStart_).count();
  if (done > phaseStartDone_ && seconds > 0) {
    const double units = done - phaseStartDone_;
    rate = units * unitBytes / 1024.0 / seconds;
    left = total > done ? (total - done) * seconds / units : 0.0;
  }
  const std::string line = FormatProgressLine(phase, percent, rate, left, TerminalWidth(stream_));
  // Blanks over whatever a longer line before left standing.
  const std::size_t pad = drawnColumns_ > line.size() ? drawnColumns_ - line.size() : 0;
  std::fprintf(stream_, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
  if (pad > 0) std::fprintf(stream_, "\r%s", line.c_str());
  std::fflush(stream_);
  drawnColumns_ = line.size();
  lastDraw_ = now;
  shown_ = true;
}

void ProgressLine::Erase() {
  if (!shown_) return;
  std::fprintf(stream_, "\r%*s\r", static_cast<int>(drawnColumns_), "");
  std::fflush(stream_);
  shown_ = false;
  drawnColumns_ = 0;
}

}  // namespace brevomat::cli
