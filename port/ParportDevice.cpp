#include "port/ParportDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string_view>
#include <system_error>
#include <utility>

#if defined(__linux__)
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#define BREVOMAT_PPDEV 1
#else
#define BREVOMAT_PPDEV 0
#endif

namespace brevomat {

namespace {

#if BREVOMAT_PPDEV
constexpr unsigned long kClaim = PPCLAIM;
constexpr unsigned long kRelease = PPRELEASE;
constexpr unsigned long kSetMode = PPSETMODE;
constexpr unsigned long kReadData = PPRDATA;
constexpr unsigned long kWriteData = PPWDATA;
constexpr unsigned long kReadStatus = PPRSTATUS;
constexpr unsigned long kReadControl = PPRCONTROL;
constexpr unsigned long kWriteControl = PPWCONTROL;
constexpr unsigned long kSetFlags = PPSETFLAGS;
constexpr int kFastEpp = PP_FASTWRITE | PP_FASTREAD;
constexpr int kModeEppData = IEEE1284_MODE_EPP;
constexpr int kModeEppAddress = IEEE1284_MODE_EPP | IEEE1284_ADDR;

class SystemCalls final : public ParportCalls {
 public:
  // Non-blocking because ppdev's read() retries until at least one byte came through: on a port
  // with no adapter every EPP read times out, and a blocking read would never return. The flag
  // changes nothing else here (it shortens the time-outs of negotiated IEEE 1284 transfers, which
  // the adapter does not speak).
  int Open(const std::string& path) override {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
  }
  DeviceKind Kind(const std::string& path, std::string& what) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
      return errno == ENOENT || errno == ENOTDIR ? DeviceKind::Missing : DeviceKind::Unknown;
    if (!S_ISCHR(st.st_mode)) {
      what = S_ISDIR(st.st_mode)    ? "a directory"
             : S_ISFIFO(st.st_mode) ? "a FIFO (named pipe)"
             : S_ISSOCK(st.st_mode) ? "a socket"
             : S_ISBLK(st.st_mode)  ? "a block device"
                                    : "a regular file";
      return DeviceKind::NotDevice;
    }
    // The kernel's device numbers (Documentation/admin-guide/devices.txt): 99 is ppdev; 4 and 5
    // are the virtual consoles, serial ports, /dev/tty and /dev/console, 136-143 the
    // pseudo-terminals, 166 and 188 USB modems and serial adapters, 204 the low-density serial
    // ports.
    const unsigned major = ::major(st.st_rdev);
    if (major == 99) return DeviceKind::Parport;
    if (major == 4 || major == 5 || (major >= 136 && major <= 143) || major == 166 || major == 188 ||
        major == 204)
      return DeviceKind::Terminal;
    return DeviceKind::CharDevice;
  }
  int Close(int fd) override { return ::close(fd) == 0 ? 0 : -errno; }
  int Ioctl(int fd, unsigned long request, void* argument) override {
    return ::ioctl(fd, request, argument) == 0 ? 0 : -errno;
  }
  long Read(int fd, void* buffer, std::size_t count) override {
    const ssize_t n = ::read(fd, buffer, count);
    return n >= 0 ? static_cast<long>(n) : -errno;
  }
  long Write(int fd, const void* buffer, std::size_t count) override {
    const ssize_t n = ::write(fd, buffer, count);
    return n >= 0 ? static_cast<long>(n) : -errno;
  }
};
#else
// No such devices here: nothing ever opens, so these values are never sent.
constexpr unsigned long kClaim = 0, kRelease = 0, kSetMode = 0, kReadData = 0, kWriteData = 0,
                        kReadStatus = 0, kReadControl = 0, kWriteControl = 0, kSetFlags = 0;
constexpr int kFastEpp = 0;
constexpr int kModeEppData = 1, kModeEppAddress = 2;

class SystemCalls final : public ParportCalls {
 public:
  int Open(const std::string&) override { return -ENOSYS; }
  int Close(int) override { return -EBADF; }
  int Ioctl(int, unsigned long, void*) override { return -EBADF; }
  long Read(int, void*, std::size_t) override { return -EBADF; }
  long Write(int, const void*, std::size_t) override { return -EBADF; }
};
#endif

constexpr std::uint16_t kPrinterBases[] = {0x378, 0x278, 0x3BC};

bool IsPrinterBase(std::int64_t base) {
  return std::find(std::begin(kPrinterBases), std::end(kPrinterBases), base) != std::end(kPrinterBases);
}

std::string Hex(std::int64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// "parport" followed by a port number, nothing else (the bus also lists "parport0.0" and the like).
int PortNumber(const std::string& name) {
  static constexpr std::string_view prefix = "parport";
  if (!name.starts_with(prefix) || name.size() == prefix.size() || name.size() > prefix.size() + 3) return -1;
  int number = 0;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

// The first decimal number of base-addr ("888\t1912\n": the base, then the ECP registers' base).
std::int64_t ReadBase(const std::filesystem::path& file) {
  std::ifstream in(file);
  char text[64] = {};
  if (!in.read(text, sizeof text - 1) && in.gcount() == 0) return -1;
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  std::int64_t value = 0;
  const char* digits = p;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > 0xFFFFFFFF) return -1;
  }
  if (p == digits || (*p != '\0' && *p != '\t' && *p != ' ' && *p != '\n')) return -1;
  return value;
}

std::string Fix(int error) {
  switch (error) {
    case ENOENT:
      return "the device is missing: load the ppdev module with  sudo modprobe ppdev\n"
             "  (and to load it at every start:  echo ppdev | sudo tee /etc/modules-load.d/ppdev.conf)";
    case EACCES:
    case EPERM:
      return "join the group lp, whose members may open it, and log out and in again:\n"
             "  sudo usermod -aG lp $USER";
    case ENXIO:
    case ENODEV:
      return "the kernel has no port behind it: load the port driver with  sudo modprobe parport_pc";
    case EBUSY:
      return "another program holds the port: end it and try again";
    case ENOTTY:
    case EINVAL:
      return "it is no parallel-port device: name one such as /dev/parport0";
    default:
      return {};
  }
}

bool IsParportName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return PortNumber(slash == std::string::npos ? path : path.substr(slash + 1)) >= 0;
}

