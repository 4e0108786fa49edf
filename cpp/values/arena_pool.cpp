#include "values/arena_pool.hpp"

#include <mutex>
#include <new>

#include <pthread.h>

namespace quarnel::arena_pool {
namespace {

std::mutex lock;
constexpr int capacity = 16;
Arena* kept[capacity] = {};
int count = 0;

void before_fork() { lock.lock(); }
void after_fork() { lock.unlock(); }

}  // namespace

std::unique_ptr<Arena> take() noexcept {
    Arena* arena = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (count > 0) arena = kept[--count];
    }
    if (!arena) arena = new (std::nothrow) Arena;  // outside the lock
    return std::unique_ptr<Arena>(arena);
}

void give(std::unique_ptr<Arena> arena) noexcept {
    if (!arena) return;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (count < capacity) {
            kept[count++] = arena.release();
            return;
        }
    }
    // freed here, outside the lock
}

void guard_forks() noexcept {
    static bool guarded = false;
    if (!guarded) guarded = pthread_atfork(before_fork, after_fork, after_fork) == 0;
}

}  // namespace quarnel::arena_pool
