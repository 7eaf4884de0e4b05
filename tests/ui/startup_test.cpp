#include <gtest/gtest.h>
#include <windows.h>

#include "app/program_main.h"
#include "ui/window_services.h"

namespace {

constexpr int kFallbackQuitCode = 99;
constexpr UINT kPumpInsideHandler = WM_APP + 1;

LRESULT CALLBACK PumpingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kPumpInsideHandler) {
        // As when the window is closed while a handler pumps messages.
        PostQuitMessage(static_cast<int>(wParam));
        PumpMessages();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A loop that waits for a quit already consumed would hang: a timer that
// fires only while the loop waits turns that into a wrong exit code instead.
void CALLBACK QuitInstead(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(kFallbackQuitCode); }

// Each case's exit code: a quit in the queue, one already met during the
// first run, one met inside a handler's pump step.
TEST(MessageLoop, EndsOnAQuitWhereverItWasMet) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = PumpingWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "StartupTestWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("StartupTestWindow", "", 0, 0, 0, 10, 10, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    const UINT_PTR timer = SetTimer(nullptr, 0, 1000, QuitInstead);
    for (int code : {5, 7, 3}) {
        gWindow = WindowState();
        gWindow.quitReceived = code == 7;
        gWindow.quitCode = code == 7 ? code : 0;
        if (code == 5) PostQuitMessage(code);
        if (code == 3) PostMessageA(window, kPumpInsideHandler, code, 0);
        EXPECT_EQ(RunMessageLoop(), code);
    }
    KillTimer(nullptr, timer);
    DestroyWindow(window);
    gWindow = WindowState();
}

}  // namespace
