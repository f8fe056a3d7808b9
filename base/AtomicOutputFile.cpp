// Output files that are written whole or not at all, and the checks that keep a backup out of
// places that cannot hold one.
#include "base/AtomicOutputFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/FileAccess.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brevomat {

namespace {

struct ProtectedFile {
  std::string path, what;
};

std::vector<ProtectedFile>& ProtectedFiles() {
  static std::vector<ProtectedFile> files;
  return files;
}

// Six letters and digits that another run (or this one a moment ago) is very unlikely to pick;
// the exclusive create settles the rare collision.
std::string UniqueSuffix() {
  static std::uint64_t counter = 0;
#ifdef _WIN32
  const auto pid = static_cast<std::uint64_t>(_getpid());
#else
  const auto pid = static_cast<std::uint64_t>(::getpid());
#endif
  std::uint64_t x = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    (pid << 32) ^ (++counter * 0x9E3779B97F4A7C15ull);
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string s;
  for (int i = 0; i < 6; ++i, x /= 62) s += kDigits[x % 62];
  return s;
}

#ifdef _WIN32

int ErrnoOfLastError() {
  switch (GetLastError()) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

#else

// A signal is delivered as the system call that created the temporary file returns: if it ends
// the program there, the handler does not know the file yet and it stays behind. The signals that
// end a run wait while the file is created and its name announced.
class HoldEndingSignals {
 public:
  HoldEndingSignals() {
    sigset_t ending;
    sigemptyset(&ending);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&ending, sig);
    pthread_sigmask(SIG_BLOCK, &ending, &previous_);
  }
  ~HoldEndingSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  HoldEndingSignals(const HoldEndingSignals&) = delete;
  HoldEndingSignals& operator=(const HoldEndingSignals&) = delete;

 private:
  sigset_t previous_;
};

// The rename is on the disk only once the folder that holds the name is.
void SyncFolder(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  if (const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

#endif

// The names a signal handler may remove: fixed storage, each slot marked in use only while its
// name is complete.
constexpr int kTemporarySlots = 4;
constexpr std::size_t kTemporaryNameBytes = 4096;
char g_temporaryNames[kTemporarySlots][kTemporaryNameBytes];
volatile std::sig_atomic_t g_temporaryInUse[kTemporarySlots];

#ifdef _WIN32

// A console program ends when its console is closed, on Ctrl-Break, at logoff and at shutdown,
// each time from a thread of its own and without unwinding: the temporary files go first. Ctrl-C
// is the program's own business (the first one asks the command to stop).
BOOL WINAPI OnConsoleEnding(DWORD event) {
  if (event != CTRL_C_EVENT) RemoveTemporaryOutputsNow();
  return FALSE;  // the next handler, and in the end the system's, ends the program
}

void WatchConsoleEnding() {
  static LONG installed = 0;
  if (InterlockedExchange(&installed, 1) == 0) SetConsoleCtrlHandler(OnConsoleEnding, TRUE);
}

#endif

}  // namespace

bool IsTemporaryOutputOf(const std::string& name, const std::string& target) {
  const std::string head = target + ".tmp-";
  if (name.size() != head.size() + 6 || name.compare(0, head.size(), head) != 0) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(head.size()), name.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

void RemoveTemporaryOutputsNow() {
  for (int i = 0; i < kTemporarySlots; ++i) {
    if (g_temporaryInUse[i] == 0) continue;
#ifdef _WIN32
    _unlink(g_temporaryNames[i]);
#else
    ::unlink(g_temporaryNames[i]);
#endif
  }
}

void AtomicOutputFile::Announce() {
#ifdef _WIN32
  WatchConsoleEnding();
#endif
  if (temporary_.size() >= kTemporaryNameBytes) return;
  for (int i = 0; i < kTemporarySlots; ++i) {
    if (g_temporaryInUse[i] != 0) continue;
    std::memcpy(g_temporaryNames[i], temporary_.c_str(), temporary_.size() + 1);
    g_temporaryInUse[i] = 1;
    slot_ = i;
    return;
  }
}

void AtomicOutputFile::Withdraw() {
  if (slot_ >= 0) g_temporaryInUse[slot_] = 0;
  slot_ = -1;
}

void ProtectFromOutput(const std::string& path, const std::string& what) {
  ProtectedFiles().push_back({path, what});
}

std::string OutputRefusal(const std::string& name, bool protectedToo) {
  constexpr const char* kNeedsRegular = ": a backup needs a regular file";
  switch (KindOfFile(name)) {
    case FileKind::Absent:  // it will be created (or is unreachable: the create says why)
      return {};
    case FileKind::Regular:
      break;
    case FileKind::Directory:
      return "it is a directory";
    case FileKind::Fifo:
      return std::string("it is a FIFO (named pipe), which passes data on instead of keeping it") +
             kNeedsRegular;
    case FileKind::Device:
#ifdef _WIN32
      return std::string("it is a device, not a file") + kNeedsRegular;
#else
      return std::string("it is a device") + kNeedsRegular;
#endif
    case FileKind::Socket:
      return std::string("it is a socket") + kNeedsRegular;
    case FileKind::Link:
    case FileKind::Other:
      return std::string("it is not a regular file") + kNeedsRegular;
  }
  if (!protectedToo) return {};
  for (const ProtectedFile& file : ProtectedFiles()) {
    std::error_code ec;
    if (std::filesystem::equivalent(name, file.path, ec) && !ec)
      return "it is " + file.what + ": writing there would destroy the cart";
  }
  return {};
}

std::string UserDataFolder() {
#ifdef _WIN32
  const char* appData = std::getenv("APPDATA");
  return appData != nullptr && *appData != '\0' ? std::string(appData) + "\\brevomat" : std::string();
#else
  // A relative XDG_DATA_HOME is invalid and ignored, as the base directory rules ask.
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/brevomat";
  const char* home = std::getenv("HOME");
  return home != nullptr && *home != '\0' ? std::string(home) + "/.local/share/brevomat" : std::string();
#endif
}

bool SameFileAs(const std::string& name, std::uint64_t device, std::uint64_t inode) {
#ifdef _WIN32
  (void)name, (void)device, (void)inode;
  return true;  // no inode numbers to compare
#else
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return false;
  return static_cast<std::uint64_t>(st.st_dev) == device && static_cast<std::uint64_t>(st.st_ino) == inode;
#endif
}

bool AtomicOutputFile::Create(const std::string& target, Owner owner) {
  Discard();
  error_.clear();
  target_ = target;
  device_ = inode_ = 0;
  if (target.empty()) {
    error_ = "no file name was given";
    errno = ENOENT;
    return false;
  }
  if (std::string why = OutputRefusal(target, owner == Owner::User); !why.empty()) {
    error_ = std::move(why);
    errno = EINVAL;
    return false;
  }
#ifndef _WIN32
  // A new backup over an old one keeps the old one's permissions.
  struct stat old {};
  const bool keepMode = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
#endif
#ifndef _WIN32
  const HoldEndingSignals held;
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name;
    name.reserve(target.size() + 11);
    name.append(target).append(".tmp-").append(UniqueSuffix());
#ifdef _WIN32
    // CREATE_NEW never opens a file that exists. FILE_SHARE_DELETE lets a program that is being
    // ended remove the file while it is still open (RemoveTemporaryOutputsNow); Windows refuses
    // that to a file opened without it, and the temporary file would stay behind.
    int fd = -1;
    const HANDLE handle =
        CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      errno = ErrnoOfLastError();
    } else {
      fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
      if (fd < 0) {
        CloseHandle(handle);
        DeleteFileA(name.c_str());
        errno = EMFILE;
      }
    }
#else
    // O_EXCL: a name that exists, a link included, is never opened.
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
#endif
    if (fd < 0) {
      if (errno == EEXIST) continue;
      error_ = std::strerror(errno);
      if (errno == ENOENT) error_ += " (its folder does not exist)";
      return false;
    }
#ifdef _WIN32
    stream_ = _fdopen(fd, "w+b");
#else
    if (keepMode) ::fchmod(fd, old.st_mode & 07777);
    stream_ = ::fdopen(fd, "w+b");
#endif
    if (stream_ == nullptr) {
      const int error = errno;
#ifdef _WIN32
      _close(fd);
      _unlink(name.c_str());
#else
      ::close(fd);
      ::unlink(name.c_str());
#endif
      error_ = std::strerror(error);
      errno = error;
      return false;
    }
    temporary_ = name;
    Announce();
    return true;
  }
  error_ = "no free name for a temporary file beside it";
  errno = EEXIST;
  return false;
}

std::uint64_t AtomicOutputFile::Size() const {
  if (stream_ != nullptr) {
    std::fflush(stream_);
#ifdef _WIN32
    struct _stat64 st {};
    return _fstat64(_fileno(stream_), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
#else
    struct stat st {};
    return ::fstat(::fileno(stream_), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
#endif
  }
  std::error_code ec;
  const std::uintmax_t size = temporary_.empty() ? 0 : std::filesystem::file_size(temporary_, ec);
  return ec ? 0 : size;
}

bool AtomicOutputFile::Finish() {
  if (stream_ == nullptr) return true;
  int error = 0;
  if (std::fflush(stream_) != 0) error = errno != 0 ? errno : EIO;
#ifdef _WIN32
  if (error == 0 && !FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream_)))))
    error = ErrnoOfLastError();
