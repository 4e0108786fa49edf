// The lane domain of the ufuncs: the block domain, with every element of a
// block free to take its own branches, and inputs that repeat their values
// evaluated once per run of equal elements.
//
// Branches. A comparison of array elements gives a block of truth values.
// Where a branch finds them all alike, the evaluation goes on down that
// side; where they differ, it stops (`split()`), and the caller evaluates
// the formula again for each side's elements alone, telling the domain the
// decisions already taken (`forced`). Every element therefore runs exactly
// the operations of its own scalar call, on a block of elements that took
// the same branches: the values are that call's bits, and the
// floating-point flags the block raises are those of its elements' calls.
//
// Runs. Time series and grids repeat their inputs (a day of year for 24
// hours, a latitude along a row). An input whose block is mostly runs of
// bit-identical elements comes as one value per run (`Lane::runs`), and so
// does everything computed from it alone or from it and scalars: a
// declination is computed once per day, not once per hour. A value per run
// meets a value per element by being spread over its run first. The same
// inputs give the same bits, so this changes no value and no flag.
//
// Earlier runs. A run for one side of a branch does not compute again what
// the run before the branch computed: the operations before the branch are
// the same operations on the same elements, so their values are taken from
// that run's record (`Frame::tape`), fetched for the run's elements when an
// operation after the branch first uses them.
//
// Both sides. A formula's branch written with branch() (values/branch.hpp)
// need not part the elements: where they differ, both sides are evaluated
// for all of them and each element takes its own side's value (`select`).
// That is exact when neither side raised a floating-point flag or stepped
// aside for any element: the taken side's operations are those of the
// element's scalar call, and the other side's left no trace. Otherwise the
// domain takes back everything the sides did (their records, scratch,
// fetched values and flags) and parts the elements there after all; a
// branch that could not be taken both ways twice running is tried again
// only now and then in the same part of a call (`Tries`). Within a side, a branch whose elements differ is taken
// both ways or not at all: a side never parts the elements.
//
// int() of elements and table lookups with them are exact for finite values
// in range; anything else stops the evaluation (`failed()`), and the caller
// evaluates those elements one by one in the per-element domain, which knows
// what the scalar call would raise.
#pragma once

#include "values/blocks.hpp"
#include "values/quiet_loops.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

namespace quarnel {

// Runs of equal elements in a block: run k covers [start[k], start[k+1]).
struct Runs {
    std::ptrdiff_t count = 0;
    std::uint16_t start[Arena::block + 1];

    // Whether the first elements of x[0, n) come in runs, as they must for
    // find() to succeed.
    static bool likely(const double* x, std::ptrdiff_t n) noexcept {
        const std::ptrdiff_t head = n < 32 ? n : 32;
        std::ptrdiff_t changes = 0;
        for (std::ptrdiff_t j = 1; j < head; ++j) changes += !same(x, j);
        return (changes + 1) * 4 <= head;
    }

