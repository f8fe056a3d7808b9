// Finding the adapter at the start of every command.
#pragma once

namespace brevomat {

struct Core;

// Latches the speed setting, finds the adapter by a register write/read-back test, chooses SPP or
// EPP, logs "PortMode = SPP" / "PortMode = EPP" or "No Adaptor Found!", and leaves the adapter in
// ROM access mode. Also forgets the last erased flash block.
bool DetectAdapter(Core& core);
bool ChooseLinkMode(Core& core);
bool TestAdapterPattern(Core& core);

}  // namespace brevomat
