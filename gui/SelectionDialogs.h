// The two small modal dialogs: Form2 "Select Cart size" (how much of the cart Backup Game reads)
// and Form3 "Bank and Size Select" (which save bank and how much save memory the save commands
// work on). Each hands its answer back in the result variables it is given; its modal result
// carries nothing. The radio selection is kept from one showing to the next.
#pragma once

#include <QDialog>
#include <QFont>
#include <QPushButton>
#include <cstdint>

#include "commands/SelectionResults.h"
#include "gui/RadioGroup.h"
#include "gui/WindowPlacement.h"

namespace brevomat::gui {

// The windows were laid out for "MS Sans Serif" at 8 points, a narrow font. Where it is missing, a
// condensed face keeps captions such as "LPT1(0x378)" inside their design-size controls.
QFont DesignFont();

class TForm2 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent);

  // Shows the dialog modally through `show` with `preselectItem` selected (-1 none). OK and
  // CANCEL store into `CartSizeChunks`; the close box leaves it as it was.
  template <typename ShowModal>
  void Execute(int preselectItem, std::int32_t& CartSizeChunks, ShowModal&& show) {
    SelectCartSize->SetItemIndex(preselectItem);
    result_ = &CartSizeChunks;
    PlaceOverOwner();
    show(*this);
    result_ = nullptr;
  }

  void OKClick();
  void CANCELClick();

  RadioGroup* SelectCartSize;
  QPushButton* OK;
  QPushButton* CANCEL;

 private:
  void PlaceOverOwner();
  OuterGeometry* placement_ = new OuterGeometry(*this);  // owned by the dialog
  std::int32_t* result_ = nullptr;
};

class TForm3 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent);

  // OK stores the two item indexes, CANCEL 255 in both, the close box nothing.
  template <typename ShowModal>
  void Execute(std::uint8_t& SelectedSaveBank, std::uint8_t& SelectedSaveSize, ShowModal&& show) {
    bank_ = &SelectedSaveBank;
    size_ = &SelectedSaveSize;
    PlaceOverOwner();
    show(*this);
    bank_ = size_ = nullptr;
  }

  void OKClick();
  void CANCELClick();

  RadioGroup* RadioBankSel;
  RadioGroup* RadioSizeSel;
  QPushButton* OK;
  QPushButton* CANCEL;

 private:
  void PlaceOverOwner();
  OuterGeometry* placement_ = new OuterGeometry(*this);  // owned by the dialog
  std::uint8_t* bank_ = nullptr;
  std::uint8_t* size_ = nullptr;
};

using brevomat::CartSizeChunksForItem;

}  // namespace brevomat::gui
