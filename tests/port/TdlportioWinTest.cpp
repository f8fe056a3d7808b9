// The Windows port driver component against the model of a Windows machine: what it does to the
// service, which library it loads, what LastError says, and where the port operations go.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FakeWindows.h"
#include "port/Port.h"
#include "port/TdlportioWin.h"

namespace brevomat::win::testing {
namespace {

const std::string kProgramDir = "C:\\Brevomat";
const std::string kOwnDriver = kProgramDir + "\\DLPortIO.SYS";
const std::string kSystemDriver = "C:\\WINDOWS\\system32\\DRIVERS\\DLPortIO.SYS";
const std::string kFallback = kFallbackLibraryName;

FakeService Service(const std::string& path, Dword state) {
  return {kServiceDisplayName, path, kServiceGroup, kServiceKernelDriver, kServiceDemandStart,
          kServiceErrorNormal, state};
}

// A machine with DLPortIO.dll on the library search path and its driver file in the program's
// directory; each case changes what it is about.
void StandardMachine(FakeWindows& windows, TDLPortIO& driver) {
  windows.libraryFiles[kLibraryName] = {AllExports()};
  windows.driverFiles[kOwnDriver] = 0;
  driver.DriverPath = kProgramDir;
}

bool ContainsInOrder(const std::vector<std::string>& calls, const std::vector<std::string>& wanted) {
  auto at = calls.begin();
  for (const std::string& call : wanted) {
    at = std::find(at, calls.end(), call);
    if (at == calls.end()) return false;
    ++at;
  }
  return true;
}

struct Case {
  std::string name;
  std::function<void(FakeWindows&, TDLPortIO&)> setUp = StandardMachine;
  Dword platform = kVerPlatformWin32Nt;
  bool active = false;
  std::string openError = {};
  std::optional<FakeService> serviceWhileOpen = {};  // the "DLPortIO" service while open (none)
  bool fallback = false;
  std::vector<std::string> calls = {};  // calls that must have been made, in this order
  bool touchesServices = true;
  Dword stopFails = 0;          // on the first close the stop control fails with this code,
  Dword removeFails = 0;        // or the deletion does,
  std::string closeError = {};  // which leaves the driver open with this text
};

std::vector<Case> Cases() {
  std::vector<Case> cases = {
      {.name = "9x: no service, only the library",
       .platform = kVerPlatformWin32Windows,
       .active = true,
       .calls = {"LoadLibraryA(DLPortIO.dll)"},
       .touchesServices = false},
      {.name = "NT, service installed and running before: left so",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             w.services[kServiceName] = Service(kSystemDriver, kServiceRunning);
           },
       .active = true,
       .serviceWhileOpen = Service(kSystemDriver, kServiceRunning)},
      {.name = "NT, no service: installed from DriverPath and started, stopped and deleted on close",
       .active = true,
       .serviceWhileOpen = Service(kOwnDriver, kServiceRunning),
       .calls = {"OpenSCManagerA(0x17)", "CreateServiceA(DLPortIO," + kOwnDriver + ")", "StartServiceA",
                 "LoadLibraryA(DLPortIO.dll)"}},
      {.name = "NT, service installed but stopped: started, stopped again, kept",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             w.services[kServiceName] = Service(kOwnDriver, kServiceStopped);
           },
       .active = true,
       .serviceWhileOpen = Service(kOwnDriver, kServiceRunning)},
      {.name = "no right to create services: reduced access, install fails",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             w.administrator = false;
           },
       .openError = "DriverInstall: Error #5",
       .calls = {"OpenSCManagerA(0x17)", "OpenSCManagerA(0x15)"}},
      {.name = "no rights, but the service runs already: used as it is",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             w.administrator = false;
             w.services[kServiceName] = Service(kSystemDriver, kServiceRunning);
           },
       .active = true,
       .serviceWhileOpen = Service(kSystemDriver, kServiceRunning)},
      {.name = "no rights, service installed but stopped: start refused",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             w.administrator = false;
             w.services[kServiceName] = Service(kSystemDriver, kServiceStopped);
           },
       .openError = "DriverStart: Error #5",
       .serviceWhileOpen = Service(kSystemDriver, kServiceStopped)},
      {.name = "service manager refused altogether",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             w.mayConnect = false;
           },
       .openError = "ConnectSCM: Error #5",
       .calls = {"OpenSCManagerA(0x17)", "OpenSCManagerA(0x15)"}},
      {.name = "driver file missing: start fails, service removed again",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             w.driverFiles.clear();
           },
       .openError = "DriverStart: Error #2",
       .calls = {"CreateServiceA(DLPortIO," + kOwnDriver + ")", "StartServiceA", "DeleteService"}},
      {.name = "service stuck in start pending: not taken over, left as found",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             w.services[kServiceName] = Service(kOwnDriver, kServiceStartPending);
           },
       .openError = "DriverStart: Error #-1",
       .serviceWhileOpen = Service(kOwnDriver, kServiceStartPending)},
      {.name = "driver path longer than the system allows",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             d.DriverPath = "C:\\" + std::string(300, 'd');
             w.driverFiles[d.DriverPath + "\\DLPortIO.SYS"] = 0;
           },
       .openError = "DriverStart: Error #206"},
      {.name = "library file is no DLL (or one for another processor)",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             w.libraryFiles[kLibraryName].loadError = kErrorBadExeFormat;
           },
       .calls = {"StartServiceA", "LoadLibraryA(DLPortIO.dll)", "ControlService(1)", "DeleteService"}},
      {.name = "DLLPath that does not exist",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             d.DLLPath = "C:\\nowhere";
           },
       .calls = {"LoadLibraryA(C:\\nowhere\\DLPortIO.dll)"}},
      {.name = "stop fails on close: the driver stays open until a close succeeds",
       .active = true,
       .serviceWhileOpen = Service(kOwnDriver, kServiceRunning),
       .stopFails = 1051,
       .closeError = "DriverStop: Error #1051"},
      {.name = "removal fails on close: a second close finishes the job",
       .active = true,
       .serviceWhileOpen = Service(kOwnDriver, kServiceRunning),
       .removeFails = kErrorAccessDenied,
       .closeError = "DriverRemove: Error #5"},
      {.name = "64-bit Windows refuses the 32-bit driver: the fallback library is opened",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             w.driverFiles[kOwnDriver] = kErrorBadExeFormat;
             w.libraryFiles[kFallback] = {FallbackExports()};
           },
       .active = true,
       .openError = "DriverStart: Error #193",
       .fallback = true,
       .calls = {"DeleteService", "LoadLibraryA(" + kFallback + ")"}},
      {.name = "no DLPortIO.dll: the fallback library from DLLPath",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             d.DLLPath = kProgramDir;
             w.libraryFiles[kProgramDir + "\\" + kFallback] = {FallbackExports()};
           },
       .active = true,
       .fallback = true,
       .calls = {"LoadLibraryA(" + kProgramDir + "\\" + kFallback + ")"}},
      {.name = "fallback library that could not open its driver",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             w.libraryFiles.clear();
             w.libraryFiles[kFallback] = {FallbackExports(), 0, false};
           },
       .calls = {"LoadLibraryA(" + kFallback + ")", "FreeLibrary"}},
      {.name = "fallback library lacking a word entry point",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             w.libraryFiles.clear();
             w.libraryFiles[kFallback] = {FallbackExports()};
             w.libraryFiles[kFallback].exports.erase("DlPortWritePortUshort");
           },
       .calls = {"LoadLibraryA(" + kFallback + ")", "FreeLibrary"}},
      {.name = "fallback switched off",
       .setUp =
           [](FakeWindows& w, TDLPortIO& d) {
             StandardMachine(w, d);
             w.libraryFiles.clear();
             w.libraryFiles[kFallback] = {FallbackExports()};
             d.UseFallbackLibrary = false;
           }},
  };
  // Any one missing entry point of the twelve: the library is unloaded again, and no text.
  for (const char* missing : kEntryPointNames) {
    cases.push_back({.name = std::string("library lacking ") + missing,
                     .setUp =
                         [missing](FakeWindows& w, TDLPortIO& d) {
                           StandardMachine(w, d);
                           w.libraryFiles[kLibraryName].exports.erase(missing);
                         },
                     .calls = {"LoadLibraryA(DLPortIO.dll)", "FreeLibrary"}});
  }
  return cases;
}

