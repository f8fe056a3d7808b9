#include "dump/Dat.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>
#include <tuple>
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

namespace brevomat {

namespace {

auto Key(std::uint64_t size, std::uint32_t crc32) { return std::make_tuple(size, crc32); }

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

// One <game> (or <machine>) or one <rom> below it, as the parser found it, in file order.
struct DatEntry {
  bool game = false;
  std::string name;             // the game's name (a <game>)
  std::string size, crc, sha1;  // the ROM's attributes (a <rom>)
  std::size_t line = 0;         // where it stands, when the parser knows the line
  std::ptrdiff_t offset = -1;   // or its byte offset in the text, turned into a line on demand
};

// The 1-based line of a byte offset, as an editor shows it. Counted only for a message, so that
// loading stays linear in the size of the file.
std::size_t LineOf(const std::string& text, std::ptrdiff_t offset) {
  const auto end =
      text.begin() + std::clamp<std::ptrdiff_t>(offset, 0, static_cast<std::ptrdiff_t>(text.size()));
  return 1 + static_cast<std::size_t>(std::count(text.begin(), end, '\n'));
}

std::size_t LineOf(const std::string& text, const DatEntry& entry) {
  return entry.offset >= 0 ? LineOf(text, entry.offset) : entry.line;
}

// How often a long loop asks whether to stop.
constexpr std::size_t kStopEvery = 4096;

// Fills `entries` with every <game> or <machine> of the one <datafile> root and their <rom>s, in
// file order. False with the reason in `error` when the text is no XML (with the line), has no
// single <datafile> root, or when `stop` asked to stop (`stopped` then).
bool ParseDat(const std::string& text, const std::string& path, std::vector<DatEntry>& entries,
              const DatFile::StopCheck& stop, bool& stopped, std::string& error);

// What one XML reader refuses and another lets through (pugixml; the XmlLite of some Windows
// versions, and Wine's), refused by both readers so that a DAT file means the same everywhere: a
// character XML does not allow (a control character other than tab, line feed and carriage return,
// as a byte or as a character reference such as "&#0;", which would also cut a name short), outside
// comments, CDATA and processing instructions for the references. The line of the first one, 0 when
// there is none.
std::size_t FirstForbiddenCharacter(const std::string& text) {
  auto forbidden = [](unsigned long c) {
    return (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || (c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE ||
           c == 0xFFFF || c > 0x10FFFF;
  };
  std::string_view rest(text);
  std::size_t line = 1;
  std::string_view closing;  // the end of the comment, CDATA or instruction we are in
  for (std::size_t i = 0; i < rest.size(); ++i) {
    const char c = rest[i];
    if (c == '\n') ++line;
    if (forbidden(static_cast<unsigned char>(c))) return line;
    if (!closing.empty()) {
      if (rest.substr(i).starts_with(closing)) {
        i += closing.size() - 1;
        closing = {};
      }
      continue;
    }
    const std::string_view here = rest.substr(i);
    if (here.starts_with("<!--")) {
      closing = "-->";
      i += 3;
    } else if (here.starts_with("<![CDATA[")) {
      closing = "]]>";
      i += 8;
    } else if (here.starts_with("<?")) {
      closing = "?>";
      i += 1;
    } else if (here.starts_with("&#")) {
      const bool hex = here.size() > 2 && here[2] == 'x';
      const std::size_t first = hex ? 3 : 2;
      const std::size_t semicolon = here.substr(0, first + 9).find(';', first);  // a few digits at most
      unsigned long value = 0;
      if (semicolon == std::string_view::npos || semicolon == first || semicolon - first > 8) continue;
      const auto [end, ec] =
          std::from_chars(here.data() + first, here.data() + semicolon, value, hex ? 16 : 10);
      if (ec == std::errc() && end == here.data() + semicolon && forbidden(value)) return line;
    }
  }
  return 0;
}

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

bool ParseDat(const std::string& text, const std::string& path, std::vector<DatEntry>& entries,
              const DatFile::StopCheck& stop, bool& stopped, std::string& error) {
  const CreateXmlReaderFunction create = XmlLiteReaderFactory();
  if (create == nullptr) {
    error = "cannot read the DAT file " + path + ": this Windows has no XmlLite (xmllite.dll)";
    return false;
  }
  if (text.size() > 0xFFFFFFFFu) {
    error = "cannot read the DAT file " + path + ": it is larger than 4 GB";
    return false;
  }
  if (const std::size_t line = FirstForbiddenCharacter(text); line != 0) {
    error = path + " is not a DAT file: a character XML does not allow at line " + std::to_string(line);
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
  // The entries count only once the whole text has proved to be XML, as a parser that reads all
  // first would: a file that breaks off later is refused as no XML, not for its first odd <rom>.
  bool datafile = false, inGame = false;
  int open = 0;  // elements started and not yet ended
  std::size_t nodes = 0;
  XmlNodeType type = XmlNodeType_None;
  HRESULT result = S_OK;
  while ((result = reader->Read(&type)) == S_OK) {
    if (++nodes % kStopEvery == 0 && stop && stop()) {
      stopped = true;
      error = "loading " + path + " was stopped";
      return false;
    }
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
        DatEntry game;
        game.game = true;
        game.line = lineNow();
        game.name = attribute(L"name");
        entries.push_back(std::move(game));
      }
    } else if (depth == 2 && inGame && element == L"rom") {
      DatEntry rom;
      rom.line = lineNow();
      rom.size = attribute(L"size");
      rom.crc = attribute(L"crc");
      rom.sha1 = attribute(L"sha1");
      entries.push_back(std::move(rom));
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
  return true;
}

#else

bool ParseDat(const std::string& text, const std::string& path, std::vector<DatEntry>& entries,
              const DatFile::StopCheck& stop, bool& stopped, std::string& error) {
  pugi::xml_document document;
  // As a fragment, so that what stands beside the root stays in the document and can be judged
  // as XmlLite judges it, instead of being dropped without a word.
  const pugi::xml_parse_result parsed =
      document.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_fragment);
  if (!parsed) {
    error = path + " is not a DAT file: " + parsed.description() + " at line " +
            std::to_string(LineOf(text, parsed.offset));
    return false;
  }
  if (const std::size_t line = FirstForbiddenCharacter(text); line != 0) {
    error = path + " is not a DAT file: a character XML does not allow at line " + std::to_string(line);
    return false;
  }
  pugi::xml_node root;
  for (const pugi::xml_node node : document.children()) {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
      error = path + " is not a DAT file: text outside the root element at line " +
              std::to_string(LineOf(text, node.offset_debug()));
      return false;
    }
    if (node.type() != pugi::node_element) continue;
    if (root) {
      error = path + " is not a DAT file: not one root element at line " +
              std::to_string(LineOf(text, node.offset_debug()));
      return false;
    }
    root = node;
  }
  if (!root || std::strcmp(root.name(), "datafile") != 0) {
    error = path + " is not a DAT file: it has no <datafile> element";
    return false;
  }
  std::size_t games = 0;
  for (const pugi::xml_node game : root.children()) {
    if (std::strcmp(game.name(), "game") != 0 && std::strcmp(game.name(), "machine") != 0) continue;
    if (++games % kStopEvery == 0 && stop && stop()) {
      stopped = true;
      error = "loading " + path + " was stopped";
      return false;
    }
    DatEntry entry;
    entry.game = true;
    entry.offset = game.offset_debug();
    entry.name = game.attribute("name").as_string();
    entries.push_back(std::move(entry));
    for (const pugi::xml_node element : game.children("rom")) {
      DatEntry rom;
      rom.offset = element.offset_debug();
      rom.size = element.attribute("size").as_string();
      rom.crc = element.attribute("crc").as_string();
      rom.sha1 = element.attribute("sha1").as_string();
      entries.push_back(std::move(rom));
    }
  }
  return true;
}

#endif

}  // namespace

bool DatFile::Load(const std::string& path, std::string& error, const StopCheck& stop) {
  games_.clear();
  roms_.clear();
  stopped_ = false;
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
    // The size it has now refuses a file too large before a byte of it is read; the count of the
    // bytes read refuses one that grows while it is read.
    const auto tooLarge = [&](std::uint64_t size) {
      error = "cannot read the DAT file " + path + ": it is " + std::to_string(size) +
              " bytes, more than a DAT file may have (" + std::to_string(kMaxDatBytes) + " bytes)";
      return false;
    };
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size > kMaxDatBytes) return tooLarge(size);
    if (!ec) text.reserve(static_cast<std::size_t>(size));
    char block[64 * 1024];
    std::size_t got = 0, blocks = 0;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) {
      if (text.size() + got > kMaxDatBytes) return tooLarge(text.size() + got);
      text.append(block, got);
      if (++blocks % 64 == 0 && stop && stop()) {
        stopped_ = true;
        error = "loading " + path + " was stopped";
        return false;
      }
    }
    if (std::ferror(file.get())) {
      error = "cannot read the DAT file " + path + ": " + std::strerror(errno != 0 ? errno : EIO);
      return false;
    }
  }
  return Parse(text, path, error, stop);
}

