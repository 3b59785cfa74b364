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

// The threads of MapInOrder, each item here a batch.
template <typename Item, typename Result, typename Next, typename Work, typename Use>
void MapBatchesInOrder(size_t jobs, size_t window, Next next, Work work, Use use) {
    struct Slot {
        std::optional<Item> item;  // taken, waiting for a worker
        std::optional<Result> result;
    };
    std::vector<Slot> slots(window);
    std::mutex mutex;
    std::condition_variable itemTaken;   // workers wait for one
    std::condition_variable resultDone;  // this thread waits for the next in order
    std::condition_variable slotFree;    // the taker waits for room
    size_t taken = 0;                    // items taken from `next`
    size_t worked = 0;                   // items a worker has begun
    size_t used = 0;                     // results handed to `use`
    bool allTaken = false;
    bool stopped = false;
    std::thread taker([&] {
        for (;;) {
            Item item;
            const bool more = next(item);
            std::unique_lock<std::mutex> lock(mutex);
            if (!more || stopped) {
                allTaken = true;
                itemTaken.notify_all();
                resultDone.notify_one();
                return;
            }
            slotFree.wait(lock, [&] { return stopped || taken - used < window; });
            if (stopped) continue;
            slots[taken++ % window].item = std::move(item);
            itemTaken.notify_one();
        }
    });
    const auto worker = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            itemTaken.wait(lock, [&] { return stopped || worked < taken || allTaken; });
            if (stopped || worked == taken) return;
            Slot& slot = slots[worked++ % window];
            Item item = std::move(*slot.item);
            slot.item.reset();
            lock.unlock();
            Result result = work(item);
            lock.lock();
            slot.result = std::move(result);
            resultDone.notify_one();
        }
    };
    std::vector<std::thread> workers;
    for (size_t i = 0; i < jobs; ++i) workers.emplace_back(worker);
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        Slot& slot = slots[used % window];
        resultDone.wait(lock, [&] { return slot.result || (allTaken && used == taken); });
        if (!slot.result) break;
        Result result = std::move(*slot.result);
        slot.result.reset();
        ++used;
        slotFree.notify_one();
        lock.unlock();
        const bool more = use(result);
        lock.lock();
        if (!more) {
            stopped = true;
            itemTaken.notify_all();
            slotFree.notify_all();
            break;
        }
    }
    lock.unlock();
    taker.join();
    for (std::thread& thread : workers) thread.join();
}

/// Takes items from `next` in order, on a thread of its own, has `work` turn each into a result
/// on one of `jobs` threads (with 1, all on this one), and hands the results to `use` on this
/// thread in the items' order. Items go in batches of `batch`, at most `window` batches taken and
/// not yet used: a batch costs the threads one hand-over, which a single log would not repay.
/// `use` returning false stops the work: no later result is used. `next` and `work` must not
/// throw.
template <typename Item, typename Result, typename Next, typename Work, typename Use>
void MapInOrder(size_t jobs, size_t window, size_t batch, Next next, Work work, Use use) {
    if (jobs <= 1) {
        Item item;
        while (next(item)) {
            Result result = work(item);
            if (!use(result)) return;
        }
        return;
    }
    using Items = std::vector<Item>;
    using Results = std::vector<Result>;
    const auto nextBatch = [&](Items& items) {
        items.clear();
        Item item;
        while (items.size() < batch && next(item)) items.push_back(std::move(item));
        return !items.empty();
    };
    const auto workBatch = [&](Items& items) {
        Results results;
        results.reserve(items.size());
        for (Item& item : items) results.push_back(work(item));
        return results;
    };
    const auto useBatch = [&](Results& results) {
        for (Result& result : results) {
            if (!use(result)) return false;
        }
        return true;
    };
    MapBatchesInOrder<Items, Results>(jobs, window, nextBatch, workBatch, useBatch);
}
