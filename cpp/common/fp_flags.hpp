// Floating-point exception flags raised during a native evaluation: any of
// invalid, divide-by-zero, overflow or underflow sends the call to the
// generic domain, which lets Python raise or NumPy warn as it would.
//
// On x86-64 every binary64 operation of the module and of NumPy's loops
// runs in SSE/AVX, so the flags live in MXCSR alone: reading it is cheap,
// and it is written only when a watched flag is already set.
#pragma once

#include <cfenv>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace quarnel {

class FpFlags {
public:
#if defined(__x86_64__)
    static constexpr unsigned watched = _MM_EXCEPT_INVALID | _MM_EXCEPT_DIV_ZERO |
                                        _MM_EXCEPT_OVERFLOW | _MM_EXCEPT_UNDERFLOW;
    // The "memory" clobbers keep the compiler from moving stored results of
    // the evaluation across these reads and writes of the flags.
    static unsigned csr() noexcept {
        unsigned v;
        asm volatile("stmxcsr %0" : "=m"(v) : : "memory");
        return v;
    }
    static void clear() noexcept {
        unsigned v = csr();
        if (v & watched) {
            v &= ~watched;
            asm volatile("ldmxcsr %0" : : "m"(v) : "memory");
        }
    }
    static void restore(unsigned v) noexcept { asm volatile("ldmxcsr %0" : : "m"(v) : "memory"); }
    static bool raised() noexcept { return (csr() & watched) != 0; }
    // Some of NumPy's SIMD loops clear the flags they may have raised in
    // padding lanes; `keep` puts back what was raised before such a loop.
    static unsigned before() noexcept { return csr() & watched; }
    static void keep(unsigned earlier) noexcept {
        if (!earlier) return;
        unsigned v = csr();
        if ((v & earlier) != earlier) {
            v |= earlier;
            asm volatile("ldmxcsr %0" : : "m"(v) : "memory");
        }
    }
#else
    static constexpr int watched = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW;
    static void clear() noexcept { std::feclearexcept(watched); }
    static int csr() noexcept { return std::fetestexcept(FE_ALL_EXCEPT); }
    static void restore(int v) noexcept {
        std::feclearexcept(FE_ALL_EXCEPT);
        std::feraiseexcept(v);
    }
    static bool raised() noexcept { return std::fetestexcept(watched) != 0; }
    static int before() noexcept { return std::fetestexcept(watched); }
    static void keep(int earlier) noexcept {
        if (earlier) std::feraiseexcept(earlier);
    }
#endif
    FpFlags() noexcept { clear(); }
    bool clean() const noexcept { return !raised(); }
};

}  // namespace quarnel
