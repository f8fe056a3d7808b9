#include "gui/SelectionDialogs.h"

#include <QFont>

namespace brevomat::gui {

QFont DesignFont() {
  QFont font(QStringLiteral("MS Sans Serif"), 8);
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans Narrow")});
  return font;
}

namespace {

QPushButton* MakeButton(QDialog* parent, const char* name, int left, int top, int width, int height) {
  auto* button = new QPushButton(QString::fromLatin1(name), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(left, top, width, height);
  button->setAutoDefault(false);
  return button;
}

// The dialogs' design sizes are outer sizes, frame included.
constexpr QSize kForm2Size(203, 258);
constexpr QSize kForm3Size(241, 204);

// A dialog opens in the centre of the main window (of the desktop when it has no owner).
void PlaceOverOwner(OuterGeometry& placement, QDialog& dialog, QSize outer) {
  const QWidget* owner = dialog.parentWidget();
  placement.Place(outer, owner != nullptr ? owner->window()->frameGeometry() : DesktopArea());
}

void SetUpDialog(QDialog* dialog, const char* name, const char* caption, QSize size) {
  dialog->setObjectName(QString::fromLatin1(name));
  dialog->setWindowTitle(QString::fromLatin1(caption));
  dialog->setFont(DesignFont());
  dialog->setModal(true);
  dialog->resize(size);
}

}  // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
  SetUpDialog(this, "Form2", "Select Cart size", kForm2Size);
  SelectCartSize = new RadioGroup(QStringLiteral("SelectCartSize"), QStringLiteral("SelectCartSize"),
                                  {QStringLiteral("8M"), QStringLiteral("16M"), QStringLiteral("32M"),
                                   QStringLiteral("64M"), QStringLiteral("128M"), QStringLiteral("256M")},
                                  this);
  SelectCartSize->Place(16, 16, 161, 137);
  SelectCartSize->SetItemIndex(-1);
  OK = MakeButton(this, "OK", 16, 184, 75, 25);
  CANCEL = MakeButton(this, "CANCEL", 104, 184, 75, 25);
  connect(OK, &QPushButton::clicked, this, &TForm2::OKClick);
  connect(CANCEL, &QPushButton::clicked, this, &TForm2::CANCELClick);
}

void TForm2::PlaceOverOwner() { gui::PlaceOverOwner(*placement_, *this, kForm2Size); }

// Both buttons end the modal loop with "cancel"; callers read the result variable only.
void TForm2::OKClick() {
  if (result_ != nullptr) *result_ = CartSizeChunksForItem(SelectCartSize->ItemIndex());
  done(QDialog::Rejected);
}

void TForm2::CANCELClick() {
  if (result_ != nullptr) *result_ = 0;
  done(QDialog::Rejected);
}

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  SetUpDialog(this, "Form3", "Bank and Size Select", kForm3Size);
  RadioBankSel = new RadioGroup(QStringLiteral("RadioBankSel"), QStringLiteral("Bank Select"),
                                {QStringLiteral("Bank 1"), QStringLiteral("Bank 2"), QStringLiteral("Bank 3"),
                                 QStringLiteral("Bank 4")},
                                this);
  RadioBankSel->Place(16, 16, 97, 105);
  RadioBankSel->SetItemIndex(0);
  RadioSizeSel = new RadioGroup(
      QStringLiteral("RadioSizeSel"), QStringLiteral("Size Select"),
      {QStringLiteral("32K"), QStringLiteral("64K"), QStringLiteral("128K"), QStringLiteral("256K")}, this);
  RadioSizeSel->Place(128, 16, 89, 105);
  RadioSizeSel->SetItemIndex(0);
  OK = MakeButton(this, "OK", 32, 136, 75, 25);
  CANCEL = MakeButton(this, "CANCEL", 136, 136, 75, 25);
  connect(OK, &QPushButton::clicked, this, &TForm3::OKClick);
  connect(CANCEL, &QPushButton::clicked, this, &TForm3::CANCELClick);
}

void TForm3::PlaceOverOwner() { gui::PlaceOverOwner(*placement_, *this, kForm3Size); }

void TForm3::OKClick() {
  if (bank_ != nullptr) *bank_ = static_cast<std::uint8_t>(RadioBankSel->ItemIndex());
  if (size_ != nullptr) *size_ = static_cast<std::uint8_t>(RadioSizeSel->ItemIndex());
  done(QDialog::Rejected);
}

void TForm3::CANCELClick() {
  if (bank_ != nullptr) *bank_ = 255;
  if (size_ != nullptr) *size_ = 255;
  done(QDialog::Rejected);
}

}  // namespace brevomat::gui
