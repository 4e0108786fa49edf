// quarnel._place: the sweeps of formulas/place/sweep.hpp over a whole
// raster, without the GIL, the lines of each direction dealt out to the
// cores (machine/parallel.hpp's pool; this module has its own). quarnel.place
// checks the arguments and calls these; they check again, so that no
// call can reach past an array.
#include "extension/module_setup.hpp"
#include "formulas/place/sweep.hpp"
#include "formulas/place/views.hpp"
#include "machine/parallel.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace quarnel::place {
namespace {

namespace parallel = machine::parallel;

// Below this many pixels a raster is swept on the calling thread alone.
constexpr Index alone = 1 << 15;

// fn(begin, end, who) over [0, n) in runs of `run`, a run to whichever
// participant asks next (who < parallel::max_parts tells them apart), on
// the cores if `pixels` is worth it.
template <class Fn>
void deal(Index n, Index run, Index pixels, const Fn& fn) noexcept {
    workers::Pool* pool = pixels >= alone ? parallel::pool() : nullptr;
    const int parts = pool ? std::min({parallel::cores(), pool->threads() + 1, parallel::max_parts}) : 1;
    if (parts <= 1 || n <= run) {
        fn(Index(0), n, 0);
        return;
    }
    struct Shared {
        const Fn* fn;
        Index n, run;
        std::atomic<Index> next;
        static void go(void* self, int who) noexcept {
            auto* s = static_cast<Shared*>(self);
            for (;;) {
                const Index begin = s->next.fetch_add(s->run, std::memory_order_relaxed);
                if (begin >= s->n) break;
                (*s->fn)(begin, std::min(s->n, begin + s->run), who);
            }
        }
    };
    Shared shared{&fn, n, run, {0}};
    if (pool->begin(&Shared::go, &shared, parts)) {
        Shared::go(&shared, 0);
        pool->wait();
    } else {
        Shared::go(&shared, 0);  // the pool is busy with another call
    }
}

// fn(m, who) for every line m of L, neighbouring lines (which share
// cache lines) in runs.
template <class Fn>
void each_line(const Lines& L, Index pixels, const Fn& fn) noexcept {
    const Index n = L.last - L.first + 1;
    deal(n, std::max<Index>(1, n / (8 * parallel::max_parts)), pixels, [&](Index begin, Index end, int who) {
        for (Index m = L.first + begin; m < L.first + end; ++m) fn(m, who);
    });
}

// fn(r, c, t, o) over a rows × cols raster in tiles, with t the element
// of (r, c) in the transpose and o in the raster: one of the two walks
// along memory, the other's cache lines stay in cache.
template <class Fn>
void tiles(Index rows, Index cols, const Fn& fn) noexcept {
    constexpr Index tile = 32;
    const Index bands = (rows + tile - 1) / tile;
    deal(bands, 4, rows * cols, [&](Index b0, Index b1, int) {
        for (Index r0 = b0 * tile; r0 < std::min(rows, b1 * tile); r0 += tile)
            for (Index c0 = 0; c0 < cols; c0 += tile)
                for (Index c = c0; c < std::min(cols, c0 + tile); ++c)
                    for (Index r = r0; r < std::min(rows, r0 + tile); ++r) fn(r, c, c * rows + r, r * cols + c);
    });
}

template <class T>
void transpose(const T* from, Index rows, Index cols, T* to) noexcept {
    tiles(rows, cols, [&](Index, Index, Index t, Index o) { to[t] = from[o]; });
}

// The raster as float32 (kept) or float64 (anything else, converted),
// two-dimensional, C order, aligned; nullptr with an exception set.
py::Ref heights(PyObject* obj) noexcept {
    const bool single = PyArray_Check(obj) && PyArray_TYPE(reinterpret_cast<PyArrayObject*>(obj)) == NPY_FLOAT;
    return py::Ref::steal(PyArray_FROMANY(obj, single ? NPY_FLOAT : NPY_DOUBLE, 2, 2, NPY_ARRAY_IN_ARRAY));
}

PyArrayObject* arr(const py::Ref& r) noexcept { return reinterpret_cast<PyArrayObject*>(r.get()); }

py::Ref zeros(int nd, const npy_intp* dims, int type) noexcept {
    return py::Ref::steal(PyArray_ZEROS(nd, const_cast<npy_intp*>(dims), type, 0));
}

bool valid_pixel(double pixel) noexcept {
    if (std::isfinite(pixel) && pixel > 0.0) return true;
    PyErr_SetString(PyExc_ValueError, "pixel_size must be a finite length > 0 [m]");
    return false;
}

bool nonempty(PyArrayObject* a) noexcept {
    if (PyArray_DIM(a, 0) > 0 && PyArray_DIM(a, 1) > 0) return true;
    PyErr_SetString(PyExc_ValueError, "the surface model is empty");
    return false;
}

// Between directions: Ctrl-C ends a long sweep (with the GIL for a moment).
bool interrupted(PyThreadState*& saved) noexcept {
    PyEval_RestoreThread(saved);
    const bool stop = PyErr_CheckSignals() < 0;
    saved = PyEval_SaveThread();
    return stop;
}

// Sums cos² of the horizon's elevation over the directions k = 0 .. n − 1,
// azimuth (k + ½)·360°/n, into the whole sky and, if asked, the four half
// skies (N, E, S, W: the azimuths within 90° of each); horizon elevations
// [deg] per direction into `angles` if asked. The directions that sweep
// the transpose sum into transposed sums, added at the end.
enum class Outcome { done, interrupted, no_memory };

template <class T>
Outcome sky_sums(const T* z, Index rows, Index cols, double pixel, int n, double distance, const Centre& centre,
                 T* total, T* const* halves, T* angles) {
    const Index pixels = rows * cols;
    const int per_quarter = n / 4;
    const double width = 360.0 / double(n);
    const int sums = halves ? 5 : 1;
    std::vector<Hull> hulls;
    std::vector<Line> buffers;  // for a reach
    std::unique_ptr<T[]> zt;  // filled by the transpose, not before
    std::vector<T> acc_t;
    try {
        hulls.reserve(parallel::max_parts);
        for (int k = 0; k < parallel::max_parts; ++k) hulls.emplace_back(std::max(rows, cols));
        if (std::isfinite(distance))
            for (int k = 0; k < parallel::max_parts; ++k) buffers.emplace_back(std::max(rows, cols));
        zt.reset(new T[std::size_t(pixels)]);
        acc_t.assign(std::size_t(pixels) * std::size_t(sums), T(0));
    } catch (...) {
        return Outcome::no_memory;
    }
    PyThreadState* saved = PyEval_SaveThread();
    transpose(z, rows, cols, zt.get());
    T* const out[2][5] = {
        {total, halves ? halves[0] : nullptr, halves ? halves[1] : nullptr, halves ? halves[2] : nullptr,
         halves ? halves[3] : nullptr},
        {acc_t.data(), acc_t.data() + pixels, acc_t.data() + 2 * pixels, acc_t.data() + 3 * pixels,
         acc_t.data() + 4 * pixels}};
    Outcome outcome = Outcome::done;
    for (int k = 0; k < n && outcome == Outcome::done; ++k) {
        const int quarter = k / per_quarter;
        const double azimuth = 90.0 * quarter + (double(k % per_quarter) + 0.5) * width;
        Lines L;
        try {
            L = lines(rows, cols, azimuth, pixel, true, centre);
        } catch (...) {
            outcome = Outcome::no_memory;
            break;
        }
        T* const* o = out[L.transposed];
        T* tot = o[0];
        T* a = halves ? o[1 + quarter] : nullptr;  // N, E, S, W: quarter q lies in halves q and q + 1
        T* b = halves ? o[1 + (quarter + 1) % 4] : nullptr;
        T* ang = angles ? angles + Index(k) * pixels : nullptr;
        const T* swept = L.transposed ? zt.get() : z;
        auto add = [&](Index e, Index orig, double tangent) {
            const T c2 = T(1.0 / (1.0 + tangent * tangent));  // cos² of the elevation
            tot[e] += c2;
            if (a) {
                a[e] += c2;
                b[e] += c2;
            }
            if (ang) ang[orig] = T(std::atan(tangent) * (180.0 / M_PI));
        };
        const Index steps = std::isfinite(distance) ? reach(L, distance) : L.major_n;
        each_line(L, pixels, [&](Index m, int who) {
            if (steps >= L.major_n) {
                horizon_line(L, swept, m, hulls[std::size_t(who)], add);
            } else if (steps >= 1) {
                horizon_line_within(L, swept, m, steps, hulls[std::size_t(who)], buffers[std::size_t(who)], add);
            } else {  // nothing within reach
                walk(L, m, [&](Index e, Index orig, double) {
                    const double h = double(swept[e]);
                    add(e, orig, std::isnan(h) ? h : 0.0);
                });
            }
        });
        if (interrupted(saved)) outcome = Outcome::interrupted;
    }
    if (outcome == Outcome::done) {
        const double whole = double(n), half = double(n / 2);
        for (int h = 0; h < sums; ++h) {
            T* to = out[0][h];
            const T* from = out[1][h];
            const double share = h ? half : whole;
            tiles(rows, cols, [&](Index, Index, Index t, Index e) {
                to[e] = T((double(to[e]) + double(from[t])) / share);
            });
        }
    }
    PyEval_RestoreThread(saved);
    return outcome;
}

bool valid_distance(double distance) noexcept {
    if (distance >= 0.0) return true;  // inf: no limit
    PyErr_SetString(PyExc_ValueError, "max_distance must be a length >= 0 [m] or None");
    return false;
}

bool valid_centre(const Centre& c) noexcept {
    if (std::isfinite(c.row) && std::isfinite(c.col) && std::fabs(c.row) < 1e15 && std::fabs(c.col) < 1e15)
        return true;
    PyErr_SetString(PyExc_ValueError, "the lines' centre must be finite (row, column) [pixels]");
    return false;
}

// sky(dsm, pixel_size, directions, halves, angles, max_distance, centre_row, centre_col)
//   -> (total, (north, east, south, west) | None, angles | None)
PyObject* sky(PyObject*, PyObject* args) noexcept {
    PyObject* obj;
    double pixel, distance;
    Centre centre;
    int n, want_halves, want_angles;
    if (!PyArg_ParseTuple(args, "Odippddd", &obj, &pixel, &n, &want_halves, &want_angles, &distance, &centre.row,
                          &centre.col))
        return nullptr;
    if (!valid_pixel(pixel) || !valid_distance(distance) || !valid_centre(centre)) return nullptr;
    if (n < 4 || n % 4 != 0 || n > 1 << 16) {
        PyErr_SetString(PyExc_ValueError, "directions must be a multiple of 4, from 4 to 65536");
        return nullptr;
    }
    py::Ref dsm = heights(obj);
    if (!dsm || !nonempty(arr(dsm))) return nullptr;
    const int type = PyArray_TYPE(arr(dsm));
    const npy_intp* dims = PyArray_DIMS(arr(dsm));
    const Index rows = dims[0], cols = dims[1];
    py::Ref total = zeros(2, dims, type);
    if (!total) return nullptr;
    py::Ref half[4];
    if (want_halves)
        for (auto& h : half)
            if (!(h = zeros(2, dims, type))) return nullptr;
    py::Ref angles;
    if (want_angles) {
        const npy_intp d3[3] = {n, rows, cols};
        if (!(angles = py::Ref::steal(PyArray_EMPTY(3, const_cast<npy_intp*>(d3), type, 0)))) return nullptr;
    }
    Outcome outcome;
    auto run = [&](auto tag) {
        using T = decltype(tag);
        T* hp[4];
        for (int h = 0; h < 4; ++h) hp[h] = want_halves ? static_cast<T*>(PyArray_DATA(arr(half[h]))) : nullptr;
        return sky_sums(static_cast<const T*>(PyArray_DATA(arr(dsm))), rows, cols, pixel, n, distance, centre,
                        static_cast<T*>(PyArray_DATA(arr(total))), want_halves ? hp : nullptr,
                        want_angles ? static_cast<T*>(PyArray_DATA(arr(angles))) : nullptr);
    };
    outcome = type == NPY_FLOAT ? run(float{}) : run(double{});
    if (outcome == Outcome::no_memory) return PyErr_NoMemory();
    if (outcome == Outcome::interrupted) return nullptr;  // KeyboardInterrupt or another signal's exception
    py::Ref halves_out = want_halves ? py::Ref::steal(PyTuple_Pack(4, half[0].get(), half[1].get(), half[2].get(),
                                                                   half[3].get()))
                                     : py::Ref::borrow(Py_None);
    if (!halves_out) return nullptr;
    return PyTuple_Pack(3, total.get(), halves_out.get(), want_angles ? angles.get() : Py_None);
}

// Whether a wall facing `aspect` [deg] turns toward a sun at `azimuth` [deg,
// in [0, 360)]: strictly within 90°, in degrees, so that a wall facing
// north is not lit by a sun due east through rounding.
inline bool facing(double aspect, double azimuth) noexcept {
    double d = std::fmod(aspect - azimuth, 360.0);
    if (d < 0.0) d += 360.0;
    return d < 90.0 || d > 270.0;
}

// The mask (1 sunlit, 0 shaded, NaN for NaN) and, for wall pixels
// (height > 0: a wall rising from the pixel's top to a higher neighbour)
// whose aspect [deg, the way the wall faces] lies within 90° of the sun's
// azimuth, the sunlit height of the wall [m].
template <class T>
void shadow_of(const T* z, Index rows, Index cols, double pixel, double azimuth, double elevation, double distance,
               const Centre& centre, T* mask, const T* wall_height, const T* wall_aspect, T* wall_sunlit) {
    const Index pixels = rows * cols;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    double half_rise = 0.0;
    // No beam reaches a wall from a sun overhead or below the horizon.
    const bool walls_dark = !(elevation > 0.0) || elevation >= 90.0;
    // Walls are the rare case: kept out of line, so that the loops inline the mask.
    auto wall = [&](Index e, double h, double shade) __attribute__((noinline)) {
        const double w = double(wall_height[e]);
        double lit = 0.0;
        if (std::isnan(w) || std::isnan(h)) lit = nan;
        else if (!walls_dark && w > 0.0 && facing(double(wall_aspect[e]), azimuth))
            // The wall rises from this pixel's top at its edge away from the sun, half a step
            // further from what shades it than the pixel's centre.
            lit = std::clamp(h + w - (shade - half_rise), 0.0, w);
        wall_sunlit[e] = T(lit);
    };
    auto finish = [&](Index e, double h, double shade) __attribute__((always_inline)) {
        mask[e] = std::isnan(h) ? T(nan) : T(shade <= h ? 1.0 : 0.0);
        if (wall_sunlit) wall(e, h, shade);
    };
    if (walls_dark) {
        // Below the horizon no beam reaches a horizontal top; overhead, no shadow at all.
        const double shade = elevation > 0.0 ? -std::numeric_limits<double>::infinity()
                                              : std::numeric_limits<double>::infinity();
        deal(pixels, 1 << 14, pixels, [&](Index begin, Index end, int) {
            for (Index e = begin; e < end; ++e) finish(e, double(z[e]), shade);
        });
        return;
    }
    // One direction: sweeping in place costs less than a transpose there and back.
    const Lines L = lines(rows, cols, azimuth, pixel, false, centre);
    const double rise = L.step * std::tan(elevation * (M_PI / 180.0));
    half_rise = 0.5 * rise;
    const Index steps = std::isfinite(distance) ? reach(L, distance) : L.major_n;
    auto done = [&](Index e, Index, double h, double shade) { finish(e, h, shade); };
    if (steps >= L.major_n && L.minor_stride != 1) {
        each_line(L, pixels, [&](Index m, int) { shadow_line(L, z, m, rise, done); });
        return;
    }
    if (steps >= L.major_n) {
        // Lines down the columns of memory: 64 neighbours at once, eight cache lines of a row
        // (and one page) for each step.
        constexpr int lanes = 64;
        const Index lines_n = L.last - L.first + 1, bundles = (lines_n + lanes - 1) / lanes;
        deal(bundles, std::max<Index>(1, bundles / (8 * parallel::max_parts)), pixels,
             [&](Index b0, Index b1, int) {
                 for (Index b = b0; b < b1; ++b) {
                     const Index m0 = L.first + b * lanes;
                     shadow_bundle<lanes>(L, z, m0, int(std::min<Index>(lanes, L.last + 1 - m0)), rise, done);
                 }
             });
        return;
    }
    std::vector<Line> buffers;
    for (int k = 0; k < parallel::max_parts; ++k) buffers.emplace_back(steps >= 1 ? L.major_n : 0);
    each_line(L, pixels, [&](Index m, int who) {
        if (steps >= 1) {
            shadow_line_within(L, z, m, rise, steps, buffers[std::size_t(who)], done);
        } else {  // nothing within reach
            walk(L, m, [&](Index e, Index, double) {
                finish(e, double(z[e]), -std::numeric_limits<double>::infinity());
            });
        }
    });
}

// shadow(dsm, pixel_size, azimuth, elevation, wall_height | None, wall_aspect | None, max_distance,
//        centre_row, centre_col) -> (mask, wall_sunlit | None)
PyObject* shadow(PyObject*, PyObject* args) noexcept {
    PyObject *obj, *wh_obj, *wa_obj;
    double pixel, azimuth, elevation, distance;
    Centre centre;
    if (!PyArg_ParseTuple(args, "OdddOOddd", &obj, &pixel, &azimuth, &elevation, &wh_obj, &wa_obj, &distance,
                          &centre.row, &centre.col))
        return nullptr;
    if (!valid_pixel(pixel) || !valid_distance(distance) || !valid_centre(centre)) return nullptr;
    if (!std::isfinite(azimuth) || !std::isfinite(elevation)) {
        PyErr_SetString(PyExc_ValueError, "the sun's azimuth and elevation must be finite [deg]");
        return nullptr;
    }
    azimuth = std::fmod(azimuth, 360.0);
    if (azimuth < 0.0) azimuth += 360.0;
    if (azimuth >= 360.0) azimuth = 0.0;
    py::Ref dsm = heights(obj);
    if (!dsm || !nonempty(arr(dsm))) return nullptr;
    const int type = PyArray_TYPE(arr(dsm));
    const npy_intp* dims = PyArray_DIMS(arr(dsm));
    const bool walls = wh_obj != Py_None;
    if (walls != (wa_obj != Py_None)) {
        PyErr_SetString(PyExc_ValueError, "wall heights and wall aspects come together");
        return nullptr;
    }
    py::Ref wh, wa;
    if (walls) {
        wh = py::Ref::steal(PyArray_FROMANY(wh_obj, type, 2, 2, NPY_ARRAY_IN_ARRAY));
        if (!wh) return nullptr;
        wa = py::Ref::steal(PyArray_FROMANY(wa_obj, type, 2, 2, NPY_ARRAY_IN_ARRAY));
        if (!wa) return nullptr;
        if (!PyArray_SAMESHAPE(arr(wh), arr(dsm)) || !PyArray_SAMESHAPE(arr(wa), arr(dsm))) {
            PyErr_SetString(PyExc_ValueError, "wall heights and aspects must have the surface model's shape");
            return nullptr;
        }
    }
    py::Ref mask = py::Ref::steal(PyArray_EMPTY(2, const_cast<npy_intp*>(dims), type, 0));
    if (!mask) return nullptr;
    py::Ref lit;
    if (walls && !(lit = py::Ref::steal(PyArray_EMPTY(2, const_cast<npy_intp*>(dims), type, 0)))) return nullptr;
    bool failed = false;
    auto run = [&](auto tag) {
        using T = decltype(tag);
        auto data = [](const py::Ref& r) { return r ? static_cast<T*>(PyArray_DATA(arr(r))) : nullptr; };
        shadow_of(static_cast<const T*>(PyArray_DATA(arr(dsm))), dims[0], dims[1], pixel, azimuth, elevation,
                  distance, centre, data(mask), data(wh), data(wa), data(lit));
    };
    Py_BEGIN_ALLOW_THREADS
    try {
        if (type == NPY_FLOAT) run(float{});
        else run(double{});
    } catch (...) {
        failed = true;
    }
    Py_END_ALLOW_THREADS
    if (failed) return PyErr_NoMemory();
    return PyTuple_Pack(2, mask.get(), walls ? lit.get() : Py_None);
}

// An array of the type and shape of `like` (2-D, C order), converted if need be.
py::Ref same_as(PyObject* obj, PyArrayObject* like, const char* what) noexcept {
    py::Ref a = py::Ref::steal(PyArray_FROMANY(obj, PyArray_TYPE(like), 2, 2, NPY_ARRAY_IN_ARRAY));
    if (a && !PyArray_SAMESHAPE(arr(a), like)) {
        PyErr_Format(PyExc_ValueError, "%s must have the surface model's shape", what);
        return py::Ref();
    }
    return a;
}

// ground(dsm, sunlit, pixel_size, height, near, reach, stride, step) -> share
PyObject* ground(PyObject*, PyObject* args) noexcept {
    PyObject *obj, *sun_obj;
    double pixel, height, near, reach, step;
    Py_ssize_t stride;
    if (!PyArg_ParseTuple(args, "OOddddnd", &obj, &sun_obj, &pixel, &height, &near, &reach, &stride, &step))
        return nullptr;
    if (!valid_pixel(pixel)) return nullptr;
    if (!(height > 0.0 && std::isfinite(height) && near >= 0.0 && reach >= 0.0 && reach < 1e6 && stride >= 1 &&
          stride < 1024 && step >= 0.0)) {
        PyErr_SetString(PyExc_ValueError, "ground: height > 0, reach and near >= 0, stride >= 1, step >= 0");
        return nullptr;
    }
    if (reach / pixel > 4096.0) {
        PyErr_SetString(PyExc_ValueError, "ground: the reach spans too many pixels");
        return nullptr;
    }
    py::Ref dsm = heights(obj);
    if (!dsm || !nonempty(arr(dsm))) return nullptr;
    py::Ref sun = same_as(sun_obj, arr(dsm), "the sunlit map");
    if (!sun) return nullptr;
    const int type = PyArray_TYPE(arr(dsm));
    const npy_intp* dims = PyArray_DIMS(arr(dsm));
    py::Ref out = py::Ref::steal(PyArray_EMPTY(2, const_cast<npy_intp*>(dims), type, 0));
    if (!out) return nullptr;
    bool failed = false;
    Py_BEGIN_ALLOW_THREADS
    try {
        const GroundTaps taps(pixel, height, near, reach, Index(stride));
        auto run = [&](auto tag) {
            using T = decltype(tag);
            const T* z = static_cast<const T*>(PyArray_DATA(arr(dsm)));
            const T* s = static_cast<const T*>(PyArray_DATA(arr(sun)));
            T* o = static_cast<T*>(PyArray_DATA(arr(out)));
            const Index rows = dims[0], cols = dims[1];
            deal(rows, 8, rows * cols * Index(taps.w.size()) / 16, [&](Index r0, Index r1, int) {
                ground_share(z, s, rows, cols, taps, step, r0, r1, o);
            });
        };
        if (type == NPY_FLOAT) run(float{});
        else run(double{});
    } catch (...) {
        failed = true;
    }
    Py_END_ALLOW_THREADS
    if (failed) return PyErr_NoMemory();
    return out.release();
}

// wall_views(lit_share, aspect, pixel_size, max_distance) -> (north, east, south, west)
PyObject* wall_views(PyObject*, PyObject* args) noexcept {
    PyObject *lit_obj, *aspect_obj;
    double pixel, distance;
    if (!PyArg_ParseTuple(args, "OOdd", &lit_obj, &aspect_obj, &pixel, &distance)) return nullptr;
    if (!valid_pixel(pixel) || !valid_distance(distance)) return nullptr;
    py::Ref lit = heights(lit_obj);
    if (!lit || !nonempty(arr(lit))) return nullptr;
    py::Ref aspect = same_as(aspect_obj, arr(lit), "wall aspects");
    if (!aspect) return nullptr;
    const int type = PyArray_TYPE(arr(lit));
    const npy_intp* dims = PyArray_DIMS(arr(lit));
    py::Ref out[4];
    for (auto& o : out)
        if (!(o = py::Ref::steal(PyArray_EMPTY(2, const_cast<npy_intp*>(dims), type, 0)))) return nullptr;
    bool failed = false;
    Py_BEGIN_ALLOW_THREADS
    try {
        auto run = [&](auto tag) {
            using T = decltype(tag);
            auto data = [](const py::Ref& r) { return static_cast<T*>(PyArray_DATA(arr(r))); };
            const T* l = data(lit);
            const T* a = data(aspect);
            const Index rows = dims[0], cols = dims[1];
            deal(cols, 64, rows * cols, [&](Index c0, Index c1, int) {
                walls_north_south(l, a, rows, cols, pixel, distance, c0, c1, data(out[0]), data(out[2]));
            });
            deal(rows, 16, rows * cols, [&](Index r0, Index r1, int) {
                walls_east_west(l, a, cols, pixel, distance, r0, r1, data(out[1]), data(out[3]));
            });
        };
        if (type == NPY_FLOAT) run(float{});
        else run(double{});
    } catch (...) {
        failed = true;
    }
    Py_END_ALLOW_THREADS
    if (failed) return PyErr_NoMemory();
    return PyTuple_Pack(4, out[0].get(), out[1].get(), out[2].get(), out[3].get());
}

PyMethodDef methods[] = {
    {"sky", sky, METH_VARARGS,
     "sky(dsm, pixel_size, directions, halves, angles, max_distance, centre_row, centre_col)\n"
     "  -> (total, halves | None, angles | None)\n\n"
     "Sky view factor of each pixel's top from the horizons of `directions` azimuths; see\n"
     "quarnel.place.sky_view_factor, which calls it."},
    {"shadow", shadow, METH_VARARGS,
     "shadow(dsm, pixel_size, azimuth, elevation, wall_height, wall_aspect, max_distance, centre_row,\n"
     "       centre_col)\n"
     "  -> (mask, wall_sunlit | None)\n\n"
     "Sunlit (1) and shaded (0) pixel tops, and the sunlit height of walls; see\n"
     "quarnel.place.shadow, which calls it."},
    {"ground", ground, METH_VARARGS,
     "ground(dsm, sunlit, pixel_size, height, near, reach, stride, step) -> share\n\n"
     "Sunlit share of the ground a person `height` metres above each pixel sees; see\n"
     "quarnel.place.views, which calls it."},
    {"wall_views", wall_views, METH_VARARGS,
     "wall_views(lit_share, aspect, pixel_size, max_distance) -> (north, east, south, west)\n\n"
     "Sunlit share of the nearest wall facing each pixel in each direction; see\n"
     "quarnel.place.views, which calls it."},
    {nullptr, nullptr, 0, nullptr},
};

int exec(PyObject* mod) { return extension::start(mod) ? 0 : -1; }

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "_place", "Horizons, sky view factors and shadows on a surface model.", 0,
    methods, slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace quarnel::place

PyMODINIT_FUNC PyInit__place() { return PyModuleDef_Init(&quarnel::place::definition); }
