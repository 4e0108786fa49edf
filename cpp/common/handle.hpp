// Ownership of Python objects, visible at each call site.
//
// `Borrowed` never touches the reference count; `Ref` owns exactly one
// reference and releases it when it goes out of scope. A C API call that
// returns a new reference is wrapped with `Ref::steal`, a borrowed pointer
// that must be kept with `Ref::borrow`. `check` turns the C API's failure
// convention (NULL with an exception set) into a C++ `Error`, which the
// function boundary converts back before returning to the interpreter.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace quarnel::py {

// A Python exception is pending; unwinds to the nearest function boundary.
struct Error {};

class Borrowed {
public:
    constexpr Borrowed() noexcept = default;
    constexpr Borrowed(PyObject* p) noexcept : p_(p) {}
    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

class Ref {
public:
    Ref() noexcept = default;
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    static Ref borrow(Borrowed b) noexcept { return Ref(Py_XNewRef(b.get())); }

    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        Ref old(std::exchange(p_, std::exchange(o.p_, nullptr)));
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    operator Borrowed() const noexcept { return Borrowed(p_); }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Hands the reference to the caller (for returning to the interpreter).
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// New reference from the C API, or throw if it signalled failure.
inline Ref check(PyObject* p) {
    if (!p) throw Error{};
    return Ref::steal(p);
}

// Status code from the C API (negative on failure).
inline int check(int status) {
    if (status < 0) throw Error{};
    return status;
}

}  // namespace quarnel::py
