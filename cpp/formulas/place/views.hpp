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
#include <cstdlib>
#include <vector>

namespace quarnel::place {

using Index = std::ptrdiff_t;

// The ground a person sees below, as taps around the pixel: offsets and
// weights. The weight of a ground element dA at horizontal distance r from
// a small sphere h metres above it is its share of the sphere's view of
// the infinite plane, h dA / (2π (h² + r²)^{3/2}); a pixel's, that over its
// square (the mean of 4 × 4 points in it). Every pixel within `reach`
// metres counts: within `near` metres as a tap of its own, farther out
// with the tap at the nearest multiple of `stride` rows and columns, so
// that the weights still add up to the sphere's view of the disc.
struct GroundTaps {
    std::vector<Index> di, dj;
    std::vector<double> w;

    GroundTaps(double pixel, double height, double near, double reach, Index stride) {
        // Distances in pixels, with a margin of rounding: a pixel size that is
        // a unit's conversion (0.3048 × 1/0.3048) keeps its taps.
        const double slack = 1.0 + 1e-9;
        const double reach_px = reach / pixel * slack, near_px = near / pixel * slack;
        const Index n = Index(std::floor(reach_px)), side = 2 * n + 1;
        const double h = height, area = pixel * pixel;
        std::vector<double> grid(std::size_t(side * side), 0.0);
        auto at = [&](Index i, Index j) -> double& { return grid[std::size_t((i + n) * side + (j + n))]; };
        auto lattice = [&](Index i) {  // the nearest multiple of stride, half away from zero, within reach
            const Index k = (std::abs(i) + stride / 2) / stride * stride;
            return std::min(k, n / stride * stride) * (i < 0 ? -1 : 1);
        };
        constexpr int sub = 4;
        for (Index i = -n; i <= n; ++i)
            for (Index j = -n; j <= n; ++j) {
                const double d2 = double(i * i + j * j);
                if (d2 > reach_px * reach_px) continue;
                double sum = 0.0;
                for (int a = 0; a < sub; ++a)
                    for (int b = 0; b < sub; ++b) {
                        const double x = (double(i) + (a + 0.5) / sub - 0.5) * pixel;
                        const double y = (double(j) + (b + 0.5) / sub - 0.5) * pixel;
                        const double rho = std::sqrt(h * h + x * x + y * y);
                        sum += h / (2.0 * M_PI * rho * rho * rho);
                    }
                const double weight = sum / (sub * sub) * area;
                if (d2 <= near_px * near_px) at(i, j) += weight;
                else at(lattice(i), lattice(j)) += weight;
            }
        for (Index i = -n; i <= n; ++i)
            for (Index j = -n; j <= n; ++j)
                if (at(i, j) > 0.0) {
                    di.push_back(i);
                    dj.push_back(j);
                    w.push_back(at(i, j));
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
