// Direct radiation under cloud: the clear-sky direct radiation [W/m²]
// times the uncovered fraction of the sky, 1 - N/8, with the cloud cover N
// in eighths [octas]. N is not clamped: beyond 8 the result turns negative,
// below 0 it exceeds the clear-sky value.
#pragma once

#include "common/function_info.hpp"
#include "common/konst.hpp"

namespace quarnel::budget {

inline constexpr const char* dir_str_m_bew_params[] = {"Imax", "N"};
inline constexpr const char* dir_str_m_bew_locals[] = {"Result"};
inline constexpr FunctionInfo dir_str_m_bew_info{
    "DirStrMBew", "DirStrMBew", "quarnel.Strahlwerk.DirStrMBew", 156,
    dir_str_m_bew_params, dir_str_m_bew_locals, nullptr};

struct DirStrMBew {
    static constexpr const FunctionInfo& info = dir_str_m_bew_info;

    // Imax × (1 − N ÷ 8): no NumPy function, so Python numbers give a float.
    template <class D>
    static auto eval(D& d, typename D::A Imax, typename D::A N) {
        d.at(157);
        auto covered = d.div(N, k::i8);
        auto clear = d.sub(k::i1, covered);
        return d.mul(Imax, clear);
    }
};

}  // namespace quarnel::budget
