#include "common/traceback.hpp"

#include "common/handle.hpp"
#include "common/module_state.hpp"

#include <frameobject.h>

#include <map>
#include <utility>

namespace quarnel::traceback {
namespace {

// Code objects live until the process ends, like the module itself.
std::map<std::pair<const char*, int>, PyObject*> code_cache;

PyCodeObject* code_for(const char* name, int line) {
    auto key = std::make_pair(name, line);
    if (auto it = code_cache.find(key); it != code_cache.end())
        return reinterpret_cast<PyCodeObject*>(it->second);
    PyCodeObject* code = PyCode_NewEmpty(source_file, name, line);
    if (code) code_cache.emplace(key, reinterpret_cast<PyObject*>(code));
    return code;
}

}  // namespace

void add(const char* name, int line) noexcept {
    // The exception is set aside while the code object and frame are made,
    // so that their creation cannot disturb or replace it.
#if PY_VERSION_HEX >= 0x030C0000
    PyObject* exc = PyErr_GetRaisedException();
#else
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
#endif
    PyCodeObject* code = code_for(name, line);
    PyFrameObject* frame = nullptr;
    if (code) frame = PyFrame_New(PyThreadState_Get(), code, state().globals, nullptr);
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exc);
#else
    PyErr_Restore(type, value, tb);
#endif
    if (!frame) return;
    PyTraceBack_Here(frame);
    Py_DECREF(frame);
}

}  // namespace quarnel::traceback
