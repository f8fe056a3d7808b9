#include "cli/RunLog.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#ifndef BREVOMAT_VERSION
#define BREVOMAT_VERSION "unknown"
#endif

namespace brevomat::cli {

namespace {

#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0  // Windows: no symbolic links to follow by accident
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_BINARY
#define O_BINARY 0
#endif

// Quotes a word of the command line only where a shell would need it.
std::string ShellWord(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\n'\"\\$`;&|<>()*?[]#~") == std::string::npos) return word;
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

RunLog::~RunLog() {
  if (file_ == nullptr) return;
#ifndef _WIN32
  ::fsync(::fileno(file_));
#endif
  std::fclose(file_);
}

bool RunLog::Open(const std::string& path, std::string& error) {
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_BINARY, 0666);
  if (fd < 0) {
    error = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
    return false;
  }
  struct stat info = {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    error = "not a regular file";
    return false;
  }
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
  if (std::fputs(text.c_str(), file_) == EOF || std::fputc('\n', file_) == EOF || std::fflush(file_) != 0)
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
