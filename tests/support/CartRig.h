// A complete test bench: the scripted window, one set of core state, the virtual adapter and a
// virtual flash cart behind it, with a recording tee in between.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "FakeWindow.h"
#include "TeeBackend.h"
#include "TestImages.h"
#include "commands/Core.h"
#include "sim/FlashCart.h"
#include "sim/VirtualAdapter.h"

namespace brevomat::testing {

struct CartRigOptions {
  sim::FlashChip chip = sim::FlashChip::J3_64Mbit;
  sim::ChipTiming timing = sim::ChipTiming::Fast();
  sim::SaveMemory save = sim::SaveMemory::Sram;
  sim::AdapterAnswers answers = sim::AdapterAnswers::Both;
  std::uint16_t base = 0x378;
  sim::CableFaults cable = {};
};

class CartRig {
 public:
  explicit CartRig(const CartRigOptions& o = {})
      : cart(o.chip, o.timing, o.save),
        adapter(sim::AdapterConfig{o.base, o.answers, 1000, o.cable}, cart),
        tee(adapter, o.base),
        core(window) {
    core.port.Attach(&tee);
    window.frame = &core.frame;
    static std::atomic<int> serial{0};
    dir = std::filesystem::temp_directory_path() /
          ("brevomat-rig-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
    std::filesystem::create_directories(dir);
    // The user's own data folder is no test's business: kept saves and DAT files live here.
    core.KeptSavesFolder = (dir / "kept-saves").string();
    core.DatFolder = (dir / "dat").string();
  }
  ~CartRig() {
    // Every command a test runs must also keep to the link's protocol.
    EXPECT_EQ(adapter.FirstViolation(), "")
        << "the adapter saw " << adapter.counters().violations << " protocol violation(s)";
    core.frame.CloseCurrentFile();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  CartRig(const CartRig&) = delete;
  CartRig& operator=(const CartRig&) = delete;

  // Writes `bytes` to a file in the rig's directory and returns its path.
  std::string File(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const auto p = dir / name;
    WriteBytes(p, bytes);
    return p.string();
  }
  // Fills the whole flash with a pattern so that erases and writes show.
  void DirtyFlash(std::uint8_t value = 0x00) { std::fill(cart.Flash().begin(), cart.Flash().end(), value); }

  FakeWindow window;
  sim::FlashCart cart;
  sim::VirtualAdapter adapter;
  TeeBackend tee;
  Core core;
  std::filesystem::path dir;
};

}  // namespace brevomat::testing