TEST(TDLPortIOWindowsTest, OpensAndClosesLeavingTheServiceAsFound) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    FakeWindows windows;
    windows.platformId = c.platform;
    auto driver = std::make_unique<TDLPortIO>(windows);
    c.setUp(windows, *driver);
    const auto asFound = windows.services;

    driver->OpenDriver();
    EXPECT_EQ(driver->ActiveHW(), c.active);
    EXPECT_EQ(driver->FallbackActive(), c.fallback);
    EXPECT_EQ(driver->LastError(), c.openError);
    const auto service = windows.services.find(kServiceName);
    EXPECT_EQ(service == windows.services.end() ? std::nullopt : std::optional(service->second),
              c.serviceWhileOpen);
    EXPECT_TRUE(ContainsInOrder(windows.calls, c.calls)) << ::testing::PrintToString(windows.calls);
    EXPECT_EQ(windows.TouchedServices(), c.touchesServices);
    // Only an open DLPortIO keeps the service manager connected; no service handle stays open.
    EXPECT_EQ(windows.OpenHandles('M'), c.active && c.touchesServices && !c.fallback ? 1u : 0u);
    EXPECT_EQ(windows.OpenHandles('S'), 0u);
    EXPECT_EQ(windows.OpenHandles('L'), c.active ? 1u : 0u);

    if (c.active) {
      const std::size_t callsMade = windows.calls.size();
      driver->OpenDriver();  // while open: nothing at all
      EXPECT_EQ(windows.calls.size(), callsMade);
      EXPECT_TRUE(driver->ActiveHW());

      if (c.stopFails != 0 || c.removeFails != 0) {
        windows.stopError = c.stopFails;
        windows.deleteError = c.removeFails;
        EXPECT_FALSE(driver->CloseDriver());
        EXPECT_TRUE(driver->ActiveHW());
        EXPECT_EQ(driver->LastError(), c.closeError);
        EXPECT_EQ(windows.OpenHandles('L'), 1u);
      }
      EXPECT_TRUE(driver->CloseDriver());
    } else {
      EXPECT_FALSE(driver->CloseDriver());
    }
    EXPECT_FALSE(driver->ActiveHW());
    EXPECT_EQ(windows.services, asFound);
    EXPECT_EQ(windows.OpenHandles('M') + windows.OpenHandles('S') + windows.OpenHandles('L'), 0u);
    EXPECT_EQ(driver->Backend().ReadByte(0x379), 0xFF);

    const std::size_t callsMade = windows.calls.size();
    driver.reset();  // closed already: the destructor has nothing to do
    EXPECT_EQ(windows.calls.size(), callsMade);
  }
}

