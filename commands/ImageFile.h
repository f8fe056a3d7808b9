// What Write Flash does with an image file before it touches the cart: adapter, flash chip, the
// file and its size. The command-line verify runs the same checks, so that it accepts exactly the
// images a write accepts, with the same answers.
#pragma once

#include <string>

namespace brevomat {

struct Core;

// Returns kResultDone with the image open in CurrentFile and its length in cart.InputFileSize,
// or the command's result with the reason logged and nothing open.
int OpenImageForFlash(Core& core, const std::string& file);

}  // namespace brevomat
