#include "values/np_watch.hpp"

#include "common/module_state.hpp"
#include "common/np_functions.hpp"

#include <cstdint>

namespace quarnel::np_watch {
namespace {

bool look_up() noexcept {
    const ModuleState& s = state();
    PyObject* np = PyDict_GetItemWithError(s.globals, s.name_np);  // borrowed
    if (!np) PyErr_Clear();
    return np && np == s.numpy;
}

// The attributes of numpy that the formulas use, and the objects they were
// when numpy was bound (kept alive, so that identity stays meaningful). The
// native domain computes what these very objects compute: once one of them
// is replaced on the numpy module, every call goes generic and calls the
// replacement, as `np.sin(x)` would.
constexpr int used_count = int(NpFn::count) + 1;  // the NpFn functions and pi
const char* used_name(int i) noexcept { return i < int(NpFn::count) ? np_fn_names[i] : "pi"; }
PyObject* numpy_dict = nullptr;  // borrowed from the numpy module, which lives on
PyObject* originals[used_count] = {};

// Bit i set: numpy.<used_name(i)> is no longer the original.
std::uint32_t replaced_now() noexcept {
    std::uint32_t replaced = 0;
    for (int i = 0; i < used_count; ++i) {
        PyObject* now = PyDict_GetItemString(numpy_dict, used_name(i));  // borrowed
        if (!now || now != originals[i]) replaced |= 1u << i;
    }
    PyErr_Clear();
    return replaced;
}

#if PY_VERSION_HEX >= 0x030C0000
int used_index(PyObject* key) noexcept {
    if (!key || !PyUnicode_Check(key)) return -1;
    for (int i = 0; i < used_count; ++i)
        if (PyUnicode_CompareWithASCIIString(key, used_name(i)) == 0) return i;
    return -1;
}

enum class Known { no, yes, unknown };
Known known = Known::unknown;
bool watching = false;
bool replaced_known = false;
std::uint32_t replaced = 0;

bool is_np(PyObject* key) noexcept {
    return key && PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, "np") == 0;
}

int on_change(PyDict_WatchEvent event, PyObject* dict, PyObject* key, PyObject* value) noexcept {
    if (dict == state().globals || dict == numpy_dict) detail::confirmed = false;
    const bool entry = event == PyDict_EVENT_ADDED || event == PyDict_EVENT_MODIFIED ||
                       event == PyDict_EVENT_DELETED;
    if (dict == state().globals) {
        if (!entry) known = Known::unknown;  // cleared, cloned from another dict, deallocated
        else if (is_np(key)) known = value && value == state().numpy ? Known::yes : Known::no;
    } else if (dict == numpy_dict) {
        if (!entry) {
            replaced_known = false;
        } else if (const int i = used_index(key); i >= 0) {
            if (value && value == originals[i]) replaced &= ~(1u << i);
            else replaced |= 1u << i;
        }
    }
    return 0;
}
#else
// Without dict watchers: numpy's attributes are looked at again whenever
// numpy's namespace has changed since they were last looked at.
std::uint64_t seen_version = 0;
bool seen_intact = false;

bool numpy_intact() noexcept {
    const std::uint64_t v = reinterpret_cast<PyDictObject*>(numpy_dict)->ma_version_tag;
    if (v != seen_version || !seen_version) {
        seen_intact = replaced_now() == 0;
        seen_version = v;
    }
    return seen_intact;
}
#endif

}  // namespace

void start() noexcept {
    numpy_dict = PyModule_GetDict(state().numpy);
    for (int i = 0; i < used_count; ++i)
        if (!originals[i])
            originals[i] = Py_XNewRef(PyDict_GetItemString(numpy_dict, used_name(i)));
    PyErr_Clear();
#if PY_VERSION_HEX >= 0x030C0000
    if (!watching) {
        int id = PyDict_AddWatcher(on_change);
        watching = id >= 0 && PyDict_Watch(id, state().globals) == 0 &&
                   PyDict_Watch(id, numpy_dict) == 0;
        if (!watching) PyErr_Clear();
    }
    known = Known::unknown;
    replaced_known = false;
    detail::confirmed = false;
#endif
}

bool detail::np_is_numpy_slow() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    if (watching) {
        if (known == Known::unknown) known = look_up() ? Known::yes : Known::no;
        if (!replaced_known) replaced = replaced_now(), replaced_known = true;
        return confirmed = known == Known::yes && replaced == 0;
    }
    return look_up() && replaced_now() == 0;
#else
    return look_up() && numpy_intact();
#endif
}

}  // namespace quarnel::np_watch
