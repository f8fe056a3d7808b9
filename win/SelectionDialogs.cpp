#include "win/SelectionDialogs.h"

#include "commands/SelectionResults.h"

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

ModalForm::ModalForm(HWND owner, const char* className, const char* caption, SIZE designOuter,
                     const Scale& scale, HFONT font)
    : owner_(owner), outer_{scale(designOuter.cx), scale(designOuter.cy)}, scale_(scale), font_(font) {
  RegisterFormClass(className, &ModalForm::Procedure);
  window_ = CreateWindowExA(WS_EX_DLGMODALFRAME, className, caption, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                            CW_USEDEFAULT, CW_USEDEFAULT, outer_.cx, outer_.cy, owner, nullptr,
                            GetModuleHandleA(nullptr), this);
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
        if (HIWORD(wParam) == BN_CLICKED) form->Command(LOWORD(wParam));
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

TForm2::TForm2(HWND owner, const Scale& scale, HFONT font)
    : ModalForm(owner, "TForm2", "Select Cart size", SIZE{203, 258}, scale, font) {
  SelectCartSize.Create(window_, kSelectCartSizeBox, kSelectCartSizeItems, "SelectCartSize",
                        {"8M", "16M", "32M", "64M", "128M", "256M"}, RECT{16, 16, 16 + 161, 16 + 137}, scale,
                        font);
  SelectCartSize.SetItemIndex(-1);
  CreateButton(window_, kOK, "OK", 16, 184, 75, 25, scale, font);
  CreateButton(window_, kCANCEL, "CANCEL", 104, 184, 75, 25, scale, font);
}

void TForm2::Command(int id) {
  if (id == kOK) OKClick();
  if (id == kCANCEL) CANCELClick();
}

void TForm2::OKClick() {
  if (result_ != nullptr) *result_ = CartSizeChunksForItem(SelectCartSize.ItemIndex());
  Close();
}

void TForm2::CANCELClick() {
  if (result_ != nullptr) *result_ = 0;
  Close();
}

TForm3::TForm3(HWND owner, const Scale& scale, HFONT font)
    : ModalForm(owner, "TForm3", "Bank and Size Select", SIZE{241, 204}, scale, font) {
  RadioBankSel.Create(window_, kRadioBankSelBox, kRadioBankSelItems, "Bank Select",
                      {"Bank 1", "Bank 2", "Bank 3", "Bank 4"}, RECT{16, 16, 16 + 97, 16 + 105}, scale, font);
  RadioBankSel.SetItemIndex(0);
  RadioSizeSel.Create(window_, kRadioSizeSelBox, kRadioSizeSelItems, "Size Select",
                      {"32K", "64K", "128K", "256K"}, RECT{128, 16, 128 + 89, 16 + 105}, scale, font);
  RadioSizeSel.SetItemIndex(0);
  CreateButton(window_, kOK, "OK", 32, 136, 75, 25, scale, font);
  CreateButton(window_, kCANCEL, "CANCEL", 136, 136, 75, 25, scale, font);
}

void TForm3::Command(int id) {
  if (id == kOK) OKClick();
  if (id == kCANCEL) CANCELClick();
}

void TForm3::OKClick() {
  if (bank_ != nullptr) *bank_ = static_cast<std::uint8_t>(RadioBankSel.ItemIndex());
  if (size_ != nullptr) *size_ = static_cast<std::uint8_t>(RadioSizeSel.ItemIndex());
  Close();
}

void TForm3::CANCELClick() {
  if (bank_ != nullptr) *bank_ = 255;
  if (size_ != nullptr) *size_ = 255;
  Close();
}

}  // namespace brevomat::winui
