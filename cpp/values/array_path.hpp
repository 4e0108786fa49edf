// The native array path: float64 arrays in element-wise positions are
// broadcast with NumPy's iterator into one freshly allocated output, and the
// formula runs block by block over them in one pass (block domain), without
// temporaries of the arrays' size and without the GIL.
#pragma once

#include "common/numpy_api.hpp"
#include "machine/workers.hpp"
#include "values/arena_pool.hpp"
#include "values/blocks.hpp"
#include "values/scalars.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <utility>

#if defined(__linux__)
#include <sched.h>
#endif

namespace quarnel::array_path {

// An array the block domain reads: exactly numpy.ndarray of native float64
// with at least two elements. A 0-d or one-element array, another dtype or
// a subclass is left to the generic domain, like every non-native object.
inline bool qualifies(PyObject* o) noexcept {
    if (!PyArray_CheckExact(o)) return false;
    auto* a = reinterpret_cast<PyArrayObject*>(o);
    return PyArray_NDIM(a) >= 1 && PyArray_SIZE(a) >= 2 && PyArray_TYPE(a) == NPY_DOUBLE &&
           PyArray_ISNBO(PyArray_DESCR(a)->byteorder);
}

enum class Plan { scalars, arrays, generic };

// What a call's arguments allow: all native scalars, native scalars and
// qualifying arrays, or anything else (some other array).
template <std::size_t N>
Plan plan(PyObject* const* args) noexcept {
    Plan p = Plan::scalars;
    for (std::size_t i = 0; i < N; ++i) {
        if (!PyArray_Check(args[i])) continue;
        if (!qualifies(args[i])) return Plan::generic;
        p = Plan::arrays;
    }
    return p;
}

class Iteration {
public:
    // Iterates the arrays among `args` and a float64 output of their
    // broadcast shape; false (no exception) if they do not broadcast.
    template <std::size_t N>
    bool open(PyObject* const* args) noexcept {
        PyArrayObject* ops[N + 1];
        npy_uint32 flags[N + 1];
        PyArray_Descr* dtypes[N + 1];
        for (std::size_t i = 0; i < N; ++i) {
            if (!PyArray_Check(args[i])) continue;
            slot_[i] = count_;
            ops[count_] = reinterpret_cast<PyArrayObject*>(args[i]);
            // Blocks are read as double* and handed to NumPy's inner loops,
            // which both need aligned elements: the iterator buffers an
            // unaligned array (a view into bytes at an odd offset, say).
            flags[count_] = NPY_ITER_READONLY | NPY_ITER_ALIGNED;
            dtypes[count_] = nullptr;
            ++count_;
        }
        ops[count_] = nullptr;
        flags[count_] = NPY_ITER_WRITEONLY | NPY_ITER_ALLOCATE;
        dtypes[count_] = PyArray_DescrFromType(NPY_DOUBLE);
        it_ = NpyIter_MultiNew(int(count_ + 1), ops,
                               NPY_ITER_EXTERNAL_LOOP | NPY_ITER_BUFFERED | NPY_ITER_GROWINNER |
                                   NPY_ITER_RANGED,
                               NPY_KEEPORDER, NPY_NO_CASTING, flags, dtypes);
        Py_DECREF(dtypes[count_]);
        if (!it_) {
            PyErr_Clear();
            return false;
        }
        return true;
    }

    ~Iteration() {
        if (it_) NpyIter_Deallocate(it_);
    }

    // Runs `chunk(data pointers, strides, length)` over every inner loop,
    // without the GIL, split over the cores this process may use when the
    // work is worth it; false as soon as any chunk returns false.
    template <class Chunk>
    bool run(const Chunk& chunk) noexcept {
        const npy_intp total = NpyIter_GetIterSize(it_);
        std::atomic<bool> all_ok{true};
        char* err = nullptr;  // keeps NumPy from raising: some calls run without the GIL

        // The first block alone, timed: its cost per element tells whether
        // the rest is worth handing to other threads.
        const npy_intp cores = total >= 2 * probe ? usable_cores() : 1;
        // The pool is looked up with the GIL held; it starts its threads once.
        workers::Pool* pool = cores > 1 ? workers::Pool::get(int(std::min(cores, max_threads)) - 1) : nullptr;
        npy_intp done = 0;
        double ns_per_element = 0;
        if (pool) {
            pool->rouse();
            if (NpyIter_ResetToIterIndexRange(it_, 0, probe, &err) != NPY_SUCCEED) return false;
            Py_BEGIN_ALLOW_THREADS
            const auto start = std::chrono::steady_clock::now();
            drive(it_, chunk, all_ok);
            ns_per_element = double(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now() - start).count()) / double(probe);
            Py_END_ALLOW_THREADS
            if (!all_ok) return false;
            done = probe;
        }
        const npy_intp rest = total - done;