    // Finds the runs of x[0, n); false when they are too many to be worth it
    // (more than a quarter of n).
    bool find(const double* x, std::ptrdiff_t n) noexcept {
        if (!likely(x, n)) return false;
        auto bits = [x](std::ptrdiff_t j) { return std::bit_cast<std::uint64_t>(x[j]); };
        count = n > 0;
        start[0] = 0;
        std::ptrdiff_t j = 1;
        // Runs are long where they pay: stretches of 8 with no run starting
        // in them are told by one vector comparison and skipped.
        for (; j + 8 <= n; j += 8) {
            std::uint64_t changed = 0;
            for (int k = 0; k < 8; ++k) changed |= bits(j + k) ^ bits(j + k - 1);
            if (!changed) continue;
            for (int k = 0; k < 8; ++k) {
                start[count] = std::uint16_t(j + k);
                count += bits(j + k) != bits(j + k - 1);
            }
            if (count * 4 > n) return false;
        }
        for (; j < n; ++j) {
            start[count] = std::uint16_t(j);
            count += bits(j) != bits(j - 1);
        }
        if (count * 4 > n) return false;
        start[count] = std::uint16_t(n);
        return true;
    }
    // The first element of each run.
    void firsts(const double* x, double* out) const noexcept {
        for (std::ptrdiff_t k = 0; k < count; ++k) out[k] = x[start[k]];
    }
    void spread(const double* v, double* out) const noexcept {
        for (std::ptrdiff_t k = 0; k < count; ++k) {
            const double x = v[k];
            for (std::ptrdiff_t j = start[k]; j < start[k + 1]; ++j) out[j] = x;
        }
    }

private:
    static bool same(const double* x, std::ptrdiff_t j) noexcept {
        return std::bit_cast<std::uint64_t>(x[j]) == std::bit_cast<std::uint64_t>(x[j - 1]);
    }
};

// One run of the lane domain over a set of a block's elements.
struct Frame {
    static constexpr int max_ops = 320;
    // For each element, its index among the elements of the run before the
    // branch (unused for the first run).
    std::uint16_t pos[Arena::block];
    std::ptrdiff_t count = 0;
    int replay = 0;  // operations taken from earlier runs
    Lane tape[max_ops];
    // Runs of the values fetched from earlier runs per run of equal elements.
    static constexpr int max_fetched = 4;
    Runs fetched[max_fetched];
    int fetched_count = 0;
    // Operations of earlier runs fetched while both sides of a branch are
    // evaluated, to be forgotten if they are taken back.
    std::int16_t fetched_ops[max_ops];
};

// How taking each branch both ways went in the blocks of one part of a
// call so far.
struct Tries {
    static constexpr int branches = 32;
    std::uint8_t misses[branches] = {};  // failures since the last success
    std::uint32_t blocks = 0;            // blocks begun
    bool worth(int k) const noexcept { return misses[k] < 2 || blocks % 16 == 0; }
    void went(int k, bool well) noexcept {
        if (well) misses[k] = 0;
        else if (misses[k] < 255) ++misses[k];
    }
};

class Lanes {
public:
    using A = Lane;
    using V = Lane;
    using Operand = Lane;
    using Fn = NpFn;
    template <std::size_t N>
    using Table = const KonstTable<N>*;
    static constexpr int max_branches = Tries::branches;
    // A decision of a branch: 1 true, 0 false, or both sides.
    static constexpr std::uint8_t both = 2;

    // A run over frames[depth]: `forced[k]` decides the k-th branch for
    // k < nforced, unexamined, and frames[0 .. depth) are the runs before
    // the branches (their records intact). `tries`, where given, tells
    // which branches are worth taking both ways, and learns how it went.
    Lanes(Arena& arena, Frame* frames, int depth, const std::uint8_t* forced, int nforced,
          Tries* tries = nullptr) noexcept
        : arena_(arena), n_(frames[depth].count), forced_(forced), nforced_(nforced), frames_(frames),
          depth_(depth), tries_(tries) {}

    // An input (the inputs are recorded first, in order): `make()` in the
    // first run, the first run's value in the others.
    template <class Make>
    Lane input(int, const Make& make) noexcept {
        return record([&] { return make(); });
    }
    // How many operations this run has recorded.
    int recorded() const noexcept { return pos_; }

    bool failed() const noexcept { return scalar_.failed(); }
    // Where the elements parted: the truth of the branch per element (1.0
    // true, 0.0 false), how many branches were decided before it and how.
    bool split() const noexcept { return split_ != nullptr; }
    const double* split_truths() const noexcept { return split_; }
    int branches_before_split() const noexcept { return branch_; }
    const std::uint8_t* decisions() const noexcept { return taken_; }

    // A block with one value per element (spread from its runs if need be);
    // null without scratch space.
    const double* elements(const Lane& given) noexcept {
        const Lane a = use(given);
        if (failed()) return nullptr;
        if (!a.runs) return a.p;
        double* out = arena_.take();
        if (out) a.runs->spread(a.p, out);
        return out;
    }

    static Lane block(const double* p, const Runs* runs = nullptr) noexcept {
        Lane l(Num(0.0, Kind::Arr));
        l.p = p;
        l.runs = runs;
        return l;
    }

    void at(int) noexcept {}
    template <class F>
    auto inner(const FunctionInfo&, F&& body) {
        return body();
    }
    // The elements' own value: a ufunc copies its result out in any case.
    Lane keep(const Lane& a) noexcept { return a; }
    NpFn fn(NpFn f) noexcept { return f; }
    Lane pi() noexcept { return scalar_.pi(); }
    Lane fail() noexcept { return scalar_.fail(); }

