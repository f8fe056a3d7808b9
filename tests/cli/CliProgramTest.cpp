// brevomat-cli as a user runs it: the built program, standard input from /dev/null, standard
// output and standard error captured apart, against virtual cart directories made for each test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ChildPipes.h"
#include "IpsPatchFile.h"
#include "TestImages.h"

extern char** environ;

namespace brevomat::testing {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exit = -1;
  std::vector<std::string> out, err;  // lines
  std::string errText;
  std::string LastErr() const { return err.empty() ? std::string() : err.back(); }
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

struct RunOptions {
  std::function<void(pid_t, const std::string&)> onErr = {};  // sees standard error as it grows
  std::function<void(pid_t, const std::string&)> onOut = {};  // sees standard output as it grows
  std::vector<std::string> wrapper = {};                      // a program that starts brevomat-cli in turn
  bool closeStdout = false;                                   // nobody reads the log
  bool startWithoutStdout = false;                            // started with descriptor 1 closed
  std::string stderrFile = {};      // standard error goes to this file (/dev/full), or "" for the pipe
  bool startWithoutStderr = false;  // started with descriptor 2 closed
  std::string cwd = {};             // working directory, if not the test's
  rlim_t fileSizeLimit = 0;         // RLIMIT_FSIZE of the program, 0 = none
};

Outcome RunCli(const std::vector<std::string>& args, const RunOptions& opt = {}) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) ADD_FAILURE() << "pipe";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (opt.startWithoutStdout)
    posix_spawn_file_actions_addclose(&actions, 1);
  else
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  if (opt.startWithoutStderr)
    posix_spawn_file_actions_addclose(&actions, 2);
  else if (!opt.stderrFile.empty())
    posix_spawn_file_actions_addopen(&actions, 2, opt.stderrFile.c_str(), O_WRONLY, 0);
  else
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
    posix_spawn_file_actions_addclose(&actions, fd);

  std::vector<std::string> argStore = opt.wrapper;
  argStore.push_back(BREVOMAT_CLI_PATH);
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  // The child inherits the limit; the test process gets its own back at once.
  rlimit ownLimit{};
  getrlimit(RLIMIT_FSIZE, &ownLimit);
  if (opt.fileSizeLimit != 0) {
    rlimit childLimit = ownLimit;
    childLimit.rlim_cur = opt.fileSizeLimit;
    setrlimit(RLIMIT_FSIZE, &childLimit);
  }
  const int spawned = posix_spawn(&pid, argStore.front().c_str(), &actions, nullptr, argv.data(), environ);
  if (opt.fileSizeLimit != 0) setrlimit(RLIMIT_FSIZE, &ownLimit);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  Outcome r;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << BREVOMAT_CLI_PATH;
    close(outPipe[0]);
    close(errPipe[0]);
    return r;
  }

  std::string out, err;
  if (opt.closeStdout) close(outPipe[0]);
  testing::DrainChild(pid, opt.closeStdout ? -1 : outPipe[0], errPipe[0], out, err, [&](int which) {
    if (which == 1 && opt.onErr) opt.onErr(pid, err);
    if (which == 0 && opt.onOut) opt.onOut(pid, out);
  });
  const int status = testing::WaitChild(pid);
  r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = Lines(out);
  r.err = Lines(err);
  r.errText = err;
  EXPECT_EQ(err.find("protocol violation"), std::string::npos) << err;
  return r;
}

// "Time = " n " Sec" with a decimal n.
bool IsTimeLine(const std::string& line) {
  const std::string_view head = "Time = ", tail = " Sec";
  if (line.size() <= head.size() + tail.size() || !line.starts_with(head) || !line.ends_with(tail))
    return false;
  const std::string digits = line.substr(head.size(), line.size() - head.size() - tail.size());
  return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The log line for line; "Time = # Sec" stands for any number of seconds.
void ExpectLog(const Outcome& r, const std::vector<std::string>& expected) {
  ASSERT_EQ(r.out.size(), expected.size()) << "stderr:\n" << r.errText;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (expected[i] == "Time = # Sec")
      EXPECT_TRUE(IsTimeLine(r.out[i])) << "line " << i << ": " << r.out[i];
    else
      EXPECT_EQ(r.out[i], expected[i]) << "line " << i;
  }
}

constexpr std::size_t k1M = 0x100000, k4M = 0x400000, k8M = 0x800000, kBlock = 0x20000, kChunk = 0x8000;

class CliProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> serial{0};
    root = fs::temp_directory_path() /
           ("brevomat-cli-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
    fs::create_directories(root);
    cart = root / "cart";
    // write-save keeps the save it replaces in the user's data folder: here, inside the test's own.
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  // A virtual cart directory with this cart.conf; flash carts get fast chip timing unless stated.
  void MakeCart(const std::string& conf, bool fast = true) {
    fs::create_directories(cart);
    WriteText(cart / "cart.conf", conf + (fast ? "\ntiming = fast\n" : "\n"));
  }
  static void WriteText(const fs::path& p, const std::string& text) {
    WriteBytes(p, std::vector<std::uint8_t>(text.begin(), text.end()));
  }
  void FillFlash(std::size_t size, std::uint8_t value) {
    WriteBytes(cart / "flash.bin", std::vector<std::uint8_t>(size, value));
  }
  std::vector<std::uint8_t> Flash() const { return ReadBytes(cart / "flash.bin"); }
  std::string File(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    WriteBytes(root / name, bytes);
    return (root / name).string();
  }
  std::vector<std::string> Args(std::initializer_list<std::string> rest) const {
    std::vector<std::string> a = {"--virtual", cart.string()};
    a.insert(a.end(), rest);
    return a;
  }
  static bool AllEqual(const std::vector<std::uint8_t>& v, std::size_t from, std::size_t to,
                       std::uint8_t value) {
    return std::all_of(v.begin() + static_cast<std::ptrdiff_t>(from),
                       v.begin() + static_cast<std::ptrdiff_t>(to),
                       [value](std::uint8_t b) { return b == value; });
  }

  fs::path root, cart;
};

// What info logs after the flash chip: of an erased flash cart with save memory, and of a cart
// holding hello.gba with save memory.
const std::vector<std::string> kErasedHeader = {
    "no AGB data present!", "Maker Code = ??", "Fixed Byte = 0xFF (should be 0x96)", "Unit Code = 0xFF",
    "Device Type = 0xFF",   "Version = 255",   "Complement = 0xFF (should be 0x04)", "Save Memory = present"};
const std::vector<std::string> kHelloHeader = {
    "Game Name = GBA Tests", "Game Code = 1337",   "Maker Code = JS", "Fixed Byte = 0x96 (ok)",
    "Unit Code = 0x00",      "Device Type = 0x80", "Version = 0",     "Complement = 0x69 (ok)",
    "Save Memory = present"};
std::vector<std::string> InfoLog(const std::string& mode, const std::string& flash,
                                 const std::vector<std::string>& header) {
  std::vector<std::string> log = {"PortMode = " + mode, flash};
  log.insert(log.end(), header.begin(), header.end());
  return log;
}

// --- info ------------------------------------------------------------------------------------------

TEST_F(CliProgram, InfoNamesBothChipsAndTheHeader) {
  MakeCart("cart = flash-8m");
  Outcome r = RunCli(Args({"info"}));
  EXPECT_EQ(r.exit, 0);
  ExpectLog(r, InfoLog("EPP", "Flash = 28F640J3 8388608", kErasedHeader));
  EXPECT_EQ(r.LastErr(), "status: Cart Info Ok");
  ASSERT_GE(r.err.size(), 2u);
  EXPECT_TRUE(r.err[r.err.size() - 2].starts_with("modelled hardware time: ")) << r.errText;

  fs::remove_all(cart);
  MakeCart("cart = flash-4m");
  std::vector<std::uint8_t> flash(k4M, 0xFF);
  const auto hello = ReadTestImage("hello.gba");
  std::copy(hello.begin(), hello.end(), flash.begin());
  WriteBytes(cart / "flash.bin", flash);
  r = RunCli(Args({"info"}));
  EXPECT_EQ(r.exit, 0);
  ExpectLog(r, InfoLog("EPP", "Flash = 28F320J3 4194304", kHelloHeader));
  EXPECT_EQ(Flash(), flash) << "info changed the cart";
}

TEST_F(CliProgram, InfoOnAPlainGameCartShowsTheHeaderButFails) {
  MakeCart("cart = rom", false);
  std::vector<std::uint8_t> rom(1 << 20, 0);
  const auto hello = ReadTestImage("hello.gba");
  std::copy(hello.begin(), hello.end(), rom.begin());
  WriteBytes(cart / "rom.bin", rom);
  const Outcome r = RunCli(Args({"info"}));
  EXPECT_EQ(r.exit, 1);
  // A ROM never answers the ready wait before the query with a status: the wait runs to its poll
  // limit without claiming that anyone pressed Stop.
  ExpectLog(r, InfoLog("EPP", "Flash not found!!!", kHelloHeader));
  EXPECT_EQ(r.LastErr(), "status: Error!!!");
  EXPECT_EQ(ReadBytes(cart / "rom.bin"), rom);
}

