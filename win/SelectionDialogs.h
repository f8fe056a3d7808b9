// The two small modal dialogs: Form2 "Select Cart size" (how much of the cart Backup Game reads)
// and Form3 "Bank and Size Select" (which save bank and how much save memory the save commands
// work on). Each hands its answer back in the result variables it is given; its modal result
// carries nothing. The radio selection is kept from one showing to the next.
#pragma once

#include <windows.h>

#include <cstdint>

#include "win/Controls.h"

namespace brevomat::winui {

// A dialog window of its own class that runs its own modal loop: the owner is disabled while it
// is shown, and the loop ends when the dialog is closed by a button or by its close box.
class ModalForm {
 public:
  ModalForm(HWND owner, const char* className, const char* caption, SIZE designOuter, const Scale& scale,
            HFONT font);
  virtual ~ModalForm();
  ModalForm(const ModalForm&) = delete;
  ModalForm& operator=(const ModalForm&) = delete;

  // Shows the dialog centred over its owner and returns once it is closed.
  void RunModal();
  HWND Handle() const { return window_; }
  bool Showing() const { return showing_; }

 protected:
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

  // Shows the dialog through `show` with `preselectItem` selected (-1 none). OK and CANCEL store
  // into `CartSizeChunks`; the close box leaves it as it was.
  template <typename ShowModal>
  void Execute(int preselectItem, std::int32_t& CartSizeChunks, ShowModal&& show) {
    SelectCartSize.SetItemIndex(preselectItem);
    result_ = &CartSizeChunks;
    show(*this);
    result_ = nullptr;
  }

  void OKClick();
  void CANCELClick();

  enum : int { kSelectCartSizeBox = 100, kSelectCartSizeItems = 110, kOK = 201, kCANCEL = 202 };
  RadioGroup SelectCartSize;

 private:
  void Command(int id) override;
  std::int32_t* result_ = nullptr;
};

class TForm3 final : public ModalForm {
 public:
  TForm3(HWND owner, const Scale& scale, HFONT font);

  // OK stores the two item indexes, CANCEL 255 in both, the close box nothing.
  template <typename ShowModal>
  void Execute(std::uint8_t& SelectedSaveBank, std::uint8_t& SelectedSaveSize, ShowModal&& show) {
    bank_ = &SelectedSaveBank;
    size_ = &SelectedSaveSize;
    show(*this);
    bank_ = size_ = nullptr;
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
  std::uint8_t* bank_ = nullptr;
  std::uint8_t* size_ = nullptr;
};

}  // namespace brevomat::winui
