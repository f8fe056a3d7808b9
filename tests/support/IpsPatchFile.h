// Builds IPS patch files the way a patching tool writes them: "PATCH", records of a 24-bit offset,
// a 16-bit length and the data (all big-endian), then "EOF". Head and Raw allow malformed files.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace brevomat::testing {

struct PatchFile {
  using Bytes = std::vector<std::uint8_t>;
  struct Rec {
    std::uint32_t offset;
    Bytes data;
  };
  static Bytes FromText(std::string_view text) { return Bytes(text.begin(), text.end()); }

  Bytes bytes = FromText("PATCH");
  std::vector<Rec> records;

  PatchFile& Record(std::uint32_t offset, const Bytes& data) {
    records.push_back({offset, data});
    Head(offset, static_cast<std::uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return *this;
  }
  PatchFile& Record(std::uint32_t offset, std::string_view text) { return Record(offset, FromText(text)); }
  PatchFile& Head(std::uint32_t offset, std::uint32_t length) {
    bytes.insert(bytes.end(), {static_cast<std::uint8_t>(offset >> 16),
                               static_cast<std::uint8_t>(offset >> 8), static_cast<std::uint8_t>(offset),
                               static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
    return *this;
  }
  PatchFile& Raw(const Bytes& raw) {
    bytes.insert(bytes.end(), raw.begin(), raw.end());
    return *this;
  }
  Bytes End() const {
    Bytes out = bytes;
    const Bytes end = FromText("EOF");
    out.insert(out.end(), end.begin(), end.end());
    return out;
  }
};

}  // namespace brevomat::testing