TEST_F(CliProgram, PortAndSpeedReachDetection) {
  MakeCart("cart = flash-8m");
  // Speed "1" runs every cycle after detection in SPP: the same info takes longer on the cable.
  auto modelled = [](const Outcome& o) {
    const std::string key = "modelled hardware time: ";
    const std::size_t at = o.errText.find(key);
    return at == std::string::npos ? -1.0 : std::stod(o.errText.substr(at + key.size()));
  };
  const Outcome fast = RunCli(Args({"--speed", "4", "info"}));
  const Outcome slow = RunCli(Args({"--speed", "1", "info"}));
  ExpectLog(slow, InfoLog("EPP", "Flash = 28F640J3 8388608", kErasedHeader));
  EXPECT_GT(modelled(fast), 0.0);
  EXPECT_GT(modelled(slow), modelled(fast));

  fs::remove_all(cart);
  MakeCart("adapter = none");
  Outcome r = RunCli(Args({"info"}));
  EXPECT_EQ(r.exit, 1);
  ExpectLog(r, {"No Adaptor Found!"});
  EXPECT_EQ(r.LastErr(), "status: Error!!!");

  fs::remove_all(cart);
  MakeCart("adapter = spp");
  r = RunCli(Args({"info"}));
  EXPECT_EQ(r.exit, 0);
  ExpectLog(r, InfoLog("SPP", "Flash = 28F640J3 8388608", kErasedHeader));

  // The adapter sits on LPT3: nothing answers on LPT1, and on LPT3 EPP is never tried.
  fs::remove_all(cart);
  MakeCart("base = 0x3bc");
  r = RunCli(Args({"info"}));
  ExpectLog(r, {"No Adaptor Found!"});
  r = RunCli(Args({"--port", "lpt3", "--speed", "1", "info"}));
  EXPECT_EQ(r.exit, 0);
  ExpectLog(r, InfoLog("SPP", "Flash = 28F640J3 8388608", kErasedHeader));
}

// --- erase -----------------------------------------------------------------------------------------

TEST_F(CliProgram, EraseEmptiesTheWholeChip) {
  for (const auto& [conf, size] : {std::pair{"cart = flash-4m", k4M}, std::pair{"cart = flash-8m", k8M}}) {
    fs::remove_all(cart);
    MakeCart(conf);
    FillFlash(size, 0x00);
    const Outcome r = RunCli(Args({"--yes", "erase"}));
    EXPECT_EQ(r.exit, 0) << conf;
    ExpectLog(r, {"PortMode = EPP", "Cart Erase Ok", "Time = # Sec"});
    EXPECT_EQ(r.LastErr(), "status: Cart Erase Ok");
    const auto flash = Flash();
    ASSERT_EQ(flash.size(), size);
    EXPECT_TRUE(AllEqual(flash, 0, size, 0xFF)) << conf;
  }
}

TEST_F(CliProgram, EraseUnansweredOrDeclinedTouchesNothing) {
  MakeCart("cart = flash-4m");
  FillFlash(k4M, 0x5A);
  // Standard input is not a terminal: the question is answered No.
  Outcome r = RunCli(Args({"erase"}));
  EXPECT_EQ(r.exit, 1);
  ExpectLog(r, {"PortMode = EPP", "Erase Flash Cancel"});
  EXPECT_EQ(r.LastErr(), "status: Error!!!");  // a failure never ends on an empty status
  EXPECT_NE(r.errText.find("Do You want to Erase Flash Data?"), std::string::npos);
  r = RunCli(Args({"erase", "--no"}));
  EXPECT_EQ(r.exit, 1);
  ExpectLog(r, {"PortMode = EPP", "Erase Flash Cancel"});
  EXPECT_TRUE(AllEqual(Flash(), 0, k4M, 0x5A));
}

TEST_F(CliProgram, EraseFailuresAreReported) {
  MakeCart("cart = flash-4m\nerase_error_block = 3");
  FillFlash(k4M, 0x00);
  Outcome r = RunCli(Args({"--yes", "erase"}));
  EXPECT_EQ(r.exit, 1);
  ExpectLog(r, {"PortMode = EPP", "Cart Erase Error!!!", "Time = # Sec"});
  EXPECT_EQ(r.LastErr(), "status: Cart Erase Error!!!");
  const auto flash = Flash();
  EXPECT_TRUE(AllEqual(flash, 0, 3 * kBlock, 0xFF));
  EXPECT_TRUE(AllEqual(flash, 4 * kBlock, k4M, 0x00)) << "blocks after the failing one were erased";

  fs::remove_all(cart);
  MakeCart("cart = rom", false);
  WriteBytes(cart / "rom.bin", std::vector<std::uint8_t>(1 << 20, 0x11));
  r = RunCli(Args({"--yes", "erase"}));
  EXPECT_EQ(r.exit, 1);
  ExpectLog(r, {"PortMode = EPP", "Flash not found!!!"});
  EXPECT_TRUE(AllEqual(ReadBytes(cart / "rom.bin"), 0, 1 << 20, 0x11));

  fs::remove_all(cart);
  MakeCart("adapter = none");
  r = RunCli(Args({"--yes", "erase"}));
  EXPECT_EQ(r.exit, 1);
  ExpectLog(r, {"No Adaptor Found!"});
  EXPECT_EQ(r.LastErr(), "status: Error!!!");  // a failure never ends on an empty status
}

TEST_F(CliProgram, CtrlCStopsAnEraseAtItsNextPoll) {
  // Datasheet timing: a whole 8 MB erase takes a second or more of host time, long enough to
  // interrupt it once the question has been answered.
  MakeCart("cart = flash-8m", false);
  FillFlash(k8M, 0x00);
  bool sent = false;
  const Outcome r = RunCli(Args({"--yes", "erase"}), {.onErr = [&](pid_t pid, const std::string& err) {
                             if (!sent && err.find("Erase Flash Data? Yes") != std::string::npos) {
                               kill(pid, SIGINT);
                               sent = true;
                             }
                           }});
  ASSERT_TRUE(sent);
  EXPECT_EQ(r.exit, 1);
  ExpectLog(r, {"PortMode = EPP", "Stop process !!!", "Cart Erase Error!!!", "Time = # Sec"});
  EXPECT_EQ(r.LastErr(), "status: Cart Erase Error!!!");
  EXPECT_FALSE(AllEqual(Flash(), k8M - kBlock, k8M, 0xFF)) << "the erase was not stopped";
}

TEST_F(CliProgram, NoTemporaryFileOutlivesTheProgram) {
  // What a program killed outright left is removed by the next one that takes the cart's lock;
  // files that only look alike are the user's and stay.
  MakeCart("cart = flash-4m\nsave = none");
  FillFlash(k4M, 0x00);
  WriteText(cart / "flash.bin.tmp-a1B2c3", "left by a killed program");
  WriteText(cart / "flash.bin.backup", "the user's own");
  ASSERT_EQ(RunCli(Args({"info"})).exit, 0);
  EXPECT_FALSE(fs::exists(cart / "flash.bin.tmp-a1B2c3"));
  EXPECT_TRUE(fs::exists(cart / "flash.bin.backup"));
  fs::remove(cart / "flash.bin.backup");

  // The log's last line comes just before the erased flash is saved, and that is when the program
  // is ended: by Ctrl-C twice, SIGTERM or SIGHUP.
  for (const int ending : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(ending);
    for (int round = 0; round < 3; ++round) {
      FillFlash(k4M, 0x00);
      bool ended = false;
      RunCli(Args({"--yes", "erase"}), {.onOut = [&](pid_t pid, const std::string& out) {
               if (ended || out.find("Time = ") == std::string::npos) return;
               ended = kill(pid, ending) == 0;
               if (ending == SIGINT) kill(pid, SIGINT);
             }});
      ASSERT_TRUE(ended);
      std::vector<std::string> files;
      for (const auto& entry : fs::directory_iterator(cart))
        files.push_back(entry.path().filename().string());
      std::sort(files.begin(), files.end());
      EXPECT_EQ(files, (std::vector<std::string>{"cart.conf", "flash.bin"}));
      const auto flash = Flash();
      EXPECT_TRUE(flash.size() == k4M && (AllEqual(flash, 0, k4M, 0x00) || AllEqual(flash, 0, k4M, 0xFF)))
          << "the cart holds neither the old flash nor the erased one";
    }
  }

  // A backup ended while it reads (Ctrl-C there is Stop, and keeps FILE.part): its temporary file
  // goes with it, the earlier backup stays.
  fs::remove_all(cart);
  MakeCart("cart = rom\nsave = none", false);
  std::vector<std::uint8_t> rom(1 << 20, 0);
  const auto hello = ReadTestImage("hello.gba");
  std::copy_n(hello.begin(), 192, rom.begin());
  WriteBytes(cart / "rom.bin", rom);
  const std::string dump = (root / "dump.gba").string();
  for (const int ending : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(ending);
    WriteText(dump, "an earlier backup");
    bool ended = false;
    const Outcome r =
        RunCli(Args({"backup", dump, "--size", "256M"}), {.onOut = [&](pid_t pid, const std::string& out) {
                 if (ended || out.find("Cart Size") == std::string::npos) return;
                 ended = kill(pid, ending) == 0;
               }});
    EXPECT_EQ(r.exit, 128 + ending) << r.errText;
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(root)) files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"cart", "dump.gba"}));
    EXPECT_EQ(ReadBytes(dump).size(), std::string("an earlier backup").size());
  }
}

// --- write -----------------------------------------------------------------------------------------

