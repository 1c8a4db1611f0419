// 100,000 tiny tasks through a pool of two workers, from creation to join: the runtime pool
// against a std::thread pool whose workers share a std::mutex/std::condition_variable queue.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

#include "qor_runtime.h"

namespace {

constexpr int kTasks = 100000;
constexpr int kWorkers = 2;

std::atomic<int64_t> g_done{0};
void tiny_task() { g_done.fetch_add(1, std::memory_order_relaxed); }

// The peer: workers pop function pointers from one queue until asked to stop with it empty.
class StdPool {
  public:
    explicit StdPool(int workers) {
        for (int i = 0; i < workers; i++) threads_.emplace_back([this] { work(); });
    }

    void execute(void (*fn)()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push(fn);
        }
        ready_.notify_one();
    }

    void join() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        ready_.notify_all();
        for (auto& t : threads_) t.join();
    }

  private:
    void work() {
        for (;;) {
            void (*fn)();
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return stop_ || !queue_.empty(); });
                if (queue_.empty()) return;
                fn = queue_.front();
                queue_.pop();
            }
            fn();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::queue<void (*)()> queue_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

__attribute__((noinline)) void qor_submit(QorThreadPool* pool, void (*fn)()) {
    qor_thread_pool_execute(pool, fn);
}
__attribute__((noinline)) void std_submit(StdPool* pool, void (*fn)()) { pool->execute(fn); }

void BM_QorThreadPool(benchmark::State& state) {
    for (auto _ : state) {
        g_done = 0;
        QorThreadPool* pool = qor_thread_pool_new(kWorkers);
        for (int i = 0; i < kTasks; i++) qor_submit(pool, tiny_task);
        qor_thread_pool_join(pool);
        if (g_done.load() != kTasks) state.SkipWithError("lost tasks");
    }
    state.SetItemsProcessed(state.iterations() * kTasks);
}

void BM_StdThreadPool(benchmark::State& state) {
    for (auto _ : state) {
        g_done = 0;
        StdPool pool(kWorkers);
        for (int i = 0; i < kTasks; i++) std_submit(&pool, tiny_task);
        pool.join();
        if (g_done.load() != kTasks) state.SkipWithError("lost tasks");
    }
    state.SetItemsProcessed(state.iterations() * kTasks);
}

}  // namespace

BENCHMARK(BM_QorThreadPool)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StdThreadPool)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
