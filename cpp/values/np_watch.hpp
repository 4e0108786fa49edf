// Whether the module's `np` is still the numpy bound at import, with the
// numpy functions and constant the formulas use still numpy's own, known
// without dictionary look-ups per call: a watcher on the module namespace
// and on numpy's updates it whenever `np`, or one of those attributes of
// numpy, is bound, rebound or deleted (Python 3.12 and later; older
// interpreters look `np` up on every call, and numpy's attributes whenever
// numpy's namespace has changed).
#pragma once

namespace quarnel::np_watch {

// Starts watching the module and numpy namespaces; call once numpy is bound.
void start() noexcept;

namespace detail {
// Set once the slow path found everything in place while the watchers
// run; every change to either namespace clears it.
inline bool confirmed = false;
bool np_is_numpy_slow() noexcept;
}  // namespace detail

// True while `np` in the module namespace is the numpy bound at import and
// numpy's sin, cos, ..., array and pi are the objects they were then.
inline bool np_is_numpy() noexcept { return detail::confirmed || detail::np_is_numpy_slow(); }

}  // namespace quarnel::np_watch