TEST_F(CliProgram, WriteProgramsAndVerifiesOnBothChips) {
  const auto image = MakeImage(2 * kChunk);
  const std::string path = File("game.gba", image);
  for (const auto& [conf, size] : {std::pair{"cart = flash-4m", k4M}, std::pair{"cart = flash-8m", k8M}}) {
    fs::remove_all(cart);
    MakeCart(conf);
    FillFlash(size, 0x00);
    // Run where the window program would keep its settings: the command line has none.
    const Outcome r = RunCli(Args({"write", path}), {.cwd = root.string()});
    EXPECT_EQ(r.exit, 0) << conf;
    EXPECT_FALSE(fs::exists(root / "config.sav"));
    ExpectLog(r, {"PortMode = EPP", "FileName = " + path, "FileSize = 65536", "Game Name = GBA Tests",
                  "Game Code = 1337", "Blocks = 0 skipped, 0 programmed, 1 erased", "Time = # Sec"});
    EXPECT_EQ(r.LastErr(), "status: Write Cart ok");
    const auto flash = Flash();
    ASSERT_EQ(flash.size(), size);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << conf;
    EXPECT_TRUE(AllEqual(flash, image.size(), kBlock, 0xFF)) << "rest of the image's block erased";
    EXPECT_TRUE(AllEqual(flash, kBlock, size, 0x00)) << "blocks after the image untouched";
  }
}

TEST_F(CliProgram, WriteOfTheGenuineSmallImageNeedsYes) {
  MakeCart("cart = flash-4m");
  FillFlash(k4M, 0x00);
  const std::string hello = (TestDataDir() / "hello.gba").string();
  // Unanswered, the size question says No: nothing is written.
  Outcome r = RunCli(Args({"write", hello}));
  EXPECT_EQ(r.exit, 1);
  ExpectLog(r, {"PortMode = EPP", "FileName = " + hello, "FileSize = 1300", "File Size Error!!!"});
  EXPECT_EQ(r.LastErr(), "status: Error!!!");  // a failure never ends on an empty status
  EXPECT_TRUE(AllEqual(Flash(), 0, k4M, 0x00));

  r = RunCli(Args({"--yes", "write", hello}));
  EXPECT_EQ(r.exit, 0);
  ExpectLog(r, {"PortMode = EPP", "FileName = " + hello, "FileSize = 1300", "File Size Error!!!",
                "Header fixed", "Blocks = 0 skipped, 0 programmed, 1 erased", "Time = # Sec"});
  EXPECT_EQ(r.LastErr(), "status: Write Cart ok");
  EXPECT_NE(r.errText.find("File Size Error: Do You want to Continue? Yes"), std::string::npos);
  EXPECT_NE(r.errText.find("Fix Header: Do You want to fix header problem? Yes"), std::string::npos);
  const auto flash = Flash();
  const auto bytes = ReadBytes(hello);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), flash.begin())) << "the genuine header needs no change";
  EXPECT_TRUE(AllEqual(flash, bytes.size(), kBlock, 0xFF));
}

TEST_F(CliProgram, WriteRefusesWhatDoesNotFitOrCannotBeRead) {
  MakeCart("cart = flash-4m");
  FillFlash(k4M, 0x00);
  const std::string big = File("big.gba", MakeImage(k4M + kChunk));
  Outcome r = RunCli(Args({"--yes", "write", big}));
  EXPECT_EQ(r.exit, 1);
  ExpectLog(r, {"PortMode = EPP", "FileName = " + big, "FileSize = 4227072", "File Size Error!!!",
                "MaxFileSize = 4194304"});
  const std::string missing = (root / "missing.gba").string();
  r = RunCli(Args({"--yes", "write", missing}));
  EXPECT_EQ(r.exit, 1);
  ExpectLog(r, {"PortMode = EPP", "FileName = " + missing, "File Open Error!!!"});
  EXPECT_TRUE(AllEqual(Flash(), 0, k4M, 0x00));
}

TEST_F(CliProgram, WriteFaultsNameTheChunk) {
  // A program error at the first word of chunk 1: chunk 0 stays written and verified.
  MakeCart("cart = flash-4m\nprogram_error_word = 0x4000");
  FillFlash(k4M, 0x00);
  const auto image = MakeImage(4 * kChunk);
  const std::string path = File("game.gba", image);
  Outcome r = RunCli(Args({"write", path}));
  EXPECT_EQ(r.exit, 1);
  ExpectLog(r, {"PortMode = EPP", "FileName = " + path, "FileSize = 131072", "Game Name = GBA Tests",
                "Game Code = 1337", "Write Flash Error!!!(1)", "Blocks = 0 skipped, 0 programmed, 1 erased",
                "Time = # Sec"});
  EXPECT_EQ(r.LastErr(), "status: Error!!!");
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + kChunk, Flash().begin()));

  fs::remove_all(cart);
  MakeCart("adapter = spp");
  r = RunCli(Args({"write", path}));
  EXPECT_EQ(r.exit, 0);
  EXPECT_EQ(r.out.front(), "PortMode = SPP");
  EXPECT_EQ(r.LastErr(), "status: Write Cart ok");
  EXPECT_TRUE(std::equal(image.begin(), image.end(), Flash().begin()));
}

TEST_F(CliProgram, WriteWithIpsPatchesTheImageOnItsWay) {
  MakeCart("cart = flash-4m");
  const auto image = MakeImage(4 * kChunk);
  const std::string path = File("game.gba", image);
  const std::string patch = File("fix.ips", testing::PatchFile().Record(0x10001, "ABCD").End());
  Outcome r = RunCli(Args({"write", path, "--ips", patch}));
  EXPECT_EQ(r.exit, 0);
  ExpectLog(r, {"PortMode = EPP", "FileName = " + path, "FileSize = 131072", "IpsFileName = " + patch,
                "-->Ips Applied<--", "Game Name = GBA Tests", "Game Code = 1337",
                "Blocks = 0 skipped, 1 programmed, 0 erased", "Time = # Sec"});
  auto expected = image;
  std::copy_n("ABCD", 4, expected.begin() + 0x10001);
  auto flash = Flash();
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()));

  // Anything that is no usable patch is refused before the cart is touched: asked for on the
  // command line, an unpatched image is not what the user wanted.
  const auto before = Flash();
  auto tooLarge = testing::PatchFile().Record(0x10, std::vector<std::uint8_t>(0xFFFF, 1)).End();
  const std::string fifo = (root / "fifo.ips").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::pair<std::string, std::string>> refused = {
      {File("junk.ips", std::vector<std::uint8_t>(20, 'x')), "is not an IPS patch"},
      {File("big.ips", tooLarge), "is not an IPS patch"},
      {File("bad.ips",
            testing::PatchFile().Record(0x10, std::vector<std::uint8_t>{}).Record(0x20, {1}).End()),
       "malformed IPS patch"},
      {root.string(), "Is a directory"},
      {fifo, "not a regular file"},
      {"/dev/zero", "not a regular file"},
  };
  for (const auto& [name, why] : refused) {
    r = RunCli(Args({"write", path, "--ips", name}));
    EXPECT_EQ(r.exit, 1) << name;
    EXPECT_TRUE(r.out.empty()) << name;
    EXPECT_NE(r.errText.find(why), std::string::npos) << r.errText;
    EXPECT_EQ(r.LastErr(), "status: Error!!!");
  }
  EXPECT_EQ(Flash(), before);
}

// --- multi ---------------------------------------------------------------------------------------

TEST_F(CliProgram, MultiWritesThePreBootImageAndTwoGamesBehindIt) {
  MakeCart("cart = flash-8m");
  FillFlash(k8M, 0x5A);
  const auto menu = MakeImage(kChunk, 40), big = MakeImage(k4M, 41), small = MakeImage(2 * kChunk, 42);
  auto bigBlankTail = big;
  std::fill(bigBlankTail.end() - kChunk, bigBlankTail.end(), 0x00);
  const std::string boot = File("menu.bin", menu), a = File("a.gba", bigBlankTail), b = File("b.gba", small);
  // Run where the window program would keep its settings: the command line has none.
  const Outcome r = RunCli(Args({"multi", "--boot", boot, a, b}), {.cwd = root.string()});
  EXPECT_EQ(r.exit, 0) << r.errText;
  EXPECT_FALSE(fs::exists(root / "config.sav"));
  const std::vector<std::string> game = {"Game Name = GBA Tests", "Game Code = 1337"};
  // a may go last only without its blank final 32 KB, and does: b goes first.
  ExpectLog(r, {"PortMode = EPP", "MultiFileSize = 4259840", "FileName = " + boot, "FileSize = 32768",
                game[0], game[1], "FileName = " + b, "FileSize = 65536", game[0], game[1], "FileName = " + a,
                "FileSize = 4161536", game[0], game[1], "Blocks = 0 skipped, 0 programmed, 33 erased",
                "Time = # Sec"});
  EXPECT_EQ(r.LastErr(), "status: Write Cart ok");
  const auto flash = Flash();
  ASSERT_EQ(flash.size(), k8M);
  EXPECT_TRUE(std::equal(menu.begin(), menu.end(), flash.begin()));
  EXPECT_TRUE(std::equal(small.begin(), small.end(), flash.begin() + 0x8000));
  EXPECT_TRUE(AllEqual(flash, 0x18000, kBlock, 0xFF)) << "rest of the first block erased";
  EXPECT_TRUE(AllEqual(flash, kBlock, k4M, 0x5A)) << "blocks between the games untouched";
  EXPECT_TRUE(AllEqual(flash, k4M, 0x408000, 0xFF)) << "the second game's block erased before it";
  EXPECT_TRUE(std::equal(big.begin(), big.end() - kChunk, flash.begin() + 0x408000));
}

