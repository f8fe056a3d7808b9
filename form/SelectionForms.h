// What the buttons of the two selection dialogs do, whichever window draws them. A dialog's OK and
// CANCEL set its result and close it; its close box closes it and sets nothing, so the result is
// what it was when the dialog was shown. Esc does not close either dialog.
#pragma once

#include <cstdint>
#include <optional>

#include "base/Window.h"
#include "cart/ReadOut.h"

namespace brevomat {

// Form2 "Select Cart size": a size in 32 KiB chunks, or nothing.
class Form2Rules {
 public:
  // CartSizeChunks for the SelectCartSize item chosen: "8M" (item 0) is 1 MiB, 32 chunks, and each
  // item doubles the one before; no item selected gives nothing, as CANCEL does.
  void OKClick(int SelectCartSizeItem) {
    if (const std::int32_t chunks = CartSizeChunksOfItem(SelectCartSizeItem); chunks != 0)
      CartSizeChunks = chunks;
    else
      CartSizeChunks.reset();
  }
  void CANCELClick() { CartSizeChunks.reset(); }

  // Nothing until a button sets it: a dialog closed by its close box chose nothing.
  std::optional<std::int32_t> CartSizeChunks;
};

// Form3 "Bank and Size Select": a bank and a size, or nothing.
class Form3Rules {
 public:
  // The close box leaves `before`, the result of the previous showing, standing.
  explicit Form3Rules(std::optional<SaveChoice> before) : Selected(before) {}

  // Each item index taken as its low byte, as the result variables hold it.
  void OKClick(int RadioBankSelItem, int RadioSizeSelItem) {
    Selected =
        SaveChoice{static_cast<std::uint8_t>(RadioBankSelItem), static_cast<std::uint8_t>(RadioSizeSelItem)};
  }
  void CANCELClick() { Selected.reset(); }

  std::optional<SaveChoice> Selected;
};

}  // namespace brevomat
