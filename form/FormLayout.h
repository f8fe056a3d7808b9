// The main window Form1 and its two dialogs Form2 and Form3 as data: every control's name, kind,
// caption, hint, items, design rectangle and the group that says how it takes part in the
// window's states; and the four file dialogs with their filters. Both windows build themselves
// from these tables, so a control is described once.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "commands/Captions.h"

namespace brevomat {

enum class ControlKind { Button, RadioGroup, Memo, Label, ProgressBar };

// How a control takes part in the idle and running states.
enum class ControlGroup {
  Command,  // enabled while idle, disabled while an operation runs
  Hidden,   // as Command, and hidden once the set-up has run (buttons that do nothing)
  Stop,     // enabled only while an operation runs
  Display,  // never locked: the labels and the progress bar
};

// Left, top, width and height in design pixels (96 per inch); a label's size is its text's.
struct DesignRect {
  int left, top, width, height;
};

struct ControlEntry {
  const char* name;
  ControlKind kind;
  const char* caption;
  const char* hint;                    // "" when the control has none
  std::span<const char* const> items;  // a radio group's items, in order
  int initialItem;                     // the item a radio group has at design, -1 none
  DesignRect design;
  ControlGroup group;
};

struct FormEntry {
  const char* name;     // "Form1", "Form2", "Form3"
  const char* caption;  // the title bar's text
  int width, height;    // outer design size, frame included
  std::span<const ControlEntry> controls;
};

namespace layout {
using K = ControlKind;
using G = ControlGroup;
inline constexpr std::span<const char* const> kNoItems{};

inline constexpr ControlEntry kForm1Controls[] = {
    {"Port_sel", K::RadioGroup, "Printer Port No.", "", kPortItems, 0, {10, 7, 91, 106}, G::Command},
    {"RadioSpeed", K::RadioGroup, "Speed", "", kSpeedItems, 0, {107, 7, 47, 106}, G::Command},
    {"Write", K::Button, "Write Flash", "Write To Cart", kNoItems, -1, {163, 8, 74, 26}, G::Command},
    {"WriteMulti",
     K::Button,
     "Write Multi",
     "Write Multi-files to Cart",
     kNoItems,
     -1,
     {244, 8, 75, 26},
     G::Command},
    {"SetPreBoot",
     K::Button,
     "Set Pre Boot",
     "Set Multi-Boot File",
     kNoItems,
     -1,
     {325, 8, 75, 26},
     G::Command},
    {"SWrite",
     K::Button,
     "Write Saver",
     "Write Saver Data to Cart",
     kNoItems,
     -1,
     {163, 41, 75, 26},
     G::Command},
    {"SRead",
     K::Button,
     "Backup Saver",
     "Read Saver Data to File",
     kNoItems,
     -1,
     {244, 41, 75, 26},
     G::Command},
    {"Read", K::Button, "Backup Game", "Read Cart to File", kNoItems, -1, {325, 41, 75, 26}, G::Command},
    {"RadioIps", K::RadioGroup, "IPS Apply", "", kIpsItems, 0, {168, 72, 65, 53}, G::Command},
    {"Stop", K::Button, "Stop", "", kNoItems, -1, {244, 89, 75, 26}, G::Stop},
    {"Exit", K::Button, "Exit", "", kNoItems, -1, {325, 89, 75, 26}, G::Command},
    {"MemoClear", K::Button, "Clear", "", kNoItems, -1, {20, 115, 60, 13}, G::Command},
    {"Memo1", K::Memo, "", "", kNoItems, -1, {16, 128, 377, 185}, G::Command},
    {"EraseFlash", K::Button, "EraseFlash", "", kNoItems, -1, {16, 321, 59, 26}, G::Command},
    {"WT", K::Button, "&WT", "Write Test", kNoItems, -1, {172, 321, 39, 26}, G::Hidden},
    {"VT", K::Button, "&VT", "Verify Test", kNoItems, -1, {213, 321, 39, 26}, G::Hidden},
    {"Verify",
     K::Button,
     "Verify Game",
     "Verify Cart with File",
     kNoItems,
     -1,
     {260, 321, 69, 26},
     G::Hidden},
    {"SVerify",
     K::Button,
     "Verify Saver",
     "Verify Saver Data with File",
     kNoItems,
     -1,
     {333, 321, 68, 26},
     G::Hidden},
    {"Status", K::Label, "Status", "", kNoItems, -1, {16, 352, 0, 0}, G::Display},
    {"Time", K::Label, "Time", "", kNoItems, -1, {360, 352, 0, 0}, G::Display},
    {"ProgressBar1", K::ProgressBar, "", "", kNoItems, -1, {16, 368, 337, 18}, G::Display},
};

inline constexpr ControlEntry kForm2Controls[] = {
    {"SelectCartSize",
     K::RadioGroup,
     "SelectCartSize",
     "",
     kCartSizeNames,
     -1,
     {16, 16, 161, 137},
     G::Command},
    {"OK", K::Button, "OK", "", kNoItems, -1, {16, 184, 75, 25}, G::Command},
    {"CANCEL", K::Button, "CANCEL", "", kNoItems, -1, {104, 184, 75, 25}, G::Command},
};

inline constexpr ControlEntry kForm3Controls[] = {
    {"RadioBankSel", K::RadioGroup, "Bank Select", "", kSaveBankItems, 0, {16, 16, 97, 105}, G::Command},
    {"RadioSizeSel", K::RadioGroup, "Size Select", "", kSaveSizeItems, 0, {128, 16, 89, 105}, G::Command},
    {"OK", K::Button, "OK", "", kNoItems, -1, {32, 136, 75, 25}, G::Command},
    {"CANCEL", K::Button, "CANCEL", "", kNoItems, -1, {136, 136, 75, 25}, G::Command},
};
}  // namespace layout

inline constexpr FormEntry kForm1{"Form1", kProgramTitle, 418, 418, layout::kForm1Controls};
inline constexpr FormEntry kForm2{"Form2", "Select Cart size", 203, 258, layout::kForm2Controls};
inline constexpr FormEntry kForm3{"Form3", "Bank and Size Select", 241, 204, layout::kForm3Controls};

// The control of `form` named `name`; nullptr for a name the form does not have.
const ControlEntry* FindControl(const FormEntry& form, std::string_view name);
// The control named `name`, which the form is known to have.
const ControlEntry& ControlOf(const FormEntry& form, std::string_view name);

// One of the four file dialogs. The filter is written as the system writes it: pairs of a name
// and its patterns, all separated by "|", the patterns of one name separated by ";".
struct FileDialogEntry {
  const char* name;  // "OpenDialog1", "SaveDialog1", "OpenDialog2", "OpenDialog3"
  bool save;         // a save dialog (else open)
  const char* filter;
};

inline constexpr char kGameFilter[] =
    "GBA Files (*.gba;*.bin;*.dat;*.sav)|*.gba;*.bin;*.dat;*.sav|All Files (*.*)|*.*";
inline constexpr char kPreBootFilter[] =
    "GBA Files (*.gba;*.bin;*.dat)|*.gba;*.bin;*.dat|All Files (*.*)|*.*";
inline constexpr char kIpsFilter[] = "IPS File(*.ips)|*.ips|all files(*.*)|*.*";

inline constexpr FileDialogEntry kOpenDialog1{"OpenDialog1", false, kGameFilter};
inline constexpr FileDialogEntry kSaveDialog1{"SaveDialog1", true, kGameFilter};
inline constexpr FileDialogEntry kOpenDialog2{"OpenDialog2", false, kPreBootFilter};
inline constexpr FileDialogEntry kOpenDialog3{"OpenDialog3", false, kIpsFilter};

// One line of a filter's list: the name the dialog shows and the patterns it matches.
struct FilterEntry {
  std::string name;
  std::vector<std::string> patterns;
  friend bool operator==(const FilterEntry&, const FilterEntry&) = default;
};
std::vector<FilterEntry> FilterEntries(std::string_view filter);

}  // namespace brevomat
