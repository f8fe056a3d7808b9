// Writing the user's files safely: a file is written whole or not at all, never through a link,
// never over a directory, a device or one of the files the program itself works on, and a signal
// that ends the program leaves no half-written file behind.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace brevomat {

// Files no output may replace: the files of the virtual cart the program works on. `path` is
// compared with an output by what it is on the disk (device and inode), not by its name, so a link
// or another spelling of the same file is caught too. `what` says what it is ("the virtual cart's
// flash.bin").
void ProtectFromOutput(const std::string& path, const std::string& what);

// Why `name` cannot receive a backup, or the empty text when it can: a directory, a FIFO (which
// would swallow the data, or block until someone reads it), a device, a socket, or (unless
// `protectedToo` is false) a protected file. Looks only; never opens `name`.
std::string OutputRefusal(const std::string& name, bool protectedToo = true);

// The folder for the user's own data of this program: $XDG_DATA_HOME/brevomat (by default
// ~/.local/share/brevomat), on Windows %APPDATA%\brevomat. Empty when the environment names none.
std::string UserDataFolder();

// A file that is written whole or not at all. The data goes to a new file of a unique name beside
// the target, created exclusively (so never through a link); only Commit puts it in the target's
// place, after it is on the disk. Until then the target is exactly what it was.
class AtomicOutputFile {
 public:
  AtomicOutputFile() = default;
  ~AtomicOutputFile() { Discard(); }
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

  // Who writes the target: a user's file, or one of the files the caller itself keeps (the
  // virtual cart saving its flash.bin), which its protection (ProtectFromOutput) does not refuse.
  enum class Owner : std::uint8_t { User, Keeper };

  // Refuses a target that cannot hold the data (OutputRefusal), then creates the temporary file.
  // False with the reason in Error().
  bool Create(const std::string& target, Owner owner = Owner::User);
  std::FILE* Stream() const { return stream_; }
  bool Active() const { return !temporary_.empty(); }
  const std::string& Target() const { return target_; }
  const std::string& Error() const { return error_; }
  // Bytes written so far (what the temporary file holds).
  std::uint64_t Size() const;

  // Flushes the data to the disk and renames the temporary file over the target, then flushes the
  // folder. With `replace` false an existing target is never replaced: the commit fails with
  // EEXIST instead. On failure the temporary file stays (for KeepAs or Discard), errno is set.
  bool Commit(bool replace = true);
  // Puts the first `bytes` written in the place of `name` instead, the same safe way (what came
  // after them, a block cut off by a full disk, is dropped). With nothing to keep the temporary
  // file is only removed. True when `name` now holds the data.
  bool KeepAs(const std::string& name, std::uint64_t bytes);
  // Removes the temporary file; the target stays as it was.
  void Discard();

  // The committed file as the disk knows it (device and inode; zero where the system has none).
  std::uint64_t Device() const { return device_; }
  std::uint64_t Inode() const { return inode_; }

 private:
  bool Finish();  // flush, sync and close the stream
  bool Place(const std::string& name, bool replace);
  void Announce();  // the temporary file's name for RemoveTemporaryOutputsNow
  void Withdraw();
  std::FILE* stream_ = nullptr;
  int slot_ = -1;
  std::string target_, temporary_, error_;
  std::uint64_t device_ = 0, inode_ = 0;
};

// Removes the temporary files of every AtomicOutputFile that is being written. Only what a signal
// handler may do: a program that is ended by a signal calls it on its way out, so that it leaves
// nothing half-written in the user's folders. On Windows a console program that is ended by its
// console (closed, Ctrl-Break, logoff, shutdown) does the same by itself: the first temporary
// file installs a console control handler for it.
void RemoveTemporaryOutputsNow();

// The temporary files of AtomicOutputFile are named NAME.tmp-XXXXXX beside their target NAME
// (six letters and digits). True when `name` is such a file of `target` (both plain file names).
bool IsTemporaryOutputOf(const std::string& name, const std::string& target);

// True when `name` is still the file an AtomicOutputFile committed (same device and inode).
bool SameFileAs(const std::string& name, std::uint64_t device, std::uint64_t inode);

}  // namespace brevomat
