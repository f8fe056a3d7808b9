#include "cli/Dat.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <tuple>

#ifdef BREVOMAT_DAT
#include <charconv>
#include <cstdio>
#include <memory>
#include <pugixml.hpp>

#include "base/FileAccess.h"
#endif

namespace brevomat::cli {

namespace {

auto Key(std::uint64_t size, std::uint32_t crc32) { return std::make_tuple(size, crc32); }

#ifdef BREVOMAT_DAT

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The 1-based line of a byte offset, as an editor shows it.
std::size_t LineOf(const std::string& text, std::ptrdiff_t offset) {
  const auto end =
      text.begin() + std::clamp<std::ptrdiff_t>(offset, 0, static_cast<std::ptrdiff_t>(text.size()));
  return 1 + static_cast<std::size_t>(std::count(text.begin(), end, '\n'));
}

bool HexDigits(std::string_view text, std::uint8_t* out, std::size_t bytes) {
  if (text.size() != 2 * bytes) return false;
  for (std::size_t i = 0; i < bytes; ++i) {
    unsigned value = 0;
    const char* first = text.data() + 2 * i;
    const auto [end, ec] = std::from_chars(first, first + 2, value, 16);
    if (ec != std::errc() || end != first + 2) return false;
    out[i] = static_cast<std::uint8_t>(value);
  }
  return true;
}

#endif

}  // namespace

bool DatFile::Load(const std::string& path, std::string& error) {
  games_.clear();
  roms_.clear();
#ifndef BREVOMAT_DAT
  error = "cannot read the DAT file " + path + ": DAT files are not available in this build";
  return false;
#else
  // Read whole and parsed from memory, so that the parser's offset can be turned into a line.
  std::string text;
  {
    errno = 0;
    const std::unique_ptr<std::FILE, FileCloser> file(OpenRegularFile(path.c_str()));
    if (!file) {
      error = "cannot read the DAT file " + path + ": " +
              (errno == EINVAL ? std::string("not a regular file") : std::strerror(errno));
      return false;
    }
    char block[64 * 1024];
    std::size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) text.append(block, got);
    if (std::ferror(file.get())) {
      error = "cannot read the DAT file " + path + ": " + std::strerror(errno != 0 ? errno : EIO);
      return false;
    }
  }
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size());
  if (!parsed) {
    error = path + " is not a DAT file: " + parsed.description() + " at line " +
            std::to_string(LineOf(text, parsed.offset));
    return false;
  }
  const pugi::xml_node root = document.child("datafile");
  if (!root) {
    error = path + " is not a DAT file: it has no <datafile> element";
    return false;
  }
  for (const pugi::xml_node game : root.children()) {
    if (std::strcmp(game.name(), "game") != 0 && std::strcmp(game.name(), "machine") != 0) continue;
    std::size_t gameIndex = games_.size();  // the game's name is kept once it has a ROM
    for (const pugi::xml_node rom : game.children("rom")) {
      Rom entry;
      const std::string_view size = rom.attribute("size").as_string();
      const std::string_view crc = rom.attribute("crc").as_string();
      const std::string_view sha1 = rom.attribute("sha1").as_string();
      const auto [sizeEnd, sizeError] = std::from_chars(size.data(), size.data() + size.size(), entry.size);
      std::array<std::uint8_t, 4> crcBytes{};
      entry.hasSha1 = !sha1.empty();
      if (size.empty() || sizeError != std::errc() || sizeEnd != size.data() + size.size() ||
          !HexDigits(crc, crcBytes.data(), crcBytes.size()) ||
          (entry.hasSha1 && !HexDigits(sha1, entry.sha1.data(), entry.sha1.size()))) {
        error = path + " is not a usable DAT file: the <rom> at line " +
                std::to_string(LineOf(text, rom.offset_debug())) +
                " lacks a decimal size, an 8-digit hex crc or has a malformed sha1";
        return false;
      }
      entry.crc32 = std::uint32_t{crcBytes[0]} << 24 | std::uint32_t{crcBytes[1]} << 16 |
                    std::uint32_t{crcBytes[2]} << 8 | crcBytes[3];
      if (gameIndex == games_.size()) games_.emplace_back(game.attribute("name").as_string());
      entry.game = gameIndex;
      roms_.push_back(entry);
    }
  }
  if (roms_.empty()) {
    error = path + " is not a DAT file: it lists no <rom> of any <game>";
    return false;
  }
  std::sort(roms_.begin(), roms_.end(),
            [](const Rom& a, const Rom& b) { return Key(a.size, a.crc32) < Key(b.size, b.crc32); });
  return true;
#endif
}

const std::string* DatFile::Find(const Digests& digests) const {
  struct ByKey {
    bool operator()(const Rom& rom, const std::tuple<std::uint64_t, std::uint32_t>& key) const {
      return Key(rom.size, rom.crc32) < key;
    }
    bool operator()(const std::tuple<std::uint64_t, std::uint32_t>& key, const Rom& rom) const {
      return key < Key(rom.size, rom.crc32);
    }
  };
  const auto [first, last] =
      std::equal_range(roms_.begin(), roms_.end(), Key(digests.size, digests.crc32), ByKey{});
  for (auto rom = first; rom != last; ++rom)
    if (!rom->hasSha1 || rom->sha1 == digests.sha1) return &games_[rom->game];
  return nullptr;
}

}  // namespace brevomat::cli
