// What brevomat-cli reports besides the log, run as a user runs it: the progress line on a
// terminal, the --json events, the --log file and the probe, against virtual cart directories.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ChildPipes.h"
#include "TestImages.h"

extern char** environ;

namespace brevomat::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct CliRun {
  int exit = -1;
  std::string out, err;
  std::vector<std::string> OutLines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The text after "status: " on standard error.
  std::string Status() const {
    const std::size_t at = err.rfind("status: ");
    return at == std::string::npos ? "?" : err.substr(at + 8, err.find('\n', at) - at - 8);
  }
  double Modelled() const {
    const std::size_t at = err.find("modelled hardware time: ");
    return at == std::string::npos ? -1 : std::stod(err.substr(at + 24));
  }
};

// Runs brevomat-cli with standard input from /dev/null; standard error goes to a pipe, or to a
// pseudo-terminal `columns` wide.
CliRun RunCli(const std::vector<std::string>& args, int columns = 0) {
  int outPipe[2], errPipe[2];
  EXPECT_EQ(pipe(outPipe), 0);
  int errRead = -1, errWrite = -1;
  if (columns > 0) {
    errRead = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(errRead, 0);
    grantpt(errRead);
    unlockpt(errRead);
    errWrite = open(ptsname(errRead), O_RDWR | O_NOCTTY);
    winsize size = {};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = 24;
    ioctl(errWrite, TIOCSWINSZ, &size);
    termios raw = {};
    tcgetattr(errWrite, &raw);
    cfmakeraw(&raw);  // no newline translation: the bytes as the program wrote them
    tcsetattr(errWrite, TCSANOW, &raw);
  } else {
    EXPECT_EQ(pipe(errPipe), 0);
    errRead = errPipe[0];
    errWrite = errPipe[1];
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errWrite, 2);
  for (int fd : {outPipe[0], outPipe[1], errRead, errWrite}) posix_spawn_file_actions_addclose(&actions, fd);
  std::vector<std::string> store = {BREVOMAT_CLI_PATH};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, store[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errWrite);
  CliRun r;
  EXPECT_EQ(spawned, 0);
  if (spawned == 0) {
    testing::DrainChild(pid, outPipe[0], errRead, r.out, r.err);
  } else {
    close(outPipe[0]);
    close(errRead);
  }
  const int status = spawned == 0 ? testing::WaitChild(pid) : 0;
  r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

class CliReport : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> serial{0};
    root = fs::temp_directory_path() /
           ("brevomat-report-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
    cart = root / "cart";
    fs::create_directories(cart);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  void Conf(const std::string& text) const { std::ofstream(cart / "cart.conf") << text << "\n"; }
  std::vector<std::string> Args(std::initializer_list<std::string> rest) const {
    std::vector<std::string> a = {"--virtual", cart.string()};
    a.insert(a.end(), rest);
    return a;
  }
  std::string File(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    WriteBytes(root / name, bytes);
    return (root / name).string();
  }
  fs::path root, cart;
};

TEST_F(CliReport, ProgressLineOnATerminalMovesWithThroughputAndTimeLeft) {
  // The cart keeps real time: a 256 KB write and its verify take about 1.3 s, time for a few redraws.
  // Every block both times, so that the second write does as much as the first.
  Conf("timing = fast\npace = realtime");
  const std::string image = File("game.gba", MakeImage(0x40000));
  const CliRun r = RunCli(Args({"--yes", "write", image, "--every-block"}), 60);
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.Status(), "Write Cart ok");
  // Every redraw starts at the line's beginning and stays within the terminal's width less one.
  std::vector<std::string> draws;
  for (std::size_t at = r.err.find('\r'); at != std::string::npos;) {
    const std::size_t next = r.err.find_first_of("\r\n", at + 1);
    draws.push_back(r.err.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
    at = next == std::string::npos ? next : r.err.find('\r', next);
  }
  const std::regex moving(R"(Writing\.\.\. +\d+ % \[#*-*\] +\d+\.\d KiB/s +\d+:\d\d left)");
  int moved = 0;
  for (const std::string& draw : draws) {
    EXPECT_LE(draw.size(), 59u) << draw;
    if (std::regex_match(draw, moving)) ++moved;
  }
  EXPECT_GE(moved, 2) << r.err;
  // Erased before the lines that follow it: what stays is the plain text.
  EXPECT_NE(r.err.find("\rmodelled hardware time: "), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find('%'), std::string::npos) << "no progress on standard output";
  // Real time changes the wall time, not the hardware time the model reports.
  Conf("timing = fast");
  const CliRun fast = RunCli(Args({"--yes", "write", image, "--every-block"}));
  EXPECT_EQ(fast.err.find('%'), std::string::npos) << "no progress line when standard error is no terminal";
  EXPECT_DOUBLE_EQ(fast.Modelled(), r.Modelled());
}

TEST_F(CliReport, EveryJsonLineParsesAndTheResultCarriesTheFigures) {
  Conf("timing = fast");
  const std::string image = File("game.gba", MakeImage(0x10000));
  const std::string save = File("game.sav", std::vector<std::uint8_t>(0x8000, 0x5A));
  const std::string dump = (root / "dump.gba").string(), saveDump = (root / "dump.sav").string();
  struct Row {
    std::vector<std::string> args;
    int exit;
    bool cartChanged;
    std::vector<std::string> figures;
  };
  const std::vector<Row> rows = {
      {Args({"info"}), 0, false, {"modelled_seconds"}},
      {Args({"--yes", "write", image}), 0, true, {"modelled_seconds"}},
      {Args({"--yes", "verify", image}), 0, false, {"modelled_seconds"}},
      {Args({"backup", dump, "--size", "8M"}), 0, false, {"crc32", "sha1", "modelled_seconds"}},
      {Args({"backup-save", saveDump}), 0, false, {"modelled_seconds"}},
      {Args({"write-save", save}), 0, true, {"modelled_seconds"}},
      {Args({"erase"}), 1, false, {"modelled_seconds"}},  // declined: nothing written
      {Args({"--yes", "erase"}), 0, true, {"modelled_seconds"}},
      {Args({"probe"}), 0, false, {"us_per_register_access", "speed4_write_8m_seconds"}},
      {Args({"write", (root / "missing.gba").string()}), 1, false, {}},
      {Args({"backup", "/dev/null"}), 1, false, {}},  // refused before the cart is read
      {{"frobnicate"}, 2, false, {}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = row.args;
    args.push_back("--json");
    const CliRun r = RunCli(args);
    std::string what;
    for (const std::string& arg : row.args) what += arg + " ";
    EXPECT_EQ(r.exit, row.exit) << what << "\n" << r.err;
    const std::vector<std::string> lines = r.OutLines();
    ASSERT_FALSE(lines.empty()) << what;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const json event = json::parse(lines[i], nullptr, false);
      ASSERT_FALSE(event.is_discarded()) << what << ": " << lines[i];
      const std::string kind = event.value("event", "");
      const bool last = i + 1 == lines.size();
      EXPECT_EQ(kind == "result", last) << what << ": " << lines[i];
      const bool wellFormed =
          kind == "log" || kind == "status" ? event["text"].is_string()
          : kind == "progress" ? event["percent"].is_number_integer() && event["phase"].is_string()
          : kind == "question"
              ? event["caption"].is_string() && event["text"].is_string() && event["answer"].is_string()
              : kind == "result";
      EXPECT_TRUE(wellFormed) << what << ": " << lines[i];
      if (!last) continue;
      EXPECT_EQ(event["exit"], row.exit) << what;
      EXPECT_EQ(event["cart_changed"], row.cartChanged) << what;
      EXPECT_EQ(event["status"], row.exit == 2 ? "Error!!!" : r.Status()) << what;
      for (const std::string& figure : row.figures)
        EXPECT_TRUE(event.contains(figure)) << what << ": " << figure;
      // The reasons standard error gives, for a script to read.
      std::vector<std::string> complaints;
      std::istringstream err(r.err);
      for (std::string line; std::getline(err, line);)
        if (line.starts_with("brevomat-cli: ")) complaints.push_back(line.substr(14));
      EXPECT_EQ(event.value("messages", std::vector<std::string>{}), complaints) << what;
      EXPECT_EQ(event.contains("messages"), !complaints.empty()) << what;
      // The checksums are the ones standard error gives.
      const std::string crc32 = event.value("crc32", "");
      EXPECT_EQ(crc32.empty(), r.err.find("crc32: ") == std::string::npos) << what;
      if (!crc32.empty()) {
        EXPECT_NE(r.err.find("crc32: " + crc32 + "\n"), std::string::npos) << what;
      }
    }
  }
}

TEST_F(CliReport, RunLogKeepsEachRunAfterSuccessAndFailure) {
  Conf("timing = fast");
  const std::string log = (root / "runs.log").string();
  const std::string image = File("game.gba", MakeImage(0x8000));
  ASSERT_EQ(RunCli(Args({"--log", log, "write", image})).exit, 0);
  Conf("adapter = none");
  ASSERT_EQ(RunCli(Args({"--log", log, "info"})).exit, 1);

  std::ifstream in(log);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const std::string stamp = R"(\[ +\d+\.\d{3}\] )";
  const std::string started =
      R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d brevomat-cli [0-9.]+: \S*brevomat-cli --virtual \S+ --log \S+ )";
  const std::vector<std::string> expected = {
      started + "write \\S+game\\.gba; back end: virtual cart \\S+",
      stamp + "PortMode = EPP",
      stamp + "FileName = \\S+game\\.gba",
      stamp + "FileSize = 32768",
      stamp + "Game Name = GBA Tests",
      stamp + "Game Code = 1337",
      stamp + "Blocks = 0 skipped, 1 programmed, 0 erased",
      stamp + "Time = \\d+ Sec",
      "blocks_skipped: 0",
      "blocks_programmed_without_erase: 1",
      "blocks_erased: 0",
      R"(modelled_seconds: \d+\.\d{3})",
      "status: Write Cart ok",
      "exit: 0",
      "",
      started + "info; back end: virtual cart \\S+",
      stamp + "No Adaptor Found!",
      R"(modelled_seconds: \d+\.\d{3})",
      "status: Error!!!",
      "exit: 1",
      "",
  };
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i)
    EXPECT_TRUE(std::regex_match(lines[i], std::regex(expected[i]))) << i << ": " << lines[i];

  // A link in its place is not followed.
  fs::create_symlink(root / "elsewhere.log", root / "link.log");
  const CliRun r = RunCli(Args({"--log", (root / "link.log").string(), "info"}));
  EXPECT_EQ(r.exit, 1);
  EXPECT_FALSE(fs::exists(root / "elsewhere.log"));
}

