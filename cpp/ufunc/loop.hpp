// The inner loop of a formula's ufunc: float64 inputs of any stride, one
// float64 output, run by NumPy without the GIL.
//
// Element i is the module's call on numpy.float64 arguments. The loop takes
// the elements a block at a time through the lane domain (each element on
// its own branches, NumPy's loops and kernels over the block); a block, or
// the part of one, that raised a floating-point flag or could not be
// evaluated exactly in blocks is evaluated again element by element in the
// per-element domain, whose flags are exactly those of the scalar calls.
// The flags end up in the calling thread, where NumPy reports them under
// its error state; an element whose call would raise becomes NaN with the
// invalid flag.
#pragma once

#include "common/fp_flags.hpp"
#include "common/handle.hpp"
#include "machine/parallel.hpp"
#include "ufunc/scratch.hpp"
#include "values/ieee.hpp"
#include "values/lanes.hpp"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

namespace quarnel::ufunc {

#if defined(__x86_64__)
inline constexpr unsigned invalid_flag = _MM_EXCEPT_INVALID;
#else
inline constexpr unsigned invalid_flag = FE_INVALID;
#endif

// Which ufunc input each of the formula's parameters is, -1 for a
// parameter the formula never reads (the ufunc has no input for it).
template <class F>
struct InputMap {
    static constexpr std::size_t params = F::info.params.size();
    static constexpr int nin = int(params);
    static constexpr int of(std::size_t param) noexcept { return int(param); }
};

// Formulas without a branch on an element (the module evaluates them on
// arrays itself): their blocks go through the block domain first, as the
// module's array calls do, and the lane domain only where that steps aside
// or where inputs come in runs of equal values.
template <class F>
struct ElementWise {
    static constexpr bool value = false;
};

// The elements [begin, end) of one inner loop.
struct Span {
    char* const* args;
    const npy_intp* steps;
    npy_intp begin, end;
};

template <class F>
class Loop {
    using Map = InputMap<F>;
    static constexpr int nin = Map::nin;
    static constexpr std::size_t params = Map::params;
    using Seq = std::make_index_sequence<params>;

public:
    // NumPy's signature of an inner loop.
    static void run(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept {
        const npy_intp n = dimensions[0];
        const unsigned entry = unsigned(FpFlags::before());
        const Span all{args, steps, 0, n};
        unsigned flags = 0;
        if (sequential(args, steps, n)) {
            // reduce, accumulate: an element's input is an earlier element's
            // result, so the elements go one after the other.
            flags = one_by_one(all, 0, n, nullptr, nullptr);
        } else {
            // What each participant learns of the data (its landing block,
            // how branches went) carries over from one of its pieces to the next.
            Learnt learnt[machine::parallel::max_parts];
            machine::parallel::over(n, Arena::block, [&](npy_intp begin, npy_intp end, int who) noexcept {
                Span part = all;
                part.begin = begin, part.end = end;
                return evaluate(part, learnt[who]);
            }, flags);
        }
        FpFlags::clear();
        FpFlags::keep(decltype(FpFlags::before())(entry | flags));
    }

private:
    // Whether some element reads what another writes: an output of stride
    // 0 (NumPy's reduce) or an input overlapping the output other than
    // element for element (accumulate). The very same elements in and out
    // (out= an input) are element-wise.
    static bool sequential(char* const* args, const npy_intp* steps, npy_intp n) noexcept {
        if (n < 2) return false;
        if (steps[nin] == 0) return true;
        auto range = [n](const char* p, npy_intp step) {
            const char* last = p + (n - 1) * step;
            return std::pair{step < 0 ? last : p, (step < 0 ? p : last) + sizeof(double)};
        };
        const auto [out_lo, out_hi] = range(args[nin], steps[nin]);
        for (int i = 0; i < nin; ++i) {
            if (args[i] == args[nin] && steps[i] == steps[nin]) continue;
            const auto [lo, hi] = range(args[i], steps[i]);
            if (lo < out_hi && out_lo < hi) return true;
        }
        return false;
    }

    // Evaluates the elements of `s`; the watched flags their calls raise.
    struct Learnt {
        int land = -1;
        Tries tries;
    };

    static unsigned evaluate(const Span& s, Learnt& l) noexcept {
        Scratch* scratch = Scratch::mine();
        unsigned flags = 0;
        for (npy_intp off = s.begin; off < s.end; off += Arena::block, ++l.tries.blocks) {
            const npy_intp n = s.end - off < Arena::block ? s.end - off : Arena::block;
            flags |= scratch ? block(*scratch, s, off, n, l.land, l.tries) : one_by_one(s, off, n, nullptr, nullptr);
        }
        return flags;
    }

    // Whether the output's elements of a block may serve as one of the
    // formula's scratch blocks: contiguous, aligned and apart from every
    // input (NumPy hands a ufunc an output that is either apart from an
    // input or the very same elements).
    static double* landing(const Span& s, npy_intp off, npy_intp n) noexcept {
        char* out = s.args[nin] + off * s.steps[nin];
        if (s.steps[nin] != npy_intp(sizeof(double)) || reinterpret_cast<std::uintptr_t>(out) % alignof(double))
            return nullptr;
        const char* end = out + n * npy_intp(sizeof(double));
        for (int i = 0; i < nin; ++i) {
            const char* a = s.args[i] + off * s.steps[i];
            const char* lo = s.steps[i] < 0 ? a + (n - 1) * s.steps[i] : a;
            const char* hi = (s.steps[i] < 0 ? a : a + (n - 1) * s.steps[i]) + sizeof(double);
            if (lo < end && out < hi) return nullptr;
        }
        return reinterpret_cast<double*>(out);
    }

    // Input i of the block at `off`: a broadcast scalar, the elements in
    // place (contiguous and aligned) or a contiguous copy.
    struct Inputs {
        const double* p[nin > 0 ? nin : 1];
        bool scalar[nin > 0 ? nin : 1];
    };

    static Inputs gather(Scratch& sc, const Span& s, npy_intp off, npy_intp n) noexcept {
        Inputs in;
        for (int i = 0; i < nin; ++i) {
            const char* base = s.args[i] + off * s.steps[i];
            const npy_intp step = s.steps[i];
            in.scalar[i] = step == 0 || n == 1;
            if (in.scalar[i] || (step == npy_intp(sizeof(double)) &&
                                 reinterpret_cast<std::uintptr_t>(base) % alignof(double) == 0)) {
                if (in.scalar[i]) {
                    std::memcpy(sc.held[i], base, sizeof(double));
                    in.p[i] = sc.held[i];
                } else {
                    in.p[i] = reinterpret_cast<const double*>(base);
                }
                continue;
            }
            double* copy = sc.input[i];
            for (npy_intp j = 0; j < n; ++j) std::memcpy(copy + j, base + j * step, sizeof(double));
            in.p[i] = copy;
        }
        return in;
    }

    // One block of n elements: runs of the lane domain over ever smaller
    // sets of elements until every element has taken all its branches. A
    // run for one side of a branch starts from the record of the run that
    // met the branch (depth + 1), so runs are taken depth first.
    //
    // `land`: which of the scratch blocks the result took in the block
    // before; that one is the output itself where it may be, so a block
    // whose elements all take the same branches computes its result in
    // place.
    static unsigned block(Scratch& sc, const Span& s, npy_intp off, npy_intp n, int& land,
                          Tries& tries) noexcept {
        const Inputs in = gather(sc, s, off, n);
        double* result = sc.result;
        unsigned flags = 0;
        Arena& arena = *sc.arena;
        arena.reset();
        double* out = landing(s, off, n);
        arena.land(out ? land : -1, out);
        if constexpr (ElementWise<F>::value) {
            // Inputs in runs go to the lane domain, which computes what
            // depends on them alone once per run.
            if (!in_runs(in, n) && whole_block(sc, in, s, off, n, out, land)) return 0;
            arena.reset();
            arena.land(-1, nullptr);
        }
        int todo = 0;
        sc.todo[todo++] = Scratch::Todo{0, std::uint16_t(n), 0, 0, {}};
        while (todo > 0) {
            const Scratch::Todo t = sc.todo[--todo];
            const std::uint16_t* lanes = sc.lanes + t.first;
            Frame& frame = sc.frames[t.depth];
            frame.count = t.count;
            frame.fetched_count = 0;
            if (t.depth > 0) {
                std::memcpy(frame.pos, sc.positions + t.first, t.count * sizeof(std::uint16_t));
                arena.release(sc.arena_mark[t.depth - 1]);
            }
            Lanes d(arena, sc.frames, t.depth, t.forced, t.nforced, &tries);
            FpFlags::clear();
            const Lane r = eval(d, in, sc, Seq{});
            asm volatile("" : : "m"(r) : "memory");  // the flags are read after the result
            if (d.split() && t.depth + 1 < Scratch::max_depth) {
                if (t.depth == 0)
                    for (npy_intp j = 0; j < n; ++j) sc.lanes[j] = std::uint16_t(j);
                // The operations before the branch are not computed again:
                // their flags are those of every element of the run.
                flags |= unsigned(FpFlags::before());
                // Those whose branch was true first, in order; then the rest.
                const double* truth = d.split_truths();
                std::uint16_t* l = sc.lanes + t.first;
                std::uint16_t* p = sc.positions + t.first;
                std::uint16_t* spare = sc.spare;
                std::uint16_t* spare_pos = sc.spare_pos;
                std::uint16_t yes = 0, no = 0;
                for (std::uint16_t j = 0; j < t.count; ++j) {
                    if (truth[j] != 0.0) {
                        p[yes] = j;
                        l[yes++] = l[j];
                    } else {
                        spare_pos[no] = j;
                        spare[no++] = l[j];
                    }
                }
                std::memcpy(l + yes, spare, no * sizeof(std::uint16_t));
                std::memcpy(p + yes, spare_pos, no * sizeof(std::uint16_t));
                sc.arena_mark[t.depth] = arena.used();
                sc.frames[t.depth + 1].replay = d.recorded_before_split();
                const int k = d.branches_before_split();
                Scratch::Todo a{t.first, yes, std::uint8_t(k + 1), std::uint8_t(t.depth + 1), {}};
                std::memcpy(a.forced, d.decisions(), std::size_t(k));
                Scratch::Todo b = a;
                a.forced[k] = 1;
                b.forced[k] = 0;
                b.first = std::uint16_t(t.first + yes);
                b.count = no;
                sc.todo[todo++] = b;
                sc.todo[todo++] = a;
                continue;
            }
            if (d.split() || d.failed() || FpFlags::raised()) {
                flags |= one_by_one(s, off, t.count, t.depth > 0 ? lanes : nullptr, result);
                continue;
            }
            const Lane v = d.use(r);
            if (v.is_block()) {
                const double* values = d.elements(v);
                if (!values) {
                    flags |= one_by_one(s, off, t.count, t.depth > 0 ? lanes : nullptr, result);
                } else if (t.depth == 0) {
                    if (values == out) return flags;  // computed in place
                    land = arena.index_of(values);
                    std::memcpy(result, values, std::size_t(n) * sizeof(double));
                } else {
                    for (std::uint16_t j = 0; j < t.count; ++j) result[lanes[j]] = values[j];
                }
            } else {
                for (std::uint16_t j = 0; j < t.count; ++j) result[t.depth > 0 ? lanes[j] : j] = v.n.x;
            }
        }
        store(s, off, n, result);
        return flags;
    }

    static bool in_runs(const Inputs& in, npy_intp n) noexcept {
        for (int i = 0; i < nin; ++i)
            if (!in.scalar[i] && Runs::likely(in.p[i], n)) return true;
        return false;
    }

    // The block in the block domain; false (nothing written) where it steps
    // aside or a flag was raised.
    static bool whole_block(Scratch& sc, const Inputs& in, const Span& s, npy_intp off, npy_intp n,
                            double* out, int& land) noexcept {
        Blocks d(*sc.arena, n);
        FpFlags::clear();
        const Lane r = block_eval(d, in, Seq{});
        asm volatile("" : : "m"(r) : "memory");  // the flags are read after the result
        if (d.failed() || FpFlags::raised() || !r.is_block()) return false;
        if (r.p == out) return true;
        land = sc.arena->index_of(r.p);
        store(s, off, n, r.p);
        return true;
    }

    template <std::size_t... I>
    static Lane block_eval(Blocks& d, const Inputs& in, std::index_sequence<I...>) noexcept {
        return F::eval(d, block_lane<I>(in)...);
    }

    template <std::size_t I>
    static Lane block_lane(const Inputs& in) noexcept {
        constexpr int i = Map::of(I);
        if constexpr (i < 0) {
            return Lane(Num(0.0, Opaque));
        } else {
            if (in.scalar[i]) return Lane(Num(in.p[i][0], Kind::F64));
            return Blocks::block(in.p[i], 1u << i);
        }
    }

    template <std::size_t... I>
    static Lane eval(Lanes& d, const Inputs& in, Scratch& sc, std::index_sequence<I...>) noexcept {
        // The inputs first, in order: recorded as the first operations.
        Lane args[sizeof...(I)];
        ((args[I] = lane<I>(d, in, sc)), ...);
        return F::eval(d, args[I]...);
    }

    // Input I of the first run of a block: a scalar, the block itself or
    // one value per run of equal elements.
    template <std::size_t I>
    static Lane lane(Lanes& d, const Inputs& in, Scratch& sc) noexcept {
        constexpr int i = Map::of(I);
        if constexpr (i < 0) {
            return Lane(Num(0.0, Opaque));
        } else {
            return d.input(i, [&] {
                if (in.scalar[i]) return Lane(Num(in.p[i][0], Kind::F64));
                Runs& runs = sc.runs[i];
                if (!runs.find(in.p[i], sc.frames[0].count)) return Lanes::block(in.p[i]);
                runs.firsts(in.p[i], sc.firsts[i]);
                return Lanes::block(sc.firsts[i], &runs);
            });
        }
    }

    // The elements of the block at `off` listed in `lanes` (all n of them
    // when null), each as its own scalar call; into `result` (or straight
    // into the output when null).
    static unsigned one_by_one(const Span& s, npy_intp off, npy_intp count, const std::uint16_t* lanes,
                               double* result) noexcept {
        unsigned flags = 0;
        for (npy_intp j = 0; j < count; ++j) {
            const npy_intp e = off + (lanes ? lanes[j] : j);
            Num a[nin > 0 ? nin : 1];
            for (int i = 0; i < nin; ++i) {
                double x;
                std::memcpy(&x, s.args[i] + e * s.steps[i], sizeof(double));
                a[i] = Num(x, Kind::F64);
            }
            FpFlags::clear();
            Ieee d;
            Num r = scalar_eval(d, a, Seq{});
            asm volatile("" : "+m"(r.x) : : "memory");  // the flags are read after the result
            double value = r.x;
            unsigned raised = unsigned(FpFlags::before());
            if (d.raised() || d.failed()) {
                value = std::numeric_limits<double>::quiet_NaN();
                raised = (d.raised() ? d.flags_at_raise() : raised) | invalid_flag;
            }
            flags |= raised;
            if (result) result[lanes ? lanes[j] : j] = value;
            else std::memcpy(s.args[nin] + e * s.steps[nin], &value, sizeof(double));
        }
        return flags;
    }

    template <std::size_t... I>
    static Num scalar_eval(Ieee& d, const Num* a, std::index_sequence<I...>) noexcept {
        return F::eval(d, (Map::of(I) < 0 ? Num(0.0, Opaque) : a[Map::of(I) < 0 ? 0 : Map::of(I)])...);
    }

    static void store(const Span& s, npy_intp off, npy_intp n, const double* result) noexcept {
        char* base = s.args[nin] + off * s.steps[nin];
        const npy_intp step = s.steps[nin];
        if (step == npy_intp(sizeof(double))) {
            std::memcpy(base, result, std::size_t(n) * sizeof(double));
            return;
        }
        for (npy_intp j = 0; j < n; ++j) std::memcpy(base + j * step, result + j, sizeof(double));
    }
};

}  // namespace quarnel::ufunc
