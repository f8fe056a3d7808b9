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

#endif

}  // namespace brevomat
