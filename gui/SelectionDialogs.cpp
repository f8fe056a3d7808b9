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
      groups_.push_back(group);
    } else {
      auto* button = new QPushButton(QString::fromLatin1(c.caption), this);
      button->setObjectName(QString::fromLatin1(c.name));
      button->setGeometry(d.left, d.top, d.width, d.height);
      // Enter clicks the button that has the focus; with the focus elsewhere it does nothing.
      button->setAutoDefault(true);
      (std::string_view(c.name) == "OK" ? OK : CANCEL) = button;
    }
  }
  connect(OK, &QPushButton::clicked, this, &SelectionForm::OKClick);
  connect(CANCEL, &QPushButton::clicked, this, &SelectionForm::CANCELClick);
}

// Every way out ends the modal loop with "cancel": the answer is what the caller reads.
void SelectionForm::OKClick() {
  answer_.button = DialogAnswer::Button::OK;
  for (std::size_t i = 0; i < groups_.size() && i < answer_.items.size(); ++i)
    answer_.items[i] = groups_[i]->ItemIndex();
  done(QDialog::Rejected);
}

void SelectionForm::CANCELClick() {
  answer_.button = DialogAnswer::Button::CANCEL;
  done(QDialog::Rejected);
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

TForm2::TForm2(QWidget* parent) : SelectionForm(kForm2, parent), SelectCartSize(Group("SelectCartSize")) {}

TForm3::TForm3(QWidget* parent)
    : SelectionForm(kForm3, parent),
      RadioBankSel(Group("RadioBankSel")),
      RadioSizeSel(Group("RadioSizeSel")) {}

}  // namespace brevomat::gui
