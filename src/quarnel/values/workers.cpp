#include "quarnel/values/workers.hpp"

#include <new>
#include <thread>

#include <unistd.h>

namespace quarnel::workers {
namespace {
Pool* current = nullptr;  // guarded by the GIL
}

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

bool Pool::begin(Task task, void* context, int parts) noexcept {
    try {
        std::lock_guard<std::mutex> hold(lock_);
        if (busy_ || parts - 1 > threads_) return false;
        busy_ = true;
        task_ = task;
        context_ = context;
        parts_ = parts;
        remaining_ = parts - 1;
        ++generation_;
    } catch (...) {
        return false;
    }
    wake_.notify_all();
    return true;
}

void Pool::wait() noexcept {
    std::unique_lock<std::mutex> hold(lock_);
    done_.wait(hold, [this] { return remaining_ == 0; });
    busy_ = false;
}

// Thread `index` (1 based) runs part `index` of each call that has that
// many parts. A call begins only once the previous one has finished, so a
// thread never misses a generation it takes part in.
void Pool::serve(int index) noexcept {
    std::uint64_t seen = 0;
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        wake_.wait(hold, [&] { return generation_ != seen; });
        seen = generation_;
        if (index >= parts_) continue;
        const Task task = task_;
        void* const context = context_;
        hold.unlock();
        task(context, index);
        hold.lock();
        if (--remaining_ == 0) done_.notify_one();
    }
}

}  // namespace quarnel::workers
