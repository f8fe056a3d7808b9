#include "cli/Dat.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <tuple>

#ifdef BREVOMAT_DAT
#include <charconv>
#include <cstdio>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "base/FileAccess.h"
#ifdef _WIN32
// clang-format off: windows.h first
#include <windows.h>
// clang-format on
#include <objidl.h>
#include <xmllite.h>
#else
#include <pugixml.hpp>
#endif
#endif

namespace brevomat::cli {

namespace {

auto Key(std::uint64_t size, std::uint32_t crc32) { return std::make_tuple(size, crc32); }

#ifdef BREVOMAT_DAT

bool HexDigits(std::string_view text, std::uint8_t* out, std::size_t bytes) {
  if (text.size() != 2 * bytes) return false;
  for (std::size_t i = 0; i < bytes; ++i) {
    unsigned value = 0;
    const char* first = text.data() + 2 * i;
    const auto [end, ec] = std::from_chars(first, first + 2, value, 16);
    if (ec != std::errc() || end != first + 2) return false;
    out[i] = static_cast<std::uint8_t>(value);
  }
  return true;
}

// One <rom> as the parser found it, below the <game> (or <machine>) numbered `game` in the file.
struct RomElement {
  std::size_t game = 0;
  std::string gameName, size, crc, sha1;
  std::size_t line = 0;
};

// Hands every <rom> of every <game> or <machine> of the <datafile> to `onRom`, in file order.
// False with the reason in `error` when the text is no XML or has no <datafile>, or when `onRom`
// returned false (it has set `error` then).
template <typename OnRom>
bool ParseDat(const std::string& text, const std::string& path, OnRom&& onRom, std::string& error);

#if defined(_WIN32)

// Windows reads XML with its own XmlLite (xmllite.dll, in every Windows since Vista and in XP
// SP3). Its import library is not part of the cross-compiler, so the one function it needs is
// looked up at run time, from the system folder only.
using CreateXmlReaderFunction = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

CreateXmlReaderFunction XmlLiteReaderFactory() {
  static const CreateXmlReaderFunction factory = []() -> CreateXmlReaderFunction {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH - 16) return nullptr;
    const HMODULE library = LoadLibraryW((std::wstring(folder, length) + L"\\xmllite.dll").c_str());
    if (library == nullptr) return nullptr;
    return reinterpret_cast<CreateXmlReaderFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "CreateXmlReader")));
  }();
  return factory;
}

// A read-only memory stream over the DAT's text, from shlwapi. Windows before Vista exports the
// function by number only (12, as every later Windows still does), so it is looked up by that.
// shlwapi.dll is one of the system's known DLLs, which are loaded from the system folder only.
using CreateMemStreamFunction = IStream*(WINAPI*)(const BYTE*, UINT);

CreateMemStreamFunction MemStreamFactory() {
  static const CreateMemStreamFunction factory = []() -> CreateMemStreamFunction {
    const HMODULE library = LoadLibraryW(L"shlwapi.dll");
    if (library == nullptr) return nullptr;
    return reinterpret_cast<CreateMemStreamFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(12))));
  }();
  return factory;
}

template <typename T>
struct ComReleaser {
  void operator()(T* object) const { object->Release(); }
};

std::string Utf8(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
  out.pop_back();  // the terminator
  return out;
}

std::string XmlLiteError(HRESULT result) {
  switch (static_cast<unsigned long>(result)) {
    case 0xc00cee3bUL:  // WC_E_ELEMENTMATCH
      return "an end tag does not match its start tag";
    case 0xc00cee2dUL:  // WC_E_SYNTAX
      return "syntax error";
    case 0xc00cee3aUL:  // WC_E_ROOTELEMENT
      return "not one root element";
    default:
      break;
  }
  char text[48];
  std::snprintf(text, sizeof text, "XML error 0x%08lx", static_cast<unsigned long>(result));
  return text;
}