#else
  if (error == 0 && ::fsync(::fileno(stream_)) != 0) error = errno;
  struct stat st {};
  if (::fstat(::fileno(stream_), &st) == 0) {
    device_ = static_cast<std::uint64_t>(st.st_dev);
    inode_ = static_cast<std::uint64_t>(st.st_ino);
  }
#endif
  if (std::fclose(stream_) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  stream_ = nullptr;
  errno = error;
  return error == 0;
}

bool AtomicOutputFile::Place(const std::string& name, bool replace) {
#ifdef _WIN32
  const DWORD flags = (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH;
  if (!MoveFileExA(temporary_.c_str(), name.c_str(), flags)) {
    errno = ErrnoOfLastError();
    return false;
  }
#else
  if (replace) {
    if (::rename(temporary_.c_str(), name.c_str()) != 0) return false;
  } else if (::link(temporary_.c_str(), name.c_str()) == 0) {
    ::unlink(temporary_.c_str());  // a second name: the link fails rather than replace a file
  } else {
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOTSUP) return false;
    // A file system without hard links: look, then rename.
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0) {
      errno = EEXIST;
      return false;
    }
    if (::rename(temporary_.c_str(), name.c_str()) != 0) return false;
  }
  Withdraw();
  SyncFolder(name);
#endif
  Withdraw();
  temporary_.clear();
  return true;
}

bool AtomicOutputFile::Commit(bool replace) {
  if (!Active()) {
    errno = EBADF;
    return false;
  }
  return Finish() && Place(target_, replace);
}

bool AtomicOutputFile::KeepAs(const std::string& name, std::uint64_t bytes) {
  if (!Active()) return false;
  // Never more than the file holds: cutting "up" would add zeros that were never read.
  bytes = std::min(bytes, Size());
  if (stream_ != nullptr) {
#ifdef _WIN32
    _chsize_s(_fileno(stream_), static_cast<long long>(bytes));
#else
    if (::ftruncate(::fileno(stream_), static_cast<off_t>(bytes)) != 0) bytes = Size();
#endif
  }
  const bool synced = Finish();
  if (bytes == 0 || !Place(name, true)) {
    const int error = errno;
    Discard();
    errno = error;
    return false;
  }
  return synced;
}

void AtomicOutputFile::Discard() {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporary_.empty()) std::remove(temporary_.c_str());
  Withdraw();
  temporary_.clear();
}

}  // namespace brevomat
