// A titled group of radio buttons addressed by item index, as the window's radio groups are.
#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>
#include <QStringList>
#include <vector>

namespace brevomat::gui {

class RadioGroup : public QGroupBox {
  Q_OBJECT

 public:
  RadioGroup(const QString& name, const QString& caption, const QStringList& items, QWidget* parent);

  // The selected item, or -1 when none is.
  int ItemIndex() const;
  // Selects `index` limited to the group's range: below -1 none, past the end the last item.
  void SetItemIndex(int index);
  // Sets the group's geometry and lays its items out at once (a hidden widget gets no resize
  // event until it is shown).
  void Place(int left, int top, int width, int height);
  int ItemCount() const { return static_cast<int>(buttons_.size()); }
  QRadioButton* Item(int index) const { return buttons_.at(static_cast<std::size_t>(index)); }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  // The style moves the inside of the frame when the font or the style changes.
  bool event(QEvent* event) override;

 signals:
  // The user clicked an item.
  void Clicked();

 private:
  void LayoutItems();
  QButtonGroup group_;
  std::vector<QRadioButton*> buttons_;
};

}  // namespace brevomat::gui
