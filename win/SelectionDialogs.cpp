#include "win/SelectionDialogs.h"

#include <string_view>

namespace brevomat::winui {

namespace {

void RegisterFormClass(const char* className, WNDPROC procedure) {
  WNDCLASSEXA existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExA(GetModuleHandleA(nullptr), className, &existing)) return;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = procedure;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = className;
  RegisterClassExA(&wc);
}

}  // namespace

ModalForm::ModalForm(HWND owner, const char* className, const FormEntry& form, const Scale& scale, HFONT font)
    : owner_(owner), outer_{scale(form.width), scale(form.height)}, scale_(scale), font_(font) {
  RegisterFormClass(className, &ModalForm::Procedure);
  window_ = CreateWindowExA(WS_EX_DLGMODALFRAME, className, form.caption, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                            CW_USEDEFAULT, CW_USEDEFAULT, outer_.cx, outer_.cy, owner, nullptr,
                            GetModuleHandleA(nullptr), this);
}

void ModalForm::BuildControls(const FormEntry& form, std::span<RadioGroup* const> groups) {
  // Group k has its box at 100 + 20k and its items from 110 + 20k; OK is 201, CANCEL 202 (not
  // IDOK and IDCANCEL, which Enter and Esc send).
  std::size_t group = 0;
  for (const ControlEntry& c : form.controls) {
    const DesignRect& d = c.design;
    if (c.kind == ControlKind::RadioGroup) {
      const int box = 100 + 20 * static_cast<int>(group);
      RadioGroup& radio = *groups[group++];
      groups_.push_back(&radio);
      radio.Create(window_, box, box + 10, c.caption, c.items,
                   RECT{d.left, d.top, d.left + d.width, d.top + d.height}, scale_, font_);
      radio.SetItemIndex(c.initialItem);
    } else {
      CreateButton(window_, std::string_view(c.name) == "OK" ? kOK : kCANCEL, c.caption, d.left, d.top,
                   d.width, d.height, scale_, font_);
    }
  }
}

ModalForm::~ModalForm() {
  if (window_ != nullptr) DestroyWindow(window_);
}

LRESULT CALLBACK ModalForm::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<ModalForm*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (form != nullptr) {
    switch (message) {
      case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kOK) form->OKClick();
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kCANCEL) form->CANCELClick();
        return 0;
      case WM_CLOSE:
        // The close box closes the dialog without running either button's handler.
        form->Close();
        return 0;
      case WM_NCDESTROY:
        form->window_ = nullptr;
        break;
      default:
        break;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void ModalForm::RunModal() {
  RECT ownerRect;
  if (owner_ == nullptr || !GetWindowRect(owner_, &ownerRect)) ownerRect = DesktopWorkArea();
  const RECT place = CentredOver(ownerRect, outer_);
  SetWindowPos(window_, HWND_TOP, place.left, place.top, outer_.cx, outer_.cy, SWP_NOACTIVATE);
  showing_ = true;
  if (owner_ != nullptr) EnableWindow(owner_, FALSE);
  ShowWindow(window_, SW_SHOW);
  MSG msg;
  bool quit = false;
  while (showing_) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got <= 0) {
      quit = got == 0;
      break;
    }
    if (IsDialogMessageA(window_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  showing_ = false;
  // The owner first, so that Windows hands the activation back to it and not to another program.
  if (owner_ != nullptr) EnableWindow(owner_, TRUE);
  ShowWindow(window_, SW_HIDE);
  if (owner_ != nullptr) SetActiveWindow(owner_);
  // The loop that runs the program must see the end of the program too.
  if (quit) PostQuitMessage(static_cast<int>(msg.wParam));
}

void ModalForm::OKClick() {
  answer_.button = DialogAnswer::Button::OK;
  for (std::size_t i = 0; i < groups_.size() && i < answer_.items.size(); ++i)
    answer_.items[i] = groups_[i]->ItemIndex();
  Close();
}

void ModalForm::CANCELClick() {
  answer_.button = DialogAnswer::Button::CANCEL;
  Close();
}

TForm2::TForm2(HWND owner, const Scale& scale, HFONT font) : ModalForm(owner, "TForm2", kForm2, scale, font) {
  RadioGroup* const groups[] = {&SelectCartSize};
  BuildControls(kForm2, groups);
}

TForm3::TForm3(HWND owner, const Scale& scale, HFONT font) : ModalForm(owner, "TForm3", kForm3, scale, font) {
  RadioGroup* const groups[] = {&RadioBankSel, &RadioSizeSel};
  BuildControls(kForm3, groups);
}

}  // namespace brevomat::winui
