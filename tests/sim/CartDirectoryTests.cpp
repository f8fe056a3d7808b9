// The ROM-only game cart, cart.conf and the virtual cart directory.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "SimRig.h"
#ifndef _WIN32
#include "ChildPipes.h"
#endif
#include "base/AtomicOutputFile.h"
#include "base/FileAccess.h"
#include "link/ControlSequences.h"
#include "sim/CartDirectory.h"
#include "sim/RomCart.h"

namespace brevomat::sim {
namespace {

namespace fs = std::filesystem;
using testing::LinkRig;

TEST(RomCart, OpenBusPastTheEndAndNoCommands) {
  std::vector<std::uint8_t> rom(1 << 20);
  for (std::size_t i = 0; i < rom.size(); ++i) rom[i] = static_cast<std::uint8_t>(i * 7);
  RomCart cart(rom, SaveMemory::Sram);
  LinkRig rig(cart);
  rig.Use(LinkMode::SPP, 0);
  EXPECT_EQ(rig.ReadWordAt(0x1234), rom[0x2468] | (rom[0x2469] << 8));
  EXPECT_EQ(rig.ReadWordAt(0x7FFFF), rom[0xFFFFE] | (rom[0xFFFFF] << 8));
  EXPECT_EQ(rig.ReadWordAt(0x80000), 0x0000);  // past the end: the low 16 bits of the address
  EXPECT_EQ(rig.ReadWordAt(0xFEDCBA), 0xDCBA);
  RomCart odd(std::vector<std::uint8_t>(3, 0x42), SaveMemory::None);  // an image of odd length
  EXPECT_EQ(odd.ReadRom(1, 0), 0xFF42);                               // its last byte, then erased
  EnableFlashAccess(rig.link);
  rig.link.WriteCartWord(0, 0x98);
  EXPECT_EQ(rig.ReadWordAt(0), rom[0] | (rom[1] << 8));
  EXPECT_EQ(cart.Rom(), rom);
  SelectSaveBank(rig.link, 7);  // ignored: the save memory stays at bank 0
  rig.link.SetSaveAccessMode();
  rig.link.WriteAdapterRegister(0, 0x10);
  rig.link.WriteAdapterRegister(1, 0x80);
  rig.link.WriteAdapterRegister(2, 0);
  rig.link.SelectAdapterRegister(3);
  rig.link.WriteControl(1);
  rig.link.WriteAdapterData(0x42);
  EXPECT_EQ(cart.Save()[0x8010], 0x42);
  EXPECT_EQ(rig.adapter.counters().violations, 0u);
}

TEST(CartConf, DefaultsKeysCommentsAndCase) {
  CartConfig c;
  std::string error;
  ASSERT_TRUE(ParseCartConf("", c, error)) << error;
  EXPECT_EQ(c.cart, CartKind::Flash8M);
  EXPECT_EQ(c.save, SaveMemory::Sram);
  EXPECT_EQ(c.adapter, AdapterAnswers::Both);
  EXPECT_EQ(c.base, 0x378);
  EXPECT_EQ(c.timing, TimingProfile::Datasheet);
  EXPECT_EQ(c.pace, Pace::Fast);
  EXPECT_EQ(c.faults.eraseErrorBlock, -1);

  const char* text =
      "# a test cart\r\n"
      "cart = flash-4m   # the small chip\n"
      "\n"
      "  save=none\n"
      "adapter = SPP\n"
      "base = 0x3BC\n"
      "timing = fast\n"
      "pace = RealTime\n"
      "erase_error_block = 31\n"
      "program_error_word = 0x1234\n"
      "never_ready = yes\n"
      "setup_b0_polls = 5\n"
      "flip_read = 1000\n"
      "read_noise = 0.001\n"
      "stuck_line = D3:low, ack:HIGH, BUSY:low, selectin:high\n"
      "short = D4, d5\n"
      "port = ECP-PS2\n"
      "seed = 42";
  ASSERT_TRUE(ParseCartConf(text, c, error)) << error;
  EXPECT_EQ(c.cart, CartKind::Flash4M);
  EXPECT_EQ(c.save, SaveMemory::None);
  EXPECT_EQ(c.adapter, AdapterAnswers::SppOnly);
  EXPECT_EQ(c.base, 0x3BC);
  EXPECT_EQ(c.timing, TimingProfile::Fast);
  EXPECT_EQ(c.pace, Pace::Realtime);
  EXPECT_EQ(c.faults.eraseErrorBlock, 31);
  EXPECT_EQ(c.faults.programErrorWord, 0x1234);
  EXPECT_TRUE(c.faults.neverReady);
  EXPECT_EQ(c.faults.setupStatusB0Polls, 5u);
  EXPECT_EQ(c.faults.flipRead, 1000u);
  EXPECT_DOUBLE_EQ(c.faults.readNoise, 0.001);
  EXPECT_EQ(c.faults.seed, 42u);
  EXPECT_EQ(c.cable.dataLow, 0x08);
  EXPECT_EQ(c.cable.statusHigh, 0x40);
  EXPECT_EQ(c.cable.statusLow, 0x80);
  EXPECT_EQ(c.cable.controlHigh, 0x08);
  EXPECT_EQ(c.cable.shorted, 0x30);
  EXPECT_EQ(c.cable.port, PortKind::EcpPs2);

  CartConfig again;
  ASSERT_TRUE(ParseCartConf(FormatCartConf(c), again, error)) << error << FormatCartConf(c);
  EXPECT_EQ(FormatCartConf(again), FormatCartConf(c));
}

TEST(CartConf, MalformedLinesAreRefusedWithTheirNumber) {
  const struct {
    const char* text;
    const char* fragment;
  } cases[] = {
      {"cart = flash-8m\nsave sram\n", "cart.conf line 2: expected"},
      {"colour = red\n", "cart.conf line 1: unknown key \"colour\""},
      {"cart = flash-16m\n", "cart.conf line 1: bad value \"flash-16m\" for cart"},
      {"\n\nbase = 0x379\n", "cart.conf line 3: bad value"},
      {"seed = -1\n", "line 1: bad value"},
      {"seed = 1 2\n", "line 1: bad value"},
      {"flip_read = 99999999999999999999999\n", "line 1: bad value"},
      {"read_noise = 1.5\n", "line 1: bad value"},
      {"read_noise = nan\n", "line 1: bad value"},
      {"save_stuck_byte = 0x40000\n", "line 1: bad value"},
      {"never_ready = maybe\n", "line 1: bad value"},
      {"pace = slow\n", "line 1: bad value \"slow\" for pace (expected fast or realtime)"},
      {"cart = rom\nsave = sram\nerase_error_block = 2\n",
       "cart.conf line 3: erase_error_block needs a flash cart"},
      {"erase_error_block = 40\ncart = flash-4m\n", "cart.conf line 1: a flash-4m cart"},
      {"save = none\nsave = sram\n", "cart.conf line 2: \"save\" is set again (first set on line 1)"},
      {"save_stuck_byte = 1\nsave = none\n", "cart.conf line 1: save_stuck_byte needs save memory"},
      {"cart = \x01\xff\n", "line 1: bad value \"\\x01\\xFF\""},
      {"stuck_line = D8:low\n", "line 1: bad value \"D8:low\" for stuck_line"},
      {"stuck_line = D3:low, D3:high\n", "line 1: bad value"},
      {"stuck_line = D3\n", "line 1: bad value"},
      {"stuck_line = D3:low,\n", "line 1: bad value"},
      {"short = D4,ACK\n", "line 1: bad value \"D4,ACK\" for short (expected two data lines"},
      {"short = D4,D4\n", "line 1: bad value"},
      {"port = epp2\n", "line 1: bad value \"epp2\" for port"},
  };
  for (const auto& k : cases) {
    CartConfig c;
    c.base = 0x278;
    std::string error;
    EXPECT_FALSE(ParseCartConf(k.text, c, error)) << k.text;
    EXPECT_NE(error.find(k.fragment), std::string::npos) << k.text << " -> " << error;
    EXPECT_EQ(c.base, 0x278) << "a refused text changes nothing";
  }
}

class CartDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("brevomat-sim-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  static void Write(const fs::path& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }
  static void WriteBytes(const fs::path& p, const std::vector<std::uint8_t>& b) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
  static std::vector<std::uint8_t> Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  fs::path dir;
};

TEST_F(CartDirectory, MissingDirectoryBecomesAnErased8MbFlashCartAndRoundTrips) {
  std::string error;
  {
    auto vc = VirtualCart::Open(dir, error);
    ASSERT_TRUE(vc) << error;
    ASSERT_NE(vc->Flash(), nullptr);
    EXPECT_EQ(vc->Rom(), nullptr);
    EXPECT_EQ(vc->Flash()->FlashBytes(), 8u << 20);
    EXPECT_EQ(fs::file_size(dir / "flash.bin"), 8u << 20);
    EXPECT_EQ(fs::file_size(dir / "save.bin"), 262144u);
    EXPECT_TRUE(fs::exists(dir / "cart.conf"));
    EXPECT_EQ(vc->Config().timing, TimingProfile::Datasheet);

    // Program a buffer through the port, exactly as a program using the cart would.
    PortIo io(&vc->Port());
    Link link(io);
    link.Mode = LinkMode::EPP;
    link.PrepareLink();
    EnableFlashAccess(link);
    link.WriteCartWord(0x10000, 0xE8);
    link.WriteCartWord(0x10000, 0x0F);
    link.SetCartAddress(0x10000);
    link.SelectAdapterRegister(3);
    for (int k = 0; k < 16; ++k) link.WriteDataWord(static_cast<std::uint16_t>(0xA000 + k));
    link.WriteDataWord(0xD0);
    vc->Adapter().AdvanceNs(1'000'000);
    vc->Flash()->Save()[0x3FFFF] = 0x5A;
    EXPECT_TRUE(vc->Close(error)) << error;
    EXPECT_EQ(vc->Adapter().counters().violations, 0u);
  }
  const auto flash = Read(dir / "flash.bin");
  ASSERT_EQ(flash.size(), 8u << 20);
  EXPECT_EQ(flash[0x20000], 0x00);
  EXPECT_EQ(flash[0x20001], 0xA0);
  EXPECT_EQ(flash[0x2001E], 0x0F);
  EXPECT_EQ(flash[0], 0xFF);
  EXPECT_EQ(Read(dir / "save.bin")[0x3FFFF], 0x5A);
  EXPECT_FALSE(fs::exists(dir / "flash.bin.tmp"));

  auto again = VirtualCart::Open(dir, error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(again->Flash()->Flash()[0x20001], 0xA0);
  EXPECT_EQ(again->Flash()->Save()[0x3FFFF], 0x5A);
}

// The demo programs' cart is in virtual-cart/ of the working directory, and a backup may not
// replace any of its files.
TEST_F(CartDirectory, TheDemoCartInTheWorkingDirectoryGuardsItsFiles) {
  fs::create_directories(dir);
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  std::string error;
  auto cart = VirtualCart::OpenInWorkingDirectory(error);
  fs::current_path(previous);
  ASSERT_NE(cart, nullptr) << error;
  EXPECT_EQ(fs::canonical(cart->Directory()), fs::canonical(dir / "virtual-cart"));
  for (const char* name : {kCartConfFile, kFlashFile}) {
    EXPECT_NE(OutputRefusal((dir / "virtual-cart" / name).string()).find("the virtual cart's own"),
              std::string::npos)
        << name;
  }
  ASSERT_TRUE(cart->Close(error)) << error;
}

TEST_F(CartDirectory, ConfigurationReachesAdapterAndCart) {
  fs::create_directories(dir);
  Write(dir / "cart.conf",
        "cart = flash-4m\nbase = 0x278\nadapter = epp\ntiming = slow\nsave_stuck_byte = 7\n");
  std::string error;
  auto vc = VirtualCart::Open(dir, error);
  ASSERT_TRUE(vc) << error;
  EXPECT_EQ(vc->Adapter().config().base, 0x278);
  EXPECT_EQ(vc->Adapter().config().answers, AdapterAnswers::EppOnly);
  EXPECT_EQ(vc->Flash()->FlashBytes(), 4u << 20);
  EXPECT_EQ(vc->Flash()->Timing().blockEraseNs, ChipTiming::Slow().blockEraseNs);
  EXPECT_EQ(vc->Flash()->Faults().saveStuckByte, 7);
  EXPECT_EQ(&vc->Bus(), static_cast<CartBus*>(vc->Flash()));
  EXPECT_TRUE(vc->Close(error));
  EXPECT_EQ(fs::file_size(dir / "flash.bin"), 4u << 20);
}

TEST_F(CartDirectory, RomCartReadsRomBinAndNeverWritesIt) {
  fs::create_directories(dir);
  Write(dir / "cart.conf", "cart = rom\nsave = none\n");
  std::string error;
  EXPECT_FALSE(VirtualCart::Open(dir, error));
  EXPECT_NE(error.find("no rom.bin"), std::string::npos) << error;

  std::vector<std::uint8_t> rom((1 << 20) + 2, 0x11);
  WriteBytes(dir / "rom.bin", rom);
  auto vc = VirtualCart::Open(dir, error);
  ASSERT_TRUE(vc) << error;
  ASSERT_NE(vc->Rom(), nullptr);
  EXPECT_EQ(vc->Flash(), nullptr);
  EXPECT_EQ(vc->Rom()->ReadRom(0x80000, 0), 0x1111);
  EXPECT_EQ(vc->Rom()->ReadRom(0x80001, 0), 0x0001);
  EXPECT_TRUE(vc->Close(error)) << error;
  EXPECT_FALSE(fs::exists(dir / "save.bin"));
  EXPECT_FALSE(fs::exists(dir / "flash.bin"));
  EXPECT_EQ(Read(dir / "rom.bin"), rom);
}

TEST_F(CartDirectory, BadContentsAreRefusedAndLeftAlone) {
  fs::create_directories(dir);
  const std::vector<std::uint8_t> shortFlash(1000, 0x12);
  WriteBytes(dir / "flash.bin", shortFlash);
  std::string error;
  EXPECT_FALSE(VirtualCart::Open(dir, error));
  EXPECT_NE(error.find("is 1000 bytes; it must be exactly 8388608 bytes"), std::string::npos) << error;
  EXPECT_EQ(Read(dir / "flash.bin"), shortFlash);

  fs::remove(dir / "flash.bin");
  WriteBytes(dir / "save.bin", std::vector<std::uint8_t>(65536, 1));
  EXPECT_FALSE(VirtualCart::Open(dir, error));
  EXPECT_NE(error.find("save.bin"), std::string::npos) << error;
  EXPECT_EQ(fs::file_size(dir / "save.bin"), 65536u);

  Write(dir / "cart.conf", "cart = flash-8m\nspeed = 4\n");
  EXPECT_FALSE(VirtualCart::Open(dir, error));
  EXPECT_NE(error.find("cart.conf line 2: unknown key \"speed\""), std::string::npos) << error;

  Write(dir / "cart.conf", "cart = rom\n");
  WriteBytes(dir / "rom.bin", std::vector<std::uint8_t>(1000));
  fs::remove(dir / "save.bin");
  EXPECT_FALSE(VirtualCart::Open(dir, error));
  EXPECT_NE(error.find("it must be 1048576 to 33554432 bytes"), std::string::npos) << error;

  fs::remove_all(dir);
  Write(dir, "a file, not a directory");
  EXPECT_FALSE(VirtualCart::Open(dir, error));
  EXPECT_NE(error.find("not a directory"), std::string::npos) << error;
  fs::remove(dir);
}

// A program that stops waiting for the chip (Ctrl-C during an erase, on a cart that keeps real
// time) leaves the chip working: the saved cart holds what the chip ends up with, not the old data.
TEST_F(CartDirectory, TheSavedCartHoldsWhatTheChipFinishes) {
  enum class Command { Erase, EraseUnconfirmed, Program };
  const struct {
    const char* what;
    const char* faults;
    Command command;
    std::uint8_t before;                 // every byte of flash.bin at the start
    std::uint8_t block0Low, block0High;  // word 0 of block 0 in the saved file
    std::uint8_t lastOfBlock0, firstOfBlock1;
  } rows[] = {
      {"an erase nobody waited for", "", Command::Erase, 0x00, 0xFF, 0xFF, 0xFF, 0x00},
      {"a buffer nobody waited for", "", Command::Program, 0xFF, 0x00, 0xA0, 0xFF, 0xFF},
      {"an erase never confirmed: never started", "", Command::EraseUnconfirmed, 0x00, 0x00, 0x00, 0x00,
       0x00},
      {"a chip that never gets ready", "never_ready = yes\n", Command::Erase, 0x00, 0x00, 0x00, 0x00, 0x00},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(dir);
    fs::create_directories(dir);
    Write(dir / kCartConfFile, std::string("cart = flash-4m\ntiming = slow\n") + row.faults);
    WriteBytes(dir / kFlashFile, std::vector<std::uint8_t>(4u << 20, row.before));
    std::string error;
    auto vc = VirtualCart::Open(dir, error);
    ASSERT_TRUE(vc) << error;
    PortIo io(&vc->Port());
    Link link(io);
    link.Mode = LinkMode::EPP;
    link.PrepareLink();
    EnableFlashAccess(link);
    if (row.command == Command::Program) {
      link.WriteCartWord(0, 0xE8);
      link.WriteCartWord(0, 0x0F);
      link.SetCartAddress(0);
      link.SelectAdapterRegister(3);
      for (int k = 0; k < 16; ++k) link.WriteDataWord(static_cast<std::uint16_t>(0xA000 + k));
      link.WriteDataWord(0xD0);
    } else {
      link.WriteCartWord(0, 0x20);
      if (row.command == Command::Erase) link.WriteCartWord(0, 0xD0);
    }
    ASSERT_TRUE(vc->Close(error)) << error;  // at once: the chip's time has hardly begun
    const auto flash = Read(dir / kFlashFile);
    ASSERT_EQ(flash.size(), 4u << 20);
    EXPECT_EQ(flash[0], row.block0Low);
    EXPECT_EQ(flash[1], row.block0High);
    EXPECT_EQ(flash[0x1FFFF], row.lastOfBlock0);
    EXPECT_EQ(flash[0x20000], row.firstOfBlock1);
  }
}

// File-size limits, FIFOs, links, inodes and processes: the POSIX side of the cart directory.
#ifndef _WIN32
TEST_F(CartDirectory, AFailedWriteBackKeepsTheOldFile) {
  std::string error;
  auto vc = VirtualCart::Open(dir, error);
  ASSERT_TRUE(vc) << error;
  vc->Flash()->Flash()[5] = 0x00;
  // A file size limit stands for a full disk.
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 1 << 20;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  EXPECT_FALSE(vc->Close(error));
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_NE(error.find("flash.bin"), std::string::npos) << error;
  EXPECT_NE(error.find("unchanged"), std::string::npos) << error;
  EXPECT_EQ(Read(dir / "flash.bin")[5], 0xFF);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3)
      << "a temporary file was left";
  // Closing again, deliberately, saves what the first attempt could not.
  EXPECT_TRUE(vc->Close(error)) << error;
  EXPECT_EQ(Read(dir / "flash.bin")[5], 0x00);
}

TEST_F(CartDirectory, HostileFilesAreRefusedWithTheirNameAndNothingIsTouched) {
  // Each row puts one hostile thing where a cart file belongs; Open must refuse it at once, name
  // it, and leave every file as it was.
  struct Row {
    const char* file;
    const char* what;
  };
  const Row rows[] = {
      {"cart.conf", "directory"}, {"cart.conf", "zero"}, {"cart.conf", "fifo"}, {"cart.conf", "dangling"},
      {"cart.conf", "loop"},      {"flash.bin", "fifo"}, {"flash.bin", "zero"}, {"save.bin", "dangling"},
      {"save.bin", "directory"},  {"dir", "dangling"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.file) + " as " + row.what);
    fs::remove_all(dir);
    fs::create_directories(dir);
    Write(dir / "cart.conf", "cart = flash-4m\n");
    const fs::path target = std::string(row.file) == "dir" ? dir / "cart" : dir / row.file;
    const fs::path cartDir = std::string(row.file) == "dir" ? target : dir;
    fs::remove(target);
    const std::string what = row.what;
    if (what == "directory") fs::create_directories(target);
    if (what == "zero") fs::create_symlink("/dev/zero", target);
    if (what == "fifo") {
      ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
    }
    if (what == "dangling") fs::create_symlink(dir / "nowhere", target);
    if (what == "loop") fs::create_symlink(target, target);
    std::string error;
    EXPECT_FALSE(VirtualCart::Open(cartDir, error));
    EXPECT_NE(error.find(target.filename().string()), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir / "flash.bin") && row.file != std::string("flash.bin"))
        << "a new cart was made";
  }
}

