// The applier's entry point.
#include <windows.h>

#include "app/program_main.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ProgramMain(GetModuleHandleA(nullptr), GetCommandLineA());
}
