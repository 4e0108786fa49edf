// Traceback entries for the module's functions, which have no Python frames
// of their own: each entry is a frame of an empty code object named after the
// function and placed at the line of the failing statement.
#pragma once

namespace quarnel::traceback {

// Source path shown in every entry.
inline constexpr const char* source_file = "src/quarnel/Strahlwerk.cpp";

// Adds one entry to the pending exception. `name` must be a string with
// static storage (entries are cached by its address and the line).
void add(const char* name, int line) noexcept;

}  // namespace quarnel::traceback
