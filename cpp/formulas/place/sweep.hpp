// Horizons and shadows on a surface model (a raster of heights), swept
// along the raster's digital lines of one direction at a time.
//
// The model of the surface: each pixel is a flat-topped column of its
// height over its square. A point looks from its pixel's top, at the
// centre; the column of a pixel Δ steps further along a line rises at the
// near edge of that pixel, Δ − ½ steps away. On the closed forms (a wall
// d metres from a pixel's centre), that distance is exactly d.
//
// A direction cuts the raster into digital lines: one step along the
// major axis (the axis the direction is closer to) per pixel, the minor
// index following round((i − c)·s) with s = |tan| ≤ 1 of the angle off the
// major axis and c the middle of the major axis (on a diagonal, i). Every pixel lies on
// exactly one line, and a point's horizon is taken along its line as if
// the line's pixels lay on a straight ray (Dozier & Frew 1990 sweep such
// lines; the error is below half a pixel across the ray). Anchoring the
// rounding at the middle, with rounding half away from zero, makes the
// lines of the raster turned a quarter (or half) turn the turned lines:
// a turned raster gives the turned answer, to the bit. A window anchored
// at its raster's middle has the raster's lines.
//
// Lines along the rows of memory are swept faster than lines down its
// columns: if the caller asks, the lines of a direction closer to north or
// south run along the rows of the raster's transpose (cols × rows), which
// the caller provides (worth it when many directions share the transpose).
//
// Nothing here touches Python; a line at a time, so that lines can be
// dealt out to threads.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace quarnel::place {

using Index = std::ptrdiff_t;

// The digital lines of one direction of travel on a rows × cols raster
// stored row by row (row 0 north, column 0 west).
struct Lines {
    bool transposed = false;                   // elements of the transpose are swept
    Index major_n = 0, minor_n = 0;            // pixels along each axis
    Index major_stride = 0, minor_stride = 0;  // in elements of the raster swept
    Index orig_major = 0, orig_minor = 0;      // the same in elements of the raster
    int sign = 1;       // +1: travel goes toward increasing major index
    double step = 0.0;  // horizontal distance of one step along a line [m]
    std::vector<Index> offset;  // minor index of line 0 at each major index (monotone)
    Index first = 0, last = 0;  // line numbers m ∈ [first, last] meet the raster

    // Major indices [begin, end) of line m inside the raster.
    void span(Index m, Index& begin, Index& end) const noexcept {
        // m + offset[i] ∈ [0, minor_n)
        const bool up = offset.front() <= offset.back();
        auto inside_lo = [&](Index i) { return m + offset[std::size_t(i)] >= 0; };
        auto inside_hi = [&](Index i) { return m + offset[std::size_t(i)] < minor_n; };
        // Along i the predicate "above the floor" switches once, and so does "below the ceiling".
        auto first_true = [&](auto pred) {  // pred false…true
            Index lo = 0, hi = major_n;
            while (lo < hi) {
                const Index mid = lo + (hi - lo) / 2;
                if (pred(mid)) hi = mid; else lo = mid + 1;
            }
            return lo;
        };
        if (up) {
            begin = first_true(inside_lo);
            end = first_true([&](Index i) { return !inside_hi(i); });
        } else {
            begin = first_true(inside_hi);
            end = first_true([&](Index i) { return !inside_lo(i); });
        }
        if (end < begin) end = begin;
    }
};

// Where the lines are anchored, in pixels of the raster: its middle,
// ((rows − 1)/2, (cols − 1)/2), unless the raster is a window of a larger
// one, whose lines it must follow to give the larger one's answers.
struct Centre {
    double row, col;
};

