// A DAT file in the Logiqx XML form that No-Intro publishes: <datafile>, then one <game name=...>
// (or <machine>) per game with one or more <rom name=... size=... crc=... sha1=.../>. Read with
// pugixml, on Windows with the system's own XmlLite; both are held to the same rules, so a file
// one platform accepts the other accepts too.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dump/Checksums.h"

namespace brevomat {

// The largest DAT file read. The largest lists published are a few tens of megabytes; a file far
// beyond that is no list of games, and reading it whole would only exhaust the memory.
inline constexpr std::uint64_t kMaxDatBytes = std::uint64_t{256} << 20;  // 256 MB

class DatFile {
 public:
  // Asked now and then while a file loads; true ends the loading (Ctrl-C, the Stop button).
  using StopCheck = std::function<bool()>;

  // Reads and parses `path`. False, with the reason in `error` (the parser's message and the
  // line), when the file cannot be read, is larger than kMaxDatBytes (refused with its size before
  // it is read), is no XML, or is no DAT: no one <datafile> root, a <game> without a name, a <rom>
  // without a usable size and crc. False too when `stop` asked to stop (Stopped() is then true).
  bool Load(const std::string& path, std::string& error, const StopCheck& stop = {});
  // The same for a text in memory; `path` only names it in the messages.
  bool Parse(const std::string& text, const std::string& path, std::string& error,
             const StopCheck& stop = {});
  bool Stopped() const { return stopped_; }

  // The game whose ROM has exactly this size, CRC32 and SHA-1 (a ROM the list gives without a
  // SHA-1 matches on size and CRC32); of several, the one listed first. nullptr when none has.
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
  std::vector<Rom> roms_;  // sorted by size and CRC32, in the order listed within each
  bool stopped_ = false;
};

}  // namespace brevomat
