// The parallel-port device back end against a model of the kernel's ppdev driver: what each port
// operation becomes, where the kernel's ports are found, what the user is told when none opens,
// adapter detection and a chunk write through it to the virtual adapter, whole commands whose
// runs cross in one call each, or time out halfway, and the doctor on a faulty cable.
#include <gtest/gtest.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "CableFaultTable.h"
#include "CartRig.h"
#include "cart/Flash.h"
#include "cart/Program.h"
#include "commands/Commands.h"
#include "commands/Doctor.h"
#include "port/ParportDevice.h"
#include "port/PortDriver.h"

namespace brevomat {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02x", value);
  return text;
}

// The kernel side of ppdev as far as the back end uses it: device nodes by path, each claimed or
// not and in one IEEE 1284 mode, passing register accesses and EPP cycles (data at base+4, address
// at base+3) to the hardware at the port's base. Every call is written down in words; calls to a
// node other than the first carry its number. EPP data transfers are also counted by size, and
// one of those that move more than a word (a run) can be made to time out halfway.
class FakePpdev final : public ParportCalls {
 public:
  struct Node {
    std::string path;
    std::uint16_t base;
    PortBackend* hardware;
    int openError = 0, claimError = 0;
    bool claimed = false;
    int mode = IEEE1284_MODE_COMPAT;
  };
  std::vector<Node> nodes;
  Lines calls;
  bool quiet = false;                                  // count the transfers, write nothing down
  std::map<std::size_t, std::uint64_t> reads, writes;  // EPP data read()s and write()s by size
  // The run read or write (counted from 0 in each direction) whose middle cycle times out: the
  // kernel's fast EPP transfers then fail the call with EIO, a read handing over nothing.
  long timeOutRead = -1, timeOutWrite = -1;

