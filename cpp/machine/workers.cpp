#include "machine/workers.hpp"

#include <chrono>
#include <new>
#include <thread>

#include <unistd.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace quarnel::workers {
namespace {

Pool* current = nullptr;  // guarded by the GIL

// How long a thread keeps watching before it sleeps: long enough to span
// the gap between the calls of a loop over arrays (the Python work between
// two calls), short enough not to matter to a machine that has other work;
// while watching it yields to any other thread that wants its core.
constexpr auto watch = std::chrono::milliseconds(2);

inline void relax() noexcept {
#if defined(__x86_64__)
    _mm_pause();
#endif
}

// Spins until `done()` or the watch is over; whether `done()`.
template <class Done>
bool watch_for(const Done& done) noexcept {
    const auto until = std::chrono::steady_clock::now() + watch;
    for (int k = 0;; ++k) {
        if (done()) return true;
        relax();
        if ((k & 63) == 63) {
            if (std::chrono::steady_clock::now() > until) return done();
            std::this_thread::yield();
        }
    }
}

}  // namespace

Pool* Pool::get(int extra) noexcept {
    // After a fork the pool's threads are gone and its lock may be held by
    // one of them: the child leaves that pool alone and makes a new one.
    const long pid = long(getpid());
    if (current && current->pid_ == pid) return current->threads_ > 0 ? current : nullptr;
    Pool* pool = new (std::nothrow) Pool;
    if (!pool) return nullptr;
    pool->pid_ = pid;
    for (int k = 1; k <= extra; ++k) {
        try {
            std::thread([pool, k] { pool->serve(k); }).detach();
        } catch (...) {
            break;  // fewer threads, or none
        }
        pool->threads_ = k;
    }
    current = pool;
    return pool->threads_ > 0 ? pool : nullptr;
}

void Pool::rouse() noexcept {
    try {
        std::lock_guard<std::mutex> hold(lock_);
        if (busy_) return;
        roused_.fetch_add(1, std::memory_order_relaxed);
    } catch (...) {
        return;
    }
    wake_.notify_all();
}

bool Pool::begin(Task task, void* context, int parts) noexcept {
    try {
        std::lock_guard<std::mutex> hold(lock_);
        if (busy_ || parts - 1 > threads_) return false;
        busy_ = true;
        task_ = task;
        context_ = context;
        parts_ = parts;
        remaining_.store(parts - 1, std::memory_order_relaxed);
        generation_.fetch_add(1, std::memory_order_release);
    } catch (...) {
        return false;
    }
    wake_.notify_all();  // threads still watching see the generation without it
    return true;
}

void Pool::wait() noexcept {
    auto finished = [this] { return remaining_.load(std::memory_order_acquire) == 0; };
    if (!watch_for(finished)) {
        std::unique_lock<std::mutex> hold(lock_);
        done_.wait(hold, finished);
    }
    std::lock_guard<std::mutex> hold(lock_);
    busy_ = false;
}

// Thread `index` (1 based) runs part `index` of each call that has that
// many parts. A call begins only once the previous one has finished, so a
// thread never misses a generation it takes part in.
void Pool::serve(int index) noexcept {
    std::uint64_t seen = 0, roused = 0;
    for (;;) {
        auto moved_on = [&] { return generation_.load(std::memory_order_acquire) != seen; };
        if (!watch_for(moved_on)) {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [&] { return moved_on() || roused_.load(std::memory_order_relaxed) != roused; });
            roused = roused_.load(std::memory_order_relaxed);
            if (!moved_on()) continue;  // roused: watch for the call
        }
        seen = generation_.load(std::memory_order_acquire);
        if (index >= parts_) continue;
        task_(context_, index);
        if (remaining_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            // The caller may be about to sleep: take the lock so that it is
            // either still checking (and sees zero) or already waiting.
            { std::lock_guard<std::mutex> hold(lock_); }
            done_.notify_one();
        }
    }
}

}  // namespace quarnel::workers
