// The NumPy functions the formulas call, always through the module-level
// name `np`. The generic domain looks each one up by name at the moment the
// formula evaluates the call; the native domain runs NumPy's own float64
// inner loops for them (np_loops.hpp), so both give the very same bits.
#pragma once

#include "common/konst.hpp"

#include <cstddef>
#include <cstdint>

namespace quarnel {

enum class NpFn : std::uint8_t {
    sin, cos, arcsin, arctan, radians, degrees, exp, sqrt,  // one float64 in, one out
    power, maximum,                                          // two in
    trunc, array,
    count
};

inline constexpr const char* np_fn_names[] = {
    "sin", "cos", "arcsin", "arctan", "radians", "degrees", "exp", "sqrt",
    "power", "maximum", "trunc", "array",
};
static_assert(sizeof(np_fn_names) / sizeof(*np_fn_names) == int(NpFn::count));

inline constexpr int np_unary_count = int(NpFn::power);

// A table of float literals that a formula turns into an array with np.array.
template <std::size_t N>
struct KonstTable {
    Konst entries[N];
    static constexpr std::size_t size = N;
};

}  // namespace quarnel