    Lane add(const Lane& a, const Lane& b) noexcept {
        return record([&] {
            return a.is_block() || b.is_block() ? loop2(a, b, np_loops::table().add_dd) : Lane(scalar_.add(a.n, b.n));
        });
    }
    Lane sub(const Lane& a, const Lane& b) noexcept {
        return record([&] {
            return a.is_block() || b.is_block() ? loop2(a, b, np_loops::table().subtract_dd)
                                                : Lane(scalar_.sub(a.n, b.n));
        });
    }
    Lane mul(const Lane& a, const Lane& b) noexcept {
        return record([&] {
            return a.is_block() || b.is_block() ? loop2(a, b, np_loops::table().multiply_dd)
                                                : Lane(scalar_.mul(a.n, b.n));
        });
    }
    Lane div(const Lane& a, const Lane& b) noexcept {
        return record([&] {
            if (!a.is_block() && !b.is_block()) return Lane(scalar_.div(a.n, b.n));
            // Dividing by a power of two is multiplying by its reciprocal:
            // both round the same exact quotient.
            if (!b.is_block() && numeric_kind(b.n.k) && exact_reciprocal(b.n.x))
                return loop2(a, Lane(Num(1.0 / b.n.x, Kind::Float)), np_loops::table().multiply_dd);
            return loop2(a, b, np_loops::table().divide_dd);
        });
    }
    Lane neg(const Lane& a) noexcept {
        return record([&] {
            if (!a.is_block()) return Lane(scalar_.neg(a.n));
            return map(a, [](const double* in, double* out, std::ptrdiff_t m) {
                np_loops::run(np_loops::table().negative_d, in, out, m);
            });
        });
    }

    Lane lt(const Lane& a, const Lane& b) noexcept { return compare<quiet::Cmp::lt>(a, b, &Native::lt); }
    Lane le(const Lane& a, const Lane& b) noexcept { return compare<quiet::Cmp::le>(a, b, &Native::le); }
    Lane gt(const Lane& a, const Lane& b) noexcept { return compare<quiet::Cmp::gt>(a, b, &Native::gt); }
    Lane ge(const Lane& a, const Lane& b) noexcept { return compare<quiet::Cmp::ge>(a, b, &Native::ge); }
    Lane eq(const Lane& a, const Lane& b) noexcept { return compare<quiet::Cmp::eq>(a, b, &Native::eq); }
    Lane and_(const Lane& a, const Lane& b) noexcept {
        return compare<quiet::Cmp::both_true>(a, b, &Native::and_);
    }

    bool truth(const Lane& given) noexcept {
        if (failed()) return false;
        const int k = branch_++;
        if (k >= max_branches) {
            fail();
            return false;
        }
        if (k < nforced_) return decide(k, forced_[k] != 0);
        const Lane a = use(given);
        if (!a.is_block()) return decide(k, scalar_.truth(a.n));
        const std::ptrdiff_t m = size(a);
        const std::ptrdiff_t true_count = quiet::count_true(a.p, m);
        if (true_count == m) return decide(k, true);
        if (true_count == 0) return decide(k, false);
        if (both_ways_ > 0) {
            fail();  // a side does not part the elements
            return false;
        }
        split_ = elements(a);
        branch_ = k;
        split_at_ = pos_;
        fail();
        return false;
    }
    bool decide(int k, bool taken) noexcept {
        taken_[k] = taken;
        return taken;
    }
    // How many operations the run before the split had recorded.
    int recorded_before_split() const noexcept { return split_at_; }