// The lines toward azimuth `azimuth` [deg, from north through east, in
// [0, 360)] on a raster of square pixels `pixel` [m] wide, on its
// transpose if `transpose` and the major axis is the rows'. The azimuth is
// taken apart into a quarter (N, E, S, W) and the angle past it, so that
// azimuths a quarter turn apart give slopes of the same magnitude, bit for bit.
inline Lines lines(Index rows, Index cols, double azimuth, double pixel, bool transpose, const Centre& centre) {
    Lines L;
    int quarter = int(azimuth / 90.0);
    if (quarter < 0) quarter = 0;
    if (quarter > 3) quarter = 3;
    const double past = azimuth - 90.0 * quarter;  // exact: [0, 90)
    // The direction as (column, row) increments: N (0, -1), E (1, 0), S (0, 1), W (-1, 0).
    static constexpr int base[4][2] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
    const int* from = base[quarter];
    const int* to = base[(quarter + 1) % 4];
    // Toward `from` turned by `past` toward `to`.
    const int* major_dir;
    const int* minor_dir;
    double t;
    if (past <= 45.0) {
        major_dir = from;
        minor_dir = to;
        t = past == 45.0 ? 1.0 : std::tan(past * (M_PI / 180.0));
    } else {
        major_dir = to;
        minor_dir = from;
        t = std::tan((90.0 - past) * (M_PI / 180.0));
    }
    const bool major_is_col = major_dir[0] != 0;
    L.sign = major_is_col ? major_dir[0] : major_dir[1];
    const int minor_sign = major_is_col ? minor_dir[1] : minor_dir[0];
    L.major_n = major_is_col ? cols : rows;
    L.minor_n = major_is_col ? rows : cols;
    L.orig_major = major_is_col ? 1 : cols;
    L.orig_minor = major_is_col ? cols : 1;
    L.transposed = transpose && !major_is_col;
    // On the transpose a step along a line is a step along a row of memory.
    L.major_stride = L.transposed ? 1 : L.orig_major;
    L.minor_stride = L.transposed ? L.major_n : L.orig_minor;
    L.step = pixel * std::sqrt(1.0 + t * t);
    // Minor change per +1 major index.
    const double s = t * double(minor_sign * L.sign);
    const double c = major_is_col ? centre.col : centre.row;
    L.offset.resize(std::size_t(L.major_n));
    for (Index i = 0; i < L.major_n; ++i) L.offset[std::size_t(i)] = Index(std::round((double(i) - c) * s));
    // On a diagonal the rounding would tie at every pixel, and jump two at the middle: the
    // diagonals themselves (a family shifted as a whole turns into the same family).
    if (t == 1.0)
        for (Index i = 0; i < L.major_n; ++i) L.offset[std::size_t(i)] = s > 0.0 ? i : -i;
    const auto [lo, hi] = std::minmax(L.offset.front(), L.offset.back());
    L.first = -hi;
    L.last = L.minor_n - 1 - lo;
    return L;
}

// Calls visit(element, original, a) for the pixels of line m, from the far
// end of travel backwards: the element in the raster swept (the transpose
// if L.transposed), the same pixel's element in the raster, and its
// position along the line in steps.
template <class Visit>
inline void walk(const Lines& L, Index m, Visit&& visit) {
    Index begin, end;
    L.span(m, begin, end);
    auto at = [&](Index i, double a) {
        const Index j = m + L.offset[std::size_t(i)];
        visit(j * L.minor_stride + i * L.major_stride, j * L.orig_minor + i * L.orig_major, a);
    };
    if (L.sign > 0) {
        for (Index i = end - 1; i >= begin; --i) at(i, double(i));
    } else {
        for (Index i = begin; i < end; ++i) at(i, -double(i));
    }
}

// The upper convex hull of the points already passed on a line (position,
// height), nearest on top, with the highest height at or below each entry.
struct Hull {
    std::vector<double> a, z, peak;
    explicit Hull(Index n = 0) : a(std::size_t(n)), z(std::size_t(n)), peak(std::size_t(n)) {}
};

// The tangent of the horizon's elevation toward the direction of travel,
// max(0, max over the pixels ahead of Δz / ((Δa − ½)·step)), for each
// pixel of line m: out(element, original, tangent), NaN for a NaN pixel
// (z is the raster swept, element and original as walk's). A NaN pixel
// hides nothing. Linear in the line's length: the tangent from the point
// lies on the hull, and the hull vertices passed on the way to it are
// below the chord from the point and leave the hull when it comes in.
template <class Height, class Out>
inline void horizon_line(const Lines& L, const Height* z, Index m, Hull& hull, Out&& out) {
    double* A = hull.a.data();
    double* Z = hull.z.data();
    double* P = hull.peak.data();
    Index top = -1;
    const double step = L.step;
    walk(L, m, [&](Index e, Index o, double a) {
        const double h = double(z[e]);
        if (std::isnan(h)) {
            out(e, o, h);
            return;
        }
        double tangent = 0.0;
        if (top >= 0 && P[top] > h) {
            // From the near edge q = (a + ½, h): the slope over the hull rises, then falls.
            const double q = a + 0.5;
            Index k = top;
            while (k > 0 && (Z[k - 1] - h) * (A[k] - q) >= (Z[k] - h) * (A[k - 1] - q)) --k;
            tangent = (Z[k] - h) / ((A[k] - q) * step);
        }
        out(e, o, tangent);
        while (top >= 1 && (Z[top] - h) * (A[top - 1] - a) <= (Z[top - 1] - h) * (A[top] - a)) --top;
        ++top;
        A[top] = a;
        Z[top] = h;
        P[top] = top > 0 ? std::max(P[top - 1], h) : h;
    });
}

