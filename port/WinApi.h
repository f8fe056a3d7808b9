// The Windows calls that the port driver component makes, gathered in one table.
//
// The component installs and starts the DriverLINX kernel driver through the service control
// manager and loads the user-mode port library. Every one of those calls goes through this table:
// on Windows it holds the real system calls (SystemWinApi), in the tests a model of a Windows
// machine with its services and library files. The types are this program's own, just wide enough
// for what the component uses, so the component compiles and is tested on any platform.
#pragma once

#include <cstdint>

namespace brevomat::win {

// Service manager handles and module handles are opaque pointers on Windows.
using Handle = void*;
using Dword = std::uint32_t;
// What GetProcAddress gives: an entry point of unknown type, cast to its real type by the caller.
using Proc = void (*)();

// The calling convention of the Win32 API and of the port libraries' exports (only 32-bit x86
// has more than one).
#if defined(_WIN32) && !defined(_WIN64)
#define BREVOMAT_WINAPI __stdcall
#else
#define BREVOMAT_WINAPI
#endif

// The fields of SERVICE_STATUS, in its order.
struct ServiceStatus {
  Dword serviceType = 0;
  Dword currentState = 0;
  Dword controlsAccepted = 0;
  Dword win32ExitCode = 0;
  Dword serviceSpecificExitCode = 0;
  Dword checkPoint = 0;
  Dword waitHint = 0;
};

// What the component needs of OSVERSIONINFOA.
struct OsVersionInfo {
  Dword majorVersion = 0;
  Dword minorVersion = 0;
  Dword buildNumber = 0;
  Dword platformId = 0;
};

// Values of the Win32 API that the component uses.
inline constexpr Dword kVerPlatformWin32Windows = 1;
inline constexpr Dword kVerPlatformWin32Nt = 2;

inline constexpr Dword kScManagerConnect = 0x0001;
inline constexpr Dword kScManagerCreateService = 0x0002;
inline constexpr Dword kScManagerEnumerateService = 0x0004;
inline constexpr Dword kScManagerQueryLockStatus = 0x0010;

inline constexpr Dword kServiceQueryStatus = 0x0004;
inline constexpr Dword kServiceStart = 0x0010;
inline constexpr Dword kServiceStop = 0x0020;
inline constexpr Dword kDelete = 0x10000;

inline constexpr Dword kServiceKernelDriver = 1;
inline constexpr Dword kServiceDemandStart = 3;
inline constexpr Dword kServiceErrorNormal = 1;
inline constexpr Dword kServiceControlStop = 1;

inline constexpr Dword kServiceStopped = 1;
inline constexpr Dword kServiceStartPending = 2;
inline constexpr Dword kServiceStopPending = 3;
inline constexpr Dword kServiceRunning = 4;

inline constexpr Dword kErrorFileNotFound = 2;
inline constexpr Dword kErrorAccessDenied = 5;
inline constexpr Dword kErrorInvalidHandle = 6;
inline constexpr Dword kErrorModNotFound = 126;
inline constexpr Dword kErrorProcNotFound = 127;
inline constexpr Dword kErrorBadExeFormat = 193;
inline constexpr Dword kErrorFilenameExcedRange = 206;
inline constexpr Dword kErrorServiceAlreadyRunning = 1056;
inline constexpr Dword kErrorServiceDoesNotExist = 1060;
inline constexpr Dword kErrorServiceNotActive = 1062;
inline constexpr Dword kErrorServiceExists = 1073;

// The calls, named and shaped after their Win32 originals (the ANSI forms). A null handle or false
// means failure, with the reason in GetLastError.
class WinApi {
 public:
  virtual ~WinApi() = default;

  virtual Handle OpenSCManagerA(const char* machineName, const char* databaseName, Dword desiredAccess) = 0;
  virtual Handle CreateServiceA(Handle scManager, const char* serviceName, const char* displayName,
                                Dword desiredAccess, Dword serviceType, Dword startType, Dword errorControl,
                                const char* binaryPathName, const char* loadOrderGroup, Dword* tagId,
                                const char* dependencies, const char* serviceStartName,
                                const char* password) = 0;
  virtual Handle OpenServiceA(Handle scManager, const char* serviceName, Dword desiredAccess) = 0;
  virtual bool StartServiceA(Handle service, Dword numServiceArgs, const char** serviceArgVectors) = 0;
  virtual bool ControlService(Handle service, Dword control, ServiceStatus* status) = 0;
  virtual bool QueryServiceStatus(Handle service, ServiceStatus* status) = 0;
  virtual bool DeleteService(Handle service) = 0;
  virtual bool CloseServiceHandle(Handle scObject) = 0;

  virtual Handle LoadLibraryA(const char* libFileName) = 0;
  virtual Proc GetProcAddress(Handle module, const char* procName) = 0;
  virtual bool FreeLibrary(Handle module) = 0;

  virtual bool GetVersionExA(OsVersionInfo* versionInfo) = 0;
  // Returns the length copied, or the size needed (with the NUL) when the buffer is too small.
  virtual unsigned GetSystemDirectoryA(char* buffer, unsigned size) = 0;
  virtual Dword GetLastError() = 0;
};

#if defined(_WIN32)
// The real calls of this Windows system.
WinApi& SystemWinApi();
#endif

}  // namespace brevomat::win
