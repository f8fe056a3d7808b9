#include "win/Controls.h"

#include <cstring>

#include "commands/Settings.h"

namespace brevomat::winui {

Scale Scale::OfScreen() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return Scale(dpi > 0 ? dpi : 96);
}

HFONT CreateDesignFont(const Scale& scale) {
  return CreateFontA(-MulDiv(8, scale.dpi(), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                     "MS Sans Serif");
}

HWND CreateControl(HWND parent, const char* className, const char* text, DWORD style, DWORD exStyle, int id,
                   const RECT& design, const Scale& scale, HFONT font) {
  HWND control = CreateWindowExA(
      exStyle, className, text, style | WS_CHILD | WS_VISIBLE, scale(design.left), scale(design.top),
      scale(design.right - design.left), scale(design.bottom - design.top), parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
  if (control != nullptr) SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

HWND CreateButton(HWND parent, int id, const char* caption, int left, int top, int width, int height,
                  const Scale& scale, HFONT font) {
  return CreateControl(parent, "BUTTON", caption, BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, id,
                       RECT{left, top, left + width, top + height}, scale, font);
}

std::string WindowText(HWND window) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  const int got =
      static_cast<int>(SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return text;
}

void SetLabelText(HWND label, const char* text) {
  // Where the longer text stood is drawn again once the label is smaller.
  HWND parent = GetParent(label);
  RECT before{};
  GetWindowRect(label, &before);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&before), 2);
  SetWindowTextA(label, text);
  HDC dc = GetDC(label);
  const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)));
  SIZE extent{};
  GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &extent);
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  SelectObject(dc, previous);
  ReleaseDC(label, dc);
  // An empty label keeps the height of a line, so that it stays where the layout put it.
  SetWindowPos(label, nullptr, 0, 0, extent.cx, metrics.tmHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(parent, &before, TRUE);
  InvalidateRect(label, nullptr, TRUE);
}

void RadioGroup::Create(HWND parent, int boxId, int firstId, const char* caption,
                        std::span<const char* const> items, const RECT& design, const Scale& scale,
                        HFONT font) {
  firstId_ = firstId;
  box_ = CreateControl(parent, "BUTTON", caption, BS_GROUPBOX | WS_GROUP, 0, boxId, design, scale, font);
  // The items share the room inside the frame in equal rows, below the caption on the frame line.
  constexpr int kCaption = 14, kBottom = 4, kLeft = 8, kRight = 4;
  const int rows = static_cast<int>(items.size());
  const int room = (design.bottom - design.top) - kCaption - kBottom;
  int i = 0;
  for (const char* item : items) {
    const int top = design.top + kCaption + room * i / rows;
    const int bottom = design.top + kCaption + room * (i + 1) / rows;
    // The first item starts the group of mutually exclusive buttons; the next WS_GROUP ends it.
    const DWORD style = BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP | WS_TABSTOP : 0);
    items_.push_back(CreateControl(parent, "BUTTON", item, style, 0, firstId + i,
                                   RECT{design.left + kLeft, top, design.right - kRight, bottom}, scale,
                                   font));
    ++i;
  }
}

int RadioGroup::ItemIndex() const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (SendMessageA(items_[i], BM_GETCHECK, 0, 0) == BST_CHECKED) return static_cast<int>(i);
  return -1;
}

void RadioGroup::SetItemIndex(int index) {
  index = ClampItemIndex(index, ItemCount());
  for (int i = 0; i < ItemCount(); ++i)
    SendMessageA(Item(i), BM_SETCHECK, i == index ? BST_CHECKED : BST_UNCHECKED, 0);
}

void RadioGroup::SetEnabled(bool enabled) {
  EnableWindow(box_, enabled);
  for (HWND item : items_) EnableWindow(item, enabled);
}

RECT DesktopWorkArea() {
  RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  return area;
}

RECT CentredOver(const RECT& area, SIZE outer) {
  const RECT desk = DesktopWorkArea();
  LONG left = (area.left + area.right - outer.cx) / 2;
  LONG top = (area.top + area.bottom - outer.cy) / 2;
  // Never off the work area's top-left corner, where the title bar could not be reached.
  if (left + outer.cx > desk.right) left = desk.right - outer.cx;
  if (top + outer.cy > desk.bottom) top = desk.bottom - outer.cy;
  if (left < desk.left) left = desk.left;
  if (top < desk.top) top = desk.top;
  return RECT{left, top, left + outer.cx, top + outer.cy};
}

}  // namespace brevomat::winui