TEST_F(CliProgram, MultiRefusalsLeaveTheCartByteForByteAsItWas) {
  const auto chunks = [](std::size_t n, int tail = -1) {
    auto image = MakeImage(n);
    if (tail >= 0) std::fill(image.end() - kChunk, image.end(), static_cast<std::uint8_t>(tail));
    return image;
  };
  const std::string boot = File("menu.bin", MakeImage(kChunk, 40)), shortBoot = File("short.bin", {1, 2, 3});
  const std::string g1 = File("g1.gba", chunks(k1M)), g2 = File("g2.gba", chunks(k1M));
  const std::string full4 = File("full4.gba", chunks(k4M)), blank8 = File("blank8.gba", chunks(k8M, 0xFF));
  const std::string blank5 = File("blank5.gba", chunks(5 * k1M, 0xFF)), odd = File("odd.gba", chunks(40000));
  const std::string missing = (root / "missing.gba").string(), one = File("one.gba", chunks(kChunk));
  struct Row {
    const char* what;
    std::string conf;
    std::string bootArg;
    std::vector<std::string> games;
    std::vector<std::string> log;
    std::string errNeedle = {};
  };
  const Row rows[] = {
      {"4 MB chip", "cart = flash-4m", boot, {g1, g2}, {"PortMode = EPP"}, "multi needs the 8 MB flash chip"},
      {"plain game cart", "cart = rom", boot, {g1, g2}, {"PortMode = EPP", "Flash not found!!!"}},
      {"no adapter", "adapter = none", boot, {g1, g2}, {"No Adaptor Found!"}},
      {"one game", "cart = flash-8m", boot, {g1}, {"PortMode = EPP", "Multi-Files Select Error!!!"}},
      {"three games",
       "cart = flash-8m",
       boot,
       {g1, g2, g1},
       {"PortMode = EPP", "Multi-Files Select Error!!!"}},
      {"past the chip in total",
       "cart = flash-8m",
       boot,
       {blank8, one},
       {"PortMode = EPP", "Total Multi-Files Size > MaxCartSize, Error!!!"}},
      {"not whole chunks", "cart = flash-8m", boot, {g1, odd}, {"PortMode = EPP", "Files Size Error!!!"}},
      {"a game that is not there",
       "cart = flash-8m",
       boot,
       {g1, missing},
       {"PortMode = EPP", "File Open Error!!!"},
       "cannot open the game " + missing + ": No such file or directory"},
      {"no game may go last",
       "cart = flash-8m",
       boot,
       {full4, full4},
       {"PortMode = EPP", "MultiFileSize = 8388608", "Can not put all files to cart!!!"}},
      {"a 5 MB game last",
       "cart = flash-8m",
       boot,
       {blank5, g2},
       {"PortMode = EPP", "MultiFileSize = 6291456",
        "Multi-Files Layout > MaxCartSize, Error!!! (" + blank5 +
            " would end at 9437184, the cart at 8388608)"}},
      {"pre-boot name a directory",
       "cart = flash-8m",
       root.string(),
       {g1, g2},
       {"PortMode = EPP", "MultiFileSize = 2097152", "FileName = " + root.string(), "File Open Error!!!"}},
      {"pre-boot image of 3 bytes",
       "cart = flash-8m",
       shortBoot,
       {g1, g2},
       {"PortMode = EPP", "MultiFileSize = 2097152", "FileName = " + shortBoot,
        "Multi-Boot Files Size Error!!!"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(cart);
    const bool rom = row.conf == "cart = rom";
    MakeCart(row.conf, !rom);
    const fs::path store = cart / (rom ? "rom.bin" : "flash.bin");
    WriteBytes(store, MakeImage(row.conf == "cart = flash-4m" || rom ? k4M : k8M, 7));
    const auto before = ReadBytes(store);
    std::vector<std::string> args = Args({"multi", "--boot", row.bootArg});
    args.insert(args.end(), row.games.begin(), row.games.end());
    const Outcome r = RunCli(args);
    EXPECT_EQ(r.exit, 1);
    ExpectLog(r, row.log);
    EXPECT_NE(r.errText.find(row.errNeedle), std::string::npos) << r.errText;
    EXPECT_TRUE(ReadBytes(store) == before);
  }
}

TEST_F(CliProgram, MultiGameThatFailsHalfwayKeepsTheGameBeforeIt) {
  // A program error in chunk 2 of the game placed second, at 0x408000.
  MakeCart("cart = flash-8m\nprogram_error_word = 0x20C010");
  const auto first = MakeImage(4 * kChunk, 1), second = MakeImage(4 * kChunk, 2);
  const std::string boot = File("menu.bin", MakeImage(kChunk, 40)), a = File("a.gba", first),
                    b = File("b.gba", second);
  const Outcome r = RunCli(Args({"multi", "--boot", boot, a, b}));
  EXPECT_EQ(r.exit, 1);
  ASSERT_FALSE(r.out.empty());
  ASSERT_GE(r.out.size(), 3u);
  EXPECT_EQ(r.out[r.out.size() - 3], "Write Flash Error!!!(2)");
  EXPECT_EQ(r.out[r.out.size() - 2], "Blocks = 0 skipped, 3 programmed, 0 erased");
  EXPECT_EQ(r.LastErr(), "status: Error!!!");
  const auto flash = Flash();
  EXPECT_TRUE(std::equal(second.begin(), second.end(), flash.begin() + 0x8000));
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + 2 * kChunk, flash.begin() + 0x408000));
}

TEST_F(CliProgram, WriteOnlyChangedCountsItsBlocksOnStandardError) {
  MakeCart("cart = flash-4m");
  FillFlash(k4M, 0x00);
  const std::string path = File("game.gba", MakeImage(2 * kBlock, 7));
  // Onto a cart holding something else, then the same image again (--only-changed is what a write
  // does anyway), then every block as the original system wrote: no block counts then.
  struct Row {
    const char* option;
    std::string counts;  // standard error's line; empty: none
    std::string blocks;  // the log's line
  } const rows[] = {
      {nullptr, "blocks: 0 skipped, 0 programmed without erase, 2 erased",
       "Blocks = 0 skipped, 0 programmed, 2 erased"},
      {"--only-changed", "blocks: 2 skipped, 0 programmed without erase, 0 erased",
       "Blocks = 2 skipped, 0 programmed, 0 erased"},
      {"--every-block", "", ""},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = Args({"write", path});
    if (row.option != nullptr) args.push_back(row.option);
    const Outcome r = RunCli(args);
    EXPECT_EQ(r.exit, 0) << r.errText;
    std::vector<std::string> log = {"PortMode = EPP", "FileName = " + path, "FileSize = 262144",
                                    "Game Name = GBA Tests", "Game Code = 1337"};
    if (!row.blocks.empty()) log.push_back(row.blocks);
    log.push_back("Time = # Sec");
    ExpectLog(r, log);
    const bool counted = std::any_of(r.err.begin(), r.err.end(),
                                     [](const std::string& line) { return line.starts_with("blocks: "); });
    EXPECT_EQ(counted, !row.counts.empty()) << r.errText;
    if (!row.counts.empty()) {
      EXPECT_NE(std::find(r.err.begin(), r.err.end(), row.counts), r.err.end()) << r.errText;
    }
  }
}

// --- backup and verify -----------------------------------------------------------------------------

// A 1 MB game cart: the genuine header of hello.gba and zeros.
std::vector<std::uint8_t> SmallRom() {
  std::vector<std::uint8_t> rom(1 << 20, 0);
  const auto hello = ReadTestImage("hello.gba");
  std::copy_n(hello.begin(), 192, rom.begin());
  return rom;
}

TEST_F(CliProgram, BackupWritesTheWholeCartAndItsChecksums) {
  MakeCart("cart = rom\nsave = none", false);
  const auto rom = SmallRom();
  WriteBytes(cart / "rom.bin", rom);
  const std::string dump = (root / "dump.gba").string();
  Outcome r = RunCli(Args({"backup", dump}));
  EXPECT_EQ(r.exit, 0);
  // The checksums of this file as Python's zlib.crc32 and hashlib give them, in the log as in the
  // window and on standard error. The game (a header and zeros) fills the whole read-out: no used
  // size.
  ExpectLog(r,
            {"PortMode = EPP", "FileName = " + dump, "Game Name = GBA Tests", "Game Code = 1337",
             "Cart Size = 8M", "CRC32 = 16155406", "SHA-1 = db5b62936085ff7460eef481b68cfc8985aa1bdd",
             "MD5 = 0f5f5abdc0d226e608693424dd6024a4",
             "SHA-256 = c8f41fd2a9b8d3512d03802dfae316dd14c86748deffcb2d945b70fb60fa6ce6", "Time = # Sec"});
  ASSERT_EQ(r.err.size(), 7u) << r.errText;
  EXPECT_EQ(r.err[0], "Select Cart size: 8M (proposed)");
  EXPECT_EQ(r.err[1], "crc32: 16155406");
  EXPECT_EQ(r.err[2], "sha1: db5b62936085ff7460eef481b68cfc8985aa1bdd");
  EXPECT_EQ(r.err[3], "md5: 0f5f5abdc0d226e608693424dd6024a4");
  EXPECT_EQ(r.err[4], "sha256: c8f41fd2a9b8d3512d03802dfae316dd14c86748deffcb2d945b70fb60fa6ce6");
  EXPECT_EQ(r.err[6], "status: Read Flash ok");
  EXPECT_EQ(ReadBytes(dump), rom);

  r = RunCli(Args({"--speed", "1", "backup", dump, "--size", "16M"}));
  EXPECT_EQ(r.exit, 0);
  EXPECT_EQ(r.out[4], "Cart Size = 16M");
  EXPECT_EQ(r.err[0], "Select Cart size: 16M (--size)");
  EXPECT_EQ(fs::file_size(dump), 2u << 20);
}

