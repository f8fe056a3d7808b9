#include "base/FileAccess.h"

#include <cerrno>
#include <string>

#include "base/AtomicOutputFile.h"

#ifdef _WIN32
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brevomat {

namespace {

#ifdef _WIN32
FileKind KindOfMode(unsigned mode) {
  if ((mode & _S_IFMT) == _S_IFDIR) return FileKind::Directory;
  if ((mode & _S_IFMT) == _S_IFREG) return FileKind::Regular;
  return FileKind::Device;
}
#else
FileKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::Regular;
  if (S_ISDIR(mode)) return FileKind::Directory;
  if (S_ISFIFO(mode)) return FileKind::Fifo;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::Device;
  if (S_ISSOCK(mode)) return FileKind::Socket;
  if (S_ISLNK(mode)) return FileKind::Link;
  return FileKind::Other;
}
#endif

}  // namespace

FileKind KindOfFile(const std::string& path, bool followLinks) {
#ifdef _WIN32
  (void)followLinks;
  struct _stat64 st {};
  if (_stat64(path.c_str(), &st) != 0) return FileKind::Absent;
#else
  struct stat st {};
  if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) return FileKind::Absent;
#endif
  return KindOfMode(st.st_mode);
}

bool ReplaceFileContents(const char* name, const void* data, std::size_t size) {
  AtomicOutputFile file;  // removed again unless committed
  if (!file.Create(name)) return false;
  if (std::fwrite(data, 1, size, file.Stream()) != size || !file.Commit()) {
    const int error = errno != 0 ? errno : EIO;
    file.Discard();
    errno = error;
    return false;
  }
  return true;
}

#ifdef _WIN32

std::FILE* OpenRegularFile(const char* name) {
  struct _stat64 st {};
  if (_stat64(name, &st) != 0) return nullptr;
  if (const FileKind kind = KindOfMode(st.st_mode); kind != FileKind::Regular) {
    errno = kind == FileKind::Directory ? EISDIR : EINVAL;
    return nullptr;
  }
  return std::fopen(name, "rb");
}

#else

std::FILE* OpenRegularFile(const char* name) {
  // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; it is cleared again once the
  // file is known to be a regular one.
  const int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  int error = 0;
  if (::fstat(fd, &st) != 0)
    error = errno;
  else if (const FileKind kind = KindOfMode(st.st_mode); kind != FileKind::Regular)
    error = kind == FileKind::Directory ? EISDIR : EINVAL;
  else if (const int flags = ::fcntl(fd, F_GETFL);
           flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
    error = errno;
  if (error == 0) {
    if (std::FILE* file = ::fdopen(fd, "rb")) return file;
    error = errno;
  }
  ::close(fd);
  errno = error;
  return nullptr;
}

#endif

}  // namespace brevomat
