// The lane domain of the ufuncs: the block domain, with every element of a
// block free to take its own branches.
//
// A comparison of array elements gives a block of truth values. Where a
// branch finds them all alike, the evaluation goes on down that side; where
// they differ, it stops (`split()`), and the caller evaluates the formula
// again for each side's elements alone, telling the domain the decisions
// already taken (`forced`). Every element therefore runs exactly the
// operations of its own scalar call, on a block of elements that took the
// same branches: the values are that call's bits, and the floating-point
// flags the block raises are those of its elements' calls.
//
// int() of elements, and table lookups with them, are exact for finite
// values in range; anything else stops the evaluation (`failed()`) and the
// caller evaluates those elements one by one in the per-element domain,
// which knows what the scalar call would raise.
#pragma once

#include "quarnel/values/blocks.hpp"

#include <cmath>
#include <cstdint>

namespace quarnel {

class Lanes : public Blocks {
public:
    // `forced[k]` decides the k-th branch for k < nforced, unexamined.
    Lanes(Arena& arena, std::ptrdiff_t n, const std::uint8_t* forced, int nforced) noexcept
        : Blocks(arena, n), forced_(forced), nforced_(nforced) {}

    // Where the elements parted: the truth block of the branch (1.0 true,
    // 0.0 false per element) and how many branches were decided before it.
    bool split() const noexcept { return split_ != nullptr; }
    const double* split_truths() const noexcept { return split_; }
    int branches_before_split() const noexcept { return branch_; }
    // The decisions of the branches before the split.
    const std::uint8_t* decisions() const noexcept { return taken_; }
    static constexpr int max_branches = 32;

    // The elements' own value: a ufunc copies its result out in any case.
    Lane keep(const Lane& a) noexcept { return a; }

    Lane lt(const Lane& a, const Lane& b) noexcept {
        return compare(a, b, [](double x, double y) { return __builtin_isless(x, y); },
                       &Native::lt);
    }
    Lane le(const Lane& a, const Lane& b) noexcept {
        return compare(a, b, [](double x, double y) { return __builtin_islessequal(x, y); },
                       &Native::le);
    }
    Lane gt(const Lane& a, const Lane& b) noexcept {
        return compare(a, b, [](double x, double y) { return __builtin_isgreater(x, y); },
                       &Native::gt);
    }
    Lane ge(const Lane& a, const Lane& b) noexcept {
        return compare(a, b, [](double x, double y) { return __builtin_isgreaterequal(x, y); },
                       &Native::ge);
    }
    Lane eq(const Lane& a, const Lane& b) noexcept {
        return compare(a, b, [](double x, double y) { return x == y; }, &Native::eq);
    }
    Lane and_(const Lane& a, const Lane& b) noexcept {
        return compare(a, b, [](double x, double y) { return x != 0.0 && y != 0.0; }, &Native::and_);
    }

    bool truth(const Lane& a) noexcept {
        if (failed()) return false;
        const int k = branch_++;
        if (k >= max_branches) {
            fail();
            return false;
        }
        if (k < nforced_) return taken_[k] = forced_[k];
        if (!a.is_block()) return taken_[k] = scalar_.truth(a.n);
        std::ptrdiff_t true_count = 0;
        for (std::ptrdiff_t j = 0; j < n_; ++j) true_count += a.p[j] != 0.0;  // NaN is true
        if (true_count == n_) return taken_[k] = true;
        if (true_count == 0) return taken_[k] = false;
        split_ = a.p;
        branch_ = k;
        fail();
        return false;
    }

    // int() of each element: exact below 2**53, anything else per element.
    Lane to_int(const Lane& a) noexcept {
        if (!a.is_block()) return scalar_.to_int(a.n);
        if (failed()) return fail();
        double* out = arena_.take();
        if (!out) return fail();
        bool exact = true;
        for (std::ptrdiff_t j = 0; j < n_; ++j) {
            exact &= std::fabs(a.p[j]) < Native::exact_limit;
            out[j] = __builtin_trunc(a.p[j]) + 0.0;
        }
        return exact ? block(out, a.deps) : fail();
    }

    template <std::size_t N>
    Lane item(Table<N> t, const Lane& i) noexcept {
        if (!i.is_block()) return Lane(scalar_.item(t, i.n));
        if (failed()) return fail();
        double* out = arena_.take();
        if (!out) return fail();
        bool inside = true;
        for (std::ptrdiff_t j = 0; j < n_; ++j) {
            const double idx = i.p[j] < 0 ? i.p[j] + double(N) : i.p[j];
            const bool ok = idx >= 0 && idx < double(N);
            inside &= ok;
            out[j] = t->entries[ok ? std::size_t(idx) : 0].value;
        }
        return inside ? block(out, i.deps) : fail();
    }

private:
    template <class Op>
    Lane compare(const Lane& a, const Lane& b, const Op& op, Num (Native::*scalar)(Num, Num)) noexcept {
        if (!a.is_block() && !b.is_block()) return (scalar_.*scalar)(a.n, b.n);
        if (failed()) return fail();
        if ((!a.is_block() && !numeric(a.n.k)) || (!b.is_block() && !numeric(b.n.k))) return fail();
        double* out = arena_.take();
        if (!out) return fail();
        const double* pa = data(a);
        const double* pb = data(b);
        const std::ptrdiff_t sa = a.is_block(), sb = b.is_block();
        for (std::ptrdiff_t j = 0; j < n_; ++j) out[j] = op(pa[j * sa], pb[j * sb]) ? 1.0 : 0.0;
        return block(out, a.deps | b.deps);
    }

    const std::uint8_t* forced_;
    int nforced_;
    int branch_ = 0;
    std::uint8_t taken_[max_branches] = {};
    const double* split_ = nullptr;
};

}  // namespace quarnel