  int Open(const std::string& path) override {
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      if (nodes[i].path != path) continue;
      if (nodes[i].openError) return -nodes[i].openError;
      Log(static_cast<int>(i) + 3, "open");
      return static_cast<int>(i) + 3;
    }
    return -ENOENT;
  }
  int Close(int fd) override {
    Log(fd, "close");
    return 0;
  }
  int Ioctl(int fd, unsigned long request, void* arg) override {
    Node& n = At(fd);
    if (request == PPCLAIM || request == PPRELEASE) {
      Log(fd, request == PPCLAIM ? "PPCLAIM" : "PPRELEASE");
      n.claimed = request == PPCLAIM && !n.claimError;
      return request == PPCLAIM ? -n.claimError : 0;
    }
    if (request == PPSETMODE || request == PPSETFLAGS) {
      const int value = *static_cast<int*>(arg);
      if (request == PPSETMODE) n.mode = value;
      Log(fd, request == PPSETMODE                    ? "PPSETMODE " + ModeName(value)
              : value == (PP_FASTWRITE | PP_FASTREAD) ? "PPSETFLAGS FAST"
                                                      : "PPSETFLAGS ?");
      return 0;
    }
    // The register calls: data, status and control at base+0, +1, +2.
    struct Register {
      unsigned long request;
      const char* name;
      int offset;
      bool write;
    };
    static const Register kRegisters[] = {{PPWDATA, "PPWDATA", 0, true},
                                          {PPRDATA, "PPRDATA", 0, false},
                                          {PPRSTATUS, "PPRSTATUS", 1, false},
                                          {PPWCONTROL, "PPWCONTROL", 2, true},
                                          {PPRCONTROL, "PPRCONTROL", 2, false}};
    for (const Register& r : kRegisters) {
      if (r.request != request) continue;
      auto* byte = static_cast<std::uint8_t*>(arg);
      Log(fd, r.write ? std::string(r.name) + " " + Hex2(*byte) : r.name);
      if (!n.claimed) return -EINVAL;  // ppdev: "claim the port first"
      const auto port = static_cast<std::uint16_t>(n.base + r.offset);
      if (r.write)
        n.hardware->WriteByte(port, *byte);
      else
        *byte = n.hardware->ReadByte(port);
      return 0;
    }
    return -ENOTTY;
  }
  long Write(int fd, const void* buffer, std::size_t count) override {
    return Transfer(fd, const_cast<void*>(buffer), count, true);
  }
  long Read(int fd, void* buffer, std::size_t count) override { return Transfer(fd, buffer, count, false); }

 private:
  static std::string ModeName(int mode) {
    if (mode == IEEE1284_MODE_EPP) return "EPP";
    return mode == (IEEE1284_MODE_EPP | IEEE1284_ADDR) ? "EPP|ADDR" : std::to_string(mode);
  }
  Node& At(int fd) { return nodes.at(static_cast<std::size_t>(fd - 3)); }
  long Transfer(int fd, void* buffer, std::size_t count, bool write) {
    Node& n = At(fd);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    if (!quiet) {
      std::string line = (write ? "write " : "read ") + ModeName(n.mode);
      for (std::size_t i = 0; i < count; ++i) line += write ? " " + Hex2(bytes[i]) : "";
      Log(fd, write ? line : line + " " + std::to_string(count));
    }
    std::size_t reached = count;
    if (n.mode == IEEE1284_MODE_EPP) {
      auto& bySize = write ? writes : reads;
      long runs = 0;
      for (const auto& [size, times] : bySize) runs += size > 2 ? static_cast<long>(times) : 0;
      if (count > 2 && runs == (write ? timeOutWrite : timeOutRead)) reached = count / 2;
      ++bySize[count];
    }
    const int offset = n.mode == IEEE1284_MODE_EPP                     ? 4
                       : n.mode == (IEEE1284_MODE_EPP | IEEE1284_ADDR) ? 3
                                                                       : -1;
    if (!n.claimed || offset < 0) return -EINVAL;  // printer handshakes are not modelled
    const auto port = static_cast<std::uint16_t>(n.base + offset);
    // The first half of a timed-out read lies in the buffer all the same: the back end must not
    // take it for data.
    for (std::size_t i = 0; i < reached; ++i) {
      if (write)
        n.hardware->WriteByte(port, bytes[i]);
      else
        bytes[i] = n.hardware->ReadByte(port);
    }
    return reached == count ? static_cast<long>(count) : -EIO;
  }
  void Log(int fd, const std::string& what) {
    calls.push_back(fd == 3 ? what : "parport" + std::to_string(fd - 3) + ": " + what);
  }
};

// Hardware whose reads count up from 0x10, so the order of the bytes of a word shows.
class CountingHardware final : public PortBackend {
 public:
  std::uint8_t ReadByte(std::uint16_t) override { return next++; }
  void WriteByte(std::uint16_t, std::uint8_t) override {}
  std::uint16_t ReadWord(std::uint16_t) override { return 0; }
  void WriteWord(std::uint16_t, std::uint16_t) override {}
  std::uint8_t next = 0x10;
};

