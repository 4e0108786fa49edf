// What the kernels' check programs share: one reproducible stream of
// random bits, and equality of results as bits (NaN equal to NaN).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace checks {

inline std::uint64_t state = 0x2545F4914F6CDD1Du;

// xorshift64: the same arguments on every machine for a given seed.
inline std::uint64_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}
// Uniform in [0, 1), 53 bits.
inline double unit() { return double(next() >> 11) * 0x1p-53; }
// A seed from the command line, mixed into the stream.
inline void seed(const char* text) { state ^= std::strtoull(text, nullptr, 10) * 0x9E3779B97F4A7C15u; }

inline bool same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b)); }

}  // namespace checks
