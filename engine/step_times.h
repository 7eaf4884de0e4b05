// Durations of a run's steps, written to standard error as "step NAME
// MICROSECONDS" lines by builds configured with SELFPATCH_PASS_TIMES
// (bench/many-files.sh makes one); every other build compiles them away.
#pragma once

#ifdef SELFPATCH_PASS_TIMES
#include <windows.h>

class StepTimer {
  public:
    explicit StepTimer(const char* name);
    ~StepTimer();
    StepTimer(const StepTimer&) = delete;
    StepTimer& operator=(const StepTimer&) = delete;

  private:
    const char* name_;
    LARGE_INTEGER start_;
};

#define TIME_STEP_JOIN(a, b) a##b
#define TIME_STEP_NAME(line) TIME_STEP_JOIN(stepTimer, line)
#define TIME_STEP(name) StepTimer TIME_STEP_NAME(__LINE__)(name)
#else
#define TIME_STEP(name)
#endif
