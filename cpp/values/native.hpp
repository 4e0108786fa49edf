// The native value domain: binary64 machine values that remember which
// Python type they stand for, so that a formula evaluated here returns the
// same value and the same type as the generic domain would.
//
// Numeric policy, stated once for every formula:
//  * NaN in, NaN out: NaN propagates through arithmetic and NumPy's loops
//    without an exception; comparisons are quiet, so a NaN never raises a
//    flag and decides every comparison as false.
//  * The native domain never warns and never raises. Wherever the generic
//    domain could warn or raise, it steps aside (`fail`) and the whole call
//    runs again generically: a zero divisor, an integer beyond 2**53, an
//    operand of a kind it does not model, a table index out of range, a
//    truth value of an array element, and any floating-point exception flag
//    (invalid, divide-by-zero, overflow, underflow) raised during the call.
//  * Elementary functions give NumPy's bits: its own float64 inner loops,
//    or what those loops are shown at import to compute (the C library's
//    sin and cos, the processor's sqrt, NumPy's vector routines).
#pragma once

#include "common/fp_flags.hpp"
#include "common/function_info.hpp"
#include "common/konst.hpp"
#include "common/np_functions.hpp"
#include "machine/np_loops.hpp"
#include "machine/svml_direct.hpp"

#include <bit>
#include <cmath>
#include <cstdint>

namespace quarnel {

struct Num {
    double x = 0.0;
    Kind k = Kind::Float;
    // Index of the argument this value is (identical object), or -1.
    std::int8_t arg = -1;

    constexpr Num() = default;
    constexpr Num(double v, Kind kind, std::int8_t a = -1) : x(v), k(kind), arg(a) {}
    constexpr Num(Konst c) : x(c.value), k(c.kind) {}
};

// Kind::Arr never occurs in scalar calls; Opaque marks an argument that is
// not a native number (it may still be one the formula never examines).
inline constexpr Kind Opaque = Kind(0xff);

class Native {
public:
    using A = Num;
    using V = Num;
    using Operand = Num;
    using Fn = NpFn;
    template <std::size_t N>
    using Table = const KonstTable<N>*;

    static constexpr double exact_limit = 9007199254740992.0;  // 2**53

    bool failed() const noexcept { return failed_; }

    // Source lines and inner-function frames matter only for tracebacks.
    void at(int) noexcept {}
    template <class F>
    auto inner(const FunctionInfo&, F&& body) {
        return body();
    }

    Num keep(Num a) noexcept { return a; }

    Num add(Num a, Num b) noexcept { return arith(a, b, a.x + b.x); }
    Num sub(Num a, Num b) noexcept { return arith(a, b, a.x - b.x); }
    Num mul(Num a, Num b) noexcept { return arith(a, b, a.x * b.x); }
    Num div(Num a, Num b) noexcept {
        Kind k = promote(a.k, b.k);
        if (b.x == 0.0) return fail();  // ZeroDivisionError, or NumPy's warning
        if (k == Kind::Int) k = Kind::Float;
        else if (k == Kind::I64) k = Kind::F64;
        return {a.x / b.x, k};
    }
    Num neg(Num a) noexcept {
        if (!numeric(a.k)) return fail();
        // An integer never becomes -0.
        return {is_integer(a.k) ? 0.0 - a.x : -a.x, a.k};
    }

    Num lt(Num a, Num b) noexcept { return compare(a, b, __builtin_isless(a.x, b.x)); }
    Num le(Num a, Num b) noexcept { return compare(a, b, __builtin_islessequal(a.x, b.x)); }
    Num gt(Num a, Num b) noexcept { return compare(a, b, __builtin_isgreater(a.x, b.x)); }
    Num ge(Num a, Num b) noexcept { return compare(a, b, __builtin_isgreaterequal(a.x, b.x)); }
    Num eq(Num a, Num b) noexcept { return compare(a, b, a.x == b.x); }
    Num and_(Num a, Num b) noexcept {
        if (a.k != Kind::Bool || b.k != Kind::Bool) return fail();
        return {double(a.x != 0.0 && b.x != 0.0), Kind::Bool};
    }

    bool truth(Num a) noexcept {
        if (a.k == Kind::Arr || a.k == Opaque) {
            fail();
            return false;
        }
        return a.x != 0.0;  // NaN is true, as in Python
    }

    // int(a): truncation toward zero; NaN and infinities raise generically.
    Num to_int(Num a) noexcept {
        if (is_integer(a.k)) return {a.x, Kind::Int};
        if (a.k != Kind::Float && a.k != Kind::F64) return fail();
        if (!(std::fabs(a.x) < exact_limit)) return fail();
        return {std::trunc(a.x) + 0.0, Kind::Int};
    }

