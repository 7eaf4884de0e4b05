#include <windows.h>

#include "ui/main_window.h"
#include "ui/main_window_fonts.h"
#include "ui/window_services.h"

namespace {

constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | BS_CENTER;
// No ES_AUTOHSCROLL: typing stops at the box's width.
constexpr DWORD kPathEditStyle = WS_CHILD | WS_VISIBLE;
// Hidden until a description arrives.
constexpr DWORD kDescriptionStyle = WS_CHILD | WS_VSCROLL | ES_READONLY | ES_MULTILINE;
// No LBS_SORT and no LBS_NOTIFY: entries keep the order in which they were added.
constexpr DWORD kLogPaneStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | LBS_NOSEL;

struct ControlSpec {
    HWND* slot;
    const char* className;
    const char* text;
    DWORD style;
    DWORD extendedStyle;
    int x, y, width, height;  // 0 x 0 where the layout places the control
};

const ControlSpec kButtons[] = {
    {&gWindow.exitButton, "BUTTON", " 取消", kButtonStyle, 0, 519, 345, 65, 25},
    {&gWindow.applyButton, "BUTTON", " 套用", kButtonStyle, 0, 449, 345, 65, 25},
    {&gWindow.infoButton, "BUTTON", " 資訊", kButtonStyle, 0, 10, 345, 65, 25},
    {&gWindow.browseButton, "BUTTON", " 瀏覽", kButtonStyle, 0, 0, 0, 0, 0},
};

const ControlSpec kBoxes[] = {
    {&gWindow.pathEdit, "EDIT", "", kPathEditStyle, WS_EX_CLIENTEDGE, 0, 0, 0, 0},
    {&gWindow.descriptionEdit, "EDIT", "", kDescriptionStyle, WS_EX_CLIENTEDGE, 10, 25, 575, 125},
    {&gWindow.logPane, "LISTBOX", "", kLogPaneStyle, WS_EX_CLIENTEDGE, 0, 0, 0, 0},
};

// Every control has identifier 0; the window tells them apart by handle.
template <size_t N>
void CreateControls(HWND window, const ControlSpec (&table)[N]) {
    const HINSTANCE instance =
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
    for (const ControlSpec& entry : table) {
        *entry.slot =
            CreateWindowExA(entry.extendedStyle, entry.className, entry.text, entry.style, entry.x,
                            entry.y, entry.width, entry.height, window, 0, instance, nullptr);
    }
}

void ApplyFont(HWND control, HFONT font) {
    if (font) SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

}  // namespace

void CreateMainWindowControls(HWND window) {
    CreateLabelFonts();
    CreateControls(window, kButtons);
    ApplyFont(gWindow.browseButton, gFonts.button);
    ApplyFont(gWindow.infoButton, gFonts.button);
    ApplyFont(gWindow.applyButton, gFonts.button);
    ApplyFont(gWindow.exitButton, gFonts.button);
    CreateControls(window, kBoxes);
    CreatePaneFonts();
    ApplyFont(gWindow.logPane, gFonts.log);
    ApplyFont(gWindow.descriptionEdit, gFonts.description);
    LayoutControls(false);
}
