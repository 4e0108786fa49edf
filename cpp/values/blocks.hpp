// The block domain: the native domain extended by float64 array elements,
// evaluated a block of contiguous elements at a time. A formula runs once
// per block; every operation on array elements is one tight loop over the
// block (or one call of NumPy's own inner loop for an elementary function),
// and values that do not depend on an array stay native scalars.
//
// Control flow never depends on array elements: a branch on an array value,
// int() of one, a comparison or a table index involving one all step aside,
// exactly where NumPy would raise for a multi-element array. Every block
// therefore takes the same path, and the first block tells whether the
// formula is element-wise in the arrays it was given.
#pragma once

#include "machine/sincos_kernel.hpp"
#include "machine/vector_kernels.hpp"
#include "values/native.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace quarnel {

struct Runs;  // lanes.hpp

struct Lane {
    Num n;                      // the value, or kind Arr for array elements
    const double* p = nullptr;  // the block, when n.k == Kind::Arr
    std::uint32_t deps = 0;     // which array arguments it depends on
    // The lane domain only: p holds one value per run of equal elements;
    // or, with p null, the value is operation `tape` of an earlier run,
    // fetched when first used.
    const Runs* runs = nullptr;
    std::int16_t tape = -1;

    Lane() = default;
    Lane(Num v) : n(v) {}
    Lane(Konst c) : n(c) {}
    bool is_block() const noexcept { return n.k == Kind::Arr; }
};

// Scratch blocks for the intermediate values of one formula evaluation,
// reused from block to block by one evaluating thread at a time.
class Arena {
public:
    static constexpr std::ptrdiff_t block = 1024;
    static constexpr int default_capacity = 96;

    // Left uninitialised; without memory every take() fails and the call
    // goes to the generic path.
    explicit Arena(int capacity = default_capacity) noexcept
        : storage_(new (std::nothrow) double[std::size_t(block) * std::size_t(capacity)]), capacity_(capacity) {}
    void reset() noexcept { used_ = 0; }
    // Blocks taken since the last reset; release(mark) gives back those
    // taken after `mark`.
    int used() const noexcept { return used_; }
    void release(int mark) noexcept { used_ = mark; }
    double* take() noexcept {
        if (used_ == land_index_) {
            ++used_;
            return land_;
        }
        return storage_ && used_ < capacity_ ? storage_.get() + std::size_t(used_++) * block : nullptr;
    }
    // From the next reset on, the `index`-th block taken is `dst`: a formula
    // takes its blocks in the same order for every block of elements, so the
    // one its result was in last time can be the output itself. -1: none.
    void land(int index, double* dst) noexcept {
        land_index_ = index;
        land_ = dst;
    }
    // Which block taken since the last reset `p` is, or -1.
    int index_of(const double* p) const noexcept {
        const double* base = storage_.get();
        if (!base || p < base || p >= base + std::size_t(block) * std::size_t(capacity_)) return -1;
        return int((p - base) / block);
    }

private:
    std::unique_ptr<double[]> storage_;
    int capacity_;
    int used_ = 0;
    int land_index_ = -1;
    double* land_ = nullptr;
};

// Whether a scalar of kind k takes part in arithmetic with blocks.
inline bool numeric_kind(Kind k) noexcept {
    return k == Kind::Int || k == Kind::I64 || k == Kind::Float || k == Kind::F64;
}

// Whether 1/x is exact and x * (1/x) rounds as x divides: x = +-2**k with
// both 2**k and 2**-k normal. Dividing a block by such an x is multiplying
// it by 1/x: both round the same exact quotient.
inline bool exact_reciprocal(double x) noexcept {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
    const std::uint64_t exponent = (bits >> 52) & 0x7ff;
    return (bits & 0xfffffffffffffu) == 0 && exponent >= 1 && exponent <= 2045;
}

class Blocks {
public:
    using A = Lane;
    using V = Lane;
    using Operand = Lane;
    using Fn = NpFn;
    template <std::size_t N>
    using Table = const KonstTable<N>*;

    Blocks(Arena& arena, std::ptrdiff_t n) noexcept : arena_(arena), n_(n) {}

    bool failed() const noexcept { return scalar_.failed(); }

    void at(int) noexcept {}
    template <class F>
    auto inner(const FunctionInfo&, F&& body) {
        return body();
    }

    Lane keep(const Lane& a) noexcept {
        if (a.is_block() && a.n.arg >= 0) return fail();  // the argument array itself
        return a;
    }

