// Finding the adapter at the start of every command.
#pragma once

#include <cstdint>

namespace brevomat {

class Link;
class OperationFrame;

// Latches `speedIndex` (the Speed group's item index) as the link's speed setting, finds the
// adapter by a register write/read-back test, chooses SPP or EPP, logs "PortMode = SPP" /
// "PortMode = EPP" or "No Adaptor Found!", and leaves the adapter in ROM access mode.
bool DetectAdapter(Link& link, OperationFrame& frame, int speedIndex);
bool ChooseLinkMode(Link& link);
bool TestAdapterPattern(Link& link);

}  // namespace brevomat
