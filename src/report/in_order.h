// Work on several threads whose results are used in the order of the work: the report opens and
// reads logs side by side (on a share each open waits on the network) and writes their rows in
// the one order the tree fixes.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

/// Takes items from `next` in order, has `work` turn each into a result on one of `jobs` threads
/// (with 1, on this one), and hands the results to `use` on this thread in the items' order, at
/// most `window` of them in flight. `next` is called by one thread at a time; `use` returning
/// false stops the work: no later result is used. `work` must not throw.
template <typename Item, typename Result, typename Next, typename Work, typename Use>
void MapInOrder(size_t jobs, size_t window, Next next, Work work, Use use) {
    if (jobs <= 1) {
        Item item;
        while (next(item)) {
            Result result = work(item);
            if (!use(result)) return;
        }
        return;
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<Result>> done(window);
    size_t taken = 0;    // items taken from `next`
    size_t used = 0;     // results handed to `use`
    bool ended = false;  // `next` has no more, or `use` stopped
    const auto worker = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return ended || taken - used < window; });
            Item item;
            if (ended || !next(item)) {
                ended = true;
                changed.notify_all();
                return;
            }
            const size_t slot = taken++ % window;
            lock.unlock();
            Result result = work(item);
            lock.lock();
            done[slot] = std::move(result);
            changed.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (size_t i = 0; i < jobs; ++i) threads.emplace_back(worker);
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        std::optional<Result>& slot = done[used % window];
        changed.wait(lock, [&] { return slot.has_value() || (ended && used == taken); });
        if (!slot) break;
        Result result = std::move(*slot);
        slot.reset();
        ++used;
        changed.notify_all();
        lock.unlock();
        const bool more = use(result);
        lock.lock();
        if (!more) {
            ended = true;
            changed.notify_all();
            break;
        }
    }
    lock.unlock();
    for (std::thread& thread : threads) thread.join();
}