// A 4 MB flash cart holding a 1 MB game and erased flash behind it, looked up in a small DAT. The
// checksums are Python's of the same bytes.
TEST_F(CliProgram, DatNamesTheGameAndTrimKeepsOnlyItsSize) {
  MakeCart("cart = flash-4m");
  const auto game = SmallRom();
  std::vector<std::uint8_t> flash(k4M, 0xFF);
  std::copy(game.begin(), game.end(), flash.begin());
  WriteBytes(cart / "flash.bin", flash);
  const std::vector<std::string> gameSums = {
      "crc32: 16155406", "sha1: db5b62936085ff7460eef481b68cfc8985aa1bdd",
      "md5: 0f5f5abdc0d226e608693424dd6024a4",
      "sha256: c8f41fd2a9b8d3512d03802dfae316dd14c86748deffcb2d945b70fb60fa6ce6"};
  const std::vector<std::string> cartSums = {
      "crc32: adf729fc", "sha1: 95e718f31386c19415568b24153db9365ba48bfc",
      "md5: 6521affa05ae018ca66f3c78d21149ae",
      "sha256: 51b12363e92fa43ebea385287bcb788f9db9ce5c8f448d342db49312d036bb3b"};
  const std::string listed =
      "<datafile>\n<header><name>Brevo</name></header>\n<game name=\"Brevo Test (World)\">\n"
      "  <description>Brevo Test</description>\n"
      "  <rom name=\"Brevo Test (World).gba\" size=\"1048576\" crc=\"16155406\" "
      "sha1=\"DB5B62936085FF7460EEF481B68CFC8985AA1BDD\"/>\n</game>\n</datafile>\n";
  std::string other = listed;
  other.replace(other.find("16155406"), 8, "16155407");
  const std::string broken = "<datafile>\n<game name=\"x\">\n<rom size=\"1\">\n</game>\n</datafile>\n";
  const std::string dump = (root / "dump.gba").string();
  auto concat = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct Row {
    std::string dat;
    std::vector<std::string> args;
    std::vector<std::string> err;  // standard error after the size line, before the modelled time
    std::size_t fileSize;
  } const rows[] = {
      {listed, {"--size", "8M"}, concat(gameSums, {"dat: Brevo Test (World)"}), k1M},
      {listed,
       {},
       concat(cartSums, {"used: 1048576 bytes", "dat: Brevo Test (World) (first 1048576 bytes)"}),
       k4M},
      {listed,
       {"--trim"},
       concat(concat({"trim: " + dump +
                      " now holds the first 1048576 bytes of the read-out; the checksums are theirs"},
                     gameSums),
              {"used: 1048576 bytes", "dat: Brevo Test (World) (first 1048576 bytes)"}),
       k1M},
      {other,
       {},
       concat(cartSums, {"used: 1048576 bytes", "dat: no match in " + (root / "game.dat").string()}),
       k4M},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.err.back());
    WriteText(root / "game.dat", row.dat);
    std::vector<std::string> args = Args({"backup", dump, "--dat", (root / "game.dat").string()});
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Outcome r = RunCli(args);
    EXPECT_EQ(r.exit, 0);
    ASSERT_EQ(r.err.size(), row.err.size() + 3) << r.errText;
    EXPECT_EQ(std::vector<std::string>(r.err.begin() + 1, r.err.end() - 2), row.err);
    EXPECT_EQ(ReadBytes(dump), std::vector<std::uint8_t>(flash.begin(), flash.begin() + row.fileSize));
  }

  // verify says how much of the cart the game takes, too.
  const Outcome v = RunCli(Args({"verify", dump}));
  EXPECT_EQ(v.exit, 0);
  ASSERT_EQ(v.err.size(), 3u) << v.errText;
  EXPECT_EQ(v.err[0], "used: 1048576 bytes");

  // A DAT that is no XML is refused with the parser's word and line, before the cart is read.
  fs::remove(dump);
  WriteText(root / "game.dat", broken);
  const Outcome r = RunCli(Args({"backup", dump, "--dat", (root / "game.dat").string()}));
  EXPECT_EQ(r.exit, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(r.errText, "brevomat-cli: " + (root / "game.dat").string() +
                           " is not a DAT file: Start-end tags mismatch at line 4\nstatus: Error!!!\n");
  EXPECT_FALSE(fs::exists(dump));
}

TEST_F(CliProgram, AFailedBackupLeavesTheEarlierFileAndKeepsWhatWasRead) {
  const std::string sized = "PortMode = EPP|FileName = @|Game Name = GBA Tests|Game Code = 1337|Cart Size = ";
  bool sent = false;
  struct Row {
    std::string conf, file, size;  // cart.conf lines, the file, --size
    std::string log;               // the log, lines parted by "|"; "@" stands for the file
    int leavesPart;                // 1: chunks were read, they are in FILE.part and stderr says so;
                                   // 0: the read-out began but kept nothing; -1: it never began;
                                   // 2: 0 or 1, as the signal's timing falls
    RunOptions run = {};
  } const rows[] = {
      {"adapter = none", "dump.gba", "8M", "No Adaptor Found!", -1},
      {"", "dump.gba", "8M",
       "PortMode = EPP|FileName = @|no AGB data present!|Rom Header Error!!!|Time = # Sec",
       -1},  // a cart with a wrong logo
      {"flip_read = 300000", "dump.gba", "8M", sized + "8M|Time = # Sec", 1},
      {"",
       "dump.gba",
       "16m",
       sized + "16M|Write ErrNo=File too large|Time = # Sec",
       1,
       {.fileSizeLimit = 3 << 19}},  // a full disk: a file-size limit of 1.5 MB
      // Ctrl-C as the size is chosen: the read-out stops at its next poll, mostly before any
      // chunk; a slow machine may confirm one first, which then is in FILE.part.
      {"",
       "dump.gba",
       "256M",
       sized + "256M|Stop process !!!|Time = # Sec",
       2,
       {.onErr =
            [&](pid_t pid, const std::string& err) {
              if (!sent && err.find("Select Cart size") != std::string::npos) sent = kill(pid, SIGINT) == 0;
            }}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.log);
    fs::remove_all(cart);
    MakeCart("cart = rom\nsave = none\n" + row.conf, false);
    auto rom = SmallRom();
    rom[0x9F] ^= row.log.find("Rom Header Error") != std::string::npos ? 1 : 0;
    WriteBytes(cart / "rom.bin", rom);
    const std::string file = (root / row.file).string();
    WriteText(file, "an earlier backup");
    const Outcome r = RunCli(Args({"backup", file, "--size", row.size}), row.run);
    std::vector<std::string> log;
    for (std::size_t start = 0, bar = 0; bar != std::string::npos; start = bar + 1) {
      bar = row.log.find('|', start);
      log.push_back(row.log.substr(start, bar - start));
      if (log.back() == "FileName = @") log.back() = "FileName = " + file;
    }
    EXPECT_EQ(r.exit, 1);
    ExpectLog(r, log);
    EXPECT_EQ(r.LastErr(), "status: Error!!!");
    const auto bytes = ReadBytes(file);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "an earlier backup");
    const int leavesPart = row.leavesPart == 2 ? (fs::exists(file + ".part") ? 1 : 0) : row.leavesPart;
    EXPECT_EQ(fs::exists(file + ".part"), leavesPart == 1);
    if (leavesPart == 0) {
      EXPECT_NE(
          r.errText.find("the read-out is incomplete: " + file + " is as it was; nothing of it was kept"),
          std::string::npos)
          << r.errText;
    }
    if (leavesPart == 1) {
      const auto part = ReadBytes(file + ".part");
      EXPECT_EQ(part.size() % kChunk, 0u);
      EXPECT_GT(part.size(), 0u);
      EXPECT_TRUE(std::equal(part.begin(), part.begin() + std::min(part.size(), rom.size()), rom.begin()));
      EXPECT_NE(r.errText.find("the read-out is incomplete: " + file + " is as it was; the " +
                               std::to_string(part.size()) + " bytes read so far are in " + file + ".part"),
                std::string::npos)
          << r.errText;
      fs::remove(file + ".part");
    }
    EXPECT_EQ(r.errText.find(leavesPart >= 0 ? "crc32" : "incomplete"), std::string::npos) << r.errText;
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 2)
        << "a temporary file is left";
  }
}

TEST_F(CliProgram, TheCartsOwnFilesAreRefusedAsBackups) {
  // However they are named, and before the cart is read.
  MakeCart("cart = flash-4m");
  const auto save = MakeImage(kChunk * 8, 3);
  WriteBytes(cart / "save.bin", save);
  FillFlash(k4M, 0x00);
  fs::create_symlink(cart / "save.bin", root / "link.sav");
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{"backup-save", (cart / "save.bin").string()}, "save.bin"},
      {{"backup-save", (root / "link.sav").string()}, "save.bin"},
      {{"backup", (cart / "flash.bin").string()}, "flash.bin"},
  };
  for (const auto& [command, file] : rows) {
    SCOPED_TRACE(command[1]);
    const Outcome r = RunCli(Args({command[0], command[1]}));
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(r.out.empty()) << "the cart was read";
    EXPECT_NE(r.errText.find("cannot write to " + command[1] + ": it is the virtual cart's own " + file),
              std::string::npos)
        << r.errText;
  }
  EXPECT_EQ(ReadBytes(cart / "save.bin"), save);
  EXPECT_TRUE(AllEqual(Flash(), 0, k4M, 0x00));
}