template <typename OnRom>
bool ParseDat(const std::string& text, const std::string& path, OnRom&& onRom, std::string& error) {
  const CreateXmlReaderFunction create = XmlLiteReaderFactory();
  if (create == nullptr) {
    error = "cannot read the DAT file " + path + ": this Windows has no XmlLite (xmllite.dll)";
    return false;
  }
  if (text.size() > 0xFFFFFFFFu) {
    error = "cannot read the DAT file " + path + ": it is larger than 4 GB";
    return false;
  }
  const CreateMemStreamFunction createStream = MemStreamFactory();
  std::unique_ptr<IStream, ComReleaser<IStream>> stream(
      createStream == nullptr
          ? nullptr
          : createStream(reinterpret_cast<const BYTE*>(text.data()), static_cast<UINT>(text.size())));
  IXmlReader* rawReader = nullptr;
  if (!stream || FAILED(create(__uuidof(IXmlReader), reinterpret_cast<void**>(&rawReader), nullptr))) {
    error = "cannot read the DAT file " + path + ": the system's XML reader could not be started";
    return false;
  }
  const std::unique_ptr<IXmlReader, ComReleaser<IXmlReader>> reader(rawReader);
  // No-Intro's DATs begin with a DOCTYPE; XmlLite refuses one unless told to parse it. It never
  // fetches the external DTD (no resolver is set).
  reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Parse);
  reader->SetInput(stream.get());

  auto lineNow = [&reader] {
    UINT line = 0;
    reader->GetLineNumber(&line);
    return static_cast<std::size_t>(line);
  };
  auto attribute = [&reader](const wchar_t* name) {
    std::string value;
    if (reader->MoveToAttributeByName(name, nullptr) == S_OK) {
      const wchar_t* text = nullptr;
      if (SUCCEEDED(reader->GetValue(&text, nullptr))) value = Utf8(text);
    }
    reader->MoveToElement();
    return value;
  };
  // Handed over only once the whole text has proved to be XML, as a parser that reads all first
  // would: a file that breaks off later is refused as no XML, not for its first odd <rom>.
  std::vector<RomElement> roms;
  bool datafile = false, inGame = false;
  std::size_t games = 0;
  int open = 0;  // elements started and not yet ended
  std::string gameName;
  XmlNodeType type = XmlNodeType_None;
  HRESULT result = S_OK;
  while ((result = reader->Read(&type)) == S_OK) {
    if (type == XmlNodeType_EndElement) {
      --open;
      continue;
    }
    if (type != XmlNodeType_Element) continue;
    const wchar_t* name = nullptr;
    reader->GetLocalName(&name, nullptr);
    const std::wstring_view element = name != nullptr ? name : L"";
    const int depth = open;
    if (!reader->IsEmptyElement()) ++open;
    if (depth == 0) {
      datafile = element == L"datafile";
    } else if (depth == 1 && datafile) {
      inGame = element == L"game" || element == L"machine";
      if (inGame) {
        ++games;
        gameName = attribute(L"name");
      }
    } else if (depth == 2 && inGame && element == L"rom") {
      RomElement rom;
      rom.game = games;
      rom.gameName = gameName;
      rom.line = lineNow();
      rom.size = attribute(L"size");
      rom.crc = attribute(L"crc");
      rom.sha1 = attribute(L"sha1");
      roms.push_back(std::move(rom));
    }
  }
  if (FAILED(result) || open != 0) {
    error = path + " is not a DAT file: " +
            (FAILED(result) ? XmlLiteError(result) : std::string("it ends inside an element")) + " at line " +
            std::to_string(lineNow());
    return false;
  }
  if (!datafile) {
    error = path + " is not a DAT file: it has no <datafile> element";
    return false;
  }
  for (const RomElement& rom : roms)
    if (!onRom(rom)) return false;
  return true;
}

#else

// The 1-based line of a byte offset, as an editor shows it.
std::size_t LineOf(const std::string& text, std::ptrdiff_t offset) {
  const auto end =
      text.begin() + std::clamp<std::ptrdiff_t>(offset, 0, static_cast<std::ptrdiff_t>(text.size()));
  return 1 + static_cast<std::size_t>(std::count(text.begin(), end, '\n'));
}

