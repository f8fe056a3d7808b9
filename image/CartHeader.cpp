#include "image/CartHeader.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/Operation.h"

namespace brevomat {

const std::array<std::uint8_t, 156> HeaderLogo = {
    0x24, 0xFF, 0xAE, 0x51, 0x69, 0x9A, 0xA2, 0x21, 0x3D, 0x84, 0x82, 0x0A, 0x84, 0xE4, 0x09, 0xAD,
    0x11, 0x24, 0x8B, 0x98, 0xC0, 0x81, 0x7F, 0x21, 0xA3, 0x52, 0xBE, 0x19, 0x93, 0x09, 0xCE, 0x20,
    0x10, 0x46, 0x4A, 0x4A, 0xF8, 0x27, 0x31, 0xEC, 0x58, 0xC7, 0xE8, 0x33, 0x82, 0xE3, 0xCE, 0xBF,
    0x85, 0xF4, 0xDF, 0x94, 0xCE, 0x4B, 0x09, 0xC1, 0x94, 0x56, 0x8A, 0xC0, 0x13, 0x72, 0xA7, 0xFC,
    0x9F, 0x84, 0x4D, 0x73, 0xA3, 0xCA, 0x9A, 0x61, 0x58, 0x97, 0xA3, 0x27, 0xFC, 0x03, 0x98, 0x76,
    0x23, 0x1D, 0xC7, 0x61, 0x03, 0x04, 0xAE, 0x56, 0xBF, 0x38, 0x84, 0x00, 0x40, 0xA7, 0x0E, 0xFD,
    0xFF, 0x52, 0xFE, 0x03, 0x6F, 0x95, 0x30, 0xF1, 0x97, 0xFB, 0xC0, 0x85, 0x60, 0xD6, 0x80, 0x25,
    0xA9, 0x63, 0xBE, 0x03, 0x01, 0x4E, 0x38, 0xE2, 0xF9, 0xA2, 0x34, 0xFF, 0xBB, 0x3E, 0x03, 0x44,
    0x78, 0x00, 0x90, 0xCB, 0x88, 0x11, 0x3A, 0x94, 0x65, 0xC0, 0x7C, 0x63, 0x87, 0xF0, 0x3C, 0xAF,
    0xD6, 0x25, 0xE4, 0x8B, 0x38, 0x0A, 0xAC, 0x72, 0x21, 0xD4, 0xF8, 0x07,
};

bool CheckCartHeader(OperationFrame& frame) {
  const TransferBuffer& b = frame.Buffer;
  for (std::uint32_t i = 0; i < HeaderLogo.size(); ++i) {
    if (b[kHeaderLogoOffset + i] != HeaderLogo[i]) {
      frame.LogLine("no AGB data present!");
      return false;
    }
  }
  // Title and code end at their first zero byte.
  char title[13] = {};
  std::memcpy(title, b.data() + kHeaderTitleOffset, 12);
  char code[5] = {};
  std::memcpy(code, b.data() + kHeaderCodeOffset, 4);
  frame.LogLine(std::string("Game Name = ") + title);
  frame.LogLine(std::string("Game Code = ") + code);
  return true;
}

std::uint8_t HeaderComplement(const TransferBuffer& buffer) {
  std::uint8_t sum = 0x19;
  for (std::uint32_t i = kHeaderTitleOffset; i < kHeaderComplementOffset; ++i)
    sum = static_cast<std::uint8_t>(sum + buffer[i]);
  return static_cast<std::uint8_t>(0u - sum);
}

namespace {

std::string Hex(std::uint8_t value) {
  char text[5];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

// A field that ought to be text, shown as text: bytes that are no printable ASCII (an erased
// cart's 0xFF, a control character) become '?', so they cannot garble the terminal.
char Printable(std::uint8_t byte) { return byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '?'; }

std::string Judged(std::uint8_t found, std::uint8_t expected) {
  return Hex(found) + (found == expected ? " (ok)" : " (should be " + Hex(expected) + ")");
}

}  // namespace

void LogHeaderFields(OperationFrame& frame) {
  const TransferBuffer& b = frame.Buffer;
  frame.LogLine(std::string("Maker Code = ") + Printable(b[kHeaderMakerOffset]) +
                Printable(b[kHeaderMakerOffset + 1]));
  frame.LogLine("Fixed Byte = " + Judged(b[kHeaderFixedOffset], kHeaderFixedValue));
  frame.LogLine("Unit Code = " + Hex(b[kHeaderUnitOffset]));
  frame.LogLine("Device Type = " + Hex(b[kHeaderDeviceOffset]));
  frame.LogLine("Version = " + NumberToText(b[kHeaderVersionOffset]));
  frame.LogLine("Complement = " + Judged(b[kHeaderComplementOffset], HeaderComplement(b)));
}

}  // namespace brevomat