        const npy_intp parts = pool ? std::min<npy_intp>({cores, pool->threads() + 1,
                                                          npy_intp(ns_per_element * double(rest) / part_ns)})
                                    : 1;

        NpyIter* iters[max_threads] = {it_};
        npy_intp made = 1;
        for (; made < parts; ++made) {
            iters[made] = NpyIter_Copy(it_);
            if (!iters[made]) break;
        }
        PyErr_Clear();
        bool ok = true;
        for (npy_intp k = 0; k < made && ok; ++k)
            ok = NpyIter_ResetToIterIndexRange(iters[k], done + rest * k / made, done + rest * (k + 1) / made,
                                               &err) == NPY_SUCCEED;
        if (ok) {
            Py_BEGIN_ALLOW_THREADS
            Parts<Chunk> shared{iters, &chunk, &all_ok};
            if (made > 1 && pool->begin(&Parts<Chunk>::run, &shared, int(made))) {
                drive(it_, chunk, all_ok);
                pool->wait();
            } else {
                // Another call is using the pool, and so the other cores: the
                // parts one after the other, rather than more threads than cores.
                for (npy_intp k = 0; k < made; ++k) drive(iters[k], chunk, all_ok);
            }
            Py_END_ALLOW_THREADS
        }
        for (npy_intp k = 1; k < made; ++k) NpyIter_Deallocate(iters[k]);
        return ok && all_ok;
    }

    // Whether broadcasting repeats some array: NumPy then evaluates what
    // depends on that array alone at its own, smaller size, which beats
    // evaluating everything at the full size.
    bool expands(PyObject* const* args, std::size_t n) const noexcept {
        const npy_intp total = NpyIter_GetIterSize(it_);
        for (std::size_t i = 0; i < n; ++i)
            if (slot_[i] >= 0 && PyArray_SIZE(reinterpret_cast<PyArrayObject*>(args[i])) != total) return true;
        return false;
    }

    PyObject* result() const noexcept { return Py_NewRef(NpyIter_GetOperandArray(it_)[count_]); }
    int slot(std::size_t arg) const noexcept { return slot_[arg]; }
    int outputs_slot() const noexcept { return int(count_); }
    std::uint32_t all_arrays() const noexcept { return (1u << count_) - 1; }

private:
    // Elements evaluated alone to time the formula, and the work [ns] that
    // makes waking another thread for a part worth it.
    static constexpr npy_intp probe = Arena::block;
    static constexpr double part_ns = 10'000;
    static constexpr npy_intp max_threads = 8;

    // The cores this process may run on (a worker pinned to a few of the
    // machine's cores splits over those).
    static npy_intp usable_cores() noexcept {
#if defined(__linux__)
        cpu_set_t set;
        if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
#endif
        return std::max(1u, std::thread::hardware_concurrency());
    }

    // Piece k of a split iteration, run by one of the pool's threads.
    template <class Chunk>
    struct Parts {
        NpyIter** iters;
        const Chunk* chunk;
        std::atomic<bool>* all_ok;
        static void run(void* self, int k) noexcept {
            auto* p = static_cast<Parts*>(self);
            drive(p->iters[k], *p->chunk, *p->all_ok);
        }
    };

