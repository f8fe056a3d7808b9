// What the buttons of the two selection dialogs mean, whichever window draws them. A window only
// shows its dialog and tells how it was closed and what its groups showed then; what follows from
// that is decided here. OK and CANCEL set the dialog's result and close it; the close box closes
// it and sets nothing, so the result is what it was when the dialog was shown. Esc does not close
// either dialog.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "base/Window.h"
#include "cart/ReadOut.h"

namespace brevomat {

// How a selection dialog was closed, and the item index (-1: none) of each of its radio groups,
// in the order of its table, at that moment.
struct DialogAnswer {
  enum class Button : std::uint8_t { CloseBox, OK, CANCEL };
  Button button = Button::CloseBox;
  std::array<int, 2> items{-1, -1};
  friend bool operator==(const DialogAnswer&, const DialogAnswer&) = default;
};

// Form2 "Select Cart size": with OK, CartSizeChunks for the SelectCartSize item chosen ("8M", item
// 0, is 1 MiB, 32 chunks, and each item doubles the one before); nothing for OK with no item
// selected, for CANCEL and for the close box.
inline std::optional<std::int32_t> Form2Result(const DialogAnswer& answer) {
  if (answer.button != DialogAnswer::Button::OK) return std::nullopt;
  if (const std::int32_t chunks = CartSizeChunksOfItem(answer.items[0]); chunks != 0) return chunks;
  return std::nullopt;
}

// Form3 "Bank and Size Select": with OK, the RadioBankSel and RadioSizeSel items, each taken as its
// low byte as the result variables hold it; nothing for CANCEL; `before`, the result of the
// previous showing, for the close box.
inline std::optional<SaveChoice> Form3Result(const DialogAnswer& answer, std::optional<SaveChoice> before) {
  switch (answer.button) {
    case DialogAnswer::Button::OK:
      return SaveChoice{static_cast<std::uint8_t>(answer.items[0]),
                        static_cast<std::uint8_t>(answer.items[1])};
    case DialogAnswer::Button::CANCEL:
      return std::nullopt;
    case DialogAnswer::Button::CloseBox:
      break;
  }
  return before;
}

}  // namespace brevomat
