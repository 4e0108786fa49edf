// Loops of the lane domain over a block that compare, count truth values
// and choose per element, two elements at a time on x86-64 (SSE2, which
// every x86-64 has). They are quiet as NumPy's comparisons are: a quiet NaN
// raises no flag. SSE2's vector less-than signals on any NaN, so NaN lanes
// are cleared to zero (bitwise, no arithmetic) before it and their result
// taken from the ordered test, which is quiet.
#pragma once

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarnel::quiet {

enum class Cmp { lt, le, gt, ge, eq, both_true };

inline bool scalar(Cmp c, double x, double y) noexcept {
    switch (c) {
        case Cmp::lt: return __builtin_isless(x, y);
        case Cmp::le: return __builtin_islessequal(x, y);
        case Cmp::gt: return __builtin_isgreater(x, y);
        case Cmp::ge: return __builtin_isgreaterequal(x, y);
        case Cmp::eq: return x == y;
        case Cmp::both_true: return x != 0.0 && y != 0.0;
    }
    return false;
}

#if defined(__SSE2__)
template <Cmp c>
inline __m128d vector(__m128d a, __m128d b) noexcept {
    if constexpr (c == Cmp::eq) return _mm_cmpeq_pd(a, b);
    if constexpr (c == Cmp::both_true) {
        const __m128d zero = _mm_setzero_pd();
        return _mm_and_pd(_mm_cmpneq_pd(a, zero), _mm_cmpneq_pd(b, zero));
    }
    const __m128d ordered = _mm_cmpord_pd(a, b);
    const __m128d x = _mm_and_pd(a, ordered), y = _mm_and_pd(b, ordered);
    __m128d r;
    if constexpr (c == Cmp::lt) r = _mm_cmplt_pd(x, y);
    if constexpr (c == Cmp::le) r = _mm_cmple_pd(x, y);
    if constexpr (c == Cmp::gt) r = _mm_cmplt_pd(y, x);
    if constexpr (c == Cmp::ge) r = _mm_cmple_pd(y, x);
    return _mm_and_pd(r, ordered);
}
#endif

// out[j] = 1.0 where a[j * sa] c b[j * sb] holds, else 0.0 (strides 0 or 1).
template <Cmp c>
void compare(const double* a, std::ptrdiff_t sa, const double* b, std::ptrdiff_t sb, double* out,
             std::ptrdiff_t m) noexcept {
    std::ptrdiff_t j = 0;
#if defined(__SSE2__)
    const __m128d one = _mm_set1_pd(1.0);
    for (; j + 2 <= m; j += 2) {
        const __m128d x = sa ? _mm_loadu_pd(a + j) : _mm_set1_pd(*a);
        const __m128d y = sb ? _mm_loadu_pd(b + j) : _mm_set1_pd(*b);
        _mm_storeu_pd(out + j, _mm_and_pd(vector<c>(x, y), one));
    }
#endif
    for (; j < m; ++j) out[j] = scalar(c, a[j * sa], b[j * sb]) ? 1.0 : 0.0;
}

// How many of p[0, m) are true (not zero; NaN is true).
inline std::ptrdiff_t count_true(const double* p, std::ptrdiff_t m) noexcept {
    std::ptrdiff_t count = 0, j = 0;
#if defined(__SSE2__)
    // A true lane's mask is -1 as an integer: subtracting the masks counts.
    const __m128d zero = _mm_setzero_pd();
    __m128i a = _mm_setzero_si128(), b = _mm_setzero_si128();
    for (; j + 4 <= m; j += 4) {
        a = _mm_sub_epi64(a, _mm_castpd_si128(_mm_cmpneq_pd(_mm_loadu_pd(p + j), zero)));
        b = _mm_sub_epi64(b, _mm_castpd_si128(_mm_cmpneq_pd(_mm_loadu_pd(p + j + 2), zero)));
    }
    alignas(16) long long lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_add_epi64(a, b));
    count = std::ptrdiff_t(lanes[0] + lanes[1]);
#endif
    for (; j < m; ++j) count += p[j] != 0.0;
    return count;
}

// out[j] = x[j * sx] where c[j] is true, else y[j * sy] (strides 0 or 1).
inline void select(const double* c, const double* x, std::ptrdiff_t sx, const double* y, std::ptrdiff_t sy,
                   double* out, std::ptrdiff_t m) noexcept {
    std::ptrdiff_t j = 0;
#if defined(__SSE2__)
    const __m128d zero = _mm_setzero_pd();
    for (; j + 2 <= m; j += 2) {
        const __m128d take = _mm_cmpneq_pd(_mm_loadu_pd(c + j), zero);
        const __m128d xv = sx ? _mm_loadu_pd(x + j) : _mm_set1_pd(*x);
        const __m128d yv = sy ? _mm_loadu_pd(y + j) : _mm_set1_pd(*y);
        _mm_storeu_pd(out + j, _mm_or_pd(_mm_and_pd(take, xv), _mm_andnot_pd(take, yv)));
    }
#endif
    for (; j < m; ++j) out[j] = c[j] != 0.0 ? x[j * sx] : y[j * sy];
}

}  // namespace quarnel::quiet
