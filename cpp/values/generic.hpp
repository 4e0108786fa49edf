// The generic value domain: Python objects, the number protocol and calls
// of `np.<name>`, each looked up when the formula reaches it. Arrays, NumPy
// scalars, subclasses and any other objects behave exactly as Python and
// NumPy make them behave, warnings and errors included.
//
// Every failing operation throws py::Error with the exception pending; the
// `inner` frame of each function adds its traceback entry on the way out.
#pragma once

#include "common/function_info.hpp"
#include "common/handle.hpp"
#include "common/konst.hpp"
#include "common/np_functions.hpp"
#include "common/traceback.hpp"

namespace quarnel {

namespace generic_detail {
// Created in the exec step; live until the process ends.
extern PyObject* konst_objects[konst_count];
extern PyObject* np_names[int(NpFn::count)];
extern PyObject* name_pi;

// The object bound to `np`: module namespace, then builtins, else NameError.
py::Ref lookup_np();
}  // namespace generic_detail

class Generic {
public:
    using A = py::Borrowed;
    using V = py::Ref;
    using Fn = py::Ref;
    template <std::size_t N>
    using Table = py::Ref;

    // Anything a formula can hand to an operation: an argument, a computed
    // value or a literal. Never owns.
    struct Operand {
        PyObject* p;
        Operand(py::Borrowed b) noexcept : p(b.get()) {}
        Operand(const py::Ref& r) noexcept : p(r.get()) {}
        Operand(Konst c) noexcept : p(generic_detail::konst_objects[c.slot]) {}
    };

    void at(int line) noexcept { frame_->line = line; }

    // Runs the body of `info`'s function; a failure inside it leaves that
    // function's traceback entry at the line it had reached.
    template <class F>
    auto inner(const FunctionInfo& info, F&& body) {
        Frame f{frame_, info.first_line};
        frame_ = &f;
        try {
            auto r = body();
            frame_ = f.outer;
            return r;
        } catch (py::Error&) {
            frame_ = f.outer;
            traceback::add(info.traceback_name, f.line);
            throw;
        }
    }

    V keep(Operand a) { return py::Ref::borrow(a.p); }

    V add(Operand a, Operand b) { return py::check(PyNumber_Add(a.p, b.p)); }
    V sub(Operand a, Operand b) { return py::check(PyNumber_Subtract(a.p, b.p)); }
    V mul(Operand a, Operand b) { return py::check(PyNumber_Multiply(a.p, b.p)); }
    V div(Operand a, Operand b) { return py::check(PyNumber_TrueDivide(a.p, b.p)); }
    V neg(Operand a) { return py::check(PyNumber_Negative(a.p)); }
    V and_(Operand a, Operand b) { return py::check(PyNumber_And(a.p, b.p)); }

    V lt(Operand a, Operand b) { return py::check(PyObject_RichCompare(a.p, b.p, Py_LT)); }
    V le(Operand a, Operand b) { return py::check(PyObject_RichCompare(a.p, b.p, Py_LE)); }
    V gt(Operand a, Operand b) { return py::check(PyObject_RichCompare(a.p, b.p, Py_GT)); }
    V ge(Operand a, Operand b) { return py::check(PyObject_RichCompare(a.p, b.p, Py_GE)); }
    V eq(Operand a, Operand b) { return py::check(PyObject_RichCompare(a.p, b.p, Py_EQ)); }

    bool truth(Operand a) { return py::check(PyObject_IsTrue(a.p)) != 0; }
    V to_int(Operand a) { return py::check(PyNumber_Long(a.p)); }

    Fn fn(NpFn f) {
        py::Ref np = generic_detail::lookup_np();
        return py::check(PyObject_GetAttr(np.get(), generic_detail::np_names[int(f)]));
    }
    V pi() {
        py::Ref np = generic_detail::lookup_np();
        return py::check(PyObject_GetAttr(np.get(), generic_detail::name_pi));
    }

    V call(const Fn& f, Operand a) {
        PyObject* args[] = {a.p};
        return py::check(PyObject_Vectorcall(f.get(), args, 1, nullptr));
    }
    V call(const Fn& f, Operand a, Operand b) {
        PyObject* args[] = {a.p, b.p};
        return py::check(PyObject_Vectorcall(f.get(), args, 2, nullptr));
    }

    // np.array of a list of the table's literals.
    template <std::size_t N>
    V array(const Fn& f, const KonstTable<N>& t) {
        py::Ref list = py::check(PyList_New(N));
        for (std::size_t i = 0; i < N; ++i)
            PyList_SET_ITEM(list.get(), i, Py_NewRef(Operand(t.entries[i]).p));
        PyObject* args[] = {list.get()};
        return py::check(PyObject_Vectorcall(f.get(), args, 1, nullptr));
    }
    V item(Operand t, Operand i) { return py::check(PyObject_GetItem(t.p, i.p)); }

private:
    struct Frame {
        Frame* outer;
        int line;
    };
    Frame* frame_ = nullptr;
};

}  // namespace quarnel