    Lane add(const Lane& a, const Lane& b) noexcept {
        if (!a.is_block() && !b.is_block()) return scalar_.add(a.n, b.n);
        return zip(a, b, np_loops::table().add_dd);
    }
    Lane sub(const Lane& a, const Lane& b) noexcept {
        if (!a.is_block() && !b.is_block()) return scalar_.sub(a.n, b.n);
        return zip(a, b, np_loops::table().subtract_dd);
    }
    Lane mul(const Lane& a, const Lane& b) noexcept {
        if (!a.is_block() && !b.is_block()) return scalar_.mul(a.n, b.n);
        return zip(a, b, np_loops::table().multiply_dd);
    }
    Lane div(const Lane& a, const Lane& b) noexcept {
        if (!a.is_block() && !b.is_block()) return scalar_.div(a.n, b.n);
        // Dividing by a power of two is multiplying by its reciprocal: both
        // round the same exact quotient, and the multiplication is several
        // times faster.
        if (!b.is_block() && numeric_kind(b.n.k) && exact_reciprocal(b.n.x))
            return zip(a, Lane(Num(1.0 / b.n.x, Kind::Float)), np_loops::table().multiply_dd);
        // Division by zero raises a floating-point flag; the caller checks them.
        return zip(a, b, np_loops::table().divide_dd);
    }
    Lane neg(const Lane& a) noexcept {
        if (!a.is_block()) return scalar_.neg(a.n);
        if (failed()) return fail();
        double* out = arena_.take();
        if (!out) return fail();
        np_loops::run(np_loops::table().negative_d, a.p, out, n_);
        return block(out, a.deps);
    }

    Lane lt(const Lane& a, const Lane& b) noexcept { return scalar2(a, b) ? scalar_.lt(a.n, b.n) : fail(); }
    Lane le(const Lane& a, const Lane& b) noexcept { return scalar2(a, b) ? scalar_.le(a.n, b.n) : fail(); }
    Lane gt(const Lane& a, const Lane& b) noexcept { return scalar2(a, b) ? scalar_.gt(a.n, b.n) : fail(); }
    Lane ge(const Lane& a, const Lane& b) noexcept { return scalar2(a, b) ? scalar_.ge(a.n, b.n) : fail(); }
    Lane eq(const Lane& a, const Lane& b) noexcept { return scalar2(a, b) ? scalar_.eq(a.n, b.n) : fail(); }
    Lane and_(const Lane& a, const Lane& b) noexcept {
        return scalar2(a, b) ? scalar_.and_(a.n, b.n) : fail();
    }
    bool truth(const Lane& a) noexcept { return scalar_.truth(a.n); }
    Lane to_int(const Lane& a) noexcept { return a.is_block() ? fail() : scalar_.to_int(a.n); }

    NpFn fn(NpFn f) noexcept { return f; }
    Lane pi() noexcept { return scalar_.pi(); }

    Lane call(NpFn f, const Lane& a) noexcept {
        if (!a.is_block()) return scalar_.call(f, a.n);
        if (failed()) return fail();
        double* out = arena_.take();
        if (!out) return fail();
        if (f == NpFn::trunc) {
            for (std::ptrdiff_t j = 0; j < n_; ++j) out[j] = __builtin_trunc(a.p[j]);
        } else if (const double k = np_loops::table().scale[int(f)]) {
            for (std::ptrdiff_t j = 0; j < n_; ++j) out[j] = a.p[j] * k;
        } else if ((f == NpFn::sin || f == NpFn::cos) && sincos_kernel::ready()) {
            const bool sine = f == NpFn::sin;
            over_runs(a.p, [sine](const double* in, std::ptrdiff_t n, double* o, double*) {
                sincos_kernel::sin_cos(in, n, sine ? o : nullptr, sine ? nullptr : o);
            }, out);
        } else if (const vector_kernels::Unary k = vector_kernels::unary(f)) {
            over_runs(a.p, [k](const double* in, std::ptrdiff_t n, double* o, double*) { k(in, n, o); }, out);
        } else {
            const np_loops::Loop& loop = np_loops::table().unary[int(f)];
            over_runs(a.p, [&](const double* in, std::ptrdiff_t n, double* o, double*) {
                np_loops::run(loop, in, o, n);
            }, out);
        }
        return block(out, a.deps);
    }
    // The sine and cosine of one angle in degrees, as np.sin(np.radians(x))
    // and np.cos(np.radians(x)): the angle is converted once (the same bits
    // twice) and, when NumPy's loops are the C library's, both come from one
    // sincos per element.
    std::pair<Lane, Lane> sin_cos_of_degrees(const Lane& a) noexcept {
        if (failed()) return {fail(), fail()};
        if (!a.is_block() || !np_loops::table().libm_trig)
            return {call(NpFn::sin, call(NpFn::radians, a)), call(NpFn::cos, call(NpFn::radians, a))};
        const Lane r = call(NpFn::radians, a);
        double* s = arena_.take();
        double* c = arena_.take();
        if (!r.is_block() || !s || !c) return {fail(), fail()};
        over_runs(r.p, [](const double* in, std::ptrdiff_t n, double* so, double* co) {
            if (sincos_kernel::ready()) return sincos_kernel::sin_cos(in, n, so, co);
            for (std::ptrdiff_t j = 0; j < n; ++j) np_loops::sincos(in[j], so + j, co + j);
        }, s, c);
        return {block(s, r.deps), block(c, r.deps)};
    }

