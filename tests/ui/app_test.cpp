#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <vector>

#include "app/program_main.h"
#include "app/small_adler32.h"
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

// The applier's stand-in against zlib's own: around the block length zlib's
// version reduces at (5552) and with sums that wrap the modulus many times.
TEST(SmallAdler32, MatchesZlib) {
    const std::tuple<uLong, size_t, unsigned char> cases[] = {
        {1, 0, 0},        {1, 1, 0x41},          {1, 5551, 0xff},
        {1, 5552, 0xff},  {1, 5553, 0xff},       {1, 100000, 0xff},
        {1, 70000, 0x01}, {0xfff0fff0, 3, 0x10}, {0x12345678, 16, 0x80},
    };
    for (const auto& [start, length, fill] : cases) {
        std::vector<unsigned char> data(length, fill);
        for (size_t i = 0; i < data.size(); i += 7) data[i] = static_cast<unsigned char>(i);
        EXPECT_EQ(SmallAdler32(start, data.data(), data.size()),
                  adler32(start, data.data(), static_cast<uInt>(data.size())))
            << length;
    }
    EXPECT_EQ(SmallAdler32(0x12345678, nullptr, 0), adler32(0x12345678, Z_NULL, 0));
}

}  // namespace
