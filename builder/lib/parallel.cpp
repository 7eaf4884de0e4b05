#include "builder/lib/parallel.h"

#include <atomic>
#include <memory>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>

#include <chrono>
#include <thread>
#endif

namespace {

constexpr unsigned kPollMilliseconds = 2;

// Shared by the workers of one ParallelFor: the next index to take and how
// many workers have finished.
struct WorkQueue {
    size_t count;
    const std::function<void(size_t)>* work;
    std::atomic<size_t> next{0};
    std::atomic<unsigned> finished{0};
};

void Drain(WorkQueue* queue) {
    for (size_t i = queue->next++; i < queue->count; i = queue->next++) (*queue->work)(i);
    ++queue->finished;
}

void SleepMilliseconds(unsigned ms) {
#ifdef _WIN32
    Sleep(ms);
#else
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
#endif
}

// One started worker thread, joined when it goes out of scope.
class Worker {
  public:
    explicit Worker(WorkQueue* queue);
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    bool started() const;

  private:
#ifdef _WIN32
    static DWORD WINAPI Run(LPVOID queue) {
        Drain(static_cast<WorkQueue*>(queue));
        return 0;
    }
    HANDLE handle_ = nullptr;
#else
    std::thread thread_;
#endif
};

#ifdef _WIN32
Worker::Worker(WorkQueue* queue) { handle_ = CreateThread(nullptr, 0, Run, queue, 0, nullptr); }
Worker::~Worker() {
    if (handle_ == nullptr) return;
    WaitForSingleObject(handle_, INFINITE);
    CloseHandle(handle_);
}
bool Worker::started() const { return handle_ != nullptr; }
#else
Worker::Worker(WorkQueue* queue) {
    try {
        thread_ = std::thread(Drain, queue);
    } catch (...) {
        // Not started: the calling thread does this worker's share.
    }
}
Worker::~Worker() {
    if (thread_.joinable()) thread_.join();
}
bool Worker::started() const { return thread_.joinable(); }
#endif

}  // namespace

unsigned AvailableCores() {
#ifdef _WIN32
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 1;
    unsigned n = 0;
    for (; process != 0; process &= process - 1) ++n;
    return n == 0 ? 1 : n;
#else
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    const int n = CPU_COUNT(&set);
    return n < 1 ? 1 : static_cast<unsigned>(n);
#endif
}

void ParallelFor(size_t count, unsigned jobs, const std::function<void(size_t)>& work,
                 const std::function<void()>* tick) {
    WorkQueue queue;
    queue.count = count;
    queue.work = &work;
    const size_t wanted = jobs < 1 ? 1 : (jobs < count ? jobs : count);
    if (tick != nullptr) (*tick)();
    std::vector<std::unique_ptr<Worker>> workers;
    unsigned running = 0;
    for (size_t t = 0; t < wanted; ++t) {
        workers.push_back(std::make_unique<Worker>(&queue));
        if (workers.back()->started()) ++running;
    }
    if (running == 0) {
        Drain(&queue);
        running = 1;
    }
    // Short naps, so a build of small files does not wait a whole tick.
    unsigned sinceTick = 0;
    while (queue.finished.load() < running) {
        SleepMilliseconds(kPollMilliseconds);
        sinceTick += kPollMilliseconds;
        if (sinceTick < kTickMilliseconds) continue;
        sinceTick = 0;
        if (tick != nullptr) (*tick)();
    }
    workers.clear();
    if (tick != nullptr) (*tick)();
}
