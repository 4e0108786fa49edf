// Sine and cosine of an angle given in degrees, as np.sin(np.radians(x))
// and np.cos(np.radians(x)): the outer function is looked up on `np`
// before the inner one, as Python evaluates the expression.
#pragma once

#include "common/np_functions.hpp"

#include <utility>

namespace quarnel {

template <class D, class T>
auto sin_of_degrees(D& d, const T& x) {
    auto sin = d.fn(NpFn::sin);
    auto radians = d.fn(NpFn::radians);
    return d.call(sin, d.call(radians, x));
}

template <class D, class T>
auto cos_of_degrees(D& d, const T& x) {
    auto cos = d.fn(NpFn::cos);
    auto radians = d.fn(NpFn::radians);
    return d.call(cos, d.call(radians, x));
}

// The sine and cosine of one angle in degrees, two statements on lines
// `sin_line` and `cos_line`. A domain that can compute both at once says so
// with a member `sin_cos_of_degrees`; the values are the same either way.
template <class D, class T>
auto sin_cos_of_degrees(D& d, const T& x, int sin_line, int cos_line) {
    if constexpr (requires { d.sin_cos_of_degrees(x); }) {
        return d.sin_cos_of_degrees(x);
    } else {
        d.at(sin_line);
        auto s = sin_of_degrees(d, x);
        d.at(cos_line);
        auto c = cos_of_degrees(d, x);
        return std::pair{std::move(s), std::move(c)};
    }
}

}  // namespace quarnel
