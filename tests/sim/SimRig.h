// A link attached straight to the virtual adapter, with helpers for raw flash commands.
#pragma once

#include <cstdint>

#include "link/Link.h"
#include "port/Port.h"
#include "sim/VirtualAdapter.h"

namespace brevomat::sim::testing {

struct LinkRig {
  LinkRig(CartBus& bus, AdapterConfig config = {}) : adapter(config, bus), io(&adapter), link(io) {
    link.SetBase(config.base);
  }
  void Use(LinkMode mode, std::int8_t speed) {
    link.Mode = mode;
    link.SpeedSetting = speed;
    link.PrepareLink();
  }
  // One word at a cart address, the way the flash layer reads status and query data.
  std::uint16_t ReadWordAt(std::uint32_t address) {
    link.SetCartAddress(address);
    link.SelectAdapterRegister(3);
    link.WriteControl(0);
    return link.ReadCartWord();
  }
  // Reads without a command: the chip answers with whatever mode it is in.
  std::uint16_t Peek() {
    link.WriteControl(0);
    return link.ReadCartWord();
  }
  std::uint8_t Status() {
    link.WriteCartWord(0, 0x70);
    return static_cast<std::uint8_t>(Peek());
  }
  // A 16-word buffered program at `address` the way the programming layer drives it: the confirm
  // is the next data transfer after the last word.
  void BufferProgram(std::uint32_t address, const std::uint16_t* words) {
    link.WriteCartWord(address, 0xE8);
    link.WriteControl(0);
    bufferAvailable = (link.ReadCartWord() & 0x80) != 0;
    link.WriteCartWord(address, 0x0F);
    link.SetCartAddress(address);
    link.SelectAdapterRegister(3);
    for (int i = 0; i < 16; ++i) link.WriteDataWord(words[i]);
    link.WriteDataWord(0xD0);
  }

  VirtualAdapter adapter;
  PortIo io;
  Link link;
  bool bufferAvailable = false;
};

}  // namespace brevomat::sim::testing