    template <class Chunk>
    static void drive(NpyIter* it, const Chunk& chunk, std::atomic<bool>& all_ok) noexcept {
        char* err = nullptr;
        NpyIter_IterNextFunc* next = NpyIter_GetIterNext(it, &err);
        if (!next) {
            all_ok = false;
            return;
        }
        char** data = NpyIter_GetDataPtrArray(it);
        npy_intp* strides = NpyIter_GetInnerStrideArray(it);
        npy_intp* size = NpyIter_GetInnerLoopSizePtr(it);
        if (NpyIter_GetIterSize(it) == 0) return;
        do {
            if (!all_ok || !chunk(data, strides, *size)) {
                all_ok = false;
                return;
            }
        } while (next(it));
    }

    NpyIter* it_ = nullptr;
    std::size_t count_ = 0;
    int slot_[16] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
};

// An arena from the pool for one chunk, returned when the chunk is done.
class PooledArena {
public:
    PooledArena() noexcept : arena_(arena_pool::take()) {}
    ~PooledArena() { arena_pool::give(std::move(arena_)); }
    PooledArena(const PooledArena&) = delete;
    PooledArena& operator=(const PooledArena&) = delete;
    // Null without memory: the caller then steps aside.
    Arena* get() noexcept { return arena_.get(); }

private:
    std::unique_ptr<Arena> arena_;
};

// The value of argument `i` in the block starting `offset` elements into the
// current inner loop: an array block (copied contiguous if strided) or the
// native scalar the argument is (converted beforehand, with the GIL held).
inline Lane lane(Num scalar, int i, int slot, char** data, const npy_intp* strides,
                 npy_intp offset, npy_intp n, Arena& arena) noexcept {
    if (slot < 0) return Lane(scalar);
    const char* base = data[slot] + offset * strides[slot];
    const std::uint32_t deps = 1u << slot;
    if (strides[slot] == sizeof(double))
        return Blocks::block(reinterpret_cast<const double*>(base), deps, std::int8_t(i));
    double* copy = arena.take();
    if (!copy) return Lane(Num(0.0, Opaque));
    for (npy_intp j = 0; j < n; ++j) std::memcpy(copy + j, base + j * strides[slot], sizeof(double));
    return Blocks::block(copy, deps, std::int8_t(i));
}

// Evaluates F over the arrays among `args`; true with `out` set when the
// formula was element-wise in them and raised no floating-point flag.
// `scalar` holds every argument as the native domain converted it (with the
// GIL held; the evaluation itself runs without it).
template <class F, std::size_t... I>
bool run(PyObject* const* args, const Num* scalar, PyObject*& out, std::index_sequence<I...>) noexcept {
    constexpr std::size_t N = sizeof...(I);
    Iteration iter;
    if (!iter.open<N>(args) || iter.expands(args, N)) return false;
    const int out_slot = iter.outputs_slot();
    const bool ok = iter.run([&](char** data, const npy_intp* strides, npy_intp size) {
        FpFlags::clear();
        PooledArena pooled;  // chunks run on several threads
        if (!pooled.get()) return false;
        Arena& arena = *pooled.get();
        arena.land(-1, nullptr);  // nothing from an earlier call that stopped early
        // The result is computed straight into a contiguous output once the
        // first block has shown which of the blocks taken it is.
        const bool contiguous = strides[out_slot] == sizeof(double);
        int result_block = -1;
        for (npy_intp off = 0; off < size; off += Arena::block) {
            const npy_intp n = size - off < Arena::block ? size - off : Arena::block;
            char* dst = data[out_slot] + off * strides[out_slot];
            arena.reset();
            arena.land(result_block, reinterpret_cast<double*>(dst));
            Blocks d(arena, n);
            Lane r = F::eval(d, lane(scalar[I], int(I), iter.slot(I), data, strides, off, n, arena)...);
            if (d.failed() || !r.is_block() || r.deps != iter.all_arrays() || r.n.arg >= 0) return false;
            if (r.p == reinterpret_cast<const double*>(dst)) continue;
            if (contiguous) {
                std::memcpy(dst, r.p, std::size_t(n) * sizeof(double));
                result_block = arena.index_of(r.p);
            } else {
                for (npy_intp j = 0; j < n; ++j) std::memcpy(dst + j * strides[out_slot], r.p + j, sizeof(double));
            }
        }
        return !FpFlags::raised();
    });
    if (!ok) return false;
    out = iter.result();
    return true;
}

}  // namespace quarnel::array_path
