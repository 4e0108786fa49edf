// Splitting one inner loop over the cores the process may use. The first
// block is evaluated alone and timed; the rest is split when a part would
// take more than about 10 µs, one part on the calling thread and the others
// on the pool of threads made at import (machine/workers.hpp). A part
// returns the floating-point flags its elements raised, which belong to
// the calling thread's state in the end: NumPy reads them there.
#pragma once

#include "quarnel/values/numpy_api.hpp"
#include "quarnel/machine/workers.hpp"

#include <algorithm>
#include <chrono>

namespace quarnel::ufunc::parallel {

// Makes the pool; with the GIL held, at import.
void init() noexcept;

// The pool of this process, or null (one core, no threads, or a forked
// child, which evaluates on its calling thread alone).
workers::Pool* pool() noexcept;
int cores() noexcept;

inline constexpr double part_ns = 10'000;
inline constexpr int max_parts = 8;

// part(begin, end) -> flags, over [0, n) in parts whose bounds are
// multiples of `grain`.
template <class Part>
void over(npy_intp n, npy_intp grain, const Part& part, unsigned& flags) noexcept {
    workers::Pool* p = n >= 2 * grain ? pool() : nullptr;
    if (!p) {
        flags |= part(0, n);
        return;
    }
    p->rouse();
    const auto start = std::chrono::steady_clock::now();
    flags |= part(0, grain);
    const double ns = double(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now() - start).count()) / double(grain);
    const npy_intp rest = n - grain;
    const npy_intp parts = std::min<npy_intp>({npy_intp(cores()), npy_intp(p->threads() + 1),
                                               npy_intp(max_parts), npy_intp(ns * double(rest) / part_ns)});
    if (parts <= 1) {
        flags |= part(grain, n);
        return;
    }
    struct Shared {
        const Part* part;
        npy_intp bounds[max_parts + 1];
        unsigned flags[max_parts];
        static void run(void* self, int k) noexcept {
            auto* s = static_cast<Shared*>(self);
            s->flags[k] = (*s->part)(s->bounds[k], s->bounds[k + 1]);
        }
    } shared{&part, {}, {}};
    const npy_intp blocks = (rest + grain - 1) / grain;
    for (npy_intp k = 0; k <= parts; ++k) shared.bounds[k] = std::min(n, grain + blocks * k / parts * grain);
    if (p->begin(&Shared::run, &shared, int(parts))) {
        Shared::run(&shared, 0);
        p->wait();
    } else {
        // The pool is busy with another call, and so are the other cores.
        for (int k = 0; k < int(parts); ++k) Shared::run(&shared, k);
    }
    for (int k = 0; k < int(parts); ++k) flags |= shared.flags[k];
}

}  // namespace quarnel::ufunc::parallel
