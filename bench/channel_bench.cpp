// One producer hands 1,000,000 values to one consumer through a ring of 1024 slots: the runtime
// channel against a std::mutex + std::condition_variable bounded ring doing the same work
// (block while full or empty, wake one waiter of the other side per value).
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "qor_runtime.h"

namespace {

constexpr int64_t kValues = 1000000;
constexpr int64_t kCapacity = 1024;

// The peer: a bounded ring behind one std::mutex and two condition variables.
class StdRing {
  public:
    explicit StdRing(int64_t capacity) : slots_(static_cast<size_t>(capacity)) {}

    void push(int64_t v) {
        std::unique_lock<std::mutex> lock(mutex_);
        not_full_.wait(lock, [this] { return count_ < static_cast<int64_t>(slots_.size()); });
        slots_[write_] = v;
        write_ = (write_ + 1) % slots_.size();
        count_++;
        not_empty_.notify_one();
    }

    int64_t pop() {
        std::unique_lock<std::mutex> lock(mutex_);
        not_empty_.wait(lock, [this] { return count_ > 0; });
        int64_t v = slots_[read_];
        read_ = (read_ + 1) % slots_.size();
        count_--;
        not_full_.notify_one();
        return v;
    }

  private:
    std::mutex mutex_;
    std::condition_variable not_empty_;
    std::condition_variable not_full_;
    std::vector<int64_t> slots_;
    size_t write_ = 0;
    size_t read_ = 0;
    int64_t count_ = 0;
};

__attribute__((noinline)) void qor_send(QorChannelHandle* h, int64_t v) { qor_channel_send(h, v); }
__attribute__((noinline)) int64_t qor_receive(QorChannelHandle* h) { return qor_channel_recv(h); }
__attribute__((noinline)) void std_send(StdRing* r, int64_t v) { r->push(v); }
__attribute__((noinline)) int64_t std_receive(StdRing* r) { return r->pop(); }

void BM_QorChannel(benchmark::State& state) {
    for (auto _ : state) {
        QorChannelHandle* tx = nullptr;
        QorChannelHandle* rx = nullptr;
        qor_channel_new(kCapacity, &tx, &rx);  // channels are never freed
        std::thread producer([tx] {
            for (int64_t i = 1; i <= kValues; i++) qor_send(tx, i);
        });
        int64_t sum = 0;
        for (int64_t i = 0; i < kValues; i++) sum += qor_receive(rx);
        producer.join();
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}

void BM_StdMutexCondvarRing(benchmark::State& state) {
    for (auto _ : state) {
        StdRing ring(kCapacity);
        std::thread producer([&ring] {
            for (int64_t i = 1; i <= kValues; i++) std_send(&ring, i);
        });
        int64_t sum = 0;
        for (int64_t i = 0; i < kValues; i++) sum += std_receive(&ring);
        producer.join();
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}

}  // namespace

BENCHMARK(BM_QorChannel)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StdMutexCondvarRing)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
