#include "machine/parallel.hpp"

#include <atomic>
#include <thread>

#include <unistd.h>
#if defined(__linux__)
#include <sched.h>
#endif

namespace quarnel::machine::parallel {
namespace {

std::atomic<workers::Pool*> made{nullptr};
long made_in = 0;  // the process that made it
int usable = 1;

}  // namespace

void init() noexcept {
#if defined(__linux__)
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) usable = CPU_COUNT(&set);
    else
#endif
        usable = int(std::thread::hardware_concurrency());
    usable = std::max(1, std::min(usable, max_parts));
    if (usable > 1) {
        made_in = long(getpid());
        made.store(workers::Pool::get(usable - 1), std::memory_order_release);
    }
}

workers::Pool* pool() noexcept {
    workers::Pool* p = made.load(std::memory_order_acquire);
    return p && long(getpid()) == made_in ? p : nullptr;
}

int cores() noexcept { return usable; }

}  // namespace quarnel::machine::parallel