bool DatFile::Parse(const std::string& text, const std::string& path, std::string& error,
                    const StopCheck& stop) {
  games_.clear();
  roms_.clear();
  stopped_ = false;
  if (text.size() > kMaxDatBytes) {
    error = "cannot read the DAT file " + path + ": it is " + std::to_string(text.size()) +
            " bytes, more than a DAT file may have (" + std::to_string(kMaxDatBytes) + " bytes)";
    return false;
  }
  std::vector<DatEntry> entries;
  const bool parsed = ParseDat(text, path, entries, stop, stopped_, error);
  auto fail = [this] {
    games_.clear();
    roms_.clear();
    return false;
  };
  if (!parsed) return fail();
  bool gameHasRom = false;
  std::size_t currentGame = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i % kStopEvery == kStopEvery - 1 && stop && stop()) {
      stopped_ = true;
      error = "loading " + path + " was stopped";
      return fail();
    }
    const DatEntry& entry = entries[i];
    if (entry.game) {
      // A game without a name could only be reported as nothing.
      if (entry.name.empty()) {
        error = path + " is not a usable DAT file: the <game> at line " +
                std::to_string(LineOf(text, entry)) + " has no name";
        return fail();
      }
      gameHasRom = false;
      currentGame = i;
      continue;
    }
    Rom rom;
    const auto [sizeEnd, sizeError] =
        std::from_chars(entry.size.data(), entry.size.data() + entry.size.size(), rom.size);
    std::array<std::uint8_t, 4> crcBytes{};
    rom.hasSha1 = !entry.sha1.empty();
    if (entry.size.empty() || sizeError != std::errc() || sizeEnd != entry.size.data() + entry.size.size() ||
        !HexDigits(entry.crc, crcBytes.data(), crcBytes.size()) ||
        (rom.hasSha1 && !HexDigits(entry.sha1, rom.sha1.data(), rom.sha1.size()))) {
      error = path + " is not a usable DAT file: the <rom> at line " + std::to_string(LineOf(text, entry)) +
              " lacks a decimal size, an 8-digit hex crc or has a malformed sha1";
      return fail();
    }
    rom.crc32 = std::uint32_t{crcBytes[0]} << 24 | std::uint32_t{crcBytes[1]} << 16 |
                std::uint32_t{crcBytes[2]} << 8 | crcBytes[3];
    // The game's name is kept once it has a ROM. Every <rom> follows its <game> entry.
    if (!gameHasRom) {
      games_.push_back(entries[currentGame].name);
      gameHasRom = true;
    }
    rom.game = games_.size() - 1;
    roms_.push_back(rom);
  }
  if (roms_.empty()) {
    error = path + " is not a DAT file: it lists no <rom> of any <game>";
    return false;
  }
  // Stable: of several entries for one ROM, the one listed first stays first.
  std::stable_sort(roms_.begin(), roms_.end(),
                   [](const Rom& a, const Rom& b) { return Key(a.size, a.crc32) < Key(b.size, b.crc32); });
  return true;
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

}  // namespace brevomat
