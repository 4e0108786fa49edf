// Splitting one inner loop over the cores the process may use. The first
// block is evaluated alone and timed; the rest is split when a part would
// take more than about 10 µs, one part on the calling thread and the others
// on the pool of threads made at import (machine/workers.hpp). A part
// returns the floating-point flags its elements raised, which belong to
// the calling thread's state in the end: NumPy reads them there.
#pragma once

#include "common/numpy_api.hpp"
#include "machine/workers.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace quarnel::machine::parallel {

// Makes the pool; with the GIL held, at import.
void init() noexcept;

// The pool of this process, or null (one core, no threads, or a forked
// child, which evaluates on its calling thread alone).
workers::Pool* pool() noexcept;
int cores() noexcept;

inline constexpr double part_ns = 10'000;
inline constexpr int max_parts = 8;

// part(begin, end, who) -> flags, over [0, n) in pieces whose bounds are
// multiples of `grain`; `who` (0 for the calling thread, below max_parts)
// tells the participants apart, so that each can keep what it learns from
// piece to piece. After the first, timed, grain the rest is dealt out in
// chunks of several grains to whichever participant asks next: a
// participant that started late or runs on a busier core takes fewer.
template <class Piece>
void over(npy_intp n, npy_intp grain, const Piece& part, unsigned& flags) noexcept {
    workers::Pool* p = n >= 2 * grain ? pool() : nullptr;
    if (!p) {
        flags |= part(0, n, 0);
        return;
    }
    p->rouse();
    const auto start = std::chrono::steady_clock::now();
    flags |= part(0, grain, 0);
    const double ns = double(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now() - start).count()) / double(grain);
    const npy_intp rest = n - grain;
    npy_intp parts = std::min<npy_intp>({npy_intp(cores()), npy_intp(p->threads() + 1),
                                               npy_intp(max_parts), npy_intp(ns * double(rest) / part_ns)});
    if (parts <= 1) {
        flags |= part(grain, n, 0);
        return;
    }
    struct Shared {
        const Piece* part;
        npy_intp n, chunk;
        std::atomic<npy_intp> next;
        unsigned flags[max_parts];
        static void run(void* self, int who) noexcept {
            auto* s = static_cast<Shared*>(self);
            unsigned f = 0;
            for (;;) {
                const npy_intp begin = s->next.fetch_add(s->chunk, std::memory_order_relaxed);
                if (begin >= s->n) break;
                f |= (*s->part)(begin, std::min(s->n, begin + s->chunk), who);
            }
            s->flags[who] = f;
        }
    };
    // Four chunks a participant, of whole grains.
    const npy_intp blocks = (rest + grain - 1) / grain;
    const npy_intp per = std::max<npy_intp>(1, blocks / (4 * parts));
    Shared shared{&part, n, per * grain, {grain}, {}};
    if (p->begin(&Shared::run, &shared, int(parts))) {
        Shared::run(&shared, 0);
        p->wait();
    } else {
        // The pool is busy with another call, and so are the other cores.
        parts = 1;
        Shared::run(&shared, 0);
    }
    for (int k = 0; k < int(parts); ++k) flags |= shared.flags[k];
}

}  // namespace quarnel::machine::parallel
