// The applier's entry point, in place of the runtime's start-up code (with its
// unwind tables, TLS support, pseudo-relocation and argv parsing, none of
// which this program uses): it takes its command line whole from the system,
// ends through ExitProcess and holds no floating-point code; msvcrt.dll
// initialises itself when loaded.
#include <windows.h>

#include "app/program_main.h"

extern "C" void __cdecl __set_app_type(int);

namespace {
// The linker puts a -1 here, then the .ctors entries, then a 0.
extern "C" void (*__CTOR_LIST__[])();
constexpr int kGuiApplication = 2;  // _GUI_APP
}  // namespace

// The system enters with the stack aligned to 4 bytes only.
extern "C" [[noreturn]] __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
    // msvcrt reports its own fatal errors (abort) in a message box, not on a
    // console the program lacks.
    __set_app_type(kGuiApplication);
    // Static constructors, should any object file ever have one.
    for (void (**constructor)() = __CTOR_LIST__ + 1; *constructor != nullptr; ++constructor) {
        (*constructor)();
    }
    ProgramMain(GetModuleHandleA(nullptr), GetCommandLineA());
}
