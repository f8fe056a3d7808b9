// DAT files as No-Intro publishes them, read by the XML parser of each platform (pugixml, and
// XmlLite on Windows): the games they list, and the reasons a file is refused, the same on both.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "dump/Dat.h"

namespace brevomat {
namespace {

Digests Rom(std::uint64_t size, std::uint32_t crc32, std::uint8_t sha1First) {
  Digests d;
  d.size = size;
  d.crc32 = crc32;
  d.sha1.fill(0x11);
  d.sha1[0] = sha1First;
  return d;
}

TEST(DatTest, ListedGamesAreFoundAndUnusableFilesRefusedWithTheirLine) {
  const std::string sha1 = "aa" + std::string(38, '1');
  const std::string noIntro =
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
      "\"http://www.logiqx.com/Dats/datafile.dtd\">\n"
      "<datafile>\n<header><name>Nintendo - Game Boy Advance</name></header>\n"
      "<game name=\"Brevo &amp; Test (Europe)\">\n  <description>x</description>\n"
      "  <rom name=\"a.gba\" size=\"1048576\" crc=\"0A0B0C0D\" sha1=\"" +
      sha1 +
      "\"/>\n</game>\n<machine name=\"No Sha (Japan)\"><rom name=\"b.gba\" size=\"4194304\" "
      "crc=\"ffffffff\"/>\n"
      "</machine>\n<game name=\"Empty\"></game>\n</datafile>\n";
  struct Row {
    std::string text;
    std::string error;  // what follows the file's name; empty: the file loads
  } const rows[] = {
      {noIntro, ""},
      {"<datafile>\n<game name=\"x\">\n<rom size=\"1\">\n</game>\n</datafile>\n", " is not a DAT file: "},
      {"<list><game/></list>\n", " is not a DAT file: it has no <datafile> element"},
      {"<datafile>\n<game name=\"x\">\n<rom size=\"1\" crc=\"12345\"/></game></datafile>",
       " is not a usable DAT file: the <rom> at line 3 lacks a decimal size, an 8-digit hex crc or has a "
       "malformed sha1"},
      {"<datafile><game name=\"x\"/></datafile>", " is not a DAT file: it lists no <rom> of any <game>"},
  };
  const auto path =
      std::filesystem::temp_directory_path() /
      ("brevomat-dat-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    std::ofstream(path, std::ios::binary) << row.text;
    DatFile dat;
    std::string error;
    const bool loaded = dat.Load(path.string(), error);
    EXPECT_EQ(loaded, row.error.empty()) << error;
    if (!loaded) {
      EXPECT_EQ(error.substr(0, path.string().size() + row.error.size()), path.string() + row.error);
      // A file that is no XML says where the parser stopped: the line of the </game> that closes
      // nothing it opened.
      if (row.error == " is not a DAT file: ") {
        EXPECT_TRUE(error.ends_with(" at line 4")) << error;
      }
      continue;
    }
    EXPECT_EQ(dat.RomCount(), 2u);
    const std::string* found = dat.Find(Rom(1048576, 0x0A0B0C0D, 0xAA));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(*found, "Brevo & Test (Europe)");
    EXPECT_EQ(dat.Find(Rom(1048576, 0x0A0B0C0D, 0xAB)), nullptr) << "same size and CRC32, other SHA-1";
    found = dat.Find(Rom(4194304, 0xFFFFFFFF, 0x42));  // listed without a SHA-1
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(*found, "No Sha (Japan)");
  }
  std::filesystem::remove(path);
}

// What one platform's parser would let through and the other refuses is refused on both; a ROM
// listed twice names the game listed first.
TEST(DatTest, BothReadersKeepTheSameRulesAndTheFirstListedGameWins) {
  const std::string rom = "<rom size=\"1048576\" crc=\"0a0b0c0d\"/>";
  struct Row {
    std::string text;
    std::string error;  // what follows the name; empty: loads, and the ROM names "First"
  } const rows[] = {
      {"<datafile>\n<game name=\"First\">" + rom + "</game>\n<game name=\"Second\">" + rom +
           "</game>\n</datafile>",
       ""},
      {"<datafile>\n<game name=\"First\">" + rom + "</game>\n<game>\n" + rom + "</game></datafile>",
       " is not a usable DAT file: the <game> at line 3 has no name"},
      {"<datafile>\n<game name=\"\">" + rom + "</game></datafile>",
       " is not a usable DAT file: the <game> at line 2 has no name"},
      {"<datafile><game name=\"First\">" + rom + "</game></datafile>\n<datafile/>", " is not a DAT file: "},
      {"<datafile><game name=\"First\">" + rom + "</game></datafile>\ntext", " is not a DAT file: "},
      {"<datafile><game name=\"Fir&#0;st\">" + rom + "</game></datafile>", " is not a DAT file: "},
      {"<datafile><game name=\"Fir\x01st\">" + rom + "</game></datafile>", " is not a DAT file: "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    DatFile dat;
    std::string error;
    const bool loaded = dat.Parse(row.text, "list.dat", error);
    EXPECT_EQ(loaded, row.error.empty()) << error;
    if (!loaded) {
      EXPECT_EQ(error.substr(0, 8 + row.error.size()), "list.dat" + row.error);
      continue;
    }
    const std::string* found = dat.Find(Rom(1048576, 0x0A0B0C0D, 0));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(*found, "First");
  }
}

// A file over the limit is refused by its size before it is read (a sparse file here), and a
// loading asked to stop ends without a list.
TEST(DatTest, AFileTooLargeIsRefusedUnreadAndLoadingStopsWhenAsked) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("brevomat-big-" +
                     std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".dat");
  std::ofstream(path, std::ios::binary) << "<datafile>";
  std::filesystem::resize_file(path, kMaxDatBytes + 1);
  DatFile dat;
  std::string error;
  EXPECT_FALSE(dat.Load(path.string(), error));
  EXPECT_EQ(error, "cannot read the DAT file " + path.string() +
                       ": it is 268435457 bytes, more than a DAT file may have (268435456 bytes)");
  std::filesystem::remove(path);

  std::string text = "<datafile>\n";
  for (int i = 0; i < 5000; ++i)
    text += "<game name=\"g" + std::to_string(i) + "\"><rom size=\"1\" crc=\"00000000\"/></game>\n";
  text += "</datafile>\n";
  int asked = 0;
  EXPECT_FALSE(dat.Parse(text, "big.dat", error, [&asked] { return ++asked == 1; }));
  EXPECT_TRUE(dat.Stopped());
  EXPECT_EQ(dat.RomCount(), 0u);
  EXPECT_TRUE(dat.Parse(text, "big.dat", error, [] { return false; })) << error;
  EXPECT_EQ(dat.RomCount(), 5000u);
}

}  // namespace
}  // namespace brevomat