// A line's pixels in the order walk visits them, for the sweeps with a
// reach, which pass over a line twice.
struct Line {
    std::vector<Index> e, o, queue;
    std::vector<double> a, h, t;
    explicit Line(Index n = 0)
        : e(std::size_t(n)), o(std::size_t(n)), queue(std::size_t(n)), a(std::size_t(n)), h(std::size_t(n)),
          t(std::size_t(n)) {}
    template <class Height>
    Index take(const Lines& L, const Height* z, Index m) {
        Index n = 0;
        walk(L, m, [&](Index el, Index orig, double pos) {
            e[std::size_t(n)] = el;
            o[std::size_t(n)] = orig;
            a[std::size_t(n)] = pos;
            h[std::size_t(n)] = double(z[el]);
            ++n;
        });
        return n;
    }
};

// Steps within `distance` [m] of a pixel's centre, counted to their near edge.
inline Index reach(const Lines& L, double distance) noexcept {
    const double steps = std::floor(distance / L.step + 0.5);
    return steps >= double(std::numeric_limits<Index>::max() / 4) ? std::numeric_limits<Index>::max() / 4
                                                                   : Index(steps);
}

// horizon_line with only the pixels at most `reach` steps ahead counting
// (reach >= 1). The line is cut into runs of `reach` pixels: what lies
// ahead within reach of a pixel is the part of its own run already passed
// (swept as above, the hull restarting with each run) and the nearest part
// of the run before, whose hulls grow away from the pixel as the pixel
// goes back through its run (a second pass, backwards, with a binary
// search for the tangent).
template <class Height, class Out>
inline void horizon_line_within(const Lines& L, const Height* z, Index m, Index reach, Hull& hull, Line& line,
                                Out&& out) {
    const Index n = line.take(L, z, m);
    const double* A = line.a.data();
    const double* H = line.h.data();
    double* T = line.t.data();
    const double step = L.step;
    double* HA = hull.a.data();
    double* HZ = hull.z.data();
    double* HP = hull.peak.data();
    // Own run: as horizon_line.
    Index top = -1;
    for (Index p = 0; p < n; ++p) {
        if (p % reach == 0) top = -1;
        const double a = A[p], h = H[p];
        T[p] = 0.0;
        if (std::isnan(h)) continue;
        if (top >= 0 && HP[top] > h) {
            const double q = a + 0.5;
            Index k = top;
            while (k > 0 && (HZ[k - 1] - h) * (HA[k] - q) >= (HZ[k] - h) * (HA[k - 1] - q)) --k;
            T[p] = (HZ[k] - h) / ((HA[k] - q) * step);
        }
        while (top >= 1 && (HZ[top] - h) * (HA[top - 1] - a) <= (HZ[top - 1] - h) * (HA[top] - a)) --top;
        ++top;
        HA[top] = a;
        HZ[top] = h;
        HP[top] = top > 0 ? std::max(HP[top - 1], h) : h;
    }
    // The run before: its pixels p - reach .. start - 1, a chain from the
    // nearest (index 0) to the farthest, growing at the far end.
    for (Index start = reach; start < n; start += reach) {
        const Index end = std::min(n, start + reach);
        Index next = start - 1, last = -1;
        double peak = -std::numeric_limits<double>::infinity();
        for (Index p = end - 1; p >= start; --p) {
            for (; next >= p - reach; --next) {
                const double a = A[next], h = H[next];
                if (std::isnan(h)) continue;
                while (last >= 1 &&
                       (HZ[last] - HZ[last - 1]) * (a - HA[last]) <= (h - HZ[last]) * (HA[last] - HA[last - 1]))
                    --last;
                ++last;
                HA[last] = a;
                HZ[last] = h;
                peak = std::max(peak, h);
            }
            const double h = H[p];
            if (std::isnan(h) || !(peak > h)) continue;
            // The slope from q rises along the chain, then falls: the first vertex higher than its successor.
            const double q = A[p] + 0.5;
            Index lo = 0, hi = last;
            while (lo < hi) {
                const Index mid = lo + (hi - lo) / 2;
                if ((HZ[mid] - h) * (HA[mid + 1] - q) >= (HZ[mid + 1] - h) * (HA[mid] - q)) hi = mid;
                else lo = mid + 1;
            }
            T[p] = std::max(T[p], (HZ[lo] - h) / ((HA[lo] - q) * step));
        }
    }
    for (Index p = 0; p < n; ++p) out(line.e[std::size_t(p)], line.o[std::size_t(p)], std::isnan(H[p]) ? H[p] : T[p]);
}

