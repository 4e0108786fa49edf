#include "quarnel/np_watch.hpp"

#include "quarnel/module_state.hpp"

namespace quarnel::np_watch {
namespace {

bool look_up() noexcept {
    const ModuleState& s = state();
    PyObject* np = PyDict_GetItemWithError(s.globals, s.name_np);  // borrowed
    if (!np) PyErr_Clear();
    return np && np == s.numpy;
}

#if PY_VERSION_HEX >= 0x030C0000
enum class Known { no, yes, unknown };
Known known = Known::unknown;
bool watching = false;

bool is_np(PyObject* key) noexcept {
    return key && PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, "np") == 0;
}

int on_change(PyDict_WatchEvent event, PyObject* dict, PyObject* key, PyObject* value) noexcept {
    if (dict != state().globals) return 0;
    switch (event) {
        case PyDict_EVENT_ADDED:
        case PyDict_EVENT_MODIFIED:
        case PyDict_EVENT_DELETED:
            if (is_np(key)) known = value && value == state().numpy ? Known::yes : Known::no;
            break;
        default:  // cleared, cloned from another dict, deallocated
            known = Known::unknown;
            break;
    }
    return 0;
}
#endif

}  // namespace

void start() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    if (!watching) {
        int id = PyDict_AddWatcher(on_change);
        watching = id >= 0 && PyDict_Watch(id, state().globals) == 0;
        if (!watching) PyErr_Clear();
    }
    known = Known::unknown;
#endif
}

bool np_is_numpy() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    if (watching) {
        if (known == Known::unknown) known = look_up() ? Known::yes : Known::no;
        return known == Known::yes;
    }
#endif
    return look_up();
}

}  // namespace quarnel::np_watch
