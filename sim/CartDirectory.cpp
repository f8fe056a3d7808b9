#include "sim/CartDirectory.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>
#include <vector>

#include "base/AtomicOutputFile.h"
#include "base/FileAccess.h"

#ifdef _WIN32
// clang-format off: windows.h first
#include <windows.h>
// clang-format on
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brevomat::sim {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kSaveBytes = SaveRam::kBytes;
constexpr std::uint64_t kMaxConfBytes = 64 * 1024;  // a settings text, not a disk image
constexpr int kLockWaitMs = 5000;

std::string Describe(const fs::path& p) { return "\"" + p.string() + "\""; }

enum class Presence { Absent, Present, Broken };

// Whether `p` is there. A link that leads nowhere (dangling or looping) is no absent file: it is
// reported, not quietly replaced by a fresh cart.
Presence Check(const fs::path& p, std::string& error) {
  std::error_code ec;
  const fs::file_status link = fs::symlink_status(p, ec);
  if (ec || link.type() == fs::file_type::not_found) {
    if (ec && ec != std::errc::no_such_file_or_directory) {
      error = "Cannot look at " + Describe(p) + ": " + ec.message();
      return Presence::Broken;
    }
    return Presence::Absent;
  }
  if (fs::is_symlink(link)) {
    (void)fs::status(p, ec);
    if (ec) {
      error = Describe(p) + " is a link that leads nowhere: " + ec.message();
      return Presence::Broken;
    }
  }
  return Presence::Present;
}

// The cart's own files go through the program's one way of replacing a file: a new file of a
// unique name beside the old one (created exclusively, so no link is followed), flushed to the
// disk, given the old one's permissions and renamed over it, the directory flushed after. The old
// contents survive any failure, and an ending signal removes the new file.
bool WriteReplacing(const fs::path& p, const void* data, std::size_t size, std::string& error) {
  AtomicOutputFile file;
  if (!file.Create(p.string(), AtomicOutputFile::Owner::Keeper)) {
    error = "Cannot create a temporary file beside " + Describe(p) + ": " + file.Error() + "; " +
            Describe(p) + " is unchanged";
    return false;
  }
  if (std::fwrite(data, 1, size, file.Stream()) != size || !file.Commit()) {
    error =
        "Cannot write " + Describe(p) + ": " + std::strerror(errno != 0 ? errno : EIO) + "; it is unchanged";
    return false;  // the temporary file goes with `file`
  }
  return true;
}

// A program that ended while it saved the cart (killed outright, or the power went) may have left
// a temporary file. Whoever holds the lock next removes them: no one else can be writing them.
// Nothing else in the directory is ever taken for one of them.
void RemoveStaleTemporaries(const fs::path& dir) {
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    bool own = false;
    for (const char* file : kCartFiles) own = own || IsTemporaryOutputOf(name, file);
    std::error_code ignore;
    if (own && fs::is_regular_file(it->symlink_status(ignore))) fs::remove(it->path(), ignore);
  }
}

#ifdef _WIN32

bool ReadRegular(const fs::path& p, std::uint64_t min, std::uint64_t max, std::vector<std::uint8_t>& out,
                 std::string& error) {
  std::error_code ec;
  if (!fs::is_regular_file(p, ec)) {
    error = Describe(p) + " is not a regular file";
    return false;
  }
  const std::uintmax_t size = fs::file_size(p, ec);
  if (ec || size < min || size > max) {
    error = ec ? "Cannot read " + Describe(p) + ": " + ec.message()
               : Describe(p) + " is " + std::to_string(size) + " bytes; " +
                     (min == max ? "it must be exactly " + std::to_string(min)
                                 : "it must be " + std::to_string(min) + " to " + std::to_string(max)) +
                     " bytes";
    return false;
  }
  std::ifstream in(p, std::ios::binary);
  out.resize(static_cast<std::size_t>(size));
  if (!in || !in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size))) {
    error = "Cannot read " + Describe(p) + " completely";
    return false;
  }
  return true;
}

// Windows has no advisory locks on a directory. A file in it that the first program holds open for
// itself alone does the same: any other program's open of it fails with a sharing violation until
// the holder closes it or ends, and it is deleted when its last handle goes, a killed program's too.
int LockDirectory(const fs::path& dir, std::string& error) {
  const fs::path lock = dir / "brevomat.lock";
  for (int waited = 0;; waited += 50) {
    const HANDLE handle = CreateFileW(lock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR);
      if (fd >= 0) {
        RemoveStaleTemporaries(dir);
        return fd;
      }
      CloseHandle(handle);
      error = "Cannot lock the virtual cart " + Describe(dir) + ": out of file descriptors";
      return -1;
    }
    const DWORD why = GetLastError();
    if ((why != ERROR_SHARING_VIOLATION && why != ERROR_ACCESS_DENIED) || waited >= kLockWaitMs) {
      if (why != ERROR_SHARING_VIOLATION && why != ERROR_ACCESS_DENIED) {
        error = "Cannot lock the virtual cart " + Describe(dir) + ": Windows error " + std::to_string(why);
        return -1;
      }
      break;
    }
    Sleep(50);
  }
  error = "The virtual cart " + Describe(dir) + " is in use by another program (waited " +
          std::to_string(kLockWaitMs / 1000) + " s); try again when it has finished";
  return -1;
}

