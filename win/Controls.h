// The plain Win32 controls the windows are made of, placed at their design positions.
//
// The layouts are drawn in pixels at 96 dots per inch. The program declares itself DPI-aware, so
// Windows does not stretch its bitmaps; instead every design position, size and the font are
// scaled here by the screen's DPI / 96.
#pragma once

#include <windows.h>

#include <span>
#include <string>
#include <vector>

namespace brevomat::winui {

// Design pixels (96 DPI) to screen pixels and back.
class Scale {
 public:
  explicit Scale(int dpi = 96) : dpi_(dpi) {}
  static Scale OfScreen();
  int operator()(int design) const { return MulDiv(design, dpi_, 96); }
  int Design(int pixels) const { return MulDiv(pixels, 96, dpi_); }
  int dpi() const { return dpi_; }

 private:
  int dpi_;
};

// "MS Sans Serif" at 8 points, the face the layouts were drawn for.
HFONT CreateDesignFont(const Scale& scale);

// A child control at its design rectangle, in the given font. `id` is its control identifier.
HWND CreateControl(HWND parent, const char* className, const char* text, DWORD style, DWORD exStyle, int id,
                   const RECT& design, const Scale& scale, HFONT font);
// A push button (WS_GROUP, so that it ends the radio group created before it).
HWND CreateButton(HWND parent, int id, const char* caption, int left, int top, int width, int height,
                  const Scale& scale, HFONT font);

// A control's text, as WM_GETTEXT gives it.
std::string WindowText(HWND window);

// A titled group of radio buttons addressed by item index: a group box with automatic radio
// buttons stacked inside it. The buttons are the box's siblings, so that their clicks reach the
// window that owns the group; their identifiers are firstId, firstId + 1, ...
class RadioGroup {
 public:
  void Create(HWND parent, int boxId, int firstId, const char* caption, std::span<const char* const> items,
              const RECT& design, const Scale& scale, HFONT font);
  // The selected item, or -1 when none is.
  int ItemIndex() const;
  // Selects `index` limited to the group's range: below -1 none, past the end the last item.
  void SetItemIndex(int index);
  void SetEnabled(bool enabled);
  bool Holds(int id) const { return id >= firstId_ && id < firstId_ + static_cast<int>(items_.size()); }
  HWND Box() const { return box_; }
  HWND Item(int index) const { return items_.at(static_cast<std::size_t>(index)); }
  int ItemCount() const { return static_cast<int>(items_.size()); }

 private:
  HWND box_ = nullptr;
  int firstId_ = 0;
  std::vector<HWND> items_;
};

// A label's text, the label made as large as the text in its font.
void SetLabelText(HWND label, const char* text);

// The rectangle of `outer` pixels centred over `area`, kept inside the screen's work area.
RECT CentredOver(const RECT& area, SIZE outer);
RECT DesktopWorkArea();

}  // namespace brevomat::winui
