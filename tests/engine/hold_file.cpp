// Holds a file open the way a running program holds its own image: others may
// read it, nobody may move or delete it. Usage: hold_file PATH READY RELEASE,
// where READY and RELEASE name events: READY is set once the file is open,
// and the file is held until RELEASE is set.
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
    if (!ready || !release) return 4;
    SetEvent(ready);
    const DWORD kLongestHoldMs = 60000;  // never outlive a test that died
    WaitForSingleObject(release, kLongestHoldMs);
    CloseHandle(file);
    return 0;
}