constexpr const char* kNameOne = "name a parallel-port device such as /dev/parport0";

}  // namespace

std::string DeviceFix(DeviceKind kind, const std::string& what, int error, const std::string& step,
                      const std::string& path) {
  switch (kind) {
    case DeviceKind::Unknown:
      return Fix(error);
    case DeviceKind::Missing:
      return IsParportName(path) ? Fix(ENOENT) : std::string("there is no such file: ") + kNameOne;
    case DeviceKind::NotDevice:
      return "it is " + what + ", not a character device: " + kNameOne;
    case DeviceKind::Terminal:
      return std::string("it is a terminal, not a parallel port: ") + kNameOne;
    case DeviceKind::CharDevice:
      return std::string("it is a character device but not one of the parallel-port driver ppdev: ") +
             kNameOne;
    case DeviceKind::Parport:
      // The node is there but its driver is not: the kernel has no ppdev to open it.
      if (step == "open" && (error == ENXIO || error == ENODEV))
        return "the ppdev driver is not loaded: load it with  sudo modprobe ppdev\n"
               "  (and to load it at every start:  echo ppdev | sudo tee /etc/modules-load.d/ppdev.conf)";
      return Fix(error);
  }
  return {};
}

bool ParportDeviceBackend::Available() { return BREVOMAT_PPDEV != 0; }

ParportCalls& SystemParportCalls() {
  static SystemCalls calls;
  return calls;
}