void UnlockDirectory(int fd) {
  if (fd >= 0) _close(fd);  // the lock file goes with its last handle
}

#else

// Reads a whole regular file of min..max bytes. Opening never blocks (a FIFO) and nothing but a
// regular file is read (a link to /dev/zero would never end).
bool ReadRegular(const fs::path& p, std::uint64_t min, std::uint64_t max, std::vector<std::uint8_t>& out,
                 std::string& error) {
  const int fd = ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = "Cannot read " + Describe(p) + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = false;
  if (::fstat(fd, &st) != 0) {
    error = "Cannot read " + Describe(p) + ": " + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    error = Describe(p) + " is not a regular file";
  } else if (static_cast<std::uint64_t>(st.st_size) < min || static_cast<std::uint64_t>(st.st_size) > max) {
    error = Describe(p) + " is " + std::to_string(st.st_size) + " bytes; " +
            (min == max ? "it must be exactly " + std::to_string(min)
                        : "it must be " + std::to_string(min) + " to " + std::to_string(max)) +
            " bytes";
  } else {
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    }
    ok = done == out.size();
    if (!ok) error = "Cannot read " + Describe(p) + " completely";
  }
  ::close(fd);
  return ok;
}

// Holds back the signals that end a program (Ctrl-C, a terminal hung up, kill) while the cart's
// files are written: one that arrives meanwhile takes effect once the files are in place, so it
// never leaves a temporary file behind, nor a cart with a new flash.bin and an old save.bin.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, sig);
    ::pthread_sigmask(SIG_BLOCK, &held, &old_);
  }
  ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

// Takes the cart directory for this process alone. Another program working on the same cart is
// waited for a little, then refused: two writers would each save their own picture of the cart
// and the later save would undo the earlier one.
int LockDirectory(const fs::path& dir, std::string& error) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = "Cannot open the virtual cart directory " + Describe(dir) + ": " + std::strerror(errno);
    return -1;
  }
  for (int waited = 0;; waited += 50) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      RemoveStaleTemporaries(dir);
      return fd;
    }
    if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= kLockWaitMs) break;
    ::usleep(50 * 1000);
  }
  error = "The virtual cart " + Describe(dir) + " is in use by another program (waited " +
          std::to_string(kLockWaitMs / 1000) + " s); try again when it has finished";
  ::close(fd);
  return -1;
}

void UnlockDirectory(int fd) {
  if (fd >= 0) ::close(fd);  // closing releases the lock
}

#endif

}  // namespace

std::unique_ptr<VirtualCart> VirtualCart::OpenInWorkingDirectory(std::string& error) {
  std::error_code ec;
  const fs::path directory = fs::current_path(ec) / "virtual-cart";
  if (ec) {
    error = "cannot determine the working directory: " + ec.message();
    return nullptr;
  }
  std::unique_ptr<VirtualCart> cart = Open(directory, error);
  // A backup into one of the cart's own files would destroy the cart it reads.
  if (cart != nullptr)
    for (const char* name : kCartFiles)
      ProtectFromOutput((directory / name).string(), std::string("the virtual cart's own ") + name);
  return cart;
}

