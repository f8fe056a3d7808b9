// The two small modal dialogs drawn with Qt: Form2 "Select Cart size" and Form3 "Bank and Size
// Select", built from their tables. OK, CANCEL and the close box close the dialog, which answers
// which of them it was and what its groups showed (what that means, SelectionForms.h decides);
// Esc does nothing. The radio selection is kept from one showing to the next.
#pragma once

#include <QDialog>
#include <QFont>
#include <QPushButton>
#include <utility>
#include <vector>

#include "form/FormLayout.h"
#include "form/SelectionForms.h"
#include "gui/RadioGroup.h"
#include "gui/WindowPlacement.h"

class QKeyEvent;

namespace brevomat::gui {

// The windows were laid out for "MS Sans Serif" at 8 points, a narrow font. Where it is missing, a
// condensed face keeps captions such as "LPT1(0x378)" inside their design-size controls.
QFont DesignFont();

// A dialog built from its table, centred over the main window when shown.
class SelectionForm : public QDialog {
  Q_OBJECT

 public:
  SelectionForm(const FormEntry& form, QWidget* parent);

  QPushButton* OK = nullptr;
  QPushButton* CANCEL = nullptr;

  // The buttons: each records itself and the groups' items as the answer and closes the dialog.
  void OKClick();
  void CANCELClick();

 protected:
  RadioGroup* Group(const char* name) const;
  // Shows the dialog centred through `show` (the provider's modal showing) and tells how it was
  // closed.
  template <typename ShowModal>
  DialogAnswer Answer(ShowModal&& show) {
    answer_ = DialogAnswer{};
    PlaceOverOwner();
    show(static_cast<QDialog&>(*this));
    return answer_;
  }
  // Only OK, CANCEL and the close box close the dialog.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void PlaceOverOwner();
  const FormEntry& form_;
  OuterGeometry* placement_ = new OuterGeometry(*this);  // owned by the dialog
  std::vector<RadioGroup*> groups_;                      // in the table's order
  DialogAnswer answer_;
};

class TForm2 : public SelectionForm {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent);

  // Shows the dialog modally with `preselectItem` selected (-1 none).
  template <typename ShowModal>
  DialogAnswer Execute(int preselectItem, ShowModal&& show) {
    SelectCartSize->SetItemIndex(preselectItem);
    return Answer(std::forward<ShowModal>(show));
  }

  RadioGroup* SelectCartSize;
};

class TForm3 : public SelectionForm {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent);

  template <typename ShowModal>
  DialogAnswer Execute(ShowModal&& show) {
    return Answer(std::forward<ShowModal>(show));
  }

  RadioGroup* RadioBankSel;
  RadioGroup* RadioSizeSel;
};

}  // namespace brevomat::gui
