// The port driver component on the real Windows calls: the loader with the test port libraries
// built beside this program, and the service control manager with the test driver DLPortIO.SYS,
// which does nothing but load and unload. Under Wine the service manager starts such a driver; on
// real Windows the service tests need administrator rights and a system that starts unsigned
// drivers, and are skipped without the rights.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "port/Port.h"
#include "port/TdlportioWin.h"

namespace brevomat::win {
namespace {

std::string ProgramDir() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string program(path, length);
  return program.substr(0, program.find_last_of("\\/"));
}

const std::string kDir = ProgramDir();
const std::string kComplete = kDir + "\\dlportio";      // DLPortIO.dll with all twelve entry points
const std::string kIncomplete = kDir + "\\incomplete";  // DLPortIO.dll without the last one
const std::string kFallbackDir = kDir + "\\fallback";   // only the fallback library
const std::string kDriverDir = kDir + "\\driver";       // DLPortIO.SYS
const std::string kMadeDir = kDir + "\\made";           // files this test makes

// The system's own calls, but reporting a 9x-family Windows, on which the component only loads
// the library.
class Windows9x final : public WinApi {
 public:
  Handle OpenSCManagerA(const char* m, const char* d, Dword a) override {
    return sys_.OpenSCManagerA(m, d, a);
  }
  Handle CreateServiceA(Handle scm, const char* n, const char* dn, Dword a, Dword t, Dword s, Dword e,
                        const char* p, const char* g, Dword* tag, const char* dep, const char* u,
                        const char* pw) override {
    return sys_.CreateServiceA(scm, n, dn, a, t, s, e, p, g, tag, dep, u, pw);
  }
  Handle OpenServiceA(Handle scm, const char* n, Dword a) override { return sys_.OpenServiceA(scm, n, a); }
  bool StartServiceA(Handle s, Dword n, const char** v) override { return sys_.StartServiceA(s, n, v); }
  bool ControlService(Handle s, Dword c, ServiceStatus* st) override { return sys_.ControlService(s, c, st); }
  bool QueryServiceStatus(Handle s, ServiceStatus* st) override { return sys_.QueryServiceStatus(s, st); }
  bool DeleteService(Handle s) override { return sys_.DeleteService(s); }
  bool CloseServiceHandle(Handle h) override { return sys_.CloseServiceHandle(h); }
  Handle LoadLibraryA(const char* f) override { return sys_.LoadLibraryA(f); }
  Proc GetProcAddress(Handle m, const char* n) override { return sys_.GetProcAddress(m, n); }
  bool FreeLibrary(Handle m) override { return sys_.FreeLibrary(m); }
  bool GetVersionExA(OsVersionInfo* info) override {
    *info = {};
    info->majorVersion = 4;
    info->platformId = kVerPlatformWin32Windows;
    return true;
  }
  unsigned GetSystemDirectoryA(char* b, unsigned n) override { return sys_.GetSystemDirectoryA(b, n); }
  Dword GetLastError() override { return sys_.GetLastError(); }

 private:
  WinApi& sys_ = SystemWinApi();
};

bool Loaded(const std::string& library) { return GetModuleHandleA(library.c_str()) != nullptr; }

// What the test library recorded since it was loaded.
std::string RecordedCalls(const std::string& library) {
  using Recorded = const char* (*)();
  const auto recorded = reinterpret_cast<Recorded>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA(library.c_str()), "RecordedPortCalls")));
  return recorded ? recorded() : "(not loaded)";
}

// A byte and a word written, read back from the test library's latches: the four operations reach
// the byte and word entry points.
void ExpectPortOperationsReach(TDLPortIO& driver, const std::string& library) {
  PortIo port(&driver.Backend());
  port.PortWriteByte(0x378, 0xA5);
  EXPECT_EQ(port.PortReadByte(0x378), 0xA5);
  port.PortWriteWord(0x37C, 0xABCD);
  EXPECT_EQ(port.PortReadWord(0x37C), 0xABCD);
  EXPECT_EQ(RecordedCalls(library), "wb 378 A5\nrb 378\nww 37C ABCD\nrw 37C\n");
}

void MakeLibraryFiles() {
  namespace fs = std::filesystem;
  fs::create_directories(kMadeDir + "\\notadll");
  std::ofstream(kMadeDir + "\\notadll\\DLPortIO.dll") << "This is a text file, not a program library.\n";
  // The complete library, marked as one for the other x86 (x64 in a 32-bit test, 32-bit x86 in a
  // 64-bit one): the loader refuses a DLL of another processor architecture.
  std::ifstream in(kComplete + "\\DLPortIO.dll", std::ios::binary);
  std::vector<char> image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_GT(image.size(), 0x40u);
  std::uint32_t pe = 0;
  std::memcpy(&pe, &image[0x3C], sizeof pe);
  ASSERT_LT(pe + 6, image.size());
  const std::uint16_t other = sizeof(void*) == 4 ? 0x8664 : 0x014C;  // IMAGE_FILE_MACHINE_AMD64 : _I386
  image[pe + 4] = static_cast<char>(other & 0xFF);
  image[pe + 5] = static_cast<char>(other >> 8);
  fs::create_directories(kMadeDir + "\\otherarch");
  std::ofstream(kMadeDir + "\\otherarch\\DLPortIO.dll", std::ios::binary).write(image.data(), image.size());
}

