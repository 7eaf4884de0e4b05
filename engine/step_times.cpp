#include "engine/step_times.h"

#ifdef SELFPATCH_PASS_TIMES
StepTimer::StepTimer(const char* name) : name_(name) { QueryPerformanceCounter(&start_); }

StepTimer::~StepTimer() {
    LARGE_INTEGER end, frequency;
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    const DWORD micros =
        static_cast<DWORD>((end.QuadPart - start_.QuadPart) * 1000000 / frequency.QuadPart);
    char line[96];
    const int length = wsprintfA(line, "step %s %lu\n", name_, micros);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
}
#endif
