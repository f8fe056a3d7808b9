// Where the main window's port operations go: the real printer port through TDLPortIO, or a
// back end that is always there (the virtual cart, a test's recording back end).
#pragma once

#include <string>

#include "port/Port.h"
#include "port/Tdlportio.h"

namespace brevomat::gui {

class PortDriver {
 public:
  virtual ~PortDriver() = default;
  virtual void SetDriverPath(const std::string& directory) = 0;
  virtual void OpenDriver() = 0;
  virtual bool ActiveHW() const = 0;
  virtual PortBackend& Backend() = 0;
};

// The printer port of this PC. When access cannot be opened the reason and the fix go to
// standard error, where a user starting the program from a terminal sees them.
class DirectPortDriver final : public PortDriver {
 public:
  void SetDriverPath(const std::string& directory) override { DLPortIO.DriverPath = directory; }
  void OpenDriver() override;
  bool ActiveHW() const override { return DLPortIO.ActiveHW(); }
  PortBackend& Backend() override { return DLPortIO.Backend(); }

  TDLPortIO DLPortIO;
};

// A back end that needs no opening.
class FixedPortDriver final : public PortDriver {
 public:
  explicit FixedPortDriver(PortBackend& backend, bool active = true) : backend_(backend), active_(active) {}
  void SetDriverPath(const std::string& directory) override { driverPath = directory; }
  void OpenDriver() override {}
  bool ActiveHW() const override { return active_; }
  PortBackend& Backend() override { return backend_; }

  std::string driverPath;

 private:
  PortBackend& backend_;
  bool active_;
};

}  // namespace brevomat::gui
