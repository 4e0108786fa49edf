// Arenas kept between calls and shared by whichever threads evaluate the
// parts of an array: a fresh arena each time would cost its allocation and
// page faults.
#pragma once

#include "values/blocks.hpp"

#include <memory>

namespace quarnel::arena_pool {

// A kept arena, or a new one; null without memory.
std::unique_ptr<Arena> take() noexcept;
// Keeps `arena` for a later call (a few are kept; the others are freed).
void give(std::unique_ptr<Arena> arena) noexcept;

// The pool's lock is held across fork() by the forking thread, so that a
// child never inherits it locked by a thread it does not have. Once per
// process, at module initialisation.
void guard_forks() noexcept;

}  // namespace quarnel::arena_pool
