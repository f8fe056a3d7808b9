// What a user is told when the printer port cannot be opened: the reason, and only the remedy that
// fits it.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "port/PortDriver.h"

namespace brevomat {
namespace {

TEST(PortAccessAdvice, TheRemedyFitsTheReason) {
  const std::string why = "OpenDriver: ioperm(0x378) Error #38 (Function not implemented)";
  const struct {
    int error;
    bool root;
    const char* says;     // a piece of the remedy
    const char* notSays;  // advice that would be wrong here
  } cases[] = {
      {ENOSYS, true, "no direct port I/O", "run it as root"},
      {ENOSYS, false, "Neither root nor CAP_SYS_RAWIO", "setcap"},
      {EPERM, false, "sudo setcap cap_sys_rawio+ep ./brevomat", "locked down"},
      {EACCES, false, "run it as root", "no direct port I/O"},
      {EPERM, true, "CAP_SYS_RAWIO was taken from it", "run it as root"},
      {0, false, "", "run it as root"},  // no port I/O on this platform at all: the reason says it
  };
  for (const auto& c : cases) {
    const std::string advice = PortAccessAdvice(why, c.error, c.root, "./brevomat");
    EXPECT_EQ(advice.rfind("no access to the printer port: " + why, 0), 0u) << advice;
    EXPECT_NE(advice.find(c.says), std::string::npos) << c.error << " root " << c.root << ":\n" << advice;
    EXPECT_EQ(advice.find(c.notSays), std::string::npos) << c.error << " root " << c.root << ":\n" << advice;
  }
}

}  // namespace
}  // namespace brevomat
