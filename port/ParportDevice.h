// The kernel's parallel-port devices, /dev/parportN (the ppdev driver), as a port back end.
//
// Direct port access (ioperm) needs root or CAP_SYS_RAWIO. The device needs neither: on the usual
// desktop distribution every member of the group `lp` may open it. The back end opens and claims
// the device of every printer port the kernel has at 0x378, 0x278 or 0x3BC, so that the user may
// switch ports while the program runs, and routes each port access by its address:
//
//   base+0    data        write PPWDATA, read PPRDATA
//   base+1    status      read PPRSTATUS; a write goes nowhere (see WriteByte)
//   base+2    control     write PPWCONTROL, read PPRCONTROL
//   base+3    EPP address write()/read() of one byte in mode IEEE1284_MODE_EPP | IEEE1284_ADDR
//   base+4..7 EPP data    write()/read() in mode IEEE1284_MODE_EPP
//
// A 16-bit access becomes what the port hardware makes of one: two byte cycles, at the address and
// the next one, low byte first. On the EPP data register that is one write() or read() of two
// bytes, and a run of transfers there (the words of a cart run) one write() or read() of all its
// bytes: the kernel checks the port's time-out bit once per call, so a run costs one system call
// and one status read instead of one of each per access. The mode is set only when it changes.
// Accesses to addresses no open device covers read 0xFF and are dropped, like a port with nothing
// behind it.
//
// The system calls go through ParportCalls, so tests can put a model of the kernel behind it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "port/Port.h"

namespace brevomat {

// What a path names, as far as the advice for a device that cannot be used goes.
enum class DeviceKind : std::uint8_t {
  Unknown,     // not looked at (or the system cannot say)
  Missing,     // nothing of that name
  NotDevice,   // a regular file, a directory, a FIFO, a socket or a block device
  Terminal,    // a terminal or serial line (/dev/tty, /dev/ttyS0, /dev/pts/3 ...)
  CharDevice,  // another character device (/dev/null, /dev/lp0 ...)
  Parport,     // a device of the ppdev driver (/dev/parportN)
};

// The remedy for a device that could not be used, fitted to what the path is and to the error
// of the step that failed ("open" or "claim"); empty when there is nothing to advise. `what` is
// the kind of file for a NotDevice ("a FIFO (named pipe)").
std::string DeviceFix(DeviceKind kind, const std::string& what, int error, const std::string& step,
                      const std::string& path);

// The few system calls the device back end makes. Results as the kernel gives them: a descriptor
// or a byte count, or the negated error number (-EACCES ...).
class ParportCalls {
 public:
  virtual ~ParportCalls() = default;
  // What `path` is (see DeviceKind), and for a NotDevice which kind of file, for the advice. Never
  // opens it.
  virtual DeviceKind Kind(const std::string& path, std::string& what) {
    (void)path, (void)what;
    return DeviceKind::Unknown;
  }
  virtual int Open(const std::string& path) = 0;  // read-write, non-blocking, close-on-exec
  virtual int Close(int fd) = 0;
  virtual int Ioctl(int fd, unsigned long request, void* argument) = 0;
  virtual long Read(int fd, void* buffer, std::size_t count) = 0;
  virtual long Write(int fd, const void* buffer, std::size_t count) = 0;
};

// open/close/ioctl/read/write themselves (on systems without the devices, Open fails with ENOSYS).
ParportCalls& SystemParportCalls();

// A parallel port the kernel knows.
struct ParportInfo {
  std::string name;    // "parport0"
  std::string device;  // the device node, "/dev/parport0"
  std::int64_t base;   // I/O base address, -1 when the kernel does not say
  bool operator==(const ParportInfo&) const = default;
};

// The kernel's parallel ports, by number: the names from /sys/class/parport, /sys/bus/parport and
// /proc/sys/dev/parport, the base from /proc/sys/dev/parport/parportN/base-addr (decimal numbers,
// the base first). `root` is "/" but for tests.
std::vector<ParportInfo> FindParports(const std::filesystem::path& root);

class ParportDeviceBackend final : public PortBackend {
 public:
  explicit ParportDeviceBackend(ParportCalls& calls = SystemParportCalls()) : calls_(calls) {}
  ~ParportDeviceBackend() override { Close(); }
  ParportDeviceBackend(const ParportDeviceBackend&) = delete;
  ParportDeviceBackend& operator=(const ParportDeviceBackend&) = delete;

