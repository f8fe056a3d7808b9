// What Backup Game says about the data it read, through the scripted window: the checksums and the
// used size of the confirmed read-out, and the game the DAT files in the DAT folder list for it.
// The expected checksums were computed apart from this program (Python's zlib and hashlib) for
// the 1 MB this cart gives: a 320 KB image and erased flash behind it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "CartRig.h"
#include "commands/Commands.h"

namespace brevomat {
namespace {

using Lines = std::vector<std::string>;

const Lines kChecksums = {
    "CRC32 = 90ff2bf6",
    "SHA-1 = 38008b8b3d42dbc5deedb25d73b42c89912de7f6",
    "MD5 = 53dd0235756e8a0ef06bacfd5bccb5ae",
    "SHA-256 = cdbdb1f0084350c24049be0c9b838e03e76c7774178398559cb39f231f176299",
    "Used Size = 524288",  // the first 512 KB hold the game, the rest is erased
};

// A DAT listing one game of one ROM.
std::string Dat(const std::string& game, const std::string& size, const std::string& crc,
                const std::string& sha1) {
  return "<?xml version=\"1.0\"?>\n<datafile>\n<game name=\"" + game + "\">\n<rom name=\"x.gba\" size=\"" +
         size + "\" crc=\"" + crc + "\" sha1=\"" + sha1 + "\"/>\n</game>\n</datafile>\n";
}

TEST(DumpNameTest, BackupGameLogsTheChecksumsAndTheGameTheDatFolderNames) {
  const std::string whole =
      Dat("Brevo Test (World)", "1048576", "90FF2BF6", "38008b8b3d42dbc5deedb25d73b42c89912de7f6");
  const std::string prefix =
      Dat("Brevo Half (Europe)", "524288", "2dd5ae95", "c6b1e7a2c4ca462d9ca2418d516df6aba617f195");
  const std::string other = Dat("Other", "1048576", "12345678", "");
  struct Row {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // the DAT folder; empty: no folder
    Lines lines;                                             // after the checksums; "@" is the folder
  } const rows[] = {
      {"no DAT folder", {}, {}},
      {"no match", {{"a.dat", other}}, {}},
      {"a match, the first listing file wins",
       {{"b.dat", whole}, {"c.dat", prefix}},
       {"Game = Brevo Test (World)"}},
      {"a prefix match",
       {{"a.xml", other}, {"b.dat", prefix}, {"notes.txt", "<"}},
       {"Game = Brevo Half (Europe) (first 524288 bytes)"}},
      {"an unreadable DAT is named and skipped",
       {{"a.dat", "<datafile>\n<game>\n<rom size=\"1\" crc=\"00000000\"/>\n</game>\n</datafile>\n"},
        {"b.dat", whole}},
       {"DAT Error!!!(@a.dat is not a usable DAT file: the <game> at line 2 has no name)",
        "Game = Brevo Test (World)"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing::CartRig rig({.chip = sim::FlashChip::J3_32Mbit});
    std::fill(rig.cart.Flash().begin(), rig.cart.Flash().end(), 0xFF);
    const std::vector<std::uint8_t> game = testing::MakeImage(0x50000, 3);
    std::copy(game.begin(), game.end(), rig.cart.Flash().begin());
    const std::filesystem::path folder = rig.core.DatFolder;
    if (!row.files.empty()) std::filesystem::create_directories(folder);
    for (const auto& [name, text] : row.files) std::ofstream(folder / name, std::ios::binary) << text;
    const std::string dump = (rig.dir / "dump.gba").string();
    rig.window.saveDialog1 = {dump};
    rig.window.form2 = {0};  // "8M": 1 MB

    EXPECT_EQ(ReadClick(rig.core), kResultDone);
    Lines log = {"PortMode = EPP", "FileName = " + dump, "Game Name = GBA Tests", "Game Code = 1337",
                 "Cart Size = 8M"};
    log.insert(log.end(), kChecksums.begin(), kChecksums.end());
    for (std::string line : row.lines) {
      if (const std::size_t at = line.find('@'); at != std::string::npos)
        line.replace(at, 1, (folder / "").string());
      log.push_back(line);
    }
    log.push_back("Time = 0 Sec");
    EXPECT_EQ(rig.window.log, log);
    EXPECT_EQ(rig.window.status, "Read Flash ok");
    EXPECT_EQ(std::filesystem::file_size(dump), 0x100000u);
  }
}

}  // namespace
}  // namespace brevomat