TEST_F(CliProgram, TwoBackupsIntoOneFileEachReportTheirOwnCart) {
  // Two carts, two programs, one file: each run that succeeds prints its own cart's checksum, and
  // the file at the end is one of the two carts, never a mixture.
  const fs::path carts[2] = {root / "cart-a", root / "cart-b"};
  std::vector<std::uint8_t> roms[2] = {SmallRom(), SmallRom()};
  for (int i = 0; i < 2; ++i) {
    std::fill(roms[i].begin() + 0x1000, roms[i].end(), static_cast<std::uint8_t>(0x30 + i));
    fs::create_directories(carts[i]);
    WriteText(carts[i] / "cart.conf", "cart = rom\nsave = none\n");
    WriteBytes(carts[i] / "rom.bin", roms[i]);
  }
  const std::string dump = (root / "dump.gba").string();
  std::string crcs[2];
  for (int i = 0; i < 2; ++i) {  // each cart alone first: its checksum
    const Outcome r = RunCli({"--virtual", carts[i].string(), "backup", dump});
    ASSERT_EQ(r.exit, 0) << r.errText;
    crcs[i] = r.err[1];
  }
  ASSERT_NE(crcs[0], crcs[1]);
  for (int round = 0; round < 3; ++round) {
    auto a = std::async(std::launch::async, [&] {
      return RunCli({"--virtual", carts[0].string(), "backup", dump});
    });
    auto b = std::async(std::launch::async, [&] {
      return RunCli({"--virtual", carts[1].string(), "backup", dump});
    });
    const Outcome results[2] = {a.get(), b.get()};
    int succeeded = 0;
    for (int i = 0; i < 2; ++i) {
      if (results[i].exit != 0) {  // only ever because the other run replaced the file meanwhile
        EXPECT_NE(results[i].errText.find("was replaced by another program"), std::string::npos)
            << results[i].errText;
        EXPECT_EQ(results[i].LastErr(), "status: Error!!!");
        continue;
      }
      ++succeeded;
      EXPECT_EQ(results[i].err[1], crcs[i]) << "round " << round;
    }
    EXPECT_GT(succeeded, 0);
    const auto bytes = ReadBytes(dump);
    EXPECT_TRUE(bytes == roms[0] || bytes == roms[1]) << "round " << round;
  }
}

TEST_F(CliProgram, BackupIntoAReadOnlyFolderIsAnOpenError) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write into a read-only folder";
  MakeCart("cart = rom\nsave = none", false);
  WriteBytes(cart / "rom.bin", SmallRom());
  fs::create_directories(root / "locked");
  fs::permissions(root / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  const std::string file = (root / "locked" / "dump.gba").string();
  const Outcome r = RunCli(Args({"backup", file}));
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.out[r.out.size() - 2], "File Open Error!!!");
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(CliProgram, VerifyAgreesWithWriteAndNamesTheFirstDifference) {
  MakeCart("cart = flash-4m");
  auto image = MakeImage(40000, 4);
  image[0x10] ^= 0xFF;  // a wrong logo: write and verify repair it when answered Yes
  const std::string path = File("game.gba", image);
  const std::string patch = File("fix.ips", testing::PatchFile().Record(0x9000, "AB").End());
  ASSERT_EQ(RunCli(Args({"--yes", "write", path, "--ips", patch})).exit, 0);
  const auto written = Flash();
  Outcome r = RunCli(Args({"--yes", "verify", path, "--ips", patch}));
  EXPECT_EQ(r.exit, 0);
  ExpectLog(r, {"PortMode = EPP", "FileName = " + path, "FileSize = 40000", "File Size Error!!!",
                "IpsFileName = " + patch, "-->Ips Applied<--", "no AGB data present!", "Header fixed",
                "Time = # Sec"});
  EXPECT_EQ(r.LastErr(), "status: Verify Cart ok");
  EXPECT_TRUE(Flash() == written) << "verify changed the cart";

  image[0x8765] ^= 0x01;
  r = RunCli(Args({"--yes", "verify", File("changed.gba", image), "--ips", patch}));
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.out[r.out.size() - 2], "Verify Flash Error!!!(1)");
  EXPECT_NE(r.errText.find("first at byte offset 34661 (0x8765)"), std::string::npos) << r.errText;

  // Two reads that disagree say nothing about the flash, and the program says so.
  WriteText(cart / "cart.conf", "cart = flash-4m\ntiming = fast\nflip_read = 40000\n");
  r = RunCli(Args({"--yes", "verify", path, "--ips", patch}));
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.errText.find("the two reads of chunk 1 "), std::string::npos) << r.errText;
  EXPECT_EQ(r.errText.find("byte offset 34661"), std::string::npos) << r.errText;
}

// --- save memory -----------------------------------------------------------------------------------

constexpr std::size_t kSave = 8 * kChunk;  // 256 KB: eight 32 KB save units, bank 0 first

std::vector<std::uint8_t> SaveUnits(const std::vector<std::uint8_t>& b, std::size_t first, std::size_t n) {
  return {b.begin() + static_cast<std::ptrdiff_t>(first * kChunk),
          b.begin() + static_cast<std::ptrdiff_t>((first + n) * kChunk)};
}

TEST_F(CliProgram, BackupSaveAndWriteSaveByBankAndSize) {
  MakeCart("cart = flash-4m");
  auto save = MakeImage(kSave, 1);
  WriteBytes(cart / "save.bin", save);
  const std::string out = (root / "backup.sav").string();
  Outcome r = RunCli(Args({"backup-save", out}));  // "Bank 1", "32K"
  EXPECT_EQ(r.exit, 0);
  ExpectLog(r, {"PortMode = EPP", "FileName = " + out, "Backup Saver 32K Ok", "Time = # Sec"});
  EXPECT_NE(r.errText.find("Bank and Size Select: Bank 1, 32K"), std::string::npos) << r.errText;
  EXPECT_EQ(r.LastErr(), "status: ");
  EXPECT_EQ(ReadBytes(out), SaveUnits(save, 0, 1));
  r = RunCli(Args({"backup-save", out, "--size", "256K"}));
  EXPECT_EQ(r.exit, 0);
  EXPECT_EQ(ReadBytes(out), save);

  const auto file = MakeImage(2 * kChunk, 2);
  const std::string in = File("restore.sav", file);
  r = RunCli(Args({"write-save", in, "--bank", "3", "--size", "128K"}));
  EXPECT_EQ(r.exit, 0);
  EXPECT_EQ(r.LastErr(), "status: Write Save Data ok");
  // The two units it overwrote are kept, and the log and standard error say where.
  const fs::path kept = root / "data" / "brevomat" / "saves";
  ASSERT_EQ(std::distance(fs::directory_iterator(kept), fs::directory_iterator()), 1);
  const fs::path keptFile = fs::directory_iterator(kept)->path();
  ExpectLog(r, {"PortMode = EPP", "FileName = " + in, "FileSize = 65536", "Old Save = " + keptFile.string(),
                "Time = # Sec"});
  EXPECT_TRUE(keptFile.filename().string().ends_with("_bank3_64K.sav")) << keptFile;
  EXPECT_EQ(ReadBytes(keptFile), SaveUnits(save, 4, 2));
  EXPECT_NE(r.errText.find("the save memory it replaces is kept in " + keptFile.string()), std::string::npos)
      << r.errText;
  std::copy(file.begin(), file.end(), save.begin() + 4 * kChunk);
  EXPECT_EQ(ReadBytes(cart / "save.bin"), save);

  // --no-keep writes without keeping: a data folder that cannot be one is never looked at.
  WriteText(root / "no-folder", "a file, not a folder");
  setenv("XDG_DATA_HOME", (root / "no-folder").c_str(), 1);
  r = RunCli(Args(
      {"--no-keep", "--speed", "1", "write-save", in, "--bank", "4"}));  // "32K": the file's first unit only
  EXPECT_EQ(r.exit, 0);
  ExpectLog(
      r, {"PortMode = EPP", "FileName = " + in, "FileSize = 65536", "Fixed Saver Size(32K)", "Time = # Sec"});
  std::copy_n(file.begin(), kChunk, save.begin() + 6 * kChunk);
  EXPECT_EQ(ReadBytes(cart / "save.bin"), save);
}