std::unique_ptr<VirtualCart> VirtualCart::Open(const fs::path& dir, std::string& error) {
  std::unique_ptr<VirtualCart> vc(new VirtualCart());
  vc->dir_ = dir;
  vc->closed_ = true;  // nothing to write back until the cart has been loaded completely
  std::error_code ec;
  switch (Check(dir, error)) {
    case Presence::Broken:
      return nullptr;
    case Presence::Absent:
      if (!fs::create_directories(dir, ec) && ec) {
        error = "Cannot create the virtual cart directory " + Describe(dir) + ": " + ec.message();
        return nullptr;
      }
      break;
    case Presence::Present:
      if (!fs::is_directory(dir, ec)) {
        error = Describe(dir) + " is not a directory";
        return nullptr;
      }
      break;
  }
  vc->lockFd_ = LockDirectory(dir, error);
  if (vc->lockFd_ < 0) return nullptr;

  // Whether the cart is new is decided under the lock: a program that created the directory a
  // moment ago may have written it meanwhile.
  const fs::path confPath = dir / kCartConfFile;
  const Presence conf = Check(confPath, error);
  if (conf == Presence::Broken) return nullptr;
  const bool fresh = conf == Presence::Absent;
  if (!fresh) {
    std::vector<std::uint8_t> bytes;
    if (!ReadRegular(confPath, 0, kMaxConfBytes, bytes, error)) return nullptr;
    std::string why;
    if (!ParseCartConf(std::string(bytes.begin(), bytes.end()), vc->config_, why)) {
      error = Describe(dir) + ": " + why;
      return nullptr;
    }
  }
  const CartConfig& c = vc->config_;

  std::vector<std::uint8_t> save;
  const fs::path savePath = dir / kSaveFile;
  if (c.save == SaveMemory::Sram) {
    const Presence present = Check(savePath, error);
    if (present == Presence::Broken) return nullptr;
    if (present == Presence::Present && !ReadRegular(savePath, kSaveBytes, kSaveBytes, save, error))
      return nullptr;
  }

  CartBus* bus = nullptr;
  if (c.cart == CartKind::Rom) {
    std::vector<std::uint8_t> rom;
    const fs::path romPath = dir / kRomFile;
    const Presence present = Check(romPath, error);
    if (present == Presence::Broken) return nullptr;
    if (present == Presence::Absent) {
      error = Describe(dir) + " is a ROM cart (cart = rom) but has no rom.bin";
      return nullptr;
    }
    if (!ReadRegular(romPath, kMinRomBytes, kMaxRomBytes, rom, error)) return nullptr;
    vc->rom_ = std::make_unique<RomCart>(std::move(rom), c.save);
    vc->rom_->Faults() = c.faults;
    if (!save.empty()) vc->rom_->Save() = save;
    bus = vc->rom_.get();
  } else {
    const FlashChip chip = c.cart == CartKind::Flash4M ? FlashChip::J3_32Mbit : FlashChip::J3_64Mbit;
    vc->flash_ = std::make_unique<FlashCart>(chip, TimingOf(c.timing), c.save);
    vc->flash_->Faults() = c.faults;
    const fs::path flashPath = dir / kFlashFile;
    const Presence present = Check(flashPath, error);
    if (present == Presence::Broken) return nullptr;
    if (present == Presence::Present) {
      std::vector<std::uint8_t> flash;
      const std::uint32_t bytes = vc->flash_->FlashBytes();
      if (!ReadRegular(flashPath, bytes, bytes, flash, error)) return nullptr;
      vc->flash_->Flash() = flash;
      vc->savedFlash_ = std::move(flash);
    }
    if (!save.empty()) vc->flash_->Save() = save;
    bus = vc->flash_.get();
  }
  vc->savedSave_ = std::move(save);
  vc->adapter_ = std::make_unique<VirtualAdapter>(AdapterConfig{c.base, c.adapter, 1000, c.cable}, *bus);

  if (fresh) {
    const std::string text = FormatCartConf(c);
    if (!WriteReplacing(confPath, text.data(), text.size(), error)) return nullptr;
    vc->closed_ = false;
    if (!vc->Close(error)) return nullptr;
  }
  vc->closed_ = false;
  return vc;
}

CartBus& VirtualCart::Bus() {
  if (flash_) return *flash_;
  return *rom_;
}

bool VirtualCart::Close(std::string& error) {
  if (closed_) return true;
#ifndef _WIN32
  const SignalsHeld held;  // both files, or neither, are saved
#endif
  // Only what changed is written: a look at the cart must neither rewrite 8 MB nor fail on a
  // cart the user keeps read-only.
  if (flash_) {
    flash_->FinishStarted();
    if (flash_->Flash() != savedFlash_) {
      if (!WriteReplacing(dir_ / kFlashFile, flash_->Flash().data(), flash_->Flash().size(), error))
        return false;
      savedFlash_ = flash_->Flash();
    }
  }
  std::vector<std::uint8_t>& save = flash_ ? flash_->Save() : rom_->Save();
  if (config_.save == SaveMemory::Sram && !save.empty() && save != savedSave_) {
    if (!WriteReplacing(dir_ / kSaveFile, save.data(), save.size(), error)) return false;
    savedSave_ = save;
  }
  closed_ = true;
  return true;
}

VirtualCart::~VirtualCart() {
  // Nothing is saved here: a run that did not close its cart ended unexpectedly, and whatever it
  // did to the cart is not to be trusted. Closing the directory releases the lock.
  UnlockDirectory(lockFd_);
}

}  // namespace brevomat::sim