TEST_F(CartDirectory, ALookAtTheCartRewritesNothing) {
  std::string error;
  ASSERT_TRUE(VirtualCart::Open(dir, error)) << error;
  struct stat before {};
  ASSERT_EQ(::stat((dir / "flash.bin").c_str(), &before), 0);
  auto vc = VirtualCart::Open(dir, error);
  ASSERT_TRUE(vc) << error;
  vc->Flash()->Save()[0] ^= 1;  // only the save memory changes
  EXPECT_TRUE(vc->Close(error)) << error;
  struct stat after {};
  ASSERT_EQ(::stat((dir / "flash.bin").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "flash.bin was rewritten although it did not change";
  EXPECT_EQ(Read(dir / "save.bin")[0], 1);
}

#endif  // _WIN32

TEST_F(CartDirectory, ASecondProgramWaitsForTheCartThenIsRefused) {
  std::string error;
  auto first = VirtualCart::Open(dir, error);
  ASSERT_TRUE(first) << error;
#ifdef _WIN32
  // The lock is a file held open for the first opener alone: a second open, in this process too,
  // finds it in use.
  std::string why;
  EXPECT_EQ(VirtualCart::Open(dir, why), nullptr);
  EXPECT_NE(why.find("in use by another program"), std::string::npos) << why;
#else
  // Another process, as a second program would be (locks are per open directory).
  const pid_t child = ::fork();
  if (child == 0) {
    std::string why;
    const bool opened = VirtualCart::Open(dir, why) != nullptr;
    ::_exit(!opened && why.find("in use by another program") != std::string::npos ? 0 : 1);
  }
  const int status = brevomat::testing::WaitChild(child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
#endif
  first.reset();
  EXPECT_TRUE(VirtualCart::Open(dir, error)) << error;
}

}  // namespace
}  // namespace brevomat::sim