// The library path of the component: the real LoadLibraryA and GetProcAddress.
TEST(TDLPortIOSystemTest, LoadsTheLibraryAndResolvesEveryEntryPoint) {
  MakeLibraryFiles();
  struct Row {
    std::string name;
    std::string dllPath;
    bool active;
    std::string library;  // the file whose entry points are used
  };
  const std::vector<Row> rows = {
      {"complete DLPortIO.dll", kComplete, true, kComplete + "\\DLPortIO.dll"},
      {"DLPortIO.dll lacking one entry point", kIncomplete, false, kIncomplete + "\\DLPortIO.dll"},
      {"no DLL but a text file", kMadeDir + "\\notadll", false, kMadeDir + "\\notadll\\DLPortIO.dll"},
      {"DLL of another processor", kMadeDir + "\\otherarch", false, kMadeDir + "\\otherarch\\DLPortIO.dll"},
      {"DLLPath that does not exist", kDir + "\\nowhere", false, kDir + "\\nowhere\\DLPortIO.dll"},
      {"only the fallback library", kFallbackDir, true, kFallbackDir + "\\" + kFallbackLibraryName},
  };
  Windows9x windows;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TDLPortIO driver(windows);
    driver.DLLPath = row.dllPath;
    driver.OpenDriver();
    EXPECT_EQ(driver.ActiveHW(), row.active);
    EXPECT_EQ(driver.LastError(), "");
    EXPECT_EQ(Loaded(row.library), row.active);
    if (row.active) {
      ExpectPortOperationsReach(driver, row.library);
      EXPECT_TRUE(driver.CloseDriver());
    } else {
      EXPECT_FALSE(driver.CloseDriver());
    }
    EXPECT_FALSE(Loaded(row.library));
    EXPECT_EQ(driver.Backend().ReadByte(0x378), 0xFF);
  }
}

// The state of the service "DLPortIO" (0: not installed), and its driver file.
struct ServiceView {
  Dword state = 0;
  std::string binaryPath;
};

ServiceView Service() {
  ServiceView view;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service =
      manager ? OpenServiceA(manager, kServiceName, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG) : nullptr;
  if (service) {
    SERVICE_STATUS status{};
    if (QueryServiceStatus(service, &status)) view.state = status.dwCurrentState;
    alignas(QUERY_SERVICE_CONFIGA) char buffer[8192];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    DWORD needed = 0;
    if (QueryServiceConfigA(service, config, sizeof buffer, &needed))
      view.binaryPath = config->lpBinaryPathName;
    CloseServiceHandle(service);
  }
  if (manager) CloseServiceHandle(manager);
  return view;
}

// Installs and starts the service as another program would have; false if that is not possible.
bool InstallAndStartService() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
  if (!manager) return false;
  const std::string driver = kDriverDir + "\\DLPortIO.SYS";
  SC_HANDLE service = CreateServiceA(manager, kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS,
                                     SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                     driver.c_str(), kServiceGroup, nullptr, nullptr, nullptr, nullptr);
  const bool started = service && StartServiceA(service, 0, nullptr);
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return started;
}

void StopAndRemoveService() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceA(manager, kServiceName, SERVICE_STOP | DELETE) : nullptr;
  if (service) {
    SERVICE_STATUS status{};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    DeleteService(service);
    CloseServiceHandle(service);
  }
  if (manager) CloseServiceHandle(manager);
}

// The NT road through the real service control manager: install, start, stop, remove.
TEST(TDLPortIOSystemTest, InstallsStartsAndRemovesTheServiceAsFound) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) GTEST_SKIP() << "no right to install services here";
  CloseServiceHandle(manager);
  ASSERT_EQ(Service().state, 0u) << "a DLPortIO service is installed on this machine already";

  struct Row {
    std::string name;
    std::string driverPath;
    std::string dllPath;
    bool runningBefore;
    bool active;
    bool fallback;
    std::string errorPrefix;  // of LastError, whose number is the system's
  };
  const std::vector<Row> rows = {
      {"no service: installed from DriverPath, started, removed on close", kDriverDir, kComplete, false, true,
       false, ""},
      {"service installed and running before: left so", kDriverDir, kComplete, true, true, false, ""},
      {"library lacking an entry point: service stopped and removed again", kDriverDir, kIncomplete, false,
       false, false, ""},
      {"driver that does not start: the fallback library", kDir + "\\nowhere", kFallbackDir, false, true,
       true, "DriverStart: Error #"},
      {"no DLPortIO.dll: service removed, the fallback library", kDriverDir, kFallbackDir, false, true, true,
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.runningBefore && !InstallAndStartService()) {
      StopAndRemoveService();
      FAIL() << "the test driver could not be installed and started";
    }
    const Dword before = Service().state;
    {
      TDLPortIO driver;
      driver.DriverPath = row.driverPath;
      driver.DLLPath = row.dllPath;
      driver.OpenDriver();
      EXPECT_EQ(driver.ActiveHW(), row.active);
      EXPECT_EQ(driver.FallbackActive(), row.fallback);
      EXPECT_TRUE(driver.LastError().starts_with(row.errorPrefix)) << driver.LastError();
      if (row.errorPrefix.empty()) {
        EXPECT_EQ(driver.LastError(), "");
      }
      const ServiceView open = Service();
      if (row.active && !row.fallback) {
        EXPECT_EQ(open.state, static_cast<Dword>(SERVICE_RUNNING));
        EXPECT_EQ(open.binaryPath, kDriverDir + "\\DLPortIO.SYS");
        ExpectPortOperationsReach(driver, row.dllPath + "\\DLPortIO.dll");
      } else {
        EXPECT_EQ(open.state, before);
      }
      if (row.active) {
        EXPECT_TRUE(driver.CloseDriver());
      }
    }
    EXPECT_EQ(Service().state, before);
    if (row.runningBefore) StopAndRemoveService();
    EXPECT_EQ(Service().state, 0u);
  }
}

}  // namespace
}  // namespace brevomat::win