// The shadow of the surface for a sun toward the direction of travel at
// `rise` = step · tan(elevation) metres of height per step: for each pixel
// of line m, out(element, original, height, shade) with shade the height
// of the shadow's top over the pixel's centre, max over the pixels ahead
// of z − (Δa − ½)·rise (−inf with nothing ahead). The pixel's top is
// sunlit where shade ≤ height. A NaN pixel casts nothing.
template <class Height, class Out>
inline void shadow_line(const Lines& L, const Height* z, Index m, double rise, Out&& out) {
    double shade = -std::numeric_limits<double>::infinity();
    double ahead = std::numeric_limits<double>::quiet_NaN();  // the last pixel's height
    const double half = 0.5 * rise;
    walk(L, m, [&](Index e, Index o, double) {
        // One step back from the last pixel: its own column and what it had ahead, a step lower
        // (NaN loses both comparisons).
        const double own = ahead - half, further = shade - rise;
        shade = own > further ? own : further;
        ahead = double(z[e]);
        out(e, o, ahead, shade);
    });
}

// shadow_line for the lines m0 .. m0 + count − 1 (count ≤ N) together:
// at each major index their pixels are neighbours along the minor axis, so
// that a bundle touches each cache line once where a line alone would come
// back to it for each of its neighbours (a direction off the rows of
// memory). A lane outside the raster starts afresh.
template <int N, class Height, class Out>
inline void shadow_bundle(const Lines& L, const Height* z, Index m0, int count, double rise, Out&& out) {
    double shade[N], ahead[N];
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double half = 0.5 * rise;
    Index begin = L.major_n, end = 0;
    for (const Index m : {m0, m0 + count - 1}) {
        Index b, e;
        L.span(m, b, e);
        if (b < e) {
            begin = std::min(begin, b);
            end = std::max(end, e);
        }
    }
    for (int k = 0; k < N; ++k) {
        shade[k] = -inf;
        ahead[k] = nan;
    }
    auto at = [&](Index i) {
        const Index base = m0 + L.offset[std::size_t(i)];
        for (int k = 0; k < count; ++k) {
            const Index j = base + k;
            if (j < 0 || j >= L.minor_n) {
                shade[k] = -inf;
                ahead[k] = nan;
                continue;
            }
            const Index e = j * L.minor_stride + i * L.major_stride;
            const double own = ahead[k] - half, further = shade[k] - rise;
            shade[k] = own > further ? own : further;
            ahead[k] = double(z[e]);
            out(e, j * L.orig_minor + i * L.orig_major, ahead[k], shade[k]);
        }
    };
    if (L.sign > 0) {
        for (Index i = end - 1; i >= begin; --i) at(i);
    } else {
        for (Index i = begin; i < end; ++i) at(i);
    }
}

// shadow_line with only the pixels at most `reach` steps ahead casting
// (reach >= 1): the highest z + position·rise over the last `reach`
// pixels, kept in a queue of candidates (each higher in that sense than
// those after it), compared without forming the large sums.
template <class Height, class Out>
inline void shadow_line_within(const Lines& L, const Height* z, Index m, double rise, Index reach, Line& line,
                               Out&& out) {
    const Index n = line.take(L, z, m);
    const double* H = line.h.data();
    Index* queue = line.queue.data();
    Index head = 0, tail = 0;  // candidates queue[head .. tail), by position
    for (Index p = 0; p < n; ++p) {
        while (head < tail && queue[head] < p - reach) ++head;
        double shade = -std::numeric_limits<double>::infinity();
        if (head < tail) {
            const Index c = queue[head];
            shade = H[c] - (double(p - c) - 0.5) * rise;
        }
        out(line.e[std::size_t(p)], line.o[std::size_t(p)], H[p], shade);
        if (std::isnan(H[p])) continue;
        // A candidate no higher than this pixel plus the fall of the shadow between them never
        // casts above it again.
        while (head < tail && H[queue[tail - 1]] <= H[p] + double(p - queue[tail - 1]) * rise) --tail;
        queue[tail++] = p;
    }
}

}  // namespace quarnel::place
