// Sine and cosine of an angle given in degrees, as np.sin(np.radians(x))
// and np.cos(np.radians(x)): the outer function is looked up on `np`
// before the inner one, as Python evaluates the expression.
#pragma once

#include "quarnel/values/np_functions.hpp"

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

}  // namespace quarnel