    // if (truth(c)) then_() else else_(), with the elements that differ
    // taken both ways where that is exact (see the top of the file).
    template <class Then, class Else>
    Lane branch(const Lane& c, const Then& then_, const Else& else_) noexcept {
        if (failed()) return fail();
        const int k = branch_++;
        if (k >= max_branches) return fail();
        if (k < nforced_) {
            taken_[k] = forced_[k];
            if (forced_[k] != both) return forced_[k] ? then_() : else_();
            // Taken both ways by the run before: its record has it all.
            then_();
            else_();
            return record([&] { return fail(); });
        }
        const Lane a = use(c);
        if (failed()) return fail();
        if (!a.is_block()) return decide(k, scalar_.truth(a.n)) ? then_() : else_();
        const std::ptrdiff_t m = size(a);
        const std::ptrdiff_t true_count = quiet::count_true(a.p, m);
        if (true_count == m) return decide(k, true) ? then_() : else_();
        if (true_count == 0) return decide(k, false) ? then_() : else_();
        if (!tries_ || tries_->worth(k)) {
            Frame& here = frames_[depth_];
            const int pos = pos_, blocks = arena_.used(), fetched = here.fetched_count, ops = fetched_ops_;
            const auto flags = FpFlags::before();
            FpFlags::clear();
            ++both_ways_;
            const Lane x = then_();
            const Lane y = failed() ? fail() : else_();
            --both_ways_;
            if (!failed() && !FpFlags::raised()) {
                const Lane r = record([&] { return select(a, x, y); });
                if (!failed()) {
                    FpFlags::keep(flags);
                    taken_[k] = both;
                    if (tries_ && both_ways_ == 0) tries_->went(k, true);
                    return r;
                }
            }
            // Taken back.
            while (fetched_ops_ > ops) {
                const int t = here.fetched_ops[--fetched_ops_];
                here.tape[t] = Lane(Num(0.0, Kind::Arr));
                here.tape[t].tape = std::int16_t(t);
            }
            pos_ = pos;
            arena_.release(blocks);
            done_count_ = done_next_ = 0;  // their values were in the scratch given back
            here.fetched_count = fetched;
            branch_ = k + 1;
            scalar_.recover();
            FpFlags::clear();
            FpFlags::keep(flags);
            // Counted against the outermost branch tried: one within a side
            // may well be taken both ways once the elements part before it.
            if (tries_ && both_ways_ == 0) tries_->went(k, false);
        }
        if (both_ways_ > 0) return fail();  // a side does not part the elements
        split_ = elements(a);
        branch_ = k;
        split_at_ = pos_;
        return fail();
    }

    // int() of each element: exact below 2**53, anything else per element.
    Lane to_int(const Lane& a) noexcept {
        return record([&] {
            if (!a.is_block()) return Lane(scalar_.to_int(a.n));
            bool exact = true;
            const Lane r = map(a, [&](const double* in, double* out, std::ptrdiff_t m) {
                for (std::ptrdiff_t j = 0; j < m; ++j) {
                    exact &= std::fabs(in[j]) < Native::exact_limit;
                    out[j] = __builtin_trunc(in[j]) + 0.0;
                }
            });
            return exact ? r : fail();
        });
    }

    template <std::size_t N>
    Table<N> array(NpFn, const KonstTable<N>& t) noexcept {
        return &t;
    }
    template <std::size_t N>
    Lane item(Table<N> t, const Lane& i) noexcept {
        return record([&] {
            if (!i.is_block()) return Lane(scalar_.item(t, i.n));
            bool inside = true;
            const Lane r = map(i, [&](const double* in, double* out, std::ptrdiff_t m) {
                for (std::ptrdiff_t j = 0; j < m; ++j) {
                    const double idx = in[j] < 0 ? in[j] + double(N) : in[j];
                    const bool ok = idx >= 0 && idx < double(N);
                    inside &= ok;
                    out[j] = t->entries[ok ? std::size_t(idx) : 0].value;
                }
            });
            return inside ? r : fail();
        });
    }

    Lane call(NpFn f, const Lane& a) noexcept {
        return record([&] {
            if (!a.is_block()) return Lane(scalar_.call(f, a.n));
            return again(&np_fn_names[int(f)], a, Lane(), [&] { return unary(f, a); });
        });
    }

