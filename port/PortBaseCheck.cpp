#include "port/PortBaseCheck.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace brevomat {

namespace {

constexpr std::uint32_t kRegisters = 8;

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
  return text;
}

std::string Range(std::uint32_t first, std::uint32_t last) { return Hex(first) + "-" + Hex(last); }

struct IoRange {
  std::uint32_t first, last;
  unsigned depth;  // the indentation: a range lies inside the last one less indented
  std::string_view name;
};

bool ParseHex(std::string_view text, std::uint32_t& value) {
  if (text.empty() || text.size() > 8) return false;
  value = 0;
  for (const char c : text) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return false;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return true;
}

// "  0378-037a : parport0" lines; anything else is skipped.
std::vector<IoRange> ParseIoports(std::string_view text) {
  std::vector<IoRange> ranges;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::size_t indent = line.find_first_not_of(' ');
    const std::size_t dash = line.find('-');
    const std::size_t colon = line.find(" : ");
    if (indent == std::string_view::npos || dash == std::string_view::npos ||
        colon == std::string_view::npos || dash < indent || colon < dash)
      continue;
    IoRange range{0, 0, static_cast<unsigned>(indent), line.substr(colon + 3)};
    while (!range.name.empty() && (range.name.back() == '\r' || range.name.back() == ' '))
      range.name.remove_suffix(1);
    if (!ParseHex(line.substr(indent, dash - indent), range.first) ||
        !ParseHex(line.substr(dash + 1, colon - dash - 1), range.last) || range.last < range.first)
      continue;
    ranges.push_back(range);
  }
  return ranges;
}

bool IsParallelPort(std::string_view name) { return name.starts_with("parport"); }

// A window of a bus, or a PCI function's range that no driver has named ("0000:05:00.0"): they hold
// devices rather than being one.
bool IsContainer(std::string_view name) {
  if (name.starts_with("PCI Bus") || name.starts_with("PCI CardBus")) return true;
  constexpr std::string_view kPciAddress = "hhhh:hh:hh.h";
  if (name.size() != kPciAddress.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    if (kPciAddress[i] == 'h' ? !hex : c != kPciAddress[i]) return false;
  }
  return true;
}

}  // namespace

std::string PortBaseRefusal(std::uint32_t base, std::string_view ioports) {
  const std::uint32_t last = base + kRegisters - 1;
  if (base % 4 != 0)
    return Hex(base) + " is not on a 4-byte boundary, where a printer port's registers begin";
  if (base < 0x100)
    return Hex(base) + " is among the system board's own devices (0x0-0xFF: interrupt and DMA controllers, " +
           "timer, keyboard controller), where no printer port lies";
  if (base <= 0xCFF && last >= 0xCF8)
    return "the registers " + Range(base, last) +
           " would reach the PCI configuration ports 0xCF8-0xCFF, where no printer port lies";
  const std::vector<IoRange> ranges = ParseIoports(ioports);
  // A parallel port the kernel knows at this very base: its registers are the kernel's word.
  for (const IoRange& range : ranges)
    if (range.first == base && IsParallelPort(range.name)) return {};
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    const IoRange& range = ranges[i];
    if (range.last < base || range.first > last || IsParallelPort(range.name) || IsContainer(range.name))
      continue;
    // A device whose range holds a parallel port here (a card's own name for it) is that port.
    bool holdsPort = false;
    for (std::size_t j = i + 1; j < ranges.size() && ranges[j].depth > range.depth; ++j)
      holdsPort =
          holdsPort || (IsParallelPort(ranges[j].name) && ranges[j].last >= base && ranges[j].first <= last);
    if (holdsPort) continue;
    return "the registers " + Range(base, last) + " would reach " + Range(range.first, range.last) +
           ", which the kernel gives to \"" + std::string(range.name) +
           "\" (/proc/ioports), not to a parallel port";
  }
  return {};
}

std::string SystemIoports() {
#if defined(__linux__)
  std::ifstream in("/proc/ioports");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
#else
  return {};
#endif
}

}  // namespace brevomat
