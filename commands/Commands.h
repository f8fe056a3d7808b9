// The click handlers of the main window's command buttons, window-independent: each runs one
// whole command through the core, reports through the operation frame, and returns how it ended:
// kResultDone, kResultCancelled or kResultFailed. The window ignores the result; the command-line
// program turns it into its exit status.
#pragma once

namespace brevomat {

struct Core;

int EraseFlashClick(Core& core);  // EraseFlash
int WriteClick(Core& core);       // Write Flash
int WriteMultiClick(Core& core);  // Write Multi: the pre-boot image and two games
// Set Pre Boot: chooses the 32 KB pre-boot image for Write Multi (settings.BootFileName). Touches
// neither the adapter nor the operation frame.
int SetPreBootClick(Core& core);
int ReadClick(Core& core);     // Backup Game
int SReadClick(Core& core);    // Backup Saver
int SWriteClick(Core& core);   // Write Saver
int SVerifyClick(Core& core);  // Verify Saver: a hidden button that does nothing

// The bank and size choice both save commands start with: detects the adapter, probes the save
// memory, shows Form3 and sets the cart's SaveStartUnit and SaveUnitCount. kResultDone when a valid
// range is set, kResultFailed otherwise (the reason logged).
int SelectSaveArea(Core& core);

// Not a button: the command-line program's "info". Detects the adapter, identifies the flash
// chip and logs it, reads the cart's header, judges it and logs its fields, and probes the save
// memory (reading only). Done when the adapter answered and a
// known flash chip was identified; the header's verdict is only reported (an erased cart is a
// perfectly good cart).
int CartInfoCommand(Core& core);

// Not a button: the command-line program's "verify". Compares the flash with the image chosen in
// OpenDialog1 as Write Flash would have written it, with the same checks and questions, reading
// every chunk twice and writing nothing. Done when every byte agrees; cart.FirstDifference or
// cart.UnstableChunk tell why not.
int VerifyImageCommand(Core& core);

}  // namespace brevomat
