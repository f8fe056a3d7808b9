// The two small modal dialogs drawn with Qt: Form2 "Select Cart size" and Form3 "Bank and Size
// Select", built from their tables. Their buttons tell the dialog's rules (OK, CANCEL) and close
// the dialog; the close box only closes it; Esc does nothing. The radio selection is kept from
// one showing to the next.
#pragma once

#include <QDialog>
#include <QFont>
#include <QPushButton>

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

 protected:
  RadioGroup* Group(const char* name) const;
  // Shows the dialog through `show` (the provider's modal showing).
  template <typename ShowModal>
  void ShowCentred(ShowModal&& show) {
    PlaceOverOwner();
    show(static_cast<QDialog&>(*this));
  }
  // Only OK, CANCEL and the close box close the dialog.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void PlaceOverOwner();
  const FormEntry& form_;
  OuterGeometry* placement_ = new OuterGeometry(*this);  // owned by the dialog
};

class TForm2 : public SelectionForm {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent);

  // Shows the dialog modally with `preselectItem` selected (-1 none); its buttons tell `rules`.
  template <typename ShowModal>
  void Execute(int preselectItem, Form2Rules& rules, ShowModal&& show) {
    SelectCartSize->SetItemIndex(preselectItem);
    rules_ = &rules;
    ShowCentred(std::forward<ShowModal>(show));
    rules_ = nullptr;
  }

  void OKClick();
  void CANCELClick();

  RadioGroup* SelectCartSize;

 private:
  Form2Rules* rules_ = nullptr;
};

class TForm3 : public SelectionForm {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent);

  template <typename ShowModal>
  void Execute(Form3Rules& rules, ShowModal&& show) {
    rules_ = &rules;
    ShowCentred(std::forward<ShowModal>(show));
    rules_ = nullptr;
  }

  void OKClick();
  void CANCELClick();

  RadioGroup* RadioBankSel;
  RadioGroup* RadioSizeSel;

 private:
  Form3Rules* rules_ = nullptr;
};

}  // namespace brevomat::gui
