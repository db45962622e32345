#pragma once
// Work on numbered pieces shared out among threads, with each piece's result handed on in piece
// order: a file too large to hold is worked on by every core and its results are still put
// together (summed, written) from its start to its end. At most `ahead` results wait at any time,
// so memory does not grow with the number of pieces.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace corvane3 {

// Calls work(i) for every i in [0, pieces) on `threads` threads (at least one) and take(result)
// on the calling thread in order of i. When take returns false no further piece is started and
// no further result is taken. Every thread is joined before it returns. When the system gives
// fewer threads, fewer work; when it gives none, the calling thread does the work.
template <typename Result, typename Work, typename Take>
void RunOrderedPieces(std::size_t pieces, unsigned threads, std::size_t ahead, Work&& work,
                      Take&& take) {
    threads = std::max(threads, 1u);
    ahead = std::max<std::size_t>(ahead, threads);
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<Result>> slots(ahead);
    std::size_t next = 0;   // the next piece to start
    std::size_t taken = 0;  // pieces whose results were taken
    bool stop = false;
    const auto worker = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stop || next >= pieces || next < taken + ahead; });
            if (stop || next >= pieces) {
                return;
            }
            const std::size_t piece = next++;
            lock.unlock();
            Result result = work(piece);
            lock.lock();
            slots[piece % ahead] = std::move(result);
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        try {
            workers.emplace_back(worker);
        } catch (const std::system_error&) {
            break;  // no thread to be had (a memory or process limit): fewer will do
        }
    }
    if (workers.empty()) {
        // Not even one: the pieces are worked on here, one after the other.
        for (std::size_t piece = 0; piece < pieces; ++piece) {
            if (!take(work(piece))) {
                break;
            }
        }
        return;
    }
    for (; taken < pieces;) {
        std::optional<Result> result;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return slots[taken % ahead].has_value(); });
            result.swap(slots[taken % ahead]);
        }
        const bool more = take(std::move(*result));
        std::lock_guard lock(mutex);
        ++taken;
        if (!more) {
            stop = true;
        }
        changed.notify_all();
        if (stop) {
            break;
        }
    }
    for (std::thread& thread : workers) {
        thread.join();
    }
}

}  // namespace corvane3