template <typename OnRom>
bool ParseDat(const std::string& text, const std::string& path, OnRom&& onRom, std::string& error) {
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size());
  if (!parsed) {
    error = path + " is not a DAT file: " + parsed.description() + " at line " +
            std::to_string(LineOf(text, parsed.offset));
    return false;
  }
  const pugi::xml_node root = document.child("datafile");
  if (!root) {
    error = path + " is not a DAT file: it has no <datafile> element";
    return false;
  }
  std::size_t games = 0;
  for (const pugi::xml_node game : root.children()) {
    if (std::strcmp(game.name(), "game") != 0 && std::strcmp(game.name(), "machine") != 0) continue;
    ++games;
    for (const pugi::xml_node element : game.children("rom")) {
      RomElement rom;
      rom.game = games;
      rom.gameName = game.attribute("name").as_string();
      rom.line = LineOf(text, element.offset_debug());
      rom.size = element.attribute("size").as_string();
      rom.crc = element.attribute("crc").as_string();
      rom.sha1 = element.attribute("sha1").as_string();
      if (!onRom(rom)) return false;
    }
  }
  return true;
}

#endif
#endif  // BREVOMAT_DAT

}  // namespace

bool DatFile::Load(const std::string& path, std::string& error) {
  games_.clear();
  roms_.clear();
#ifndef BREVOMAT_DAT
  error = "cannot read the DAT file " + path + ": DAT files are not available in this build";
  return false;
#else
  // Read whole and parsed from memory, so that the parser's offset can be turned into a line.
  std::string text;
  {
    errno = 0;
    const UniqueFile file(OpenRegularFile(path.c_str()));
    if (!file) {
      error = "cannot read the DAT file " + path + ": " +
              (errno == EINVAL ? std::string("not a regular file") : std::strerror(errno));
      return false;
    }
    char block[64 * 1024];
    std::size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) text.append(block, got);
    if (std::ferror(file.get())) {
      error = "cannot read the DAT file " + path + ": " + std::strerror(errno != 0 ? errno : EIO);
      return false;
    }
  }
  std::size_t lastGame = 0;  // the game's name is kept once it has a ROM
  const auto addRom = [&](const RomElement& rom) {
    Rom entry;
    const auto [sizeEnd, sizeError] =
        std::from_chars(rom.size.data(), rom.size.data() + rom.size.size(), entry.size);
    std::array<std::uint8_t, 4> crcBytes{};
    entry.hasSha1 = !rom.sha1.empty();
    if (rom.size.empty() || sizeError != std::errc() || sizeEnd != rom.size.data() + rom.size.size() ||
        !HexDigits(rom.crc, crcBytes.data(), crcBytes.size()) ||
        (entry.hasSha1 && !HexDigits(rom.sha1, entry.sha1.data(), entry.sha1.size()))) {
      error = path + " is not a usable DAT file: the <rom> at line " + std::to_string(rom.line) +
              " lacks a decimal size, an 8-digit hex crc or has a malformed sha1";
      return false;
    }
    entry.crc32 = std::uint32_t{crcBytes[0]} << 24 | std::uint32_t{crcBytes[1]} << 16 |
                  std::uint32_t{crcBytes[2]} << 8 | crcBytes[3];
    if (rom.game != lastGame) {
      games_.push_back(rom.gameName);
      lastGame = rom.game;
    }
    entry.game = games_.size() - 1;
    roms_.push_back(entry);
    return true;
  };
  if (!ParseDat(text, path, addRom, error)) {
    games_.clear();
    roms_.clear();
    return false;
  }
  if (roms_.empty()) {
    error = path + " is not a DAT file: it lists no <rom> of any <game>";
    return false;
  }
  std::sort(roms_.begin(), roms_.end(),
            [](const Rom& a, const Rom& b) { return Key(a.size, a.crc32) < Key(b.size, b.crc32); });
  return true;
#endif
}

const std::string* DatFile::Find(const Digests& digests) const {
  struct ByKey {
    bool operator()(const Rom& rom, const std::tuple<std::uint64_t, std::uint32_t>& key) const {
      return Key(rom.size, rom.crc32) < key;
    }
    bool operator()(const std::tuple<std::uint64_t, std::uint32_t>& key, const Rom& rom) const {
      return key < Key(rom.size, rom.crc32);
    }
  };
  const auto [first, last] =
      std::equal_range(roms_.begin(), roms_.end(), Key(digests.size, digests.crc32), ByKey{});
  for (auto rom = first; rom != last; ++rom)
    if (!rom->hasSha1 || rom->sha1 == digests.sha1) return &games_[rom->game];
  return nullptr;
}

}  // namespace brevomat::cli
