// Host time (processor time, and the wall clock's) to load a DAT file of No-Intro's form with N games (one
// ROM each, size, CRC32, MD5, SHA-1 as the published lists give them) and to look a read-out up in it. The
// file is made in the system's temporary folder and removed again.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "dump/Dat.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Hex(std::uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = kDigits[value & 15];
  return text;
}

std::string DatText(int games) {
  std::string text =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
      "\"http://www.logiqx.com/Dats/datafile.dtd\">\n<datafile>\n\t<header>\n\t\t<name>Bench</name>\n\t</"
      "header>\n";
  for (int i = 0; i < games; ++i) {
    const std::string name = "Game Number " + std::to_string(i) + " (Europe) (En,Fr,De)";
    const std::uint64_t x = 0x9E3779B97F4A7C15ull * static_cast<std::uint64_t>(i + 1);
    text += "\t<game name=\"" + name + "\">\n\t\t<description>" + name + "</description>\n\t\t<rom name=\"" +
            name + ".gba\" size=\"" + std::to_string(std::uint64_t{0x400000} << (i % 3)) + "\" crc=\"" +
            Hex(x >> 32, 8) + "\" md5=\"" + Hex(x, 16) + Hex(~x, 16) + "\" sha1=\"" + Hex(x, 16) +
            Hex(~x, 16) + Hex(x >> 7, 8) + "\" status=\"verified\"/>\n\t</game>\n";
  }
  return text + "</datafile>\n";
}

}  // namespace

int main() {
  int failures = 0;
  const auto path =
      std::filesystem::temp_directory_path() /
      ("brevomat-dat-bench-" + std::to_string(Clock::now().time_since_epoch().count()) + ".dat");
  std::printf("Loading a DAT file of N games (one ROM each), best of 3:\n");
  for (const int games : {10000, 20000, 40000, 300000}) {
    const std::string text = DatText(games);
    std::ofstream(path, std::ios::binary) << text;
    // Processor time says what the loading costs on a machine shared with other work; the wall
    // clock, what the user waits on this one.
    double best = 1e9, bestWall = 1e9;
    std::size_t roms = 0;
    for (int run = 0; run < 3; ++run) {
      brevomat::DatFile dat;
      std::string error;
      const auto t0 = Clock::now();
      const std::clock_t c0 = std::clock();
      const bool loaded = dat.Load(path.string(), error);
      best = std::min(best, static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC);
      bestWall = std::min(bestWall, std::chrono::duration<double>(Clock::now() - t0).count());
      if (!loaded) {
        ++failures;
        std::fprintf(stderr, "dat_bench: %s\n", error.c_str());
      }
      roms = dat.RomCount();
    }
    if (roms != static_cast<std::size_t>(games)) ++failures;
    std::printf("  %6d games, %5.1f MB: %.3f s of processor time, %.3f s on the wall clock (%zu ROMs)\n",
                games, static_cast<double>(text.size()) / 1e6, best, bestWall, roms);
  }
  std::filesystem::remove(path);
  if (failures != 0) std::fprintf(stderr, "dat_bench: %d load(s) did not list every game\n", failures);
  return failures == 0 ? 0 : 1;
}