  // Opens the device of every port FindParports(root) finds at one of the three printer-port
  // bases. True when at least one is open; Advice() says why none is.
  bool OpenPrinterPorts(const std::filesystem::path& root);
  // Opens the device of the port FindParports(root) finds at `cardBase` (a PCI card's port at
  // 0xD010, say), routed at that base. True when it is open; Advice() says why not.
  bool OpenPortAt(const std::filesystem::path& root, std::uint16_t cardBase);
  // Opens just `device`, the one the user named, for all three printer-port bases and for
  // `cardBase` when it is not 0: whichever port the program addresses reaches it, wherever the
  // card's own registers lie.
  bool OpenDevice(const std::string& device, std::uint16_t cardBase = 0);
  // Releases and closes every device.
  void Close();

  // Whether this system has such devices at all (Linux).
  static bool Available();
  bool Active() const { return deviceCount_ > 0; }
  // The devices in use, e.g. "/dev/parport0 at 0x378 (ppdev)"; empty when none.
  std::string InUse() const;
  // The devices that were tried, why each failed and the fix; empty while a device is open.
  std::string Advice() const;

  std::uint8_t ReadByte(std::uint16_t port) override;
  void WriteByte(std::uint16_t port, std::uint8_t value) override;
  std::uint16_t ReadWord(std::uint16_t port) override;
  void WriteWord(std::uint16_t port, std::uint16_t value) override;
  void ReadBytes(std::uint16_t port, std::uint8_t* bytes, std::size_t count) override;
  void WriteBytes(std::uint16_t port, const std::uint8_t* bytes, std::size_t count) override;
  void ReadWords(std::uint16_t port, std::uint8_t* bytes, std::size_t count) override;
  void WriteWords(std::uint16_t port, const std::uint8_t* bytes, std::size_t count) override;
  bool MovesRunsWhole() const override { return true; }

 private:
  static constexpr int kModeUnknown = -1;
  struct Device {
    int fd = -1;
    int mode = kModeUnknown;  // the IEEE 1284 mode last set on the device
    std::string path;
  };
  // Which device answers at base..base+7.
  struct Route {
    std::uint16_t base;
    std::uint8_t device;
  };
  struct Attempt {
    std::string device;
    std::int64_t base;  // -1: the user's device, for every base
    int error;          // errno
    const char* step;   // "open" or "claim"
    DeviceKind kind = DeviceKind::Unknown;
    std::string what;  // the kind of file, for DeviceKind::NotDevice
  };

  // The device behind `port` and the register offset there, or nullptr.
  Device* Find(std::uint16_t port, unsigned& offset) {
    for (int i = 0; i < routeCount_; ++i) {
      offset = static_cast<std::uint16_t>(port - routes_[i].base);
      if (offset < 8) return &devices_[routes_[i].device];
    }
    return nullptr;
  }
  void SetMode(Device& device, int mode);
  // One read() or write() of `count` bytes in EPP mode `mode`, in pieces the kernel takes whole.
  void EppRead(Device& device, int mode, std::uint8_t* bytes, std::size_t count);
  void EppWrite(Device& device, int mode, const std::uint8_t* bytes, std::size_t count);
  int OpenOne(const std::string& path, std::int64_t base);  // index into devices_, or -1

  ParportCalls& calls_;
  std::array<Device, 3> devices_{};
  int deviceCount_ = 0;
  std::array<Route, 4> routes_{};
  int routeCount_ = 0;
  std::vector<Attempt> attempts_;
  std::vector<ParportInfo> found_;
  bool searched_ = false;       // OpenPrinterPorts ran (found_ is what it saw)
  bool forced_ = false;         // OpenDevice: one device for every base
  std::int64_t cardBase_ = -1;  // OpenPortAt: the one base looked for
};

}  // namespace brevomat