    Lane call(NpFn f, const Lane& a, const Lane& b) noexcept {
        if (!a.is_block() && !b.is_block()) return scalar_.call(f, a.n, b.n);
        if (failed()) return fail();
        if (!a.is_block() && !numeric_kind(a.n.k)) return fail();
        if (!b.is_block() && !numeric_kind(b.n.k)) return fail();
        double* out = arena_.take();
        if (!out) return fail();
        const auto& t = np_loops::table();
        const vector_kernels::Power k = f == NpFn::power ? vector_kernels::power() : nullptr;
        if (k && vector_kernels::power_fits(stride(b), *data(b)))
            k(data(a), a.is_block(), data(b), b.is_block(), out, n_);
        else
            np_loops::run(f == NpFn::maximum ? t.maximum_dd : t.power_dd, data(a), stride(a), data(b), stride(b),
                          out, n_);
        return block(out, a.deps | b.deps);
    }

    template <std::size_t N>
    Table<N> array(NpFn, const KonstTable<N>& t) noexcept {
        return &t;
    }
    template <std::size_t N>
    Lane item(Table<N> t, const Lane& i) noexcept {
        return i.is_block() ? fail() : Lane(scalar_.item(t, i.n));
    }

    Lane fail() noexcept { return scalar_.fail(); }

    static Lane block(const double* p, std::uint32_t deps, std::int8_t arg = -1) noexcept {
        Lane l(Num(0.0, Kind::Arr, arg));
        l.p = p;
        l.deps = deps;
        return l;
    }

protected:
    bool scalar2(const Lane& a, const Lane& b) const noexcept {
        return !a.is_block() && !b.is_block();
    }
    // A scalar operand is read through a stride of 0.
    static const double* data(const Lane& a) noexcept { return a.is_block() ? a.p : &a.n.x; }
    static std::ptrdiff_t stride(const Lane& a) noexcept { return a.is_block() ? sizeof(double) : 0; }

    // An elementary function over the block, `kernel(in, n, out, out2)`.
    // Time series and grids repeat their values (a day of year for 24 hours,
    // a latitude across a row), so when runs of bit-identical inputs make up
    // most of the block the function is evaluated once per run: the same
    // inputs give the same bits.
    template <class Kernel>
    void over_runs(const double* in, const Kernel& kernel, double* out, double* out2 = nullptr) noexcept {
        // Scratch from the arena rather than the stack (the caller's thread
        // may have a small stack), taken whatever the data, so that every
        // block takes the same blocks.
        double* firsts = arena_.take();
        double* values = arena_.take();
        double* values2 = out2 ? arena_.take() : nullptr;
        if (!firsts || !values || (out2 && !values2)) return kernel(in, n_, out, out2);
        auto same = [&](std::ptrdiff_t j) {
            return std::bit_cast<std::uint64_t>(in[j]) == std::bit_cast<std::uint64_t>(in[j - 1]);
        };
        // Most blocks have no runs at all: the first 32 elements tell.
        std::ptrdiff_t runs = n_ > 0;
        const std::ptrdiff_t head = n_ < 32 ? n_ : 32;
        for (std::ptrdiff_t j = 1; j < head; ++j) runs += !same(j);
        if (runs * 4 > head) return kernel(in, n_, out, out2);
        for (std::ptrdiff_t j = head; j < n_; ++j) runs += !same(j);
        if (runs * 4 > n_) return kernel(in, n_, out, out2);
        std::ptrdiff_t r = 0;
        for (std::ptrdiff_t j = 0; j < n_; ++j)
            if (j == 0 || !same(j)) firsts[r++] = in[j];
        kernel(firsts, r, values, values2);
        r = -1;
        for (std::ptrdiff_t j = 0; j < n_; ++j) {
            if (j == 0 || !same(j)) ++r;
            out[j] = values[r];
            if (out2) out2[j] = values2[r];
        }
    }

    Lane zip(const Lane& a, const Lane& b, const np_loops::Loop& loop) noexcept {
        // Once failed, the rest of the evaluation is only gone through.
        if (failed()) return fail();
        if ((!a.is_block() && !numeric_kind(a.n.k)) || (!b.is_block() && !numeric_kind(b.n.k))) return fail();
        double* out = arena_.take();
        if (!out) return fail();
        np_loops::run(loop, data(a), stride(a), data(b), stride(b), out, n_);
        return block(out, a.deps | b.deps);
    }

    Native scalar_;
    Arena& arena_;
    std::ptrdiff_t n_;
};

}  // namespace quarnel
