// A faulty cable or port, as every command meets it: detection fails or a verify fails, and no
// command ends ok with wrong data; and the doctor, on the same faults, names the line, its pin and
// the kind, and the fastest speed that works, and leaves the cart as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "CableFaultTable.h"
#include "CartRig.h"
#include "commands/Commands.h"
#include "commands/Doctor.h"

namespace brevomat {
namespace {

using testing::CableFaultRows;
using testing::CartRig;
using testing::CartRigOptions;
using testing::MakeImage;
using testing::ReadBytes;
using Bytes = std::vector<std::uint8_t>;

std::unique_ptr<CartRig> Rig(const sim::CableFaults& cable) {
  CartRigOptions o;
  o.cable = cable;
  auto rig = std::make_unique<CartRig>(o);
  rig->cart.Flash() = MakeImage(rig->cart.Flash().size(), 7);
  for (std::size_t i = 0; i < rig->cart.Save().size(); ++i)
    rig->cart.Save()[i] = static_cast<std::uint8_t>(i * 13);
  rig->core.cart.Changed.Enabled = false;
  return rig;
}

TEST(CableFaultTest, NoCommandEndsOkWithWrongDataOnAFaultyCable) {
  for (const auto& row : CableFaultRows()) {
    SCOPED_TRACE(row.name);
    // Write Flash: a success means the flash holds the image.
    {
      auto rig = Rig(row.cable);
      const Bytes image = MakeImage(0x20000, 3);
      rig->window.openDialog1 = {std::vector<std::string>{rig->File("game.gba", image)}};
      const int result = WriteClick(rig->core);
      const Bytes flash(rig->cart.Flash().begin(), rig->cart.Flash().begin() + image.size());
      if (result == kResultDone) {
        EXPECT_EQ(flash, image);
      }
      if (row.fastest < 0) {
        EXPECT_NE(result, kResultDone);
      }
    }
    // Backup Game: a success means the file holds the cart.
    {
      auto rig = Rig(row.cable);
      const std::string out = (rig->dir / "dump.gba").string();
      rig->window.saveDialog1 = {out};
      rig->window.form2 = {0};
      const int result = ReadClick(rig->core);
      if (result == kResultDone) {
        const Bytes file = ReadBytes(out);
        EXPECT_TRUE(std::equal(file.begin(), file.end(), rig->cart.Flash().begin()));
      }
      if (row.fastest < 0) {
        EXPECT_NE(result, kResultDone);
      }
    }
  }
}

TEST(CableFaultTest, DoctorNamesTheLineAndTheFastestSpeedAndChangesNothing) {
  auto rows = CableFaultRows();
  rows.insert(rows.begin(), {"no fault", {}, {}, 0});
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto rig = Rig(row.cable);
    const Bytes flash = rig->cart.Flash(), save = rig->cart.Save();
    DoctorSetup setup;
    setup.portAccess = "the virtual adapter";
    setup.ecrReachable = true;
    const DoctorReport report = RunDoctor(rig->core, setup);
    EXPECT_EQ(report.faults, row.faults);
    EXPECT_EQ(report.fastestSpeed, row.fastest);
    const bool eppPort = row.cable.port == sim::PortKind::Epp;
    EXPECT_EQ(report.Passed(), row.faults.empty() && row.fastest == 0 && eppPort) << rig->window.log.back();
    EXPECT_EQ(rig->window.status, report.Passed() ? "Doctor Ok" : "Error!!!");
    EXPECT_TRUE(rig->cart.Flash() == flash) << "the doctor changed the flash";
    EXPECT_TRUE(rig->cart.Save() == save) << "the doctor changed the save memory";
  }
}

// Through the kernel's device the ECR cannot be read; the kernel's own view of the port takes its
// place: a port the kernel drives without EPP is the port check's fault.
TEST(CableFaultTest, DoctorReadsTheKernelsModesOfTheDevicesPort) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no kernel parallel-port devices";
#endif
  const struct {
    const char* modes;
    CheckResult result;
  } rows[] = {{"PCSPP,TRISTATE,COMPAT,EPP,ECP", CheckResult::Ok}, {"PCSPP,TRISTATE", CheckResult::Fault}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.modes);
    auto rig = Rig({});
    const std::filesystem::path proc = rig->dir / "kernel/proc/sys/dev/parport/parport0";
    std::filesystem::create_directories(proc);
    std::ofstream(proc / "base-addr") << "888\t1912\n";
    std::ofstream(proc / "modes") << row.modes << "\n";
    DoctorSetup setup;
    setup.portAccess = "/dev/parport0 at 0x378 (ppdev)";
    setup.kernelRoot = (rig->dir / "kernel").string();
    const DoctorReport report = RunDoctor(rig->core, setup);
    ASSERT_GE(report.checks.size(), 2u);
    EXPECT_EQ(report.checks[1].name, "port");
    EXPECT_EQ(report.checks[1].result, row.result);
    EXPECT_NE(report.checks[1].detail.find(std::string("kernel parport0: ") + row.modes), std::string::npos)
        << report.checks[1].detail;
  }
}

}  // namespace
}  // namespace brevomat