TEST(TDLPortIOWindowsTest, DestructorClosesAnOpenDriver) {
  FakeWindows windows;
  {
    TDLPortIO driver(windows);
    StandardMachine(windows, driver);
    driver.OpenDriver();
    ASSERT_TRUE(driver.ActiveHW());
  }
  EXPECT_TRUE(windows.services.empty());
  EXPECT_EQ(windows.OpenHandles('M') + windows.OpenHandles('S') + windows.OpenHandles('L'), 0u);
}

// The four port operations go to the byte and word entry points of whichever library is open,
// the port zero-extended from the low 16 bits; while closed they read a floating bus.
TEST(TDLPortIOWindowsTest, PortOperationsReachTheOpenLibrary) {
  struct Row {
    const char* name;
    bool fallback;
    const char* lib;
  };
  for (const Row& row : {Row{"DLPortIO", false, "0"}, Row{"fallback", true, "1"}}) {
    SCOPED_TRACE(row.name);
    FakeWindows windows;
    TDLPortIO driver(windows);
    StandardMachine(windows, driver);
    if (row.fallback) {
      windows.libraryFiles.erase(kLibraryName);
      windows.libraryFiles[kFallback] = {FallbackExports()};
    }
    PortIo port(&driver.Backend());
    port.PortWriteByte(0x37A, 0x04);  // not open yet: dropped
    EXPECT_EQ(port.PortReadByte(0x379), 0xFF);
    EXPECT_EQ(port.PortReadWord(0x37C), 0xFFFF);

    PortLog().clear();
    driver.OpenDriver();
    ASSERT_TRUE(driver.ActiveHW());
    port.PortWriteByte(0x1037A, 0x04);
    EXPECT_EQ(port.PortReadByte(0x379), kByteAnswer);
    port.PortWriteWord(0x37C, 0xABCD);
    EXPECT_EQ(port.PortReadWord(0x37C), kWordAnswer);
    const std::string l = row.lib;
    EXPECT_EQ(PortLog(), (std::vector<std::string>{l + ":wb(0x37A,0x4)", l + ":rb(0x379)",
                                                   l + ":ww(0x37C,0xABCD)", l + ":rw(0x37C)"}));

    ASSERT_TRUE(driver.CloseDriver());
    port.PortWriteByte(0x37A, 0x04);
    EXPECT_EQ(port.PortReadByte(0x379), 0xFF);
    EXPECT_EQ(port.PortReadWord(0x37C), 0xFFFF);
    EXPECT_EQ(PortLog().size(), 4u);
  }
}

TEST(TDLPortIOWindowsTest, StartsClosedWithTheSystemDriversDirectory) {
  for (const std::string& systemDir :
       {std::string("C:\\WINDOWS\\system32"), "D:\\" + std::string(300, 's')}) {
    FakeWindows windows;
    windows.systemDirectory = systemDir;
    TDLPortIO driver(windows);
    EXPECT_EQ(driver.DriverPath, systemDir + "\\DRIVERS");
    EXPECT_EQ(driver.DLLPath, "");
    EXPECT_FALSE(driver.ActiveHW());
    EXPECT_EQ(driver.LastError(), "");
    EXPECT_FALSE(driver.CloseDriver());
    EXPECT_TRUE(windows.calls.empty());
  }
}

}  // namespace
}  // namespace brevomat::win::testing
