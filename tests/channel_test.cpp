// Channels deliver every stored value exactly once and in order, refuse stores once closed
// while still handing out what they hold, release every blocked sender and receiver at the
// close, and keep their time limits.
#include <stdint.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// Channels are never freed; keeping their handles reachable to the very end (the list itself is
// never destroyed) stops the leak checker from reporting them.
std::vector<QorChannelHandle*>& kept() {
    static auto* handles = new std::vector<QorChannelHandle*>;
    return *handles;
}

struct Chan {
    QorChannelHandle* tx = nullptr;
    QorChannelHandle* rx = nullptr;
};

Chan make_channel(int64_t capacity) {
    Chan c;
    QorChannelHandle* returned = qor_channel_new(capacity, &c.tx, &c.rx);
    EXPECT_EQ(returned, c.rx);
    kept().push_back(c.tx);
    kept().push_back(c.rx);
    return c;
}

QorChannelHandle* clone(QorChannelHandle* h) {
    QorChannelHandle* c = qor_sender_clone(h);
    kept().push_back(c);
    return c;
}

int64_t ms_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

TEST(ChannelNew, StoresTwoHandlesToOneFreshChannel) {
    Chan c = make_channel(3);
    ASSERT_NE(c.tx, nullptr);
    ASSERT_NE(c.rx, nullptr);
    EXPECT_NE(c.tx, c.rx);
    QorChannel* ch = c.rx->channel;
    EXPECT_EQ(c.tx->channel, ch);
    EXPECT_EQ(ch->capacity, 3);
    EXPECT_EQ(ch->count, 0);
    EXPECT_EQ(ch->senders, 1);
    EXPECT_EQ(ch->closed, 0);
    // Handles are interchangeable: the receiver handle may send, the sender handle receive.
    qor_channel_send(c.rx, 4);
    EXPECT_EQ(qor_channel_recv(c.tx), 4);
}

TEST(ChannelTry, FullChannelRefusesUntilAValueIsTaken) {
    Chan c = make_channel(2);
    EXPECT_EQ(qor_channel_try_send(c.tx, 10), 1);
    EXPECT_EQ(qor_channel_try_send(c.tx, 20), 1);
    EXPECT_EQ(qor_channel_try_send(c.tx, 30), 0);
    EXPECT_EQ(qor_channel_recv(c.rx), 10);
    EXPECT_EQ(qor_channel_try_send(c.tx, 40), 1);
    int64_t out = -1;
    EXPECT_EQ(qor_channel_try_recv(c.rx, &out), 1);
    EXPECT_EQ(out, 20);
    EXPECT_EQ(qor_channel_try_recv(c.rx, &out), 1);
    EXPECT_EQ(out, 40);
    out = -1;
    EXPECT_EQ(qor_channel_try_recv(c.rx, &out), 0);
    EXPECT_EQ(out, -1);
}

// Both indices wrap many times over a ring of 3 while the order holds.
TEST(ChannelOrder, FirstInFirstOutAcrossTheWrap) {
    Chan c = make_channel(3);
    int64_t next_sent = 1;
    int64_t next_expected = 1;
    for (int round = 0; round < 10; round++) {
        for (int i = 0; i < 2 + round % 2; i++) qor_channel_send(c.tx, next_sent++);
        while (c.rx->channel->count > 0) EXPECT_EQ(qor_channel_recv(c.rx), next_expected++);
    }
    EXPECT_EQ(next_expected, next_sent);
}

TEST(ChannelClose, RefusesStoresButStillDeliversWhatItHolds) {
    Chan c = make_channel(4);
    EXPECT_EQ(qor_channel_is_closed(c.tx), 0);
    qor_channel_send(c.tx, 1);
    qor_channel_send(c.tx, 0);
    qor_channel_send(c.tx, 3);
    EXPECT_EQ(qor_channel_close(c.tx), 0);
    EXPECT_EQ(qor_channel_close(c.rx), 0);  // twice is harmless
    EXPECT_EQ(qor_channel_is_closed(c.rx), 1);
    EXPECT_EQ(qor_channel_is_closed(c.tx), 1);

    EXPECT_EQ(qor_channel_send(c.tx, 99), 0);
    EXPECT_EQ(qor_channel_try_send(c.tx, 99), 0);
    EXPECT_EQ(qor_channel_send_timeout(c.tx, 99, 1000), 0);
    EXPECT_EQ(c.rx->channel->count, 3);

    int64_t out = -1;
    EXPECT_EQ(qor_channel_recv(c.rx), 1);
    EXPECT_EQ(qor_channel_recv_opt(c.rx, &out), 1);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(qor_channel_try_recv(c.rx, &out), 1);
    EXPECT_EQ(out, 3);
    out = -1;
    EXPECT_EQ(qor_channel_recv(c.rx), 0);
    EXPECT_EQ(qor_channel_recv_opt(c.rx, &out), 0);
    EXPECT_EQ(qor_channel_recv_timeout(c.rx, 1000, &out), 0);
    EXPECT_EQ(qor_channel_recv_timeout(c.rx, -1, &out), 0);
    EXPECT_EQ(qor_channel_try_recv(c.rx, &out), 0);
    EXPECT_EQ(out, -1);
}