    // np.sin(np.radians(x)) and np.cos(np.radians(x)): the angle converted
    // once (the same bits twice), both from one pass where NumPy's loops are
    // the C library's. Recorded as three operations.
    std::pair<Lane, Lane> sin_cos_of_degrees(const Lane& a) noexcept {
        if (!a.is_block() || !np_loops::table().libm_trig) {
            const Lane s = call(NpFn::sin, call(NpFn::radians, a));
            return {s, call(NpFn::cos, call(NpFn::radians, a))};
        }
        const Lane r = call(NpFn::radians, a);
        Lane c;
        const Lane s = record([&] {
            const Lane x = use(r);
            if (failed()) return fail();
            double* so = arena_.take();
            double* co = arena_.take();
            if (!so || !co) return fail();
            const std::ptrdiff_t m = size(x);
            if (sincos_kernel::ready()) sincos_kernel::sin_cos(x.p, m, so, co);
            else
                for (std::ptrdiff_t j = 0; j < m; ++j) np_loops::sincos(x.p[j], so + j, co + j);
            c = block(co, x.runs);
            return block(so, x.runs);
        });
        c = record([&] { return c; });
        return {s, c};
    }

    Lane call(NpFn f, const Lane& a, const Lane& b) noexcept {
        return record([&] {
            if (!a.is_block() && !b.is_block()) return Lane(scalar_.call(f, a.n, b.n));
            const auto& t = np_loops::table();
            const vector_kernels::Power k = f == NpFn::power ? vector_kernels::power() : nullptr;
            if (k && vector_kernels::power_fits(b.is_block(), b.n.x))
                return again(&t.power_dd, a, b, [&] {
                    return zip(a, b, [k](const double* pa, int sa, const double* pb, int sb, double* out,
                                         std::ptrdiff_t m) { k(pa, sa, pb, sb, out, m); });
                });
            return loop2(a, b, f == NpFn::maximum ? t.maximum_dd : t.power_dd);
        });
    }

    // A value ready for use: one of an earlier run fetched for this run's
    // elements (once; the record keeps it).
    Lane use(const Lane& a) noexcept {
        if (a.tape < 0 || failed()) return a;
        Frame& here = frames_[depth_];
        const int t = a.tape;
        if (here.tape[t].tape < 0) return here.tape[t];
        if (both_ways_ > 0) here.fetched_ops[fetched_ops_++] = std::int16_t(t);
        int k = depth_ - 1;  // the nearest run that computed or fetched it
        while (k > 0 && frames_[k].tape[t].tape >= 0) --k;
        const Lane& src = frames_[k].tape[t];
        if (!src.is_block()) return here.tape[t] = src;
        double* out = arena_.take();
        if (!out) return fail();
        // Where this run's elements stand in run k.
        const std::uint16_t* at = here.pos;
        if (k < depth_ - 1) {
            std::uint16_t* composed = reinterpret_cast<std::uint16_t*>(arena_.take());
            if (!composed) return fail();
            for (std::ptrdiff_t j = 0; j < n_; ++j) {
                std::uint16_t x = here.pos[j];
                for (int level = depth_ - 1; level > k; --level) x = frames_[level].pos[x];
                composed[j] = x;
            }
            at = composed;
        }
        auto source_of = [at](std::ptrdiff_t j) { return at[j]; };
        if (!src.runs) {
            for (std::ptrdiff_t j = 0; j < n_; ++j) out[j] = src.p[at[j]];
            return here.tape[t] = block(out);
        }
        // Per run: these elements keep the runs they had, as far as they
        // are still consecutive here.
        const Runs& from = *src.runs;
        std::uint16_t* run_of = reinterpret_cast<std::uint16_t*>(arena_.take());
        if (!run_of) return fail();
        for (std::ptrdiff_t r = 0; r < from.count; ++r)
            for (std::ptrdiff_t j = from.start[r]; j < from.start[r + 1]; ++j) run_of[j] = std::uint16_t(r);
        Runs* runs = here.fetched_count < Frame::max_fetched ? &here.fetched[here.fetched_count] : nullptr;
        std::ptrdiff_t count = 0;
        std::uint16_t last = 0;
        for (std::ptrdiff_t j = 0; j < n_; ++j) {
            const std::uint16_t r = run_of[source_of(j)];
            if (j > 0 && r == last) continue;
            if (runs) runs->start[count] = std::uint16_t(j);
            out[count++] = from.count > 0 ? src.p[r] : 0.0;
            last = r;
        }
        if (runs && count * 4 <= n_) {
            runs->count = count;
            runs->start[count] = std::uint16_t(n_);
            ++here.fetched_count;
            return here.tape[t] = block(out, runs);
        }
        for (std::ptrdiff_t j = 0; j < n_; ++j) out[j] = src.p[run_of[source_of(j)]];
        return here.tape[t] = block(out);
    }

private:
    // Operation number pos_ of the run: taken from the runs before the
    // branch while they cover it, computed (and recorded) after.
    template <class Compute>
    Lane record(const Compute& compute) noexcept {
        if (failed()) return fail();
        const int t = pos_++;
        if (t >= Frame::max_ops) return fail();
        Frame& here = frames_[depth_];
        if (t < here.replay) {
            // Scalars are taken as they are; blocks when first used.
            int k = depth_ - 1;
            while (k > 0 && frames_[k].tape[t].tape >= 0) --k;
            const Lane& src = frames_[k].tape[t];
            Lane r = src.is_block() ? Lane(Num(0.0, Kind::Arr)) : src;
            if (src.is_block()) r.tape = std::int16_t(t);
            return here.tape[t] = r;
        }
        return here.tape[t] = compute();
    }

