// One formula, two domains: a call runs natively when its arguments and the
// module's `np` allow it, and again generically whenever the native domain
// steps aside. The generic run is the reference; the native run returns the
// same value and type or nothing at all.
//
// A formula is a type F with
//   static constexpr const FunctionInfo& info;   // its public function
//   template <class D> static auto eval(D&, typename D::A... args);
#pragma once

#include "values/array_path.hpp"
#include "values/generic.hpp"
#include "values/np_watch.hpp"
#include "values/scalars.hpp"

#include <new>
#include <utility>

namespace quarnel {

namespace dispatch_detail {

// Native evaluation needs NumPy's loops and the very numpy bound at import.
inline bool native_allowed() noexcept {
    return np_loops::table().complete && np_watch::np_is_numpy();
}

// The formula in the native domain on converted arguments: false where it
// stepped aside. Compiled on its own with every operation of the domain
// inlined, whatever the size of the call around it (benchmarks/bench.py
// times this very function as the cost of the formula alone).
template <class F, std::size_t... I>
[[gnu::noinline, gnu::flatten]] bool eval_native(const Num* a, Num& r, std::index_sequence<I...>) noexcept {
    Native d;
    r = F::eval(d, a[I]...);
    return !d.failed();
}

// True when the native domain produced the result (or failed to allocate
// it: `out` is then nullptr with MemoryError set).
template <class F, std::size_t... I>
bool run_native(PyObject* const* args, PyObject*& out, std::index_sequence<I...> seq) noexcept {
    if (!native_allowed()) return false;
    const Num a[] = {scalars::from_object(args[I], int(I))...};
    if (((a[I].k == Opaque) || ...)) {
        switch (array_path::plan<sizeof...(I)>(args)) {
            case array_path::Plan::generic: return false;
            case array_path::Plan::arrays: return array_path::run<F>(args, a, out, seq);
            case array_path::Plan::scalars: break;  // objects the formula may never examine
        }
    }
    FpFlags flags;
    Num r;
    const bool done = eval_native<F>(a, r, seq);
    // The compiler does not see the exception flags as state: without this
    // barrier it may sink the last operations of the formula (those only the
    // result depends on) past the test of the flags, and an overflow there
    // would go unnoticed.
    asm volatile("" : "+m"(r.x) : : "memory");
    if (!done || !flags.clean()) return false;
    out = scalars::to_object(r, args);
    return out != nullptr || PyErr_Occurred();
}

// Out of line: kept out of the native path's frame and registers.
template <class F, std::size_t... I>
[[gnu::noinline]] PyObject* run_generic(PyObject* const* args, std::index_sequence<I...>) noexcept {
    try {
        Generic d;
        return d.inner(F::info, [&] { return F::eval(d, py::Borrowed(args[I])...); }).release();
    } catch (py::Error&) {
        return nullptr;
    } catch (std::bad_alloc&) {
        PyErr_NoMemory();
        return nullptr;
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "quarnel.Strahlwerk: unexpected internal error");
        return nullptr;
    }
}

}  // namespace dispatch_detail

// The body of a public function: exactly F::info.params.size() arguments.
template <class F, std::size_t N>
PyObject* body(PyObject* const* args) noexcept {
    PyObject* out;
    if (dispatch_detail::run_native<F>(args, out, std::make_index_sequence<N>{})) return out;
    return dispatch_detail::run_generic<F>(args, std::make_index_sequence<N>{});
}

}  // namespace quarnel