// A fake / with the kernel's files; "name/" makes a directory.
class FakeRoot {
 public:
  explicit FakeRoot(const std::map<std::string, std::string>& files) {
    static int serial = 0;
    root = fs::temp_directory_path() /
           ("brevomat-parport-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
    for (const auto& [name, text] : files) {
      fs::create_directories((root / name).parent_path());
      if (name.ends_with('/')) continue;
      std::ofstream(root / name) << text;
    }
    fs::create_directories(root);
  }
  ~FakeRoot() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  std::string Dev(const std::string& name) const { return (root / "dev" / name).string(); }
  fs::path root;
};

// Two printer ports, as most PCs with two ports have them.
const std::map<std::string, std::string> kTwoPorts = {
    {"proc/sys/dev/parport/parport0/base-addr", "888\t1912\n"},
    {"proc/sys/dev/parport/parport1/base-addr", "632\t1656\n"},
};

TEST(ParportDevice, EachPortOperationBecomesOneDeviceCallInTheRightMode) {
  struct Op {
    char kind;  // r / w byte read / write, R / W word read / write
    std::uint16_t port;
    std::uint16_t value = 0;
  };
  struct Row {
    const char* what;
    std::vector<Op> ops;
    Lines calls;
    std::uint16_t lastRead = 0;
  };
  const std::vector<Row> rows = {
      {"data write", {{'w', 0x378, 0x5A}}, {"PPWDATA 5a"}},
      {"data read", {{'r', 0x378}}, {"PPRDATA"}, 0x10},
      {"status read", {{'r', 0x379}}, {"PPRSTATUS"}, 0x10},
      {"status write: the kernel clears EPP time-outs", {{'w', 0x379, 1}}, {}},
      {"control write and read", {{'w', 0x37A, 4}, {'r', 0x37A}}, {"PPWCONTROL 04", "PPRCONTROL"}, 0x10},
      {"EPP address write and read",
       {{'w', 0x37B, 3}, {'r', 0x37B}},
       {"PPSETMODE EPP|ADDR", "write EPP|ADDR 03", "read EPP|ADDR 1"},
       0x10},
      {"EPP data byte write and read",
       {{'w', 0x37C, 0x12}, {'r', 0x37C}},
       {"PPSETMODE EPP", "write EPP 12", "read EPP 1"},
       0x10},
      {"EPP data word: two bytes, low first",
       {{'W', 0x37C, 0x1234}, {'R', 0x37C}},
       {"PPSETMODE EPP", "write EPP 34 12", "read EPP 2"},
       0x1110},
      {"the mode is set only when it changes",
       {{'w', 0x37B, 3},
        {'W', 0x37C, 1},
        {'W', 0x37C, 2},
        {'w', 0x37A, 1},
        {'r', 0x379},
        {'w', 0x37B, 4},
        {'r', 0x37C}},
       {"PPSETMODE EPP|ADDR", "write EPP|ADDR 03", "PPSETMODE EPP", "write EPP 01 00", "write EPP 02 00",
        "PPWCONTROL 01", "PPRSTATUS", "PPSETMODE EPP|ADDR", "write EPP|ADDR 04", "PPSETMODE EPP",
        "read EPP 1"},
       0x11},
      {"a word elsewhere is two byte accesses, low first",
       {{'W', 0x378, 0xABCD}, {'R', 0x379}},
       {"PPWDATA cd", "PPRSTATUS", "PPRCONTROL"},
       0x1110},
      {"routed by address, each device keeps its own mode",
       {{'w', 0x37C, 1}, {'w', 0x27A, 4}, {'W', 0x27C, 0x0302}, {'w', 0x37C, 4}},
       {"PPSETMODE EPP", "write EPP 01", "parport1: PPWCONTROL 04", "parport1: PPSETMODE EPP",
        "parport1: write EPP 02 03", "write EPP 04"}},
      {"no device at 0x3BC: a floating bus", {{'w', 0x3BE, 4}, {'R', 0x3BC}}, {}, 0xFFFF},
  };
  FakeRoot tree(kTwoPorts);
  for (const Row& row : rows) {
    CountingHardware lpt1, lpt2;
    FakePpdev kernel;
    kernel.nodes = {{tree.Dev("parport0"), 0x378, &lpt1}, {tree.Dev("parport1"), 0x278, &lpt2}};
    ParportDeviceBackend ppdev(kernel);
    ASSERT_TRUE(ppdev.OpenPrinterPorts(tree.root));
    kernel.calls.clear();
    std::uint16_t read = 0;
    for (const Op& op : row.ops) {
      if (op.kind == 'w') ppdev.WriteByte(op.port, static_cast<std::uint8_t>(op.value));
      if (op.kind == 'W') ppdev.WriteWord(op.port, op.value);
      if (op.kind == 'r') read = ppdev.ReadByte(op.port);
      if (op.kind == 'R') read = ppdev.ReadWord(op.port);
    }
    EXPECT_EQ(kernel.calls, row.calls) << row.what;
    EXPECT_EQ(read, row.lastRead) << row.what;
  }
}

TEST(ParportDevice, TheDriverClaimsThePrinterPortsOrTheNamedDeviceAndReleasesThem) {
  FakeRoot tree(kTwoPorts);
  CountingHardware hardware;
  FakePpdev kernel;
  kernel.nodes = {{tree.Dev("parport0"), 0x378, &hardware},
                  {tree.Dev("parport1"), 0x278, &hardware},
                  {"/dev/parport3", 0xD010, &hardware}};
  DirectPortDriver driver(kernel);
  ASSERT_TRUE(driver.Devices.OpenPrinterPorts(tree.root));  // as OpenDriver does when ioperm is refused
  EXPECT_EQ(&driver.Backend(), &driver.Devices);
  EXPECT_EQ(driver.BackEndInUse(),
            tree.Dev("parport0") + " at 0x378, " + tree.Dev("parport1") + " at 0x278 (ppdev)");
  EXPECT_EQ(driver.Advice(), "");
  driver.CloseDriver();
  EXPECT_EQ(kernel.calls, (Lines{"open", "PPCLAIM", "PPSETFLAGS FAST", "parport1: open", "parport1: PPCLAIM",
                                 "parport1: PPSETFLAGS FAST", "PPRELEASE", "close", "parport1: PPRELEASE",
                                 "parport1: close"}));

  // A named device alone, ioperm untried, answering for every printer port.
  kernel.calls.clear();
  driver.ForcedDevice = "/dev/parport3";
  driver.OpenDriver();
  ASSERT_TRUE(driver.ActiveHW());
  EXPECT_EQ(driver.BackEndInUse(), "/dev/parport3 (ppdev) at every printer-port address");
  for (const std::uint16_t control : {0x37A, 0x27A, 0x3BE}) driver.Backend().WriteByte(control, 4);
  driver.CloseDriver();
  EXPECT_EQ(driver.Devices.ReadByte(0x379), 0xFF);  // closed: nothing reaches the kernel any more
  EXPECT_EQ(kernel.calls, (Lines{"parport2: open", "parport2: PPCLAIM", "parport2: PPSETFLAGS FAST",
                                 "parport2: PPWCONTROL 04", "parport2: PPWCONTROL 04",
                                 "parport2: PPWCONTROL 04", "parport2: PPRELEASE", "parport2: close"}));

  driver.ForcedDevice = "/dev/parport7";
  driver.OpenDriver();
  EXPECT_FALSE(driver.ActiveHW());
  EXPECT_EQ(driver.Advice(),
            "/dev/parport7: cannot open it: No such file or directory\n"
            "  the device is missing: load the ppdev module with  sudo modprobe ppdev\n"
            "  (and to load it at every start:  echo ppdev | sudo tee /etc/modules-load.d/ppdev.conf)");
}

TEST(ParportDevice, APortCardAtAnyBaseIsReachedThroughItsOwnDevice) {
  FakeRoot tree({{"proc/sys/dev/parport/parport0/base-addr", "888\t1912\n"},
                 {"proc/sys/dev/parport/parport1/base-addr", "53264\t53256\n"}});
  CountingHardware hardware;
  FakePpdev kernel;
  kernel.nodes = {{tree.Dev("parport0"), 0x378, &hardware}, {tree.Dev("parport1"), 0xD010, &hardware}};
  DirectPortDriver driver(kernel);
  driver.CardBase = 0xD010;
  ASSERT_TRUE(
      driver.Devices.OpenPortAt(tree.root, driver.CardBase));  // as OpenDriver does when iopl is refused
  EXPECT_EQ(driver.BackEndInUse(), tree.Dev("parport1") + " at 0xD010 (ppdev)");
  driver.Backend().WriteByte(0xD012, 4);
  driver.Backend().WriteByte(0x37A, 4);  // the printer port at 0x378 stays closed
  driver.CloseDriver();
  EXPECT_EQ(kernel.calls, (Lines{"parport1: open", "parport1: PPCLAIM", "parport1: PPSETFLAGS FAST",
                                 "parport1: PPWCONTROL 04", "parport1: PPRELEASE", "parport1: close"}));

  EXPECT_FALSE(driver.Devices.OpenPortAt(tree.root, 0xE000));
  EXPECT_EQ(driver.Devices.Advice(), "the kernel has no parallel port at 0xE000: " + tree.Dev("parport0") +
                                         " at 0x378 " + tree.Dev("parport1") +
                                         " at 0xD010\n  brevomat-cli --device " + tree.Dev("parport0") +
                                         " reaches one wherever it lies");
}

TEST(ParportDevice, FindsTheKernelsPortsAndTheirBases) {
  struct Row {
    const char* what;
    std::map<std::string, std::string> files;
    std::vector<std::pair<std::string, std::int64_t>> ports;
  };
  const std::vector<Row> rows = {
      {"none", {}, {}},
      {"bases from /proc, its default entry ignored",
       {{"proc/sys/dev/parport/parport1/base-addr", "632\t1656\n"},
        {"proc/sys/dev/parport/parport0/base-addr", "888\t1912\n"},
        {"proc/sys/dev/parport/default/timeslice", "200\n"}},
       {{"parport0", 0x378}, {"parport1", 0x278}}},
      {"names from sysfs, by number; devices on the bus are no ports",
       {{"sys/class/parport/parport10/", ""},
        {"sys/bus/parport/devices/parport2/", ""},
        {"sys/bus/parport/devices/parport2.0/", ""},
        {"proc/sys/dev/parport/parport2/base-addr", "956\t1980\n"}},
       {{"parport2", 0x3BC}, {"parport10", -1}}},
      {"unreadable bases are unknown",
       {{"proc/sys/dev/parport/parport0/base-addr", "0x378\n"},
        {"proc/sys/dev/parport/parport1/base-addr", "99999999999\n"},
        {"proc/sys/dev/parport/parport2/base-addr", ""},
        {"proc/sys/dev/parport/parport3/base-addr", "53264\n"}},
       {{"parport0", -1}, {"parport1", -1}, {"parport2", -1}, {"parport3", 0xD010}}},
  };
  for (const Row& row : rows) {
    FakeRoot tree(row.files);
    std::vector<ParportInfo> expected;
    for (const auto& [name, base] : row.ports) expected.push_back({name, tree.Dev(name), base});
    EXPECT_EQ(FindParports(tree.root), expected) << row.what;
  }
}

TEST(ParportDevice, AdviceNamesTheDeviceAndTheFix) {
  struct Row {
    const char* what;
    std::map<std::string, std::string> files;
    int openError, claimError;
    Lines says;
  };
  const std::vector<Row> rows = {
      {"no port at all",
       {},
       0,
       0,
       {"the kernel reports no parallel port", "sudo modprobe -a parport_pc ppdev"}},
      {"no device node",
       kTwoPorts,
       ENOENT,
       0,
       {"/dev/parport0 (0x378): cannot open it", "sudo modprobe ppdev"}},
      {"not in the group",
       kTwoPorts,
       EACCES,
       0,
       {"/dev/parport1 (0x278): cannot open it: Permission denied", "sudo usermod -aG lp $USER",
        "log out and in"}},
      {"no port behind the device", kTwoPorts, 0, ENXIO, {"cannot claim it", "sudo modprobe parport_pc"}},
      {"a card elsewhere",
       {{"proc/sys/dev/parport/parport0/base-addr", "53264\t53256\n"}},
       0,
       0,
       {"not at 0x378, 0x278 or 0x3BC", "/dev/parport0 at 0xD010", "brevomat-cli --device"}},
  };
  for (const Row& row : rows) {
    FakeRoot tree(row.files);
    CountingHardware hardware;
    FakePpdev kernel;
    for (const char* name : {"parport0", "parport1"})
      if (row.openError != ENOENT)
        kernel.nodes.push_back({tree.Dev(name), 0, &hardware, row.openError, row.claimError});
    ParportDeviceBackend ppdev(kernel);
    EXPECT_FALSE(ppdev.OpenPrinterPorts(tree.root)) << row.what;
    EXPECT_EQ(ppdev.InUse(), "");
    const std::string advice = ppdev.Advice();
    for (const std::string& text : row.says)
      EXPECT_NE(advice.find(text), std::string::npos) << row.what << "\n" << advice;
  }
}

// --device names anything at all: the remedy follows what the path is (looked at on this system),
// and for a parallel-port device what failed.
TEST(ParportDevice, DeviceAdviceFitsWhatThePathIs) {
  const fs::path dir = fs::temp_directory_path() / ("brevomat-device-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string fifo = (dir / "fifo").string(), socket = (dir / "socket").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  std::ofstream(dir / "image.gba") << "x";
  const struct {
    std::string path;  // looked at on this system; empty: `kind` as given
    DeviceKind kind;
    int error;
    const char* step;
    const char* says;
  } rows[] = {
      {fifo,
       {},
       EACCES,
       "open",
       "it is a FIFO (named pipe), not a character device: name a parallel-port device"},
      {socket, {}, ENXIO, "open", "it is a socket, not a character device"},
      {(dir / "image.gba").string(), {}, ENOTTY, "claim", "it is a regular file, not a character device"},
      {dir.string(), {}, EISDIR, "open", "it is a directory, not a character device"},
      {"/dev/tty", {}, ENXIO, "open", "it is a terminal, not a parallel port"},
      {"/dev/null",
       {},
       ENOTTY,
       "claim",
       "it is a character device but not one of the parallel-port driver ppdev"},
      {(dir / "parport3").string(), {}, ENOENT, "open", "load the ppdev module with  sudo modprobe ppdev"},
      {(dir / "lpt").string(), {}, ENOENT, "open", "there is no such file: name a parallel-port device"},
      {"", DeviceKind::Parport, EACCES, "open", "join the group lp"},
      {"", DeviceKind::Parport, ENXIO, "open",
       "the ppdev driver is not loaded: load it with  sudo modprobe ppdev"},
      {"", DeviceKind::Parport, ENXIO, "claim",
       "no port behind it: load the port driver with  sudo modprobe parport_pc"},
      {"", DeviceKind::Parport, EBUSY, "claim", "another program holds the port"},
  };
  for (const auto& row : rows) {
    std::string what;
    const DeviceKind kind = row.path.empty() ? row.kind : SystemParportCalls().Kind(row.path, what);
    const std::string fix = DeviceFix(kind, what, row.error, row.step, row.path);
    EXPECT_NE(fix.find(row.says), std::string::npos) << row.path << ": " << fix;
  }
  ::close(sock);
  fs::remove_all(dir);
}

// Detection, identification and a programmed chunk at every speed, through the device back end to
// the virtual adapter on LPT2 (LPT1 has a device with nothing on it): every cycle type the link
// has crosses the device, and the flash ends up holding the chunk.
TEST(ParportDevice, DetectionAndAChunkWriteReachTheVirtualAdapterUnchanged) {
  FakeRoot tree(kTwoPorts);
  for (int speed = 0; speed < 4; ++speed) {
    testing::CartRig rig({.base = 0x278});
    FakePpdev kernel;
    kernel.nodes = {{tree.Dev("parport0"), 0x378, &ClosedPortBackend::Instance()},
                    {tree.Dev("parport1"), 0x278, &rig.adapter}};
    ParportDeviceBackend ppdev(kernel);
    ASSERT_TRUE(ppdev.OpenPrinterPorts(tree.root));
    rig.core.port.Attach(&ppdev);
    rig.window.portSel = 1;
    rig.window.radioSpeed = speed;
    rig.core.SelectPortAddresses();
    rig.DirtyFlash();

    ASSERT_TRUE(rig.core.OpenLink()) << speed;
    EXPECT_EQ(rig.window.log, Lines{"PortMode = EPP"}) << speed;
    ASSERT_TRUE(IdentifyFlash(rig.core.link, rig.core.frame, rig.core.cart)) << speed;
    for (std::uint32_t k = 0; k < kChunkWords; ++k)
      rig.core.frame.Buffer.SetWord(k, static_cast<std::uint16_t>(k * 0x9E37 + speed));
    ASSERT_TRUE(ProgramChunk(rig.core.link, rig.core.frame, rig.core.cart, 5, kChunkWords * 2)) << speed;
    const auto chunk = rig.cart.Flash().begin() + 5 * kChunkWords * 2;
    EXPECT_TRUE(std::equal(chunk, chunk + kChunkWords * 2, rig.core.frame.Buffer.data())) << speed;
    rig.core.port.Detach();
  }
}

// Backup Game (1 MB of the flash) or Write Flash (a 64 KB image over other data) through the
// device to the virtual adapter, the kernel as `setUp` leaves it; `check` looks at the outcome.
enum class Command { ReadOut, Write };
constexpr std::size_t kReadOutBytes = 0x100000, kWriteBytes = 0x10000;
constexpr std::size_t kRunBytes = kRunWords * 2;

void ThroughDevice(Command command, int speed, const std::function<void(FakePpdev&)>& setUp,
                   const std::function<void(int, testing::CartRig&, FakePpdev&)>& check) {
  testing::CartRig rig;
  FakePpdev kernel;
  kernel.quiet = true;
  kernel.nodes = {{"/dev/parport0", 0x378, &rig.adapter}};
  setUp(kernel);
  ParportDeviceBackend ppdev(kernel);
  ASSERT_TRUE(ppdev.OpenDevice("/dev/parport0"));
  rig.core.port.Attach(&ppdev);
  rig.window.radioSpeed = speed;
  int result;
  if (command == Command::ReadOut) {
    rig.cart.Flash() = testing::MakeImage(rig.cart.Flash().size(), 7);
    rig.window.saveDialog1 = {(rig.dir / "dump.gba").string()};
    rig.window.form2 = {0};  // 1 MB
    result = ReadClick(rig.core);
  } else {
    rig.DirtyFlash();
    rig.window.openDialog1 = {
        std::vector<std::string>{rig.File("image.gba", testing::MakeImage(kWriteBytes, 7))}};
    result = WriteClick(rig.core);
  }
  check(result, rig, kernel);
}

// Every EPP data transfer is a single byte or word, or a whole run.
void ExpectSinglesOrRuns(const std::map<std::size_t, std::uint64_t>& bySize, std::size_t runBytes) {
  for (const auto& [size, times] : bySize)
    EXPECT_TRUE(size <= 2 || size == runBytes) << times << " transfer(s) of " << size << " bytes";
}

TEST(ParportDevice, EachRunOfACommandIsOneReadOrWrite) {
  const struct {
    Command command;
    int speed;  // "4" 16-bit transfers, "3" byte transfers, "2" SPP writes and EPP reads
  } rows[] = {{Command::ReadOut, 0}, {Command::ReadOut, 1}, {Command::ReadOut, 2},
              {Command::Write, 0},   {Command::Write, 1},   {Command::Write, 2}};
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << (row.command == Command::ReadOut ? "read-out" : "write")
                                      << " at speed item " << row.speed);
    ThroughDevice(
        row.command, row.speed, [](FakePpdev&) {},
        [&](int result, testing::CartRig& rig, FakePpdev& kernel) {
          ASSERT_EQ(result, kResultDone);
          const std::vector<std::uint8_t> image =
              testing::MakeImage(row.command == Command::ReadOut ? rig.cart.Flash().size() : kWriteBytes, 7);
          // Each chunk crossed twice (read and verify), a run per read().
          if (row.command == Command::ReadOut) {
            EXPECT_TRUE(testing::ReadBytes(rig.dir / "dump.gba") ==
                        std::vector<std::uint8_t>(image.begin(), image.begin() + kReadOutBytes));
            EXPECT_GE(kernel.reads[kRunBytes], 2 * kReadOutBytes / kRunBytes);
          } else {
            EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.cart.Flash().begin()));
            // A flash buffer's 16 words in one write() where they are EPP cycles.
            const std::size_t buffers = kWriteBytes / (flash::kBufferWords * 2);
            EXPECT_EQ(kernel.writes[flash::kBufferWords * 2], row.speed < 2 ? buffers : 0);
            EXPECT_GE(kernel.reads[kRunBytes], 2 * kWriteBytes / kRunBytes);
            ExpectSinglesOrRuns(kernel.writes, flash::kBufferWords * 2);
          }
          ExpectSinglesOrRuns(kernel.reads, kRunBytes);
        });
  }
}

