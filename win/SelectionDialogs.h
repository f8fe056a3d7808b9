// The two small modal dialogs in plain Win32: Form2 "Select Cart size" and Form3 "Bank and Size
// Select", built from their tables. Their buttons tell the dialog's rules (OK, CANCEL) and close
// the dialog; the close box only closes it; Esc does nothing. The radio selection is kept from
// one showing to the next.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

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

 protected:
  // The controls of `form`'s table; its radio groups are `groups`, in the table's order.
  void BuildControls(const FormEntry& form, std::span<RadioGroup* const> groups);
  // A button of the dialog was clicked.
  virtual void Command(int id) = 0;
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
};

class TForm2 final : public ModalForm {
 public:
  TForm2(HWND owner, const Scale& scale, HFONT font);

  // Shows the dialog through `show` with `preselectItem` selected (-1 none); its buttons tell
  // `rules`.
  template <typename ShowModal>
  void Execute(int preselectItem, Form2Rules& rules, ShowModal&& show) {
    SelectCartSize.SetItemIndex(preselectItem);
    rules_ = &rules;
    show(*this);
    rules_ = nullptr;
  }

  void OKClick();
  void CANCELClick();

  enum : int { kSelectCartSizeBox = 100, kSelectCartSizeItems = 110, kOK = 201, kCANCEL = 202 };
  RadioGroup SelectCartSize;

 private:
  void Command(int id) override;
  Form2Rules* rules_ = nullptr;
};

class TForm3 final : public ModalForm {
 public:
  TForm3(HWND owner, const Scale& scale, HFONT font);

  template <typename ShowModal>
  void Execute(Form3Rules& rules, ShowModal&& show) {
    rules_ = &rules;
    show(*this);
    rules_ = nullptr;
  }

  void OKClick();
  void CANCELClick();

  enum : int {
    kRadioBankSelBox = 100,
    kRadioBankSelItems = 110,
    kRadioSizeSelBox = 120,
    kRadioSizeSelItems = 130,
    kOK = 201,
    kCANCEL = 202
  };
  RadioGroup RadioBankSel;
  RadioGroup RadioSizeSel;

 private:
  void Command(int id) override;
  Form3Rules* rules_ = nullptr;
};

}  // namespace brevomat::winui