    Lane unary(NpFn f, const Lane& a) noexcept {
        if (f == NpFn::trunc)
            return map(a, [](const double* in, double* out, std::ptrdiff_t m) {
                for (std::ptrdiff_t j = 0; j < m; ++j) out[j] = __builtin_trunc(in[j]);
            });
        if (const double k = np_loops::table().scale[int(f)])
            return map(a, [k](const double* in, double* out, std::ptrdiff_t m) {
                for (std::ptrdiff_t j = 0; j < m; ++j) out[j] = in[j] * k;
            });
        if ((f == NpFn::sin || f == NpFn::cos) && sincos_kernel::ready()) {
            const bool sine = f == NpFn::sin;
            return map(a, [sine](const double* in, double* out, std::ptrdiff_t m) {
                sincos_kernel::sin_cos(in, m, sine ? out : nullptr, sine ? nullptr : out);
            });
        }
        if (const vector_kernels::Unary k = vector_kernels::unary(f))
            return map(a, [k](const double* in, double* out, std::ptrdiff_t m) { k(in, m, out); });
        const np_loops::Loop& loop = np_loops::table().unary[int(f)];
        return map(a, [&loop](const double* in, double* out, std::ptrdiff_t m) { np_loops::run(loop, in, out, m); });
    }

    std::ptrdiff_t size(const Lane& a) const noexcept { return a.runs ? a.runs->count : n_; }

    // f(in, out, m) over the values of a block (per run or per element).
    template <class Kernel>
    Lane map(const Lane& given, const Kernel& kernel) noexcept {
        const Lane a = use(given);
        if (failed()) return fail();
        double* out = arena_.take();
        if (!out) return fail();
        kernel(a.p, out, size(a));
        return block(out, a.runs);
    }

    // Two operands, at least one a block: per run when both are per run of
    // the same runs (or one is a scalar), per element otherwise.
    template <class Kernel>
    Lane zip(const Lane& given_a, const Lane& given_b, const Kernel& kernel) noexcept {
        const Lane a = use(given_a);
        const Lane b = use(given_b);
        if (failed()) return fail();
        if ((!a.is_block() && !numeric_kind(a.n.k)) || (!b.is_block() && !numeric_kind(b.n.k))) return fail();
        const Runs* runs = a.is_block() ? a.runs : b.runs;
        const double* pa = a.is_block() ? a.p : &a.n.x;
        const double* pb = b.is_block() ? b.p : &b.n.x;
        if (a.is_block() && b.is_block() && a.runs != b.runs) {
            runs = nullptr;
            pa = elements(a);
            pb = elements(b);
            if (!pa || !pb) return fail();
        }
        double* out = arena_.take();
        if (!out) return fail();
        kernel(pa, a.is_block() ? 1 : 0, pb, b.is_block() ? 1 : 0, out, runs ? runs->count : n_);
        return block(out, runs);
    }

    Lane loop2(const Lane& a, const Lane& b, const np_loops::Loop& loop) noexcept {
        return again(&loop, a, b, [&] {
            return zip(a, b, [&loop](const double* pa, int sa, const double* pb, int sb, double* out,
                                     std::ptrdiff_t m) {
                np_loops::run(loop, pa, sa * std::ptrdiff_t(sizeof(double)), pb,
                              sb * std::ptrdiff_t(sizeof(double)), out, m);
            });
        });
    }

