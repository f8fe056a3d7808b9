// Saves a picture of brevomat-virtual.exe's window as a user sees it, frame and title bar
// included: the window on a fresh virtual cart in a temporary folder, after Write Flash has
// written a 64 KB game. Run it under Wine on an X display; the picture is the screen under the
// window's frame, written as a PNG file. Fails unless the write ended "Write Cart ok" and the
// window was drawn on the screen.
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sim/CartDirectory.h"
#include "support/TestImages.h"
#include "win/Application.h"
#include "win/MainWindow.h"

namespace {

// The user picks the game in the file dialog and answers Yes.
class PickGame final : public brevomat::winui::DialogProvider {
 public:
  explicit PickGame(std::string game) : game_(std::move(game)) {}
  bool AskYesNo(HWND, const std::string&, const std::string&) override { return true; }
  std::vector<std::string> RunFileDialog(HWND, const brevomat::FileDialogEntry&, bool,
                                         const std::string&) override {
    return {game_};
  }

 private:
  std::string game_;
};

// Lets the window system catch up: messages for `ms` milliseconds.
void Settle(brevomat::winui::TForm1& form, DWORD ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    form.presenter().ProcessMessages();
    Sleep(10);
  }
}

void PutBig32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

void Chunk(std::vector<unsigned char>& png, const char* type, const std::vector<unsigned char>& data) {
  PutBig32(png, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  PutBig32(png,
           static_cast<std::uint32_t>(crc32(0, png.data() + start, static_cast<uInt>(png.size() - start))));
}

// An RGB picture as PNG: top-down rows of blue, green, red, unused bytes in.
bool SavePng(const std::string& path, const std::vector<unsigned char>& bgrx, int width, int height) {
  std::vector<unsigned char> raw;
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < width; ++x) {
      const unsigned char* p = &bgrx[(static_cast<std::size_t>(y) * width + x) * 4];
      raw.insert(raw.end(), {p[2], p[1], p[0]});
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<unsigned char> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
    return false;
  packed.resize(packedSize);
  std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<unsigned char> header;
  PutBig32(header, static_cast<std::uint32_t>(width));
  PutBig32(header, static_cast<std::uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", packed);
  Chunk(png, "IEND", {});
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
  return std::fclose(file) == 0 && written;
}

// The screen under `r`, top-down.
std::vector<unsigned char> Grab(const RECT& r) {
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  std::vector<unsigned char> pixels(
      static_cast<const unsigned char*>(bits),
      static_cast<const unsigned char*>(bits) + std::size_t(width) * height * 4);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// Whether the window is on the screen: a window drawn there is mostly the face colour of its
// dialog controls. Where Wine has no display driver to draw with (its null driver), windows
// exist but the screen stays black.
bool ShowsTheWindow(const std::vector<unsigned char>& bgrx) {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  std::size_t faced = 0;
  for (std::size_t i = 0; i + 3 < bgrx.size(); i += 4)
    if (RGB(bgrx[i + 2], bgrx[i + 1], bgrx[i]) == face) ++faced;
  return faced * 4 >= bgrx.size() / 4;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: win_screenshot OUTPUT.png\n");
    return 2;
  }
  const std::string output = std::filesystem::absolute(argv[1]).string();
  brevomat::winui::InitialiseApplication();
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("brevomat-demo-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  std::string error;
  auto cart = brevomat::sim::VirtualCart::Open(dir / "virtual-cart", error);
  if (!cart) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const std::string game = (dir / "game.gba").string();
  brevomat::testing::WriteBytes(game, brevomat::testing::MakeImage(0x10000));

  PickGame dialogs(game);
  std::string status;
  RECT frame{};
  bool saved = false, shown = false;
  {
    brevomat::winui::TForm1 form(std::make_unique<brevomat::FixedPortDriver>(cart->Port()), &dialogs);
    form.Quit = [](int) {};
    form.Show();
    Settle(form, 1000);
    SendMessageA(form.Control("Write"), BM_CLICK, 0, 0);
    Settle(form, 500);
    status = brevomat::winui::WindowText(form.Control("Status"));
    GetWindowRect(form.Handle(), &frame);
    std::printf("window frame %ldx%ld+%ld+%ld, status \"%s\"\n", frame.right - frame.left,
                frame.bottom - frame.top, frame.left, frame.top, status.c_str());
    const std::vector<unsigned char> picture = Grab(frame);
    shown = ShowsTheWindow(picture);
    saved = SavePng(output, picture, frame.right - frame.left, frame.bottom - frame.top);
  }
  cart->Close(error);
  // Its files stay open until it is gone, and Windows removes no open file.
  cart.reset();
  std::filesystem::current_path(dir.parent_path());
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  if (!saved) std::fprintf(stderr, "could not save %s\n", output.c_str());
  if (!shown) std::fprintf(stderr, "the window was not drawn on the screen (no display driver?)\n");
  return saved && shown && status == "Write Cart ok" ? 0 : 1;
}
