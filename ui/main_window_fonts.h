// The window's fonts, made once and kept for the life of the process. A font
// that cannot be made stays null and is simply not applied.
#pragma once
#include <windows.h>

struct MainWindowFonts {
    HFONT label = 0;
    HFONT link = 0;
    HFONT button = 0;
    HFONT log = 0;
    HFONT description = 0;
};

extern MainWindowFonts gFonts;

void CreateLabelFonts();  // label, link and button fonts
void CreatePaneFonts();   // log and description fonts