TEST_F(CliProgram, SaveCommandsThatFailExitOneAndLeaveTheSaveMemoryAlone) {
  const auto save = MakeImage(kSave, 3);
  const std::string out = (root / "backup.sav").string();
  const std::string in = File("restore.sav", MakeImage(2 * kChunk, 4));
  const std::string odd = File("odd.sav", MakeImage(40000, 5));
  const std::string big = File("big.sav", MakeImage(4 * kChunk, 6));
  const std::string missing = (root / "missing.sav").string();
  const std::string nowhere = (root / "no-folder" / "backup.sav").string();
  struct Row {
    std::string conf;
    std::vector<std::string> args;
    std::vector<std::string> log;
  };
  const std::vector<Row> rows = {
      {"adapter = none", {"backup-save", out}, {"No Adaptor Found!"}},
      {"save = none", {"write-save", in}, {"PortMode = EPP", "No Save Data found!!!"}},
      {"",
       {"backup-save", out, "--bank", "4", "--size", "128K"},
       {"PortMode = EPP", "Bank Select or Size Select Error!!!"}},
      {"",
       {"write-save", in, "--bank", "2", "--size", "256K"},
       {"PortMode = EPP", "Bank Select or Size Select Error!!!"}},
      {"", {"write-save", missing}, {"PortMode = EPP", "FileName = " + missing, "File Open Error!!!"}},
      {"",
       {"backup-save", nowhere},
       {"PortMode = EPP", "FileName = " + nowhere, "File Open Error!!!", "Time = 0 Sec"}},
      {"",
       {"write-save", odd},
       {"PortMode = EPP", "FileName = " + odd, "FileSize = 40000", "File Size Error!!!"}},
      {"",
       {"write-save", big, "--size", "256K"},
       {"PortMode = EPP", "FileName = " + big, "FileSize = 131072", "File Size Error!!!"}},
      {"", {"backup-save", "/dev/full"}, {}},  // a device: refused before the cart is read
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args.front() + " " + row.args[1] + " on " + row.conf);
    fs::remove_all(cart);
    MakeCart("cart = flash-4m\n" + row.conf);
    if (row.conf != "save = none") WriteBytes(cart / "save.bin", save);
    std::vector<std::string> args = {"--virtual", cart.string()};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Outcome r = RunCli(args);
    EXPECT_EQ(r.exit, 1);
    ExpectLog(r, row.log);
    EXPECT_EQ(r.LastErr(), "status: Error!!!");
    EXPECT_FALSE(fs::exists(out));
    if (row.conf != "save = none") {
      EXPECT_EQ(ReadBytes(cart / "save.bin"), save);
    }
  }
}

TEST_F(CliProgram, AStuckSaveByteFailsTheSecondUnitAndTheUnitsAfterItStayUntouched) {
  // 0x1a000 lies in unit 3, the second unit of "Bank 2".
  MakeCart("cart = flash-4m\nsave_stuck_byte = 0x1a000");
  const auto save = MakeImage(kSave, 7);
  WriteBytes(cart / "save.bin", save);
  auto file = MakeImage(2 * kChunk, 8);
  file[0x1a000 - 2 * kChunk] = static_cast<std::uint8_t>(~save[0x1a000]);
  const std::string in = File("restore.sav", file);
  const Outcome r = RunCli(Args({"write-save", in, "--bank", "2", "--size", "64K"}));
  EXPECT_EQ(r.exit, 1);
  const fs::path kept = root / "data" / "brevomat" / "saves";
  ASSERT_EQ(std::distance(fs::directory_iterator(kept), fs::directory_iterator()), 1);
  ExpectLog(r, {"PortMode = EPP", "FileName = " + in, "FileSize = 65536",
                "Old Save = " + fs::directory_iterator(kept)->path().string(), "Write Save Data Error!!!(1)",
                "Time = # Sec"});
  EXPECT_EQ(r.LastErr(), "status: Error!!!");
  const auto after = ReadBytes(cart / "save.bin");
  ASSERT_EQ(after.size(), kSave);
  EXPECT_EQ(SaveUnits(after, 2, 1), SaveUnits(file, 0, 1)) << "the first unit written and verified";
  EXPECT_EQ(after[0x1a000], save[0x1a000]);
  EXPECT_EQ(SaveUnits(after, 0, 2), SaveUnits(save, 0, 2));
  EXPECT_EQ(SaveUnits(after, 4, 4), SaveUnits(save, 4, 4)) << "the banks after it were touched";
}

TEST_F(CliProgram, BackupSaveIntoAReadOnlyFolderIsRefused) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write into a read-only folder";
  MakeCart("cart = flash-4m");
  const fs::path folder = root / "read-only";
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  const std::string out = (folder / "backup.sav").string();
  const Outcome r = RunCli(Args({"backup-save", out}));
  fs::permissions(folder, fs::perms::owner_all);
  EXPECT_EQ(r.exit, 1);
  ExpectLog(r, {"PortMode = EPP", "FileName = " + out, "File Open Error!!!", "Time = 0 Sec"});
  EXPECT_EQ(r.LastErr(), "status: Error!!!");
  EXPECT_FALSE(fs::exists(out));
}

// --- the program around the commands -----------------------------------------------------------

TEST_F(CliProgram, UsageErrorsExitTwoAndTouchNothing) {
  const std::vector<std::vector<std::string>> bad = {
      {"format"},
      {"--bogus", "info"},
      {"write"},
      {"--speed", "9", "erase"},
      {"--yes", "--no", "erase"},
      {"--port", "lpt9", "info"},
      {"info", "extra"},
      {"--ips", "p.ips", "erase"},
      {"multi", "a.gba", "b.gba"},
      {"backup"},
      {"backup", "dump.gba", "--size", "12M"},
      {"--size", "8M", "info"},
      {"verify"},
      {"--ips", "p.ips", "backup", "dump.gba"},
      {"verify", "game.gba", "--trim"},
      {"--dat", "game.dat", "info"},
      {"backup", "dump.gba", "--dat"},
      {},
  };
  for (const auto& rest : bad) {
    std::vector<std::string> args = {"--virtual", cart.string()};
    args.insert(args.end(), rest.begin(), rest.end());
    const Outcome r = RunCli(args);
    EXPECT_EQ(r.exit, 2) << r.errText;
    EXPECT_TRUE(r.out.empty());
    EXPECT_TRUE(r.errText.starts_with("brevomat-cli: ")) << r.errText;
    EXPECT_EQ(r.LastErr(), "status: Error!!!");
    EXPECT_FALSE(fs::exists(cart)) << "the virtual cart was created for a bad command line";
  }
  // A patch that cannot be read is caught before the cart is opened.
  const Outcome r = RunCli(Args({"write", "game.gba", "--ips", (root / "nope.ips").string()}));
  EXPECT_EQ(r.exit, 1);
  EXPECT_FALSE(fs::exists(cart));
}

// However a --json run ends, standard output is JSON lines and the last is its one result, whose
// exit is the program's. Words that only look like --json (after "--", or --log's file) are not it.
TEST_F(CliProgram, EveryJsonRunEndsWithItsOneResult) {
  MakeCart("cart = flash-8m", false);  // an erase long enough to be stopped
  FillFlash(k8M, 0x00);
  const std::string fifo = (root / "fifo.log").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct Row {
    std::vector<std::string> args;
    int exit;
    bool json;
    std::string status;
    int signal = SIGINT;  // sent once the command shows its progress
  };
  const std::vector<Row> rows = {
      {{"--json", "frobnicate"}, 2, true, "Error!!!"},
      {{"--json=1", "info"}, 2, true, "Error!!!"},
      {{"--bogus", "info", "--json"}, 2, true, "Error!!!"},
      {{"info", "extra", "--json"}, 2, true, "Error!!!"},
      {{"--json", "--help"}, 0, true, ""},
      {{"--json", "--version"}, 0, true, ""},
      {{"--json", "-h", "info"}, 0, true, ""},
      {{"--json", "--log", fifo, "info"}, 1, true, "Error!!!"},              // refused, never waiting
      {Args({"--json", "--yes", "erase"}), 1, true, "Cart Erase Error!!!"},  // Ctrl-C
      {Args({"--json", "--yes", "erase"}), 1, true, "Cart Erase Error!!!", SIGTERM},  // stops as Ctrl-C
      {Args({"--json", "--yes", "erase"}), 1, true, "Cart Erase Error!!!", SIGHUP},
      {{"--", "--json"}, 2, false, ""},
      {{"--log", "--json", "bogus"}, 2, false, ""},
  };
  for (const Row& row : rows) {
    std::string what;
    for (const std::string& arg : row.args) what += arg + " ";
    bool sent = false;
    const Outcome r = RunCli(row.args, {.onOut = [&sent, &row](pid_t pid, const std::string& out) {
                               if (!sent && out.find("\"event\":\"progress\"") != std::string::npos) {
                                 kill(pid, row.signal);
                                 sent = true;
                               }
                             }});
    EXPECT_EQ(r.exit, row.exit) << what << r.errText;
    if (!row.json) {
      EXPECT_TRUE(r.out.empty()) << what;
      continue;
    }
    ASSERT_FALSE(r.out.empty()) << what;
    for (std::size_t i = 0; i < r.out.size(); ++i) {
      const nlohmann::json event = nlohmann::json::parse(r.out[i], nullptr, false);
      ASSERT_TRUE(event.is_object()) << what << r.out[i];
      const bool last = i + 1 == r.out.size();
      EXPECT_EQ(event.value("event", "") == "result", last) << what << r.out[i];
      if (!last) continue;
      EXPECT_EQ(event["exit"], r.exit) << what;
      EXPECT_EQ(event["status"], row.status) << what;
    }
  }
}

TEST_F(CliProgram, AClosedStandardOutputFailsTheRunAlsoWithARunLog) {
  MakeCart("cart = flash-4m");
  const fs::path log = root / "run.log";
  const Outcome r = RunCli(Args({"--log", log.string(), "info"}), {.startWithoutStdout = true});
  EXPECT_EQ(r.exit, 1) << r.errText;
  EXPECT_NE(r.errText.find("the command succeeded (Cart Info Ok), but its log could not be written to "
                           "standard output"),
            std::string::npos)
      << r.errText;
  EXPECT_EQ(r.LastErr(), "status: Error!!!");
  // The run log holds its own lines only: none of the plain log slipped in between them.
  std::ifstream in(log);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 5u);
  for (std::size_t i = 1; i + 4 < lines.size(); ++i) EXPECT_TRUE(lines[i].starts_with("[")) << lines[i];
  EXPECT_EQ(lines[lines.size() - 3], "status: Error!!!");
  EXPECT_EQ(lines[lines.size() - 2], "exit: 1");
}