TEST_F(CliReport, ProbeOnAVirtualCartGivesTheModelsFigures) {
  // Datasheet timing: the estimates are those of the model, so they agree with the modelled time
  // of the real command.
  const std::vector<std::uint8_t> flash(8 << 20, 0x00);
  WriteBytes(cart / "flash.bin", flash);
  const CliRun probe = RunCli(Args({"probe", "--json"}));
  ASSERT_EQ(probe.exit, 0) << probe.err;
  json result;
  std::vector<std::string> log;
  for (const std::string& line : probe.OutLines()) {
    const json event = json::parse(line);
    if (event["event"] == "log") log.push_back(event["text"]);
    if (event["event"] == "result") result = event;
  }
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(log[0], "Adapter answers in SPP and EPP");
  EXPECT_EQ(log[2], "  printer-port register     1.000 us");
  EXPECT_EQ(log[3], "  EPP address/data byte     1.000 us");
  EXPECT_EQ(log[4], "  EPP 16-bit data word      2.000 us");
  EXPECT_EQ(result["status"], "Probe Ok");
  EXPECT_EQ(ReadBytes(cart / "flash.bin"), flash) << "the probe changed the cart";

  const double erase = result["speed4_erase_8m_seconds"], save = result["speed1_save_backup_256k_seconds"];
  const CliRun realErase = RunCli(Args({"--yes", "erase"}));
  const CliRun realSave =
      RunCli(Args({"--speed", "1", "backup-save", (root / "s.sav").string(), "--size", "256K"}));
  EXPECT_NEAR(erase, realErase.Modelled(), realErase.Modelled() * 0.01);
  EXPECT_NEAR(save, realSave.Modelled(), realSave.Modelled() * 0.02);

  // An adapter that answers only in SPP: every speed runs SPP cycles, and no EPP cost is given.
  Conf("adapter = spp");
  const CliRun spp = RunCli(Args({"probe"}));
  EXPECT_EQ(spp.exit, 0);
  EXPECT_NE(spp.out.find("Adapter answers in SPP\n"), std::string::npos);
  EXPECT_EQ(spp.out.find("EPP"), std::string::npos) << spp.out;
}