std::vector<ParportInfo> FindParports(const std::filesystem::path& root) {
  const std::filesystem::path proc = root / "proc/sys/dev/parport";
  std::vector<int> numbers;
  for (const std::filesystem::path& dir :
       {root / "sys/class/parport", root / "sys/bus/parport/devices", proc}) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const int number = PortNumber(it->path().filename().string());
      if (number >= 0 && std::find(numbers.begin(), numbers.end(), number) == numbers.end())
        numbers.push_back(number);
    }
  }
  std::sort(numbers.begin(), numbers.end());
  std::vector<ParportInfo> ports;
  for (const int number : numbers) {
    const std::string name = "parport" + std::to_string(number);
    ports.push_back({name, (root / "dev" / name).string(), ReadBase(proc / name / "base-addr")});
  }
  return ports;
}

int ParportDeviceBackend::OpenOne(const std::string& path, std::int64_t base) {
  if (deviceCount_ == static_cast<int>(devices_.size())) return -1;
  const int fd = calls_.Open(path);
  if (fd < 0) {
    Attempt attempt{path, base, -fd, "open", DeviceKind::Unknown, {}};
    attempt.kind = calls_.Kind(path, attempt.what);
    attempts_.push_back(std::move(attempt));
    return -1;
  }
  // Shared, not exclusive (no PPEXCL): the kernel refuses an exclusive claim while any other
  // driver is registered on the port, and the printer driver lp usually is. The claim alone keeps
  // every other driver off the port until it is released, which is all the link needs. It waits
  // while another program holds the port.
  const int claimed = calls_.Ioctl(fd, kClaim, nullptr);
  if (claimed < 0) {
    calls_.Close(fd);
    Attempt attempt{path, base, -claimed, "claim", DeviceKind::Unknown, {}};
    attempt.kind = calls_.Kind(path, attempt.what);
    attempts_.push_back(std::move(attempt));
    return -1;
  }
  // Without the fast flags the kernel reads the status register after every EPP byte to catch a
  // time-out: one more bus cycle per byte. With them it checks once per read() or write(), so a
  // 16-bit access costs three bus cycles instead of four. Old kernels without the flags still work.
  int fast = kFastEpp;
  calls_.Ioctl(fd, kSetFlags, &fast);
  devices_[static_cast<std::size_t>(deviceCount_)] = {fd, kModeUnknown, path};
  return deviceCount_++;
}

bool ParportDeviceBackend::OpenPrinterPorts(const std::filesystem::path& root) {
  Close();
  attempts_.clear();
  forced_ = false;
  cardBase_ = -1;
  found_ = FindParports(root);
  searched_ = true;
  for (const ParportInfo& port : found_) {
    if (!IsPrinterBase(port.base)) continue;
    const int device = OpenOne(port.device, port.base);
    if (device >= 0)
      routes_[static_cast<std::size_t>(routeCount_++)] = {static_cast<std::uint16_t>(port.base),
                                                          static_cast<std::uint8_t>(device)};
  }
  return Active();
}

bool ParportDeviceBackend::OpenPortAt(const std::filesystem::path& root, std::uint16_t cardBase) {
  Close();
  attempts_.clear();
  forced_ = false;
  found_ = FindParports(root);
  searched_ = true;
  cardBase_ = cardBase;
  for (const ParportInfo& port : found_) {
    if (port.base != cardBase) continue;
    const int device = OpenOne(port.device, port.base);
    if (device >= 0)
      routes_[static_cast<std::size_t>(routeCount_++)] = {cardBase, static_cast<std::uint8_t>(device)};
    break;
  }
  return Active();
}

bool ParportDeviceBackend::OpenDevice(const std::string& device, std::uint16_t cardBase) {
  Close();
  attempts_.clear();
  found_.clear();
  searched_ = false;
  forced_ = true;
  cardBase_ = -1;
  const int index = OpenOne(device, -1);
  if (index < 0) return false;
  for (const std::uint16_t base : kPrinterBases)
    routes_[static_cast<std::size_t>(routeCount_++)] = {base, static_cast<std::uint8_t>(index)};
  if (cardBase != 0 && !IsPrinterBase(cardBase))
    routes_[static_cast<std::size_t>(routeCount_++)] = {cardBase, static_cast<std::uint8_t>(index)};
  return true;
}