    // Operation `op` on operands it met before in this run: the value it
    // gave then (the same bits, and no flag the first did not raise). Sides
    // of a branch taken both ways compute the same cosine, a formula forms
    // the same product twice.
    struct Done {
        const void* op;
        const double *a, *b;  // blocks, or null for a scalar
        const Runs *ra, *rb;
        std::uint64_t xa, xb;  // a scalar's bits
        Lane value;
    };
    static constexpr int done_size = 16;

    template <class Compute>
    Lane again(const void* op, const Lane& given_a, const Lane& given_b, const Compute& compute) noexcept {
        const Lane a = use(given_a);
        const Lane b = use(given_b);
        if (failed()) return fail();
        Done key{op, a.is_block() ? a.p : nullptr, b.is_block() ? b.p : nullptr, a.runs, b.runs,
                 a.is_block() ? 0 : std::bit_cast<std::uint64_t>(a.n.x),
                 b.is_block() ? 0 : std::bit_cast<std::uint64_t>(b.n.x), Lane()};
        for (int i = 0; i < done_count_; ++i) {
            const Done& e = done_[i];
            if (e.op == key.op && e.a == key.a && e.b == key.b && e.ra == key.ra && e.rb == key.rb &&
                e.xa == key.xa && e.xb == key.xb)
                return e.value;
        }
        key.value = compute();
        if (!failed() && key.value.is_block()) {
            done_[done_next_++ % done_size] = key;
            if (done_count_ < done_size) ++done_count_;
        }
        return key.value;
    }

    // Comparisons are quiet (a NaN raises no flag, as in NumPy).
    template <quiet::Cmp c>
    Lane compare(const Lane& a, const Lane& b, Num (Native::*scalar)(Num, Num)) noexcept {
        return record([&] {
            if (!a.is_block() && !b.is_block()) return Lane((scalar_.*scalar)(a.n, b.n));
            return zip(a, b, [](const double* pa, int sa, const double* pb, int sb, double* out, std::ptrdiff_t m) {
                quiet::compare<c>(pa, sa, pb, sb, out, m);
            });
        });
    }

    // Per element (or per run, where all three have the same runs): x where
    // the truth value c is true (NaN included), else y.
    Lane select(const Lane& given_c, const Lane& given_x, const Lane& given_y) noexcept {
        const Lane c = use(given_c);
        const Lane x = use(given_x);
        const Lane y = use(given_y);
        if (failed()) return fail();
        if ((!x.is_block() && !numeric_kind(x.n.k)) || (!y.is_block() && !numeric_kind(y.n.k))) return fail();
        const bool per_run = c.runs && (!x.is_block() || x.runs == c.runs) && (!y.is_block() || y.runs == c.runs);
        const double* pc = per_run ? c.p : elements(c);
        const double* px = !x.is_block() ? &x.n.x : per_run ? x.p : elements(x);
        const double* py = !y.is_block() ? &y.n.x : per_run ? y.p : elements(y);
        double* out = arena_.take();
        if (!pc || !px || !py || !out) return fail();
        const std::ptrdiff_t sx = x.is_block(), sy = y.is_block();
        const std::ptrdiff_t m = per_run ? c.runs->count : n_;
        quiet::select(pc, px, sx, py, sy, out, m);
        return block(out, per_run ? c.runs : nullptr);
    }

    Native scalar_;
    Arena& arena_;
    std::ptrdiff_t n_;
    const std::uint8_t* forced_;
    int nforced_;
    Frame* frames_;
    int depth_;
    Tries* tries_;
    Done done_[done_size];
    int done_count_ = 0, done_next_ = 0;
    int both_ways_ = 0;    // sides of branches being evaluated both ways
    int fetched_ops_ = 0;  // entries of Frame::fetched_ops
    int pos_ = 0;
    int split_at_ = 0;
    int branch_ = 0;
    std::uint8_t taken_[max_branches] = {};
    const double* split_ = nullptr;
};

}  // namespace quarnel
