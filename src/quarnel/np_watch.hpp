// Whether the module's `np` is still the numpy bound at import, known
// without a dictionary look-up per call: a watcher on the module namespace
// updates it whenever `np` is bound, rebound or deleted (Python 3.12 and
// later; older interpreters look the name up on every call).
#pragma once

namespace quarnel::np_watch {

// Starts watching the module namespace; call once numpy is bound.
void start() noexcept;

// True while `np` in the module namespace is the numpy bound at import.
bool np_is_numpy() noexcept;

}  // namespace quarnel::np_watch