void ParportDeviceBackend::Close() {
  for (int i = 0; i < deviceCount_; ++i) {
    Device& device = devices_[static_cast<std::size_t>(i)];
    calls_.Ioctl(device.fd, kRelease, nullptr);
    calls_.Close(device.fd);
    device = {};
  }
  deviceCount_ = 0;
  routeCount_ = 0;
}

std::string ParportDeviceBackend::InUse() const {
  if (!Active()) return {};
  if (forced_) return devices_[0].path + " (ppdev) at every printer-port address";
  std::string text;
  for (int i = 0; i < routeCount_; ++i) {
    const Route& route = routes_[static_cast<std::size_t>(i)];
    if (!text.empty()) text += ", ";
    text += devices_[route.device].path + " at " + Hex(route.base);
  }
  return text + " (ppdev)";
}

std::string ParportDeviceBackend::Advice() const {
  if (Active()) return {};
  std::string text;
  for (const Attempt& attempt : attempts_) {
    if (!text.empty()) text += '\n';
    text += attempt.device;
    if (attempt.base >= 0) text += " (" + Hex(attempt.base) + ")";
    text += ": cannot " + std::string(attempt.step) + " it: " + std::strerror(attempt.error);
    const std::string fix =
        DeviceFix(attempt.kind, attempt.what, attempt.error, attempt.step, attempt.device);
    if (!fix.empty()) text += "\n  " + fix;
  }
  if (!text.empty() || !searched_) return text;
  if (found_.empty())
    return "the kernel reports no parallel port\n"
           "  if this PC has one, load its drivers with  sudo modprobe -a parport_pc ppdev";
  text = cardBase_ >= 0 ? "the kernel has no parallel port at " + Hex(cardBase_) + ":"
                        : "the kernel's parallel ports are not at 0x378, 0x278 or 0x3BC:";
  for (const ParportInfo& port : found_)
    text += " " + port.device + (port.base >= 0 ? " at " + Hex(port.base) : " (base not known)");
  return text + "\n  brevomat-cli --device " + found_.front().device + " reaches one wherever it lies";
}

void ParportDeviceBackend::SetMode(Device& device, int mode) {
  if (device.mode == mode) return;
  int value = mode;
  device.mode = calls_.Ioctl(device.fd, kSetMode, &value) == 0 ? mode : kModeUnknown;
}

namespace {
// ppdev moves at most this many bytes per read() or write() (its PP_BUFFER_SIZE); on a
// non-blocking descriptor a call returns after one such piece.
constexpr std::size_t kKernelPiece = 1024;

// The count a read() or write() of `piece` bytes got through, 0 for a failed call.
std::size_t Moved(long result, std::size_t piece) {
  return result <= 0 ? 0 : std::min(static_cast<std::size_t>(result), piece);
}
}  // namespace

void ParportDeviceBackend::EppRead(Device& device, int mode, std::uint8_t* bytes, std::size_t count) {
  SetMode(device, mode);
  for (std::size_t done = 0; done < count;) {
    const std::size_t piece = std::min(count - done, kKernelPiece);
    const std::size_t got = Moved(calls_.Read(device.fd, bytes + done, piece), piece);
    if (got < piece) {
      // A time-out: with the fast flags the kernel fails the whole call and hands over nothing,
      // without them it stops at the byte that timed out. What did not come reads as a floating
      // bus does, so the comparison that follows every read of the cart fails.
      std::memset(bytes + done + got, 0xFF, count - done - got);
      return;
    }
    done += piece;
  }
}

void ParportDeviceBackend::EppWrite(Device& device, int mode, const std::uint8_t* bytes, std::size_t count) {
  SetMode(device, mode);
  // After a time-out the rest of the run is not sent: the cart already missed part of it, and the
  // read-back after every write finds out.
  for (std::size_t done = 0; done < count;) {
    const std::size_t piece = std::min(count - done, kKernelPiece);
    if (Moved(calls_.Write(device.fd, bytes + done, piece), piece) < piece) return;
    done += piece;
  }
}

