// The command line is judged completely before anything is opened: every bad line is refused
// with a message, every good one ends up in the record the console answers from.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli/CliOptions.h"
#include "dump/Dat.h"

namespace brevomat::cli {
namespace {

ParseResult Parse(std::initializer_list<std::string_view> args) { return ParseCliOptions(args); }

TEST(CliOptions, GlobalOptionsBeforeOrAfterTheCommand) {
  const ParseResult r = Parse(
      {"--port", "lpt3", "write", "game.gba", "--speed=1", "--ips", "fix.ips", "--virtual", "cart", "--yes"});
  ASSERT_TRUE(r.ok()) << r.error;
  const CliOptions& o = r.options;
  EXPECT_EQ(o.command, Command::Write);
  EXPECT_EQ(o.image, "game.gba");
  EXPECT_TRUE(o.ips);
  EXPECT_EQ(o.ipsPatch, "fix.ips");
  EXPECT_EQ(o.portIndex, 2);
  EXPECT_EQ(o.speedIndex, 3);
  EXPECT_TRUE(o.useVirtual);
  EXPECT_EQ(o.virtualDir, "cart");
  EXPECT_EQ(o.answers, Answers::Yes);
  EXPECT_FALSE(o.onlyChanged);
  EXPECT_TRUE(Parse({"write", "game.gba", "--only-changed"}).options.onlyChanged);
  EXPECT_TRUE(Parse({"multi", "--boot", "b.bin", "g.gba", "--every-block"}).options.everyBlock);
}

TEST(CliOptions, DatWithTrim) {
  const ParseResult r = Parse({"backup", "dump.gba", "--trim", "--dat", "games.dat"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_TRUE(r.options.trim);
  EXPECT_EQ(r.options.datFile, "games.dat");
}

TEST(CliOptions, DefaultsAreLpt1SpeedFourAndAskingTheUser) {
  const ParseResult r = Parse({"erase"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.options.command, Command::Erase);
  EXPECT_EQ(r.options.portIndex, 0);
  EXPECT_EQ(r.options.speedIndex, 0);
  EXPECT_EQ(r.options.answers, Answers::Ask);
  EXPECT_FALSE(r.options.useVirtual);
  EXPECT_FALSE(r.options.ips);
}

TEST(CliOptions, SpeedCaptionsMapToTheGroupsItemIndexes) {
  const char* captions[] = {"4", "3", "2", "1"};
  for (int index = 0; index < 4; ++index) {
    const ParseResult r = Parse({"--speed", captions[index], "info"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.options.speedIndex, index) << captions[index];
  }
  EXPECT_EQ(Parse({"--port=lpt2", "info"}).options.portIndex, 1);
  EXPECT_EQ(Parse({"info", "--device=/dev/parport1"}).options.device, "/dev/parport1");
}

TEST(CliOptions, BadLinesAreRefusedWithAMessage) {
  const std::vector<std::vector<std::string_view>> bad = {
      {},                           // no command
      {"format"},                   // unknown command
      {"--force", "info"},          // unknown option
      {"write"},                    // missing image
      {"write", ""},                // empty image name
      {"write", "a.gba", "b.gba"},  // extra argument
      {"info", "extra"},            // extra argument
      {"--speed", "5", "info"},     // bad speed
      {"--speed", "0", "info"},     // bad speed
      {"info", "--speed"},          // speed without value
      {"--port", "lpt4", "info"},   // bad port
      {"--port", "0x378", "info"},  // an address is not a port name
      {"--yes", "--no", "erase"},   // contradicting answers
      {"--ips", "p.ips", "erase"},  // --ips belongs to write
      {"write", "a.gba", "--ips"},  // --ips without a file
      {"--virtual", "", "info"},    // empty directory
      {"--yes=1", "erase"},         // a flag takes no value
      {"info", "--device"},         // device without a name
      // --only-changed and --every-block belong to write and multi, and exclude each other
      {"--only-changed", "verify", "a.gba"},
      {"--every-block", "backup", "a.gba"},
      {"write", "a.gba", "--every-block", "--only-changed"},
      // a device and a virtual cart at once
      {"--device=/dev/parport0", "--virtual=cart", "info"},
  };
  for (const auto& args : bad) {
    const ParseResult r = ParseCliOptions(args);
    std::string line;
    for (auto a : args) line += std::string(a) + " ";
    EXPECT_FALSE(r.ok()) << line;
    EXPECT_FALSE(r.error.empty()) << line;
  }
}

TEST(CliOptions, MultiTakesAnyNumberOfGamesInTheirOrderBehindBoot) {
  // The command, not the parser, answers a number of games the cart cannot take.
  for (const std::vector<std::string_view>& games :
       {std::vector<std::string_view>{"b.gba"}, {"b.gba", "a.gba"}, {"c.gba", "a.gba", "b.gba"}}) {
    std::vector<std::string_view> args = {"multi", "--boot", "menu.bin"};
    args.insert(args.end(), games.begin(), games.end());
    const ParseResult r = ParseCliOptions(args);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.options.command, Command::Multi);
    EXPECT_EQ(r.options.bootFile, "menu.bin");
    EXPECT_EQ(r.options.games, std::vector<std::string>(games.begin(), games.end()));
  }
  EXPECT_FALSE(Parse({"multi", "a.gba", "b.gba"}).ok());   // no pre-boot image
  EXPECT_FALSE(Parse({"multi", "--boot", "m.bin"}).ok());  // no games
  EXPECT_FALSE(Parse({"multi", "a.gba", "--boot"}).ok());  // --boot without a file
  EXPECT_FALSE(Parse({"--boot", "m.bin", "erase"}).ok());  // --boot belongs to multi
  EXPECT_FALSE(Parse({"multi", "--boot", "m.bin", "a.gba", "--ips", "p.ips"}).ok());  // no patches
}

TEST(CliOptions, HelpAndVersionWinOverTheRest) {
  EXPECT_TRUE(Parse({"-h"}).options.help);
  EXPECT_TRUE(Parse({"bogus", "--help"}).options.help);
  EXPECT_TRUE(Parse({"bogus", "--help"}).ok());
  EXPECT_TRUE(Parse({"--version"}).options.version);
  EXPECT_NE(VersionText().find("Tarvex Brevomat 1.2nt"), std::string::npos);
  EXPECT_NE(UsageText().find("write IMAGE [--ips PATCH]"), std::string::npos);
}

// A command's option misspelt in the table would silently become an option of every command.
TEST(CliOptions, EveryOptionACommandListsIsAnOptionAndBelongsOnlyWhereListed) {
  for (const CommandEntry& command : CommandTable()) {
    std::string_view list = command.options;
    while (!list.empty()) {
      const std::string_view name = list.substr(0, list.find(' '));
      list.remove_prefix(std::min(list.size(), name.size() + 1));
      const auto options = OptionTable();
      const auto entry = std::find_if(options.begin(), options.end(),
                                      [name](const OptionEntry& o) { return o.name == name; });
      ASSERT_NE(entry, options.end()) << command.name << " lists " << name;
      const std::string word = std::string(name) + (entry->value == ValueKind::None ? "" : "=1");
      for (const CommandEntry& other : CommandTable()) {
        if (other.options.find(name) != std::string_view::npos) continue;
        std::vector<std::string_view> args = {other.name, word};
        if (!other.argument.empty()) args.push_back("x");
        const ParseResult r = ParseCliOptions(args);
        EXPECT_NE(r.error.find(std::string(name) + " belongs to "), std::string::npos)
            << other.name << " " << name << ": " << r.error;
      }
    }
  }
}

TEST(CliOptions, DoubleDashEndsTheOptions) {
  const ParseResult r = Parse({"write", "--", "--odd-name.gba"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.options.image, "--odd-name.gba");
}

TEST(CliOptions, SaveCommandsTakeTheirFileAndForm3sChoice) {
  ParseResult r = Parse({"backup-save", "a.sav"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.options.command, Command::BackupSave);
  EXPECT_EQ(r.options.output, "a.sav");
  EXPECT_EQ(r.options.saveBank * 10 + r.options.saveSize, 0);  // "Bank 1", "32K"
  r = Parse({"--size", "128k", "write-save", "b.sav", "--bank=4"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.options.command, Command::WriteSave);
  EXPECT_EQ(r.options.image, "b.sav");
  EXPECT_EQ(r.options.saveBank * 10 + r.options.saveSize, 32);
  const std::vector<std::vector<std::string_view>> bad = {
      {"backup-save"},                           // no file
      {"write-save", "a.sav", "b.sav"},          // extra argument
      {"backup-save", "a.sav", "--bank", "5"},   // no such bank
      {"backup-save", "a.sav", "--bank", "0"},   // banks count from 1
      {"write-save", "a.sav", "--size", "48K"},  // no such size
      {"write-save", "a.sav", "--size", "32"},   // the unit belongs to the caption
      {"--bank", "2", "info"},                   // --bank belongs to the save commands
      {"write", "game.gba", "--size", "64K"},    // so does --size
  };
  for (const auto& args : bad) EXPECT_FALSE(ParseCliOptions(args).ok()) << args.front() << " " << args.size();
}

}  // namespace
}  // namespace brevomat::cli