    // np.<name>: the module's numpy was verified when the call began.
    NpFn fn(NpFn f) noexcept { return f; }
    Num pi() noexcept { return {3.141592653589793, Kind::Float}; }

    [[gnu::always_inline]] Num call(NpFn f, Num a) noexcept {
        if (!numeric(a.k)) return fail();
        if (f == NpFn::trunc) {
            if (is_integer(a.k)) return {a.x, Kind::I64};
            return {std::trunc(a.x), Kind::F64};
        }
        if ((f == NpFn::sin || f == NpFn::cos) && np_loops::table().libm_trig)
            return {trig(f, a.x), Kind::F64};
        if (svml_direct::has(f)) return {svml_direct::unary(f, a.x), Kind::F64};
        return {np_loops::unary(f, a.x), Kind::F64};
    }

    Num call(NpFn f, Num a, Num b) noexcept {
        if (!numeric(a.k) || !numeric(b.k)) return fail();
        const bool ints = is_integer(a.k) && is_integer(b.k);
        if (f == NpFn::maximum) {
            if (ints) return {a.x < b.x ? b.x : a.x, Kind::I64};
            return {np_loops::binary(np_loops::table().maximum_dd, a.x, b.x), Kind::F64};
        }
        // power
        if (ints) return int_power(a.x, b.x);
        if (svml_direct::has_power()) return {svml_direct::power(a.x, b.x), Kind::F64};
        return {np_loops::binary(np_loops::table().power_dd, a.x, b.x), Kind::F64};
    }

    template <std::size_t N>
    Table<N> array(NpFn, const KonstTable<N>& t) noexcept {
        return &t;
    }
    template <std::size_t N>
    Num item(Table<N> t, Num i) noexcept {
        if (i.k != Kind::Int) return fail();
        double idx = i.x < 0 ? i.x + double(N) : i.x;
        if (!(idx >= 0 && idx < double(N))) return fail();  // IndexError
        return {t->entries[std::size_t(idx)].value, Kind::F64};
    }

    Num fail() noexcept {
        failed_ = true;
        return {0.0, Kind::F64};
    }
    // Forgets a failure: for a domain that tried something and takes it back.
    void recover() noexcept { failed_ = false; }

protected:
    static constexpr bool is_integer(Kind k) noexcept { return k == Kind::Int || k == Kind::I64; }
    static constexpr bool numeric(Kind k) noexcept {
        return k == Kind::Int || k == Kind::I64 || k == Kind::Float || k == Kind::F64;
    }

    // Result kind of arithmetic, as Python and NumPy promote: a NumPy
    // operand makes a NumPy result, and a NumPy integer meeting a Python
    // float gives numpy.float64.
    static Kind promote(Kind a, Kind b) noexcept {
        if (!numeric(a) || !numeric(b)) return Opaque;
        if (a == Kind::F64 || b == Kind::F64) return Kind::F64;
        if (a == Kind::I64 || b == Kind::I64)
            return (a == Kind::Float || b == Kind::Float) ? Kind::F64 : Kind::I64;
        if (a == Kind::Float || b == Kind::Float) return Kind::Float;
        return Kind::Int;
    }

    Num arith(Num a, Num b, double r) noexcept {
        Kind k = promote(a.k, b.k);
        if (k == Opaque) return fail();
        if (is_integer(k)) {
            if (!(std::fabs(r) < exact_limit)) return fail();
            r += 0.0;  // 0 * -5 is the integer 0, not -0.0
        }
        return {r, k};
    }

    Num compare(Num a, Num b, bool r) noexcept {
        if (!numeric(a.k) || !numeric(b.k)) return fail();
        return {double(r), Kind::Bool};
    }

    Num int_power(double base, double exponent) noexcept {
        if (exponent < 0) return fail();  // NumPy refuses negative integer powers
        double r = 1.0;
        for (double e = 0; e < exponent; ++e) {
            r *= base;
            if (!(std::fabs(r) < exact_limit)) return fail();
        }
        return {r + 0.0, Kind::I64};
    }

    // The sine and cosine of the angle last asked for: formulas take both of
    // one angle in consecutive steps, and one sincos costs little more than
    // either.
    double trig(NpFn f, double x) noexcept {
        if (!trig_known_ || std::bit_cast<std::uint64_t>(x) != std::bit_cast<std::uint64_t>(trig_arg_)) {
            np_loops::sincos(x, &trig_sin_, &trig_cos_);
            trig_arg_ = x;
            trig_known_ = true;
        }
        return f == NpFn::sin ? trig_sin_ : trig_cos_;
    }

    bool failed_ = false;
    bool trig_known_ = false;
    double trig_arg_ = 0.0, trig_sin_ = 0.0, trig_cos_ = 0.0;
};

}  // namespace quarnel