std::uint8_t ParportDeviceBackend::ReadByte(std::uint16_t port) {
  unsigned offset;
  Device* device = Find(port, offset);
  std::uint8_t value = 0xFF;
  if (!device) return value;
  switch (offset) {
    case 0:
      calls_.Ioctl(device->fd, kReadData, &value);
      break;
    case 1:
      calls_.Ioctl(device->fd, kReadStatus, &value);
      break;
    case 2:
      calls_.Ioctl(device->fd, kReadControl, &value);
      break;
    case 3:
      EppRead(*device, kModeEppAddress, &value, 1);
      break;
    default:
      EppRead(*device, kModeEppData, &value, 1);
      break;
  }
  return value;
}

void ParportDeviceBackend::WriteByte(std::uint16_t port, std::uint8_t value) {
  unsigned offset;
  Device* device = Find(port, offset);
  if (!device) return;
  switch (offset) {
    case 0:
      calls_.Ioctl(device->fd, kWriteData, &value);
      break;
    case 1:
      // The link writes 1 here to clear a latched EPP time-out. ppdev has no status write (its
      // PPWSTATUS is obsolete), and needs none: the kernel's EPP transfers check the time-out bit
      // and clear it themselves, so no time-out outlives the read() or write()
      // that ran into it.
      break;
    case 2:
      calls_.Ioctl(device->fd, kWriteControl, &value);
      break;
    case 3:
      EppWrite(*device, kModeEppAddress, &value, 1);
      break;
    default:
      EppWrite(*device, kModeEppData, &value, 1);
      break;
  }
}

std::uint16_t ParportDeviceBackend::ReadWord(std::uint16_t port) {
  std::uint8_t bytes[2];
  ReadWords(port, bytes, 1);
  return static_cast<std::uint16_t>(bytes[1] << 8 | bytes[0]);
}

void ParportDeviceBackend::WriteWord(std::uint16_t port, std::uint16_t value) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
  WriteWords(port, bytes, 1);
}

// A run at an EPP register is one call; anywhere else it is the single accesses it stands for.
void ParportDeviceBackend::ReadBytes(std::uint16_t port, std::uint8_t* bytes, std::size_t count) {
  unsigned offset;
  Device* device = Find(port, offset);
  if (device && offset >= 3)
    EppRead(*device, offset == 3 ? kModeEppAddress : kModeEppData, bytes, count);
  else
    PortBackend::ReadBytes(port, bytes, count);
}

void ParportDeviceBackend::WriteBytes(std::uint16_t port, const std::uint8_t* bytes, std::size_t count) {
  unsigned offset;
  Device* device = Find(port, offset);
  if (device && offset >= 3)
    EppWrite(*device, offset == 3 ? kModeEppAddress : kModeEppData, bytes, count);
  else
    PortBackend::WriteBytes(port, bytes, count);
}

// 16-bit accesses: two byte cycles each, low byte first, at the address and the next one. Within
// the EPP data registers that is one call of all the bytes.
void ParportDeviceBackend::ReadWords(std::uint16_t port, std::uint8_t* bytes, std::size_t count) {
  unsigned offset;
  Device* device = Find(port, offset);
  if (device && offset >= 4 && offset <= 6) {
    EppRead(*device, kModeEppData, bytes, 2 * count);
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    bytes[2 * i] = ReadByte(port);
    bytes[2 * i + 1] = ReadByte(static_cast<std::uint16_t>(port + 1));
  }
}

void ParportDeviceBackend::WriteWords(std::uint16_t port, const std::uint8_t* bytes, std::size_t count) {
  unsigned offset;
  Device* device = Find(port, offset);
  if (device && offset >= 4 && offset <= 6) {
    EppWrite(*device, kModeEppData, bytes, 2 * count);
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    WriteByte(port, bytes[2 * i]);
    WriteByte(static_cast<std::uint16_t>(port + 1), bytes[2 * i + 1]);
  }
}

}  // namespace brevomat
