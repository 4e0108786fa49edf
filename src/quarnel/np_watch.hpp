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

// True while `np` in the module namespace is the numpy bound at import and
// numpy's sin, cos, ..., array and pi are the objects they were then.
bool np_is_numpy() noexcept;

}  // namespace quarnel::np_watch
