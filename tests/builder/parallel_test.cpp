#include "builder/lib/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

// Every index is worked on exactly once whatever the thread count, also with
// more threads than work or none at all, and the waiting thread ticks before
// and after.
TEST(ParallelFor, EveryIndexOnceOnAnyThreadCount) {
    const struct {
        size_t count;
        unsigned jobs;
    } kCases[] = {{0, 4}, {1, 1}, {1, 8}, {5, 0}, {100, 3}, {1000, 16}};
    for (const auto& c : kCases) {
        std::vector<std::atomic<int>> seen(c.count);
        const std::function<void(size_t)> work = [&](size_t i) { ++seen[i]; };
        int ticks = 0;
        const std::function<void()> tick = [&] { ++ticks; };
        ParallelFor(c.count, c.jobs, work, &tick);
        for (size_t i = 0; i < c.count; ++i) EXPECT_EQ(seen[i].load(), 1) << c.count << " " << i;
        EXPECT_GE(ticks, 2) << c.count;
    }
    EXPECT_GE(AvailableCores(), 1u);
}
