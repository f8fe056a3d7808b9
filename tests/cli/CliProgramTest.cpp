// brevomat-cli as a user runs it: the built program, standard input from /dev/null, standard
// output and standard error captured apart, against virtual cart directories made for each test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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
  std::vector<std::string> wrapper = {};                      // a program that starts brevomat-cli in turn
  bool closeStdout = false;                                   // nobody reads the log
  std::string cwd = {};                                       // working directory, if not the test's
};

Outcome RunCli(const std::vector<std::string>& args, const RunOptions& opt = {}) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) ADD_FAILURE() << "pipe";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
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
  const int spawned = posix_spawn(&pid, argStore.front().c_str(), &actions, nullptr, argv.data(), environ);
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
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  if (opt.closeStdout) {
    close(outPipe[0]);
    fds[0].fd = -1;
    open = 1;
  }
  char buf[4096];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      (i == 0 ? out : err).append(buf, static_cast<std::size_t>(n));
      if (i == 1 && opt.onErr) opt.onErr(pid, err);
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
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

constexpr std::size_t k4M = 0x400000, k8M = 0x800000, kBlock = 0x20000, kChunk = 0x8000;

class CliProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> serial{0};
    root = fs::temp_directory_path() /
           ("brevomat-cli-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
    fs::create_directories(root);
    cart = root / "cart";
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

// --- info ------------------------------------------------------------------------------------------

TEST_F(CliProgram, InfoNamesBothChipsAndTheHeader) {
  MakeCart("cart = flash-8m");
  Outcome r = RunCli(Args({"info"}));
  EXPECT_EQ(r.exit, 0);
  ExpectLog(r, {"PortMode = EPP", "Flash = 28F640J3 8388608", "no AGB data present!"});
  EXPECT_EQ(r.LastErr(), "status: Cart Info Ok");
  ASSERT_GE(r.err.size(), 2u);
  EXPECT_TRUE(r.err[r.err.size() - 2].starts_with("modelled hardware time: ")) << r.errText;

  fs::remove_all(cart);
  MakeCart("cart = flash-4m");
  std::vector<std::uint8_t> flash(k4M, 0xFF);
  const auto hello = ReadBytes(TestDataDir() / "hello.gba");
  std::copy(hello.begin(), hello.end(), flash.begin());
  WriteBytes(cart / "flash.bin", flash);
  r = RunCli(Args({"info"}));
  EXPECT_EQ(r.exit, 0);
  ExpectLog(r, {"PortMode = EPP", "Flash = 28F320J3 4194304", "Game Name = GBA Tests", "Game Code = 1337"});
  EXPECT_EQ(Flash(), flash) << "info changed the cart";
}

TEST_F(CliProgram, InfoOnAPlainGameCartShowsTheHeaderButFails) {
  MakeCart("cart = rom", false);
  std::vector<std::uint8_t> rom(1 << 20, 0);
  const auto hello = ReadBytes(TestDataDir() / "hello.gba");
  std::copy(hello.begin(), hello.end(), rom.begin());
  WriteBytes(cart / "rom.bin", rom);
  const Outcome r = RunCli(Args({"info"}));
  EXPECT_EQ(r.exit, 1);
  // A ROM never answers the ready wait before the query with a status: the wait runs to its poll
  // limit without claiming that anyone pressed Stop.
  ExpectLog(r, {"PortMode = EPP", "Flash not found!!!", "Game Name = GBA Tests", "Game Code = 1337"});
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
  ExpectLog(slow, {"PortMode = EPP", "Flash = 28F640J3 8388608", "no AGB data present!"});
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
  ExpectLog(r, {"PortMode = SPP", "Flash = 28F640J3 8388608", "no AGB data present!"});

  // The adapter sits on LPT3: nothing answers on LPT1, and on LPT3 EPP is never tried.
  fs::remove_all(cart);
  MakeCart("base = 0x3bc");
  r = RunCli(Args({"info"}));
  ExpectLog(r, {"No Adaptor Found!"});
  r = RunCli(Args({"--port", "lpt3", "--speed", "1", "info"}));
  EXPECT_EQ(r.exit, 0);
  ExpectLog(r, {"PortMode = SPP", "Flash = 28F640J3 8388608", "no AGB data present!"});
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
  EXPECT_EQ(r.LastErr(), "status: ");
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
  EXPECT_EQ(r.LastErr(), "status: ");
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
                  "Game Code = 1337", "Time = # Sec"});
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
  EXPECT_EQ(r.LastErr(), "status: ");
  EXPECT_TRUE(AllEqual(Flash(), 0, k4M, 0x00));

  r = RunCli(Args({"--yes", "write", hello}));
  EXPECT_EQ(r.exit, 0);
  ExpectLog(r, {"PortMode = EPP", "FileName = " + hello, "FileSize = 1300", "File Size Error!!!",
                "Header fixed", "Time = # Sec"});
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
                "Game Code = 1337", "Write Flash Error!!!(1)", "Time = # Sec"});
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
                "-->Ips Applied<--", "Game Name = GBA Tests", "Game Code = 1337", "Time = # Sec"});
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
  }
  EXPECT_EQ(Flash(), before);
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
  ExpectLog(r, {"PortMode = EPP", "FileName = " + in, "FileSize = 65536", "Time = # Sec"});
  EXPECT_EQ(r.LastErr(), "status: Write Save Data ok");
  std::copy(file.begin(), file.end(), save.begin() + 4 * kChunk);
  EXPECT_EQ(ReadBytes(cart / "save.bin"), save);

  r = RunCli(Args({"--speed", "1", "write-save", in, "--bank", "4"}));  // "32K": the file's first unit only
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
    std::string status;
  };
  const std::vector<Row> rows = {
      {"adapter = none", {"backup-save", out}, {"No Adaptor Found!"}, ""},
      {"save = none", {"write-save", in}, {"PortMode = EPP", "No Save Data found!!!"}, ""},
      {"",
       {"backup-save", out, "--bank", "4", "--size", "128K"},
       {"PortMode = EPP", "Bank Select or Size Select Error!!!"},
       ""},
      {"",
       {"write-save", in, "--bank", "2", "--size", "256K"},
       {"PortMode = EPP", "Bank Select or Size Select Error!!!"},
       ""},
      {"", {"write-save", missing}, {"PortMode = EPP", "FileName = " + missing, "File Open Error!!!"}, ""},
      {"",
       {"backup-save", nowhere},
       {"PortMode = EPP", "FileName = " + nowhere, "File Open Error!!!", "Time = 0 Sec"},
       "Error!!!"},
      {"",
       {"write-save", odd},
       {"PortMode = EPP", "FileName = " + odd, "FileSize = 40000", "File Size Error!!!"},
       ""},
      {"",
       {"write-save", big, "--size", "256K"},
       {"PortMode = EPP", "FileName = " + big, "FileSize = 131072", "File Size Error!!!"},
       ""},
      {"",
       {"backup-save", "/dev/full"},
       {"PortMode = EPP", "FileName = /dev/full", "Write ErrNo=No space left on device", "Time = # Sec"},
       "Error!!!"},
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
    EXPECT_EQ(r.LastErr(), "status: " + row.status);
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
  ExpectLog(r, {"PortMode = EPP", "FileName = " + in, "FileSize = 65536", "Write Save Data Error!!!(1)",
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
      {},
  };
  for (const auto& rest : bad) {
    std::vector<std::string> args = {"--virtual", cart.string()};
    args.insert(args.end(), rest.begin(), rest.end());
    const Outcome r = RunCli(args);
    EXPECT_EQ(r.exit, 2) << r.errText;
    EXPECT_TRUE(r.out.empty());
    EXPECT_TRUE(r.errText.starts_with("brevomat-cli: ")) << r.errText;
    EXPECT_FALSE(fs::exists(cart)) << "the virtual cart was created for a bad command line";
  }
  // A patch that cannot be read is caught before the cart is opened.
  const Outcome r = RunCli(Args({"write", "game.gba", "--ips", (root / "nope.ips").string()}));
  EXPECT_EQ(r.exit, 1);
  EXPECT_FALSE(fs::exists(cart));
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
  // A directory where the temporary copy of flash.bin would go: the write-back cannot succeed.
  fs::create_directories(cart / "flash.bin.tmp" / "keep");
  const Outcome r = RunCli(Args({"--yes", "erase"}));
  EXPECT_EQ(r.exit, 1);
  ExpectLog(r, {"PortMode = EPP", "Cart Erase Ok", "Time = # Sec"});
  EXPECT_NE(r.errText.find("not saved"), std::string::npos) << r.errText;
  EXPECT_EQ(r.LastErr(), "status: Cart Erase Ok");
  EXPECT_TRUE(AllEqual(Flash(), 0, k4M, 0x00)) << "the old flash.bin must survive";
}

TEST_F(CliProgram, ALogReaderThatGoesAwayDoesNotAbortTheCommand) {
  MakeCart("cart = flash-4m");
  FillFlash(k4M, 0x00);
  const Outcome r = RunCli(Args({"--yes", "erase"}), {.closeStdout = true});
  EXPECT_EQ(r.exit, 1) << "the log could not be written, yet the command was not reported as failed";
  EXPECT_EQ(r.LastErr(), "status: Cart Erase Ok");
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

}  // namespace
}  // namespace brevomat::testing
