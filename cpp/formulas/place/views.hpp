// What a standing person at a pixel sees of the sunlit and shaded
// surroundings: the ground below (its sunlit share, weighted by the view
// of a small sphere above the pixel) and the nearest wall in each of the
// four directions (its sunlit share). Plain binary64 on the caller's
// rasters, a band of rows at a time, so that bands can be dealt out to
// threads; nothing here touches Python.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace quarnel::place {

using Index = std::ptrdiff_t;

// The ground a person sees below, as taps around the pixel: offsets and
// weights. The weight of a ground element dA at horizontal distance r from
// a small sphere h metres above it is its share of the sphere's view of
// the infinite plane, h dA / (2π (h² + r²)^{3/2}); the pixel itself gets
// the exact share of a disc of its area, 1 − h/√(h² + A/π). Within `near`
// metres every pixel is a tap, farther out (to `reach`) every `stride`-th
// row and column, its weight the stride² pixels it stands for.
struct GroundTaps {
    std::vector<Index> di, dj;
    std::vector<double> w;

    GroundTaps(double pixel, double height, double near, double reach, Index stride) {
        // Distances in pixels, with a margin of rounding: a pixel size that is
        // a unit's conversion (0.3048 × 1/0.3048) keeps its taps.
        const double slack = 1.0 + 1e-9;
        const double reach_px = reach / pixel * slack, near_px = near / pixel * slack;
        const Index n = Index(std::floor(reach_px));
        const double h = height, area = pixel * pixel;
        for (Index i = -n; i <= n; ++i)
            for (Index j = -n; j <= n; ++j) {
                const double d2 = double(i * i + j * j), r2 = d2 * area;
                if (d2 > reach_px * reach_px) continue;
                double weight;
                if (i == 0 && j == 0) {
                    weight = 1.0 - h / std::sqrt(h * h + area / M_PI);
                } else {
                    const bool far = d2 > near_px * near_px;
                    if (far && (i % stride != 0 || j % stride != 0)) continue;
                    const double rho = std::sqrt(h * h + r2);
                    weight = (far ? double(stride * stride) : 1.0) * area * h / (2.0 * M_PI * rho * rho * rho);
                }
                di.push_back(i);
                dj.push_back(j);
                w.push_back(weight);
            }
    }
};

// Rows [r0, r1) of the sunlit share of the ground seen from each pixel:
// Σ w s / Σ w over the taps q whose top lies within `step` metres of the
// pixel's (the rest is wall or roof, not ground below the person) and
// whose height and sunlit state are known; NaN where the pixel's height is.
// A tap at a time along a whole row, so that the loop runs along memory.
template <class T>
void ground_share(const T* z, const T* sunlit, Index rows, Index cols, const GroundTaps& taps, double step,
                  Index r0, Index r1, T* out) {
    std::vector<double> num(static_cast<std::size_t>(cols)), den(static_cast<std::size_t>(cols));
    for (Index r = r0; r < r1; ++r) {
        std::fill(num.begin(), num.end(), 0.0);
        std::fill(den.begin(), den.end(), 0.0);
        const T* zp = z + r * cols;
        for (std::size_t k = 0; k < taps.w.size(); ++k) {
            const Index rr = r + taps.di[k], dj = taps.dj[k];
            if (rr < 0 || rr >= rows) continue;
            const Index c0 = std::max<Index>(0, -dj), c1 = std::min(cols, cols - dj);
            const T* zq = z + rr * cols + dj;
            const T* sq = sunlit + rr * cols + dj;
            const double w = taps.w[k];
            double* nu = num.data();
            double* de = den.data();
            for (Index c = c0; c < c1; ++c) {
                const double s = double(sq[c]), dz = double(zq[c]) - double(zp[c]);
                // NaN fails every test: a missing height or state is no ground.
                const bool ground = (dz <= step) & (dz >= -step) & (s == s);
                nu[c] += ground ? w * s : 0.0;
                de[c] += ground ? w : 0.0;
            }
        }
        for (Index c = 0; c < cols; ++c) {
            const double d = den[std::size_t(c)];
            out[r * cols + c] = std::isnan(double(zp[c])) || !(d > 0.0) ? T(NAN) : T(num[std::size_t(c)] / d);
        }
    }
}

// Whether a wall facing `aspect` [deg] faces within 60° of `toward` [deg]:
// a corner's wall (45° between its faces) counts for both.
inline bool faces(double aspect, double toward) noexcept {
    double d = std::fmod(aspect - toward, 360.0);
    if (d < 0.0) d += 360.0;
    return d < 60.0 || d > 300.0;
}

// The sunlit share of the nearest wall toward the north of each pixel of
// columns [c0, c1) that faces back south, within `distance` metres (a
// wall stands at its pixel's northern edge: (Δrows + ½) pixels away), and
// likewise toward the south (walls facing north); 0 where there is none.
// Walls of the pixel itself count.
template <class T>
void walls_north_south(const T* lit, const T* aspect, Index rows, Index cols, double pixel, double distance,
                       Index c0, Index c1, T* north, T* south) noexcept {
    const Index nc = c1 - c0;
    std::vector<Index> at(std::size_t(nc), -1);
    std::vector<double> share(std::size_t(nc), 0.0);
    auto scan = [&](Index r, T* out, double toward, int sign) {
        for (Index c = c0; c < c1; ++c) {
            const Index e = r * cols + c;
            const std::size_t k = std::size_t(c - c0);
            const double a = double(aspect[e]);
            if (a == a && faces(a, toward)) {
                at[k] = r;
                share[k] = double(lit[e]);
            }
            const bool seen = at[k] >= 0 && (double(sign * (r - at[k])) + 0.5) * pixel <= distance;
            out[e] = T(seen ? share[k] : 0.0);
        }
    };
    for (Index r = 0; r < rows; ++r) scan(r, north, 180.0, 1);
    std::fill(at.begin(), at.end(), -1);
    for (Index r = rows - 1; r >= 0; --r) scan(r, south, 0.0, -1);
}

// The same along rows [r0, r1): toward the east (walls facing west) and the
// west (walls facing east).
template <class T>
void walls_east_west(const T* lit, const T* aspect, Index cols, double pixel, double distance, Index r0, Index r1,
                     T* east, T* west) noexcept {
    for (Index r = r0; r < r1; ++r) {
        const Index row = r * cols;
        auto scan = [&](Index c, Index& at, double& share, T* out, double toward, int sign) {
            const double a = double(aspect[row + c]);
            if (a == a && faces(a, toward)) {
                at = c;
                share = double(lit[row + c]);
            }
            const bool seen = at >= 0 && (double(sign * (at - c)) + 0.5) * pixel <= distance;
            out[row + c] = T(seen ? share : 0.0);
        };
        Index at = -1;
        double share = 0.0;
        for (Index c = cols - 1; c >= 0; --c) scan(c, at, share, east, 270.0, 1);
        at = -1;
        for (Index c = 0; c < cols; ++c) scan(c, at, share, west, 90.0, -1);
    }
}

}  // namespace quarnel::place
