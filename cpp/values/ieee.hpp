// The per-element domain of the ufuncs: one element, evaluated as the
// module's call on numpy.float64 arguments would be, but without Python.
//
// Where the native domain steps aside, this one carries on as NumPy's
// float64 scalars do: a zero divisor gives the IEEE quotient, integers are
// doubles of any size, and every elementary function is NumPy's own loop,
// so the floating-point flags raised are exactly the warnings that call
// would give. What would raise an exception there (int() of NaN or an
// infinity, a table index out of range) ends the element: `raised()`, with
// the flags as they stood at that point.
#pragma once

#include "values/native.hpp"

#include <cmath>

namespace quarnel {

class Ieee : public Native {
public:
    bool raised() const noexcept { return raised_; }
    // The watched flags when the element ended by an exception.
    unsigned flags_at_raise() const noexcept { return flags_at_raise_; }

    Num add(Num a, Num b) noexcept { return arith(a, b, a.x + b.x); }
    Num sub(Num a, Num b) noexcept { return arith(a, b, a.x - b.x); }
    Num mul(Num a, Num b) noexcept { return arith(a, b, a.x * b.x); }
    Num div(Num a, Num b) noexcept {
        Kind k = promote(a.k, b.k);
        if (k == Opaque) return fail();
        if (k == Kind::Int) k = Kind::Float;
        else if (k == Kind::I64) k = Kind::F64;
        return {done(a.x / b.x), k};
    }

    Num to_int(Num a) noexcept {
        if (is_integer(a.k)) return {a.x, Kind::Int};
        if (!std::isfinite(a.x)) return raise();  // ValueError, OverflowError
        return {std::trunc(a.x) + 0.0, Kind::Int};
    }

    Num call(NpFn f, Num a) noexcept {
        if (!numeric(a.k)) return fail();
        if (f == NpFn::trunc) {
            if (is_integer(a.k)) return {a.x, Kind::I64};
            return {std::trunc(a.x), Kind::F64};
        }
        return {done(np_loops::unary(f, a.x)), Kind::F64};
    }
    Num call(NpFn f, Num a, Num b) noexcept {
        if (!numeric(a.k) || !numeric(b.k)) return fail();
        const auto& t = np_loops::table();
        if (is_integer(a.k) && is_integer(b.k)) return Native::call(f, a, b);
        return {done(np_loops::binary(f == NpFn::maximum ? t.maximum_dd : t.power_dd, a.x, b.x)), Kind::F64};
    }

    template <std::size_t N>
    Num item(Table<N> t, Num i) noexcept {
        if (i.k != Kind::Int) return fail();
        const double idx = i.x < 0 ? i.x + double(N) : i.x;
        if (!(idx >= 0 && idx < double(N))) return raise();  // IndexError
        return {t->entries[std::size_t(idx)].value, Kind::F64};
    }

private:
    // Every operation happens, in order, whether or not its value is used
    // later: a value the formula computes and then leaves aside (a branch
    // not taken) still raises its flags, as it does in the scalar call.
    static double done(double r) noexcept {
        asm volatile("" : "+m"(r));
        return r;
    }

    // Arithmetic as Python and NumPy do it, integers included: no size limit.
    Num arith(Num a, Num b, double r) noexcept {
        const Kind k = promote(a.k, b.k);
        if (k == Opaque) return fail();
        return {done(is_integer(k) ? r + 0.0 : r), k};
    }

    Num raise() noexcept {
        if (!raised_) {
            raised_ = true;
            flags_at_raise_ = unsigned(FpFlags::before());
        }
        return {0.0, Kind::F64};
    }

    bool raised_ = false;
    unsigned flags_at_raise_ = 0;
};

}  // namespace quarnel
