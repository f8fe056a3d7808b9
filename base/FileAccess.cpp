#include "base/FileAccess.h"

#include <cerrno>
#include <string>

#ifdef _WIN32
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brevomat {

#ifdef _WIN32

bool ReplaceFileContents(const char* name, const void* data, std::size_t size) {
  // Windows has no fsync-and-rename of its own kind but the same steps: a new file beside the old
  // one, flushed, then moved over it with write-through. A full disk leaves the old file whole.
  AtomicOutputFile file;
  if (!file.Create(name)) {
    if (errno == 0) errno = EINVAL;  // refused as no file to replace
    return false;
  }
  if (std::fwrite(data, 1, size, file.Stream()) != size) {
    const int error = errno != 0 ? errno : EIO;
    file.Discard();
    errno = error;
    return false;
  }
  if (!file.Commit()) {
    const int error = errno;
    file.Discard();
    errno = error;
    return false;
  }
  return true;
}

std::FILE* OpenRegularFile(const char* name) {
  struct _stat64 st {};
  if (_stat64(name, &st) != 0) return nullptr;
  if ((st.st_mode & _S_IFMT) != _S_IFREG) {
    errno = (st.st_mode & _S_IFMT) == _S_IFDIR ? EISDIR : EINVAL;
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
  else if (!S_ISREG(st.st_mode))
    error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
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

bool ReplaceFileContents(const char* name, const void* data, std::size_t size) {
  mode_t mode = 0644;
  struct stat st {};
  if (::stat(name, &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      errno = EINVAL;
      return false;
    }
    mode = st.st_mode & 07777;
  } else if (errno != ENOENT) {
    return false;
  }
  std::string temporary = std::string(name) + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);  // O_EXCL: never through a link
  if (fd < 0) return false;
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  int error = 0;
  while (done < size && error == 0) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n > 0)
      done += static_cast<std::size_t>(n);
    else if (n < 0 && errno != EINTR)
      error = errno;
    else if (n == 0)
      error = EIO;
  }
  if (error == 0 && ::fchmod(fd, mode) != 0) error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), name) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    errno = error;
    return false;
  }
  // The rename is on the disk only once the directory is.
  std::string directory(name);
  const std::size_t slash = directory.rfind('/');
  directory = slash == std::string::npos ? "." : slash == 0 ? "/" : directory.substr(0, slash);
  if (const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

#endif

}  // namespace brevomat