// The run log is never one of the command's own files, however it is spelled: the finished backup
// would be renamed over it, or it would be appended to the save the command writes. Refused before
// the cart is touched, every file as it was.
TEST_F(CliProgram, ARunLogThatIsOneOfTheCommandsFilesIsRefused) {
  const std::string o = File("o.gba", {1, 2, 3}), save = File("n.sav", MakeImage(kChunk, 9));
  fs::create_hard_link(save, root / "same.sav");
  const std::string patch = File("p.ips", PatchFile().Record(0x100, "ab").End());
  const std::vector<std::vector<std::string>> rows = {
      {o, "backup", o},
      {o + ".part", "backup", o},
      {(root / "." / "o.sav").string(), "backup-save", (root / "o.sav").string()},
      {save, "write-save", save},
      {(root / "same.sav").string(), "write-save", save},
      {(root / ".." / root.filename() / "p.ips").string(), "write", save, "--ips", patch},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.front() + " " + row[1]);
    std::vector<std::string> args = Args({"--log", row.front()});
    args.insert(args.end(), row.begin() + 1, row.end());
    const Outcome r = RunCli(args);
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.errText.find("cannot append to the run log " + row.front() + ": it is the same file as "),
              std::string::npos)
        << r.errText;
    EXPECT_EQ(r.LastErr(), "status: Error!!!");
    EXPECT_FALSE(fs::exists(cart));
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 4);
    EXPECT_EQ(ReadBytes(o), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(ReadBytes(save), MakeImage(kChunk, 9));
  }
}

// Standard error closed or full loses the status line and what the commands report there (where a
// kept save went): the run fails as with a lost standard output.
TEST_F(CliProgram, ALostStandardErrorFailsEveryCommand) {
  MakeCart("cart = flash-4m");
  const std::string save = File("n.sav", MakeImage(kChunk, 11));
  for (const RunOptions& lost :
       {RunOptions{.startWithoutStderr = true}, RunOptions{.stderrFile = "/dev/full"}}) {
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"info"}, {"--yes", "write-save", save}}) {
      SCOPED_TRACE(command.back() + (lost.startWithoutStderr ? " 2>&-" : " 2>/dev/full"));
      std::vector<std::string> args = Args({"--json"});
      args.insert(args.end(), command.begin(), command.end());
      const Outcome r = RunCli(args, lost);
      EXPECT_EQ(r.exit, 1);
      ASSERT_FALSE(r.out.empty());
      EXPECT_TRUE(r.out.back().starts_with(R"({"event":"result","exit":1,"status":"Error!!!")"))
          << r.out.back();
    }
  }
}

TEST_F(CliProgram, HelpVersionAndBadCartDirectories) {
  Outcome r = RunCli({"--help"});
  EXPECT_EQ(r.exit, 0);
  EXPECT_TRUE(r.out.front().starts_with("Usage: brevomat-cli"));
  r = RunCli({"--version"});
  EXPECT_EQ(r.exit, 0);
  EXPECT_EQ(r.out.front(), "Tarvex Brevomat 1.2nt");

  MakeCart("cart = flash-9m");
  r = RunCli(Args({"info"}));
  EXPECT_EQ(r.exit, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.errText.find("line 1"), std::string::npos) << r.errText;
  EXPECT_EQ(fs::file_size(cart / "cart.conf"), std::string("cart = flash-9m\ntiming = fast\n").size());
}

TEST_F(CliProgram, ACartThatCannotBeSavedFailsTheRun) {
  MakeCart("cart = flash-4m");
  FillFlash(k4M, 0x00);
  // A file size limit below the flash's 4 MB stands for a full disk: the write-back cannot succeed.
  const Outcome r =
      RunCli(Args({"--yes", "erase"}), {.wrapper = {"/usr/bin/prlimit", "--fsize=1048576", "--"}});
  EXPECT_EQ(r.exit, 1);
  ExpectLog(r, {"PortMode = EPP", "Cart Erase Ok", "Time = # Sec"});
  EXPECT_NE(r.errText.find("not saved"), std::string::npos) << r.errText;
  EXPECT_NE(r.errText.find("unchanged"), std::string::npos) << r.errText;
  EXPECT_EQ(r.LastErr(), "status: Error!!!");
  EXPECT_TRUE(AllEqual(Flash(), 0, k4M, 0x00)) << "the old flash.bin must survive";
}

TEST_F(CliProgram, TwoProgramsOnOneCartNeverUndoEachOther) {
  // A look at the cart started together with a write: the look waits for the write (or is
  // refused), and whatever reported success is what the files hold at the end.
  MakeCart("cart = flash-4m");
  for (int round = 0; round < 3; ++round) {
    const auto image = MakeImage(4 * kChunk, static_cast<std::uint8_t>(round + 1));
    const std::string path = File("game.gba", image);
    auto write = std::async(std::launch::async, [&] { return RunCli(Args({"--yes", "write", path})); });
    auto info = std::async(std::launch::async, [&] { return RunCli(Args({"info"})); });
    const Outcome w = write.get(), i = info.get();
    EXPECT_EQ(w.exit, 0) << w.errText;
    EXPECT_TRUE(i.exit == 0 || i.errText.find("in use by another program") != std::string::npos) << i.errText;
    const auto flash = Flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << "round " << round;
  }
}

TEST_F(CliProgram, ALogReaderThatGoesAwayDoesNotAbortTheCommand) {
  MakeCart("cart = flash-4m");
  FillFlash(k4M, 0x00);
  const Outcome r = RunCli(Args({"--yes", "erase"}), {.closeStdout = true});
  EXPECT_EQ(r.exit, 1) << "the log could not be written, yet the command was not reported as failed";
  EXPECT_NE(r.errText.find("the command succeeded (Cart Erase Ok), but its log could not be written to "
                           "standard output"),
            std::string::npos)
      << r.errText;
  EXPECT_EQ(r.LastErr(), "status: Error!!!") << "an exit status of 1 under a status that says ok";
  EXPECT_TRUE(AllEqual(Flash(), 0, k4M, 0xFF));
}

TEST_F(CliProgram, WithoutVirtualTheRealPortNeedsItsRights) {
  // As root the program is started without the capability, so that no real port is touched.
  std::vector<std::string> wrapper;
  if (geteuid() == 0) {
    if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "running as root without setpriv";
    wrapper = {"/usr/bin/setpriv", "--bounding-set=-sys_rawio", "--"};
  }
  const Outcome r = RunCli({"info"}, {.wrapper = wrapper});
  EXPECT_EQ(r.exit, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.errText.find("CAP_SYS_RAWIO"), std::string::npos) << r.errText;
}

TEST_F(CliProgram, ANamedDeviceThatDoesNotOpenIsNamedWithItsFix) {
  const std::string device = (root / "parport9").string();
  const Outcome r = RunCli({"--device", device, "info"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.errText.find(device + ": cannot open it: No such file or directory"), std::string::npos)
      << r.errText;
  EXPECT_NE(r.errText.find("sudo modprobe ppdev"), std::string::npos) << r.errText;
  EXPECT_EQ(r.errText.find("CAP_SYS_RAWIO"), std::string::npos) << "direct port access was not asked for";
  // The advice is the program's own text: its lines stand apart, not escaped into one.
  EXPECT_NE(r.errText.find("\nor try it on a virtual cart with --virtual DIR\n"), std::string::npos)
      << r.errText;
}

// --- trace ------------------------------------------------------------------------------------------

// --trace through the built program: the record decodes to the command that ran and agrees with
// the model; it is refused for the files a run log is refused for, and for the run log itself.
TEST_F(CliProgram, TraceRecordsTheCommandAndIsRefusedForTheProgramsOwnFiles) {
  MakeCart("cart = flash-8m");
  const std::string record = (root / "info.rec").string();
  Outcome r = RunCli(Args({"--trace", record, "info"}));
  ASSERT_EQ(r.exit, 0) << r.errText;

  r = RunCli({"trace", "--json", record});
  ASSERT_EQ(r.exit, 0) << r.errText;
  ASSERT_EQ(r.out.size(), 1u);
  const nlohmann::json summary = nlohmann::json::parse(r.out[0]);
  EXPECT_GT(summary["accesses"].get<std::uint64_t>(), 0u);
  EXPECT_EQ(summary["flash"]["cfi-query"], 1);
  ASSERT_EQ(summary["commands"].size(), 1u);
  EXPECT_EQ(summary["commands"][0]["name"], "info");
  EXPECT_EQ(summary["commands"][0]["status"], "Cart Info Ok");
  r = RunCli({"trace", "--check", record});
  EXPECT_EQ(r.exit, 0) << r.errText;
  ASSERT_FALSE(r.out.empty());
  EXPECT_EQ(r.out[0], "agrees");
  // Its last line is the verdict, as every command's is.
  EXPECT_TRUE(r.errText.ends_with("status: Trace Ok\n")) << r.errText;
  r = RunCli({"trace", (cart / "flash.bin").string()});
  EXPECT_EQ(r.exit, 1);
  EXPECT_TRUE(r.errText.ends_with("status: Error!!!\n")) << r.errText;

  const std::string log = (root / "run.log").string();
  for (const std::vector<std::string>& refused : {Args({"--trace", (cart / "flash.bin").string(), "info"}),
                                                  Args({"--log", log, "--trace", log, "info"})}) {
    const std::vector<std::uint8_t> flash = Flash();
    r = RunCli(refused);
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.errText.find("cannot record the port accesses in"), std::string::npos) << r.errText;
    EXPECT_EQ(Flash(), flash);
  }
}

}  // namespace
}  // namespace brevomat::testing
