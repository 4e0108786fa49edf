// The numeric literals of the formulas. Each is created once as a Python
// object when the module is executed and shared by all calls; the native
// domain reads the same literal as a machine value. Integer literals are
// Python ints, float literals Python floats, exactly as the formulas write
// them (12 and 12.0 are different constants with different arithmetic).
#pragma once

#include <cstdint>

namespace quarnel {

// The Python type a value has, as the native domain tracks it. Order
// matters: arithmetic promotes towards the larger kind, with the exception
// spelled out in `promote` (a NumPy integer meeting a Python float).
enum class Kind : std::uint8_t {
    Bool,   // bool / numpy.bool_, the outcome of a comparison
    Int,    // Python int (exactly representable, below 2**53)
    I64,    // numpy.int64 (from np.power or np.maximum of two ints)
    Float,  // Python float
    F64,    // numpy.float64
    Arr,    // one element of a float64 array being evaluated in blocks
};

struct Konst {
    double value;
    Kind kind;
    std::uint8_t slot;  // index into the table of Python objects
};

// X(name, literal) for every integer and float literal.
#define QUARNEL_INT_KONSTANTS(X)                                                     \
    X(i0, 0) X(i1, 1) X(i2, 2) X(i3, 3) X(i4, 4) X(i8, 8) X(i10, 10) X(i12, 12)       \
    X(i15, 15) X(i24, 24) X(i39, 39) X(i60, 60) X(i80, 80) X(i81, 81) X(i85, 85)      \
    X(i90, 90) X(i91, 91) X(i100, 100) X(i180, 180) X(i364, 364) X(i365, 365)         \
    X(i900, 900) X(i999, 999) X(i1367, 1367) X(i50000, 50000)

#define QUARNEL_FLOAT_KONSTANTS(X)                                                   \
    /* solar time */                                                                 \
    X(f24_0, 24.0) X(f1_5, 1.5) X(f7_53, 7.53) X(f9_87, 9.87)                         \
    /* declination */                                                                \
    X(f0_9856, 0.9856) X(f2_72, 2.72) X(f77_51, 77.51) X(f1_92, 1.92)                 \
    X(f0_3978, 0.3978)                                                               \
    /* turbidity */                                                                  \
    X(f2_9, 2.9) X(f1_4, 1.4) X(f0_84, 0.84)                                         \
    /* air mass: horizon formula and table */                                        \
    X(f0_50572, 0.50572) X(f6_07995, 6.07995) X(fm1_6364, -1.6364)                   \
    X(f37_92, 37.92) X(f39_22, 39.22) X(f40_34, 40.34) X(f41_48, 41.48)               \
    X(f42_63, 42.63) X(f43_72, 43.72) X(f44_81, 44.81) X(f45_9, 45.9)                 \
    X(f47_0, 47.0) X(f48_08, 48.08) X(f49_15, 49.15) X(f50_12, 50.12)                 \
    /* clear-sky radiation */                                                        \
    X(f0_03344, 0.03344) X(f0_9, 0.9) X(f9_4, 9.4) X(f0_0028, 0.0028)                 \
    X(f0_0408, 0.0408) X(f8434_5, 8434.5) X(fm0_027, -0.027)                          \
    /* long-wave budget */                                                           \
    X(f5_67em08, 5.67e-08) X(f273_15, 273.15) X(fm0_0945, -0.0945) X(f0_25, 0.25)    \
    X(f0_82, 0.82) X(f2_5, 2.5) X(f0_21, 0.21)                                       \
    /* surface temperature */                                                        \
    X(fm0_19, -0.19) X(fm0_32, -0.32) X(f4_26, 4.26) X(f6_2, 6.2) X(fm0_9, -0.9)      \
    /* mean radiant temperature */                                                   \
    X(f0_97, 0.97) X(f0_308, 0.308) X(f0_998, 0.998)

namespace konst_detail {
enum Slot : std::uint8_t {
#define QUARNEL_SLOT(name, lit) name,
    QUARNEL_INT_KONSTANTS(QUARNEL_SLOT) QUARNEL_FLOAT_KONSTANTS(QUARNEL_SLOT)
#undef QUARNEL_SLOT
    True_,
    count
};
}  // namespace konst_detail

inline constexpr int konst_count = konst_detail::count;

namespace k {
#define QUARNEL_INT(name, lit) inline constexpr Konst name{lit, Kind::Int, konst_detail::name};
#define QUARNEL_FLOAT(name, lit) inline constexpr Konst name{lit, Kind::Float, konst_detail::name};
QUARNEL_INT_KONSTANTS(QUARNEL_INT)
QUARNEL_FLOAT_KONSTANTS(QUARNEL_FLOAT)
#undef QUARNEL_INT
#undef QUARNEL_FLOAT
inline constexpr Konst True{1.0, Kind::Bool, konst_detail::True_};
}  // namespace k

}  // namespace quarnel
