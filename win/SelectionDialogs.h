// The two small modal dialogs in plain Win32: Form2 "Select Cart size" and Form3 "Bank and Size
// Select", built from their tables. OK, CANCEL and the close box close the dialog, which answers
// which of them it was and what its groups showed (what that means, SelectionForms.h decides);
// Esc does nothing. The radio selection is kept from one showing to the next.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "form/FormLayout.h"
#include "form/SelectionForms.h"
#include "win/Controls.h"

namespace brevomat::winui {

// A dialog window of its own class that runs its own modal loop: the owner is disabled while it
// is shown, and the loop ends when the dialog is closed by a button or by its close box.
class ModalForm {
 public:
  // The dialog window of `form`, at its design size; BuildControls makes its controls.
  ModalForm(HWND owner, const char* className, const FormEntry& form, const Scale& scale, HFONT font);
  virtual ~ModalForm();
  ModalForm(const ModalForm&) = delete;
  ModalForm& operator=(const ModalForm&) = delete;

  // Shows the dialog centred over its owner and returns once it is closed.
  void RunModal();
  HWND Handle() const { return window_; }
  bool Showing() const { return showing_; }

  // The buttons: each records itself and the groups' items as the answer and closes the dialog.
  void OKClick();
  void CANCELClick();

  enum : int { kOK = 201, kCANCEL = 202 };

 protected:
  // The controls of `form`'s table; its radio groups are `groups`, in the table's order.
  void BuildControls(const FormEntry& form, std::span<RadioGroup* const> groups);
  // Shows the dialog through `show` (the provider's modal showing) and tells how it was closed.
  template <typename ShowModal>
  DialogAnswer Answer(ShowModal&& show) {
    answer_ = DialogAnswer{};
    show(*this);
    return answer_;
  }
  // Ends the modal loop (OK, CANCEL and the close box all close the dialog).
  void Close() { showing_ = false; }

  HWND window_ = nullptr;
  HWND owner_;
  SIZE outer_;
  Scale scale_;
  HFONT font_;

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  bool showing_ = false;
  std::vector<RadioGroup*> groups_;
  DialogAnswer answer_;
};

class TForm2 final : public ModalForm {
 public:
  TForm2(HWND owner, const Scale& scale, HFONT font);

  // Shows the dialog through `show` with `preselectItem` selected (-1 none).
  template <typename ShowModal>
  DialogAnswer Execute(int preselectItem, ShowModal&& show) {
    SelectCartSize.SetItemIndex(preselectItem);
    return Answer(std::forward<ShowModal>(show));
  }

  enum : int { kSelectCartSizeBox = 100, kSelectCartSizeItems = 110 };
  RadioGroup SelectCartSize;
};

class TForm3 final : public ModalForm {
 public:
  TForm3(HWND owner, const Scale& scale, HFONT font);

  template <typename ShowModal>
  DialogAnswer Execute(ShowModal&& show) {
    return Answer(std::forward<ShowModal>(show));
  }

  enum : int {
    kRadioBankSelBox = 100,
    kRadioBankSelItems = 110,
    kRadioSizeSelBox = 120,
    kRadioSizeSelItems = 130
  };
  RadioGroup RadioBankSel;
  RadioGroup RadioSizeSel;
};

}  // namespace brevomat::winui