TEST(ChannelClose, ReleasesBlockedReceivers) {
    Chan c = make_channel(2);
    constexpr int kReceivers = 3;
    std::vector<int64_t> results(2 * kReceivers, -1);
    std::vector<std::thread> receivers;
    for (int i = 0; i < kReceivers; i++) {
        receivers.emplace_back([&, i] {
            int64_t out = -1;
            results[2 * i] = qor_channel_recv_opt(c.rx, &out);
            results[2 * i + 1] = out;
        });
    }
    pause_ms(20);
    qor_channel_close(c.tx);
    for (auto& t : receivers) t.join();
    for (int i = 0; i < kReceivers; i++) {
        EXPECT_EQ(results[2 * i], 0);
        EXPECT_EQ(results[2 * i + 1], -1);
    }
    std::thread plain([&] { results[0] = qor_channel_recv(c.rx); });
    plain.join();
    EXPECT_EQ(results[0], 0);
}

// Senders blocked on a full channel return at the close and their values are dropped.
TEST(ChannelClose, ReleasesBlockedSendersAndDropsTheirValues) {
    Chan c = make_channel(1);
    qor_channel_send(c.tx, 7);
    std::vector<std::thread> senders;
    std::atomic<int> returned{0};
    for (int i = 0; i < 2; i++) {
        senders.emplace_back([&] {
            EXPECT_EQ(qor_channel_send(c.tx, 8), 0);
            returned++;
        });
    }
    senders.emplace_back([&] {
        EXPECT_EQ(qor_channel_send_timeout(c.tx, 9, -1), 0);
        returned++;
    });
    pause_ms(20);
    EXPECT_EQ(returned.load(), 0);
    qor_channel_close(c.rx);
    for (auto& t : senders) t.join();
    EXPECT_EQ(returned.load(), 3);
    EXPECT_EQ(qor_channel_recv(c.rx), 7);
    int64_t out = -1;
    EXPECT_EQ(qor_channel_recv_opt(c.rx, &out), 0);
}

TEST(ChannelTimeout, ZeroSucceedsOnlyAtOnce) {
    Chan c = make_channel(1);
    int64_t out = -1;
    auto start = Clock::now();
    EXPECT_EQ(qor_channel_recv_timeout(c.rx, 0, &out), 0);
    EXPECT_EQ(qor_channel_send_timeout(c.tx, 5, 0), 1);
    EXPECT_EQ(qor_channel_send_timeout(c.tx, 6, 0), 0);
    EXPECT_EQ(qor_channel_recv_timeout(c.rx, 0, &out), 1);
    EXPECT_EQ(out, 5);
    EXPECT_LT(ms_since(start), 500);
}

TEST(ChannelTimeout, ExpiryWaitsAtLeastTheLimit) {
    Chan c = make_channel(1);
    int64_t out = -1;
    auto start = Clock::now();
    EXPECT_EQ(qor_channel_recv_timeout(c.rx, 50, &out), 0);
    EXPECT_GE(ms_since(start), 50);
    EXPECT_EQ(out, -1);

    qor_channel_send(c.tx, 1);
    start = Clock::now();
    EXPECT_EQ(qor_channel_send_timeout(c.tx, 2, 30), 0);
    EXPECT_GE(ms_since(start), 30);
    EXPECT_EQ(qor_channel_recv(c.rx), 1);
    EXPECT_EQ(qor_channel_try_recv(c.rx, &out), 0);
}

// A limit far away does not hold up an operation another thread makes possible; a limit whose
// milliseconds carry into the next second is still a valid deadline.
TEST(ChannelTimeout, ReturnsAsSoonAsTheOtherSideActs) {
    Chan c = make_channel(1);
    int64_t out = -1;
    auto start = Clock::now();
    std::thread sender([&] {
        pause_ms(20);
        qor_channel_send(c.tx, 42);
    });
    EXPECT_EQ(qor_channel_recv_timeout(c.rx, 1999, &out), 1);
    EXPECT_EQ(out, 42);
    EXPECT_LT(ms_since(start), 1500);
    sender.join();

    qor_channel_send(c.tx, 1);
    start = Clock::now();
    std::thread receiver([&] {
        pause_ms(20);
        EXPECT_EQ(qor_channel_recv(c.rx), 1);
    });
    EXPECT_EQ(qor_channel_send_timeout(c.tx, 2, 1999), 1);
    EXPECT_LT(ms_since(start), 1500);
    receiver.join();
    EXPECT_EQ(qor_channel_recv(c.rx), 2);
}

TEST(ChannelTimeout, NegativeLimitBlocksLikeTheBlockingOperation) {
    Chan c = make_channel(1);
    int64_t out = -1;
    std::thread sender([&] {
        pause_ms(20);
        qor_channel_send(c.tx, 0);
        pause_ms(20);
        qor_channel_close(c.tx);
    });
    EXPECT_EQ(qor_channel_recv_timeout(c.rx, -1, &out), 1);
    EXPECT_EQ(out, 0);
    out = -1;
    EXPECT_EQ(qor_channel_recv_timeout(c.rx, -5, &out), 0);
    EXPECT_EQ(out, -1);
    sender.join();
}

