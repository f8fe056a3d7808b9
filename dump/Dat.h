// A DAT file in the Logiqx XML form that No-Intro publishes: <datafile>, then one <game name=...>
// (or <machine>) per game with one or more <rom name=... size=... crc=... sha1=.../>. Read with
// pugixml, on Windows with the system's own XmlLite.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/Checksums.h"

namespace brevomat::cli {

#ifdef BREVOMAT_DAT
inline constexpr bool kDatAvailable = true;
#else
inline constexpr bool kDatAvailable = false;
#endif

class DatFile {
 public:
  // Reads and parses `path`. False, with the reason in `error` (the parser's message and the
  // line), when the file cannot be read, is no XML, or is no DAT.
  bool Load(const std::string& path, std::string& error);

  // The game whose ROM has exactly this size, CRC32 and SHA-1 (a ROM the list gives without a
  // SHA-1 matches on size and CRC32); nullptr when none has.
  const std::string* Find(const Digests& digests) const;
  std::size_t RomCount() const { return roms_.size(); }

 private:
  struct Rom {
    std::uint64_t size = 0;
    std::uint32_t crc32 = 0;
    bool hasSha1 = false;
    std::array<std::uint8_t, 20> sha1{};
    std::size_t game = 0;  // index into games_
  };
  std::vector<std::string> games_;
  std::vector<Rom> roms_;  // sorted by size and CRC32
};

}  // namespace brevomat::cli
