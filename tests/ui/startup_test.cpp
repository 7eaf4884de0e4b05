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

TEST(MessageLoop, EndsOnAQuitWhereverItWasMet) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = PumpingWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "StartupTestWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("StartupTestWindow", "", 0, 0, 0, 10, 10, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);

    struct Case {
        const char* name;
        bool quitAlreadyMet;
        bool postQuit;
        bool pumpInHandler;
        int expected;
    };
    const Case cases[] = {
        {"quit in the queue", false, true, false, 5},
        {"quit met during the first run", true, false, false, 7},
        {"quit met inside a handler's pump step", false, false, true, 3},
    };
    const UINT_PTR timer = SetTimer(nullptr, 0, 1000, QuitInstead);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gWindow = WindowState();
        gWindow.quitReceived = c.quitAlreadyMet;
        gWindow.quitCode = c.quitAlreadyMet ? c.expected : 0;
        if (c.postQuit) PostQuitMessage(c.expected);
        if (c.pumpInHandler) PostMessageA(window, kPumpInsideHandler, c.expected, 0);
        EXPECT_EQ(RunMessageLoop(), c.expected);
    }
    KillTimer(nullptr, timer);
    DestroyWindow(window);
    gWindow = WindowState();
}

}  // namespace
