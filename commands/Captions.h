// The texts every front end shows alike: the program's title, and the items of the window's radio
// groups in item order. An item's index is what the settings file stores and what the commands
// read; the command line takes the same captions as its words (--speed 4, --size 64K), so a
// caption is written here once.
#pragma once

#include "cart/ReadOut.h"

namespace brevomat {

// The title bar of the main window, the caption of the program's error boxes, and the first line
// of brevomat-cli --version.
inline constexpr char kProgramTitle[] = "Tarvex Brevomat 1.2nt";

// Form1's "Printer Port No." group.
inline constexpr const char* kPortItems[] = {"LPT1(0x378)", "LPT2(0x278)", "LPT3(0x3bc)"};
// Form1's "Speed" group: "4" is the fastest link, "1" the slowest.
inline constexpr const char* kSpeedItems[] = {"4", "3", "2", "1"};
// Form1's "IPS Apply" group.
inline constexpr const char* kIpsItems[] = {"OFF", "ON"};
// Form2's "SelectCartSize" group: kCartSizeNames (cart/ReadOut.h), which the read-out logs too.
// Form3's "Bank Select" and "Size Select" groups.
inline constexpr const char* kSaveBankItems[] = {"Bank 1", "Bank 2", "Bank 3", "Bank 4"};
inline constexpr const char* kSaveSizeItems[] = {"32K", "64K", "128K", "256K"};

}  // namespace brevomat
