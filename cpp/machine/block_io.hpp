// Blocks of contiguous doubles for the kernels of quarnel._kernels, from
// and back to the strided, broadcast or unaligned operands of a ufunc loop.
#pragma once

#include "common/numpy_api.hpp"

#include <cstdint>
#include <cstring>

namespace quarnel::machine::block_io {

inline bool contiguous(const char* p, npy_intp step) noexcept {
    return step == npy_intp(sizeof(double)) && reinterpret_cast<std::uintptr_t>(p) % alignof(double) == 0;
}

// Input i of the block [off, off + m): the elements in place where
// contiguous and aligned, else copied (broadcast scalars included) into buf.
inline const double* input(char* base, npy_intp step, npy_intp off, npy_intp m, double* buf) noexcept {
    const char* p = base + off * step;
    if (contiguous(p, step)) return reinterpret_cast<const double*>(p);
    if (step == 0) {
        double x;
        std::memcpy(&x, p, sizeof x);
        for (npy_intp j = 0; j < m; ++j) buf[j] = x;
    } else {
        for (npy_intp j = 0; j < m; ++j) std::memcpy(buf + j, p + j * step, sizeof(double));
    }
    return buf;
}

// Where the kernel writes output o of the block: in place, or buf to be
// handed back by `output`.
inline double* target(char* base, npy_intp step, npy_intp off, double* buf) noexcept {
    char* p = base + off * step;
    return contiguous(p, step) ? reinterpret_cast<double*>(p) : buf;
}

inline void output(char* base, npy_intp step, npy_intp off, npy_intp m, const double* written) noexcept {
    char* p = base + off * step;
    if (reinterpret_cast<const char*>(written) == p) return;
    for (npy_intp j = 0; j < m; ++j) std::memcpy(p + j * step, written + j, sizeof(double));
}

}  // namespace quarnel::machine::block_io
