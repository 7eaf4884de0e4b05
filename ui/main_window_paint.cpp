#include <windows.h>

#include <cstring>

#include "ui/main_window.h"
#include "ui/main_window_fonts.h"
#include "ui/web_links.h"
#include "ui/window_services.h"

namespace {

constexpr COLORREF kLinkColour = RGB(0, 0, 238);

struct Label {
    const char* text;
    int x;
    int y;  // below the description when the offset applies
    bool followsDescription;
    bool onlyWithDescription;
};

const Label kLabels[] = {
    {" 套用至：", 15, 12, true, false},
    {"中文化檔說明：", 15, 4, false, true},
    {"中文化檔訊息欄：", 15, 43, true, false},
    {"連結：", 85, 347, false, false},
};

void PaintText(HDC dc, int x, int y, const char* text) {
    TextOutA(dc, x, y, text, static_cast<int>(std::strlen(text)));
}

void SelectFontIfMade(HDC dc, HFONT font) {
    if (font) SelectObject(dc, font);
}

}  // namespace

void PaintMainWindow(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    // The class has no background brush: the background is painted here.
    if (paint.fErase) {
        FillRect(dc, &paint.rcPaint, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    }
    SelectFontIfMade(dc, gFonts.label);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    SetBkMode(dc, TRANSPARENT);

    const bool withDescription = !GetControlText(gWindow.descriptionEdit).empty();
    const int offset = withDescription ? kDescriptionOffset : 0;
    for (const Label& label : kLabels) {
        if (label.onlyWithDescription && !withDescription) continue;
        PaintText(dc, label.x, label.y + (label.followsDescription ? offset : 0), label.text);
    }

    SelectFontIfMade(dc, gFonts.link);
    SetTextColor(dc, kLinkColour);
    for (const LinkArea& link : kLinks) PaintText(dc, link.textX, link.textY, link.text);
    EndPaint(window, &paint);
}
