#include "gui/SelectionDialogs.h"

#include <QFont>
#include <QKeyEvent>

namespace brevomat::gui {

QFont DesignFont() {
  QFont font(QStringLiteral("MS Sans Serif"), 8);
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans Narrow")});
  return font;
}

SelectionForm::SelectionForm(const FormEntry& form, QWidget* parent) : QDialog(parent), form_(form) {
  setObjectName(QString::fromLatin1(form.name));
  setWindowTitle(QString::fromLatin1(form.caption));
  setFont(DesignFont());
  setModal(true);
  // A title with a close box only: no resizing, minimising or maximising.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  // The design sizes are outer sizes, frame included.
  setFixedSize(form.width, form.height);
  for (const ControlEntry& c : form.controls) {
    const DesignRect& d = c.design;
    if (c.kind == ControlKind::RadioGroup) {
      QStringList items;
      for (const char* item : c.items) items << QString::fromLatin1(item);
      auto* group = new RadioGroup(QString::fromLatin1(c.name), QString::fromLatin1(c.caption), items, this);
      group->Place(d.left, d.top, d.width, d.height);
      group->SetItemIndex(c.initialItem);
    } else {
      auto* button = new QPushButton(QString::fromLatin1(c.caption), this);
      button->setObjectName(QString::fromLatin1(c.name));
      button->setGeometry(d.left, d.top, d.width, d.height);
      // Enter clicks the button that has the focus; with the focus elsewhere it does nothing.
      button->setAutoDefault(true);
      (std::string_view(c.name) == "OK" ? OK : CANCEL) = button;
    }
  }
}

RadioGroup* SelectionForm::Group(const char* name) const {
  return findChild<RadioGroup*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

void SelectionForm::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Cancel)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

// A dialog opens in the centre of the main window (of the desktop when it has no owner), at its
// own size however small the main window is.
void SelectionForm::PlaceOverOwner() {
  const QWidget* owner = parentWidget();
  placement_->Place(QSize(form_.width, form_.height),
                    owner != nullptr ? owner->window()->frameGeometry() : DesktopArea(),
                    OuterGeometry::Sizing::Fixed);
}

TForm2::TForm2(QWidget* parent) : SelectionForm(kForm2, parent), SelectCartSize(Group("SelectCartSize")) {
  connect(OK, &QPushButton::clicked, this, &TForm2::OKClick);
  connect(CANCEL, &QPushButton::clicked, this, &TForm2::CANCELClick);
}

// Both buttons end the modal loop with "cancel"; callers read the rules' result only.
void TForm2::OKClick() {
  if (rules_ != nullptr) rules_->OKClick(SelectCartSize->ItemIndex());
  done(QDialog::Rejected);
}

void TForm2::CANCELClick() {
  if (rules_ != nullptr) rules_->CANCELClick();
  done(QDialog::Rejected);
}

TForm3::TForm3(QWidget* parent)
    : SelectionForm(kForm3, parent),
      RadioBankSel(Group("RadioBankSel")),
      RadioSizeSel(Group("RadioSizeSel")) {
  connect(OK, &QPushButton::clicked, this, &TForm3::OKClick);
  connect(CANCEL, &QPushButton::clicked, this, &TForm3::CANCELClick);
}

void TForm3::OKClick() {
  if (rules_ != nullptr) rules_->OKClick(RadioBankSel->ItemIndex(), RadioSizeSel->ItemIndex());
  done(QDialog::Rejected);
}

void TForm3::CANCELClick() {
  if (rules_ != nullptr) rules_->CANCELClick();
  done(QDialog::Rejected);
}

}  // namespace brevomat::gui
