#include "builder/cli/progress.h"

#include <cstdio>

namespace {

constexpr double kMegabyte = 1000.0 * 1000.0;

std::string Megabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", bytes / kMegabyte);
    return text;
}

}  // namespace

std::string FormatProgress(const BuildProgressEvent& e, double seconds) {
    std::string line;
    if (e.name == nullptr) {
        line = "compressing and checking the patch";
    } else {
        line = "[" + std::to_string(e.file + 1) + "/" + std::to_string(e.files) + "] " + *e.name;
    }
    line += "  " + Megabytes(static_cast<double>(e.done)) + " of " +
            Megabytes(static_cast<double>(e.total)) + " MB";
    if (seconds > 0) line += ", " + Megabytes(static_cast<double>(e.done) / seconds) + " MB/s";
    return line;
}

ProgressLine::ProgressLine(std::ostream& err, bool enabled, Clock clock)
    : err_(err), enabled_(enabled), clock_(std::move(clock)) {
    if (enabled_) start_ = clock_();
}

double ProgressLine::SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void ProgressLine::Update(const BuildProgressEvent& event) {
    if (!enabled_) return;
    const double now = clock_();
    const bool last = event.name == nullptr;
    if (drawn_ && !last && now - lastDrawn_ < kProgressInterval) return;
    err_ << "\r\033[K" << FormatProgress(event, now - start_) << std::flush;
    drawn_ = true;
    lastDrawn_ = now;
}

void ProgressLine::Clear() {
    if (!drawn_) return;
    err_ << "\r\033[K" << std::flush;
    drawn_ = false;
}
