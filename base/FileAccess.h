// Opening the user's files for reading without being led astray.
//
// Whatever the user names — an image, a patch, a save, the settings file — may turn out to be a
// directory, a FIFO that blocks the program until someone writes to it, or a device such as
// /dev/zero that never ends. Only regular files (also reached through a link) are opened.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace brevomat {

// What a path names on the disk.
enum class FileKind { Absent, Regular, Directory, Fifo, Device, Socket, Link, Other };

// Looks at `path` without opening it. Absent also when it cannot be looked at (the open that
// follows says why). A symbolic link is Link with `followLinks` false, else what it leads to.
// Windows tells only directories and regular files apart: everything else (NUL, CON, a pipe) is
// a Device, and links are always followed.
FileKind KindOfFile(const std::string& path, bool followLinks = true);

// Opens `name` with "rb" when it is a regular file. Otherwise returns nullptr with errno set:
// EISDIR for a directory, EINVAL for a FIFO, socket or device, or the error of the open itself.
// Opening never blocks, not even on a FIFO.
std::FILE* OpenRegularFile(const char* name);

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
// A file that closes itself: `UniqueFile file(OpenRegularFile(name));`.
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Replaces the file `name` with `size` bytes as one step, through AtomicOutputFile (base/AtomicOutputFile.h):
// they go to a new file of a unique name in the same directory (never following a link), are flushed to the
// disk, and only then renamed over `name`, keeping its permissions. On failure `name` is as it was, the
// temporary file is gone, and false is returned with errno set. A `name` that exists but is no regular file
// (or a link to one), or that is a protected file (ProtectFromOutput), is refused with EINVAL rather than
// replaced. A signal that ends the program meanwhile removes the temporary file (RemoveTemporaryOutputsNow).
bool ReplaceFileContents(const char* name, const void* data, std::size_t size);

}  // namespace brevomat
