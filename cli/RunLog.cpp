#include "cli/RunLog.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "base/AtomicOutputFile.h"
#include "base/FileAccess.h"
#include "base/Operation.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace brevomat::cli {

namespace {

#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0  // Windows: no symbolic links to follow by accident
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_BINARY
#define O_BINARY 0
#endif

constexpr const char* kNotRegular = "it is not a regular file";

// Quotes a word of the command line only where a shell would need it.
std::string ShellWord(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\n'\"\\$`;&|<>()*?[]#~") == std::string::npos) return word;
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::string RunLogRefusal(const std::string& path) {
  constexpr const char* kNeedsRegular = ": a run log needs a regular file";
  switch (KindOfFile(path, /*followLinks=*/false)) {
    case FileKind::Absent:  // it will be created (or is unreachable: the open says why)
      return {};
    case FileKind::Regular:
      break;
    case FileKind::Link:
      return "it is a symbolic link";
    case FileKind::Directory:
      return "it is a directory";
    case FileKind::Fifo:
      return std::string("it is a FIFO (named pipe)") + kNeedsRegular;
    case FileKind::Device:
      return std::string("it is a device") + kNeedsRegular;
    case FileKind::Socket:
      return std::string("it is a socket") + kNeedsRegular;
    case FileKind::Other:
      return std::string(kNotRegular) + kNeedsRegular;
  }
  // A regular file: refused only when it is one of the files no output may touch (the virtual
  // cart's), known by what it is on the disk.
  return OutputRefusal(path);
}

RunLog::~RunLog() {
  if (file_ == nullptr) return;
#ifndef _WIN32
  ::fsync(::fileno(file_));
#endif
  std::fclose(file_);
}

bool RunLog::Open(const std::string& path, std::string& error) {
  // Looked at before it is opened: a FIFO is never opened (that would wait for a reader), and a file
  // of the virtual cart is never appended to.
  error = RunLogRefusal(path);
  if (!error.empty()) return false;
  // O_NOFOLLOW and O_NONBLOCK guard the moment between the look and the open: a link put there in
  // between is not followed, and a FIFO does not hold the program.
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_BINARY, 0666);
  if (fd < 0) {
    error = errno == ELOOP ? "it is a symbolic link" : errno == ENXIO ? kNotRegular : std::strerror(errno);
    return false;
  }
  struct stat info = {};
  if (::fstat(fd, &info) != 0 || (info.st_mode & S_IFMT) != S_IFREG) {
    ::close(fd);
    error = kNotRegular;
    return false;
  }
#ifndef _WIN32
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
#endif
  file_ = ::fdopen(fd, "a");
  if (file_ == nullptr) {
    error = std::strerror(errno);
    ::close(fd);
    return false;
  }
  start_ = std::chrono::steady_clock::now();
  return true;
}

void RunLog::Line(const std::string& text) {
  if (file_ == nullptr) return;
  // One line of the file per line of the run, whatever a name from outside holds.
  if (std::fputs(PrintableLine(text).c_str(), file_) == EOF || std::fputc('\n', file_) == EOF ||
      std::fflush(file_) != 0)
    lost_ = true;
}

std::string RunLog::Stamp() const {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char text[32];
  std::snprintf(text, sizeof text, "[%8.3f] ", seconds);
  return text;
}

void RunLog::Begin(const std::vector<std::string>& commandLine) {
  const std::time_t now = std::time(nullptr);
  char when[32] = "";
  std::tm local = {};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  std::string line = std::string(when) + " brevomat-cli " BREVOMAT_VERSION ":";
  for (const std::string& word : commandLine) line += " " + ShellWord(word);
  header_ = line;
}

void RunLog::BackEnd(std::string_view text) {
  if (headerWritten_) return;
  headerWritten_ = true;
  Line(header_ + "; back end: " + std::string(text));
}

void RunLog::OnLog(std::string_view text) {
  BackEnd("none");
  Line(Stamp() + std::string(text));
}

void RunLog::OnQuestion(std::string_view caption, std::string_view text, std::string_view answer) {
  BackEnd("none");
  Line(Stamp() + "? " + std::string(caption) + (text.empty() ? "" : ": " + std::string(text)) + " " +
       std::string(answer));
}

void RunLog::OnResult(const RunResult& result) {
  BackEnd("none");
  if (result.figures != nullptr)
    for (const auto& [name, value] : result.figures->Items()) Line(name + ": " + FigureText(value));
  Line("status: " + result.status);
  Line("exit: " + std::to_string(result.exit));
  Line("");
}

}  // namespace brevomat::cli