// A run that times out anywhere in a command fails the command: what the cart did not get is
// found by the read-back, what the PC did not get reads 0xFF and differs from the other read.
TEST(ParportDevice, ARunThatTimesOutFailsTheCommand) {
  // How many runs each command reads without a fault, so that the last of them can fail.
  long lastRead[2] = {};
  for (const Command command : {Command::ReadOut, Command::Write})
    ThroughDevice(
        command, 0, [](FakePpdev&) {},
        [&](int, testing::CartRig&, FakePpdev& kernel) {
          lastRead[static_cast<int>(command)] = static_cast<long>(kernel.reads[kRunBytes]) - 1;
        });
  const struct {
    const char* what;
    Command command;
    long read, write;  // the run that times out, -1 none
    const char* says;  // the log line of the failure, empty: the status says it
  } rows[] = {
      {"a run of the first read of a chunk", Command::ReadOut, 10, -1, ""},
      {"the last run of the read-out", Command::ReadOut, lastRead[0], -1, ""},
      {"a flash buffer", Command::Write, -1, 100, "Write Flash Error!!!(0)"},
      {"the last run of the verify pass", Command::Write, lastRead[1], -1, "Verify Flash Error!!!(1)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ThroughDevice(
        row.command, 0,
        [&](FakePpdev& kernel) {
          kernel.timeOutRead = row.read;
          kernel.timeOutWrite = row.write;
        },
        [&](int result, testing::CartRig& rig, FakePpdev&) {
          EXPECT_EQ(result, kResultFailed);
          EXPECT_EQ(rig.window.status, "Error!!!");
          const Lines& log = rig.window.log;
          if (*row.says) {
            EXPECT_NE(std::find(log.begin(), log.end(), row.says), log.end());
          }
        });
  }
}