TEST(ChannelTimeout, ClosedChannelAnswersAtOnce) {
    Chan c = make_channel(1);
    qor_channel_close(c.tx);
    int64_t out = -1;
    auto start = Clock::now();
    EXPECT_EQ(qor_channel_send_timeout(c.tx, 1, 5000), 0);
    EXPECT_EQ(qor_channel_recv_timeout(c.rx, 5000, &out), 0);
    EXPECT_LT(ms_since(start), 1000);
}

// A closing thread releases a timed waiter long before its limit.
TEST(ChannelTimeout, CloseReleasesTimedWaiters) {
    Chan c = make_channel(1);
    int64_t out = -1;
    std::thread closer([&] {
        pause_ms(20);
        qor_channel_close(c.tx);
    });
    auto start = Clock::now();
    EXPECT_EQ(qor_channel_recv_timeout(c.rx, 5000, &out), 0);
    EXPECT_LT(ms_since(start), 2500);
    closer.join();
}

TEST(ChannelClone, SendsIntoTheSameChannel) {
    Chan c = make_channel(4);
    QorChannelHandle* second = clone(c.tx);
    QorChannelHandle* third = clone(second);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, c.tx);
    EXPECT_EQ(second->channel, c.tx->channel);
    EXPECT_EQ(c.tx->channel->senders, 3);
    qor_channel_send(c.tx, 1);
    qor_channel_send(second, 2);
    qor_channel_send(third, 3);
    EXPECT_EQ(qor_channel_recv(c.rx), 1);
    EXPECT_EQ(qor_channel_recv(c.rx), 2);
    EXPECT_EQ(qor_channel_recv(c.rx), 3);
    qor_channel_close(third);
    EXPECT_EQ(qor_channel_is_closed(c.rx), 1);
}

// A channel with no slots never holds a value; a negative capacity counts as none.
TEST(ChannelZero, HoldsNothingAndWaitsForTheClose) {
    for (int64_t capacity : {0, -3}) {
        Chan c = make_channel(capacity);
        ASSERT_NE(c.rx, nullptr);
        EXPECT_EQ(c.rx->channel->capacity, 0);
        int64_t out = -1;
        EXPECT_EQ(qor_channel_try_send(c.tx, 1), 0);
        EXPECT_EQ(qor_channel_try_recv(c.rx, &out), 0);
        EXPECT_EQ(qor_channel_send_timeout(c.tx, 1, 5), 0);
        EXPECT_EQ(qor_channel_recv_timeout(c.rx, 5, &out), 0);
        std::thread sender([&] { EXPECT_EQ(qor_channel_send(c.tx, 2), 0); });
        std::thread receiver([&] { EXPECT_EQ(qor_channel_recv(c.rx), 0); });
        pause_ms(10);
        qor_channel_close(c.tx);
        sender.join();
        receiver.join();
        EXPECT_EQ(out, -1);
    }
}

// Several producers and consumers over a tiny ring: every value arrives exactly once, and each
// consumer sees each producer's values in the order they were sent.
TEST(ChannelStress, ManyProducersAndConsumersLoseAndReorderNothing) {
    constexpr int kProducers = 3;
    constexpr int kConsumers = 2;
    constexpr int64_t kPerProducer = 100000 / kProducers + 1;
    Chan c = make_channel(16);
    std::vector<std::atomic<uint8_t>> seen(kProducers * kPerProducer);
    std::atomic<int64_t> received{0};
    std::atomic<bool> out_of_order{false};

    std::vector<std::thread> consumers;
    for (int i = 0; i < kConsumers; i++) {
        consumers.emplace_back([&] {
            int64_t last[kProducers];
            for (auto& l : last) l = -1;
            int64_t v;
            while (qor_channel_recv_opt(c.rx, &v) == 1) {
                int64_t producer = v >> 32;
                int64_t seq = v & 0xFFFFFFFF;
                if (seq <= last[producer]) out_of_order = true;
                last[producer] = seq;
                seen[producer * kPerProducer + seq].fetch_add(1, std::memory_order_relaxed);
                received.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; p++) {
        QorChannelHandle* tx = p == 0 ? c.tx : clone(c.tx);
        producers.emplace_back([tx, p] {
            for (int64_t s = 0; s < kPerProducer; s++) qor_channel_send(tx, (int64_t{p} << 32) | s);
        });
    }
    for (auto& t : producers) t.join();
    qor_channel_close(c.tx);
    for (auto& t : consumers) t.join();

    EXPECT_FALSE(out_of_order);
    EXPECT_EQ(received.load(), kProducers * kPerProducer);
    int64_t not_once = 0;
    for (auto& s : seen) not_once += s.load() != 1;
    EXPECT_EQ(not_once, 0);
}
