#include "gui/RadioGroup.h"

#include <QResizeEvent>
#include <algorithm>

#include "commands/Settings.h"

namespace brevomat::gui {

RadioGroup::RadioGroup(const QString& name, const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent) {
  setObjectName(name);
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], this);
    button->setObjectName(name + "_" + QString::number(i));
    group_.addButton(button, i);
    buttons_.push_back(button);
  }
  connect(&group_, &QButtonGroup::idClicked, this, [this](int) { emit Clicked(); });
}

int RadioGroup::ItemIndex() const { return group_.checkedId(); }

void RadioGroup::SetItemIndex(int index) {
  index = ClampItemIndex(index, ItemCount());
  if (index < 0) {
    // An exclusive group cannot uncheck its last checked button.
    group_.setExclusive(false);
    for (QRadioButton* button : buttons_) button->setChecked(false);
    group_.setExclusive(true);
    return;
  }
  buttons_[static_cast<std::size_t>(index)]->setChecked(true);
}

}  // namespace brevomat::gui

namespace brevomat::gui {

void RadioGroup::Place(int left, int top, int width, int height) {
  setGeometry(left, top, width, height);
  LayoutItems();
}

void RadioGroup::resizeEvent(QResizeEvent* event) {
  QGroupBox::resizeEvent(event);
  LayoutItems();
}

bool RadioGroup::event(QEvent* event) {
  const bool handled = QGroupBox::event(event);
  if (event->type() == QEvent::ContentsRectChange) LayoutItems();
  return handled;
}

void RadioGroup::LayoutItems() {
  // The items share the room inside the frame in equal rows, so that each keeps its own strip
  // however small the group is. The style puts the caption on or above the frame line and says
  // where the inside of the frame begins; nothing is placed on the line itself.
  const QRect inside = contentsRect();
  const int rows = std::max(ItemCount(), 1);
  const int room = std::max(inside.height(), rows);
  const int left = inside.left() + 1;
  const int width = std::max(inside.width() - 2, 1);
  for (int i = 0; i < ItemCount(); ++i) {
    const int y0 = inside.top() + room * i / rows;
    const int y1 = inside.top() + room * (i + 1) / rows;
    buttons_[static_cast<std::size_t>(i)]->setGeometry(left, y0, width, y1 - y0);
  }
}

}  // namespace brevomat::gui
