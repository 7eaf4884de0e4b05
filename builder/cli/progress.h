// The progress line of a long build: on standard error, redrawn in place,
// at most every kProgressInterval seconds. Builds that compare several files
// at once report through the same line, one call at a time.
#pragma once
#include <chrono>
#include <functional>
#include <ostream>
#include <string>

#include "builder/lib/patch_build.h"

constexpr double kProgressInterval = 0.2;

// "[3/120] lib/core.dll  45.1 of 612.0 MB, 12.3 MB/s"; the step after the
// last file reads "compressing and checking the patch".
std::string FormatProgress(const BuildProgressEvent& event, double seconds);

class ProgressLine {
  public:
    using Clock = std::function<double()>;  // seconds since any fixed moment
    ProgressLine(std::ostream& err, bool enabled, Clock clock = SteadySeconds);
    ~ProgressLine() { Clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Update(const BuildProgressEvent& event);
    // Erases the line, so that what follows starts on a clean one.
    void Clear();

    static double SteadySeconds();

  private:
    std::ostream& err_;
    bool enabled_;
    Clock clock_;
    double start_ = 0, lastDrawn_ = 0;
    bool drawn_ = false;
};
