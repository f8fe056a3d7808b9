// The click handlers of the main window's command buttons, window-independent: each runs one
// whole command through the core and reports through the operation frame.
#pragma once

namespace brevomat {

struct Core;

void EraseFlashClick(Core& core);  // EraseFlash
void WriteClick(Core& core);       // Write Flash

}  // namespace brevomat