TEST_F(CliReport, DoctorReportsTheLineAsJsonAndInItsReportFile) {
  const std::vector<std::uint8_t> flash(8 << 20, 0x5A);
  WriteBytes(cart / "flash.bin", flash);
  const std::string report = (root / "doctor.txt").string();

  Conf("stuck_line = D3:low");
  const CliRun faulty = RunCli(Args({"doctor", "--json", "--report", report}));
  EXPECT_EQ(faulty.exit, 1) << faulty.err;
  const json result = json::parse(faulty.OutLines().back());
  ASSERT_EQ(result["faults"].size(), 1u) << result.dump();
  EXPECT_EQ(result["faults"][0], json::parse(R"({"line": "D3", "pin": 5, "kind": "stuck-low"})"));
  EXPECT_FALSE(result.contains("speed"));
  ASSERT_EQ(result["checks"].size(), 6u);
  EXPECT_EQ(result["checks"][3]["name"], "wires");
  EXPECT_EQ(result["checks"][3]["result"], "fault");
  EXPECT_FALSE(result["advice"].empty());
  std::ifstream in(report);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\nwires: FAULT - D3 (pin 5) stuck low"), std::string::npos) << text;
  EXPECT_NE(text.find("\nverdict: "), std::string::npos) << text;

  Conf("");
  const CliRun healthy = RunCli(Args({"doctor", "--json"}));
  EXPECT_EQ(healthy.exit, 0) << healthy.err;
  const json fine = json::parse(healthy.OutLines().back());
  EXPECT_EQ(fine["speed"], "4");
  // The speed check carries the probe's figures: the modelled cable's 1 us a byte.
  EXPECT_NE(
      fine["checks"][5]["detail"].get<std::string>().find(
          "probe: 1.000 us a printer-port register, 1.000 us an EPP byte, 2.000 us an EPP word; at that "
          "speed an 8 MB write takes about "),
      std::string::npos)
      << fine["checks"][5];
  EXPECT_GT(fine["write_8m_seconds"].get<double>(), fine["readout_8m_seconds"].get<double>());
  EXPECT_EQ(ReadBytes(cart / "flash.bin"), flash) << "the doctor changed the cart";

  // The report may not replace the run log nor a file of the cart.
  const CliRun onLog = RunCli(Args({"doctor", "--log", report, "--report", report}));
  EXPECT_EQ(onLog.exit, 1);
  EXPECT_NE(onLog.err.find("the same file as"), std::string::npos) << onLog.err;
  const CliRun onCart = RunCli(Args({"doctor", "--report", (cart / "flash.bin").string()}));
  EXPECT_EQ(onCart.exit, 1);
  EXPECT_NE(onCart.err.find("cannot write the report to"), std::string::npos) << onCart.err;
}

}  // namespace
}  // namespace brevomat::testing