// The doctor through the device finds what it finds through direct access: every register it
// reads back (data, control, status, EPP address and data) crosses the kernel here too. The faults
// of the cable, not of the port's mode: the kernel answers a port without EPP in its own way.
TEST(ParportDevice, TheDoctorNamesACablesFaultThroughTheDevice) {
  auto rows = testing::CableFaultRows();
  rows.insert(rows.begin(), {"no fault", {}, {}, 0});
  for (const auto& row : rows) {
    if (row.cable.port != sim::PortKind::Epp) continue;
    SCOPED_TRACE(row.name);
    testing::CartRigOptions options;
    options.cable = row.cable;
    testing::CartRig rig(options);
    const std::vector<std::uint8_t> flash = rig.cart.Flash();
    FakePpdev kernel;
    kernel.quiet = true;
    kernel.nodes = {{"/dev/parport0", 0x378, &rig.adapter}};
    ParportDeviceBackend ppdev(kernel);
    ASSERT_TRUE(ppdev.OpenDevice("/dev/parport0"));
    rig.core.port.Attach(&ppdev);
    DoctorSetup setup;
    setup.portAccess = ppdev.InUse();
    const DoctorReport report = RunDoctor(rig.core, setup);
    EXPECT_EQ(report.faults, row.faults);
    EXPECT_EQ(report.fastestSpeed, row.fastest);
    EXPECT_TRUE(rig.cart.Flash() == flash) << "the doctor changed the flash";
    rig.core.port.Detach();
  }
}

}  // namespace
}  // namespace brevomat
