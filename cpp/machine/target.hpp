// Compiles the functions between QUARNEL_TARGET_BEGIN("features") and
// QUARNEL_TARGET_END for those instruction-set features, whatever the rest
// of the file is compiled for: the vector kernels live beside plain code
// that must run on any x86-64, so the features are given per function, not
// per file (a -mavx2 file could hand the linker AVX2 copies of inline
// library functions the plain code shares).
//
// GCC takes a pragma region; clang ignores GCC's target pragma and takes an
// attribute region, which puts target(...) on every function declared in
// it (lambdas and templates included).
#pragma once

#define QUARNEL_PRAGMA(x) _Pragma(#x)

#if defined(__clang__)
#define QUARNEL_TARGET_BEGIN(features) \
    QUARNEL_PRAGMA(clang attribute push(__attribute__((target(features))), apply_to = function))
#define QUARNEL_TARGET_END QUARNEL_PRAGMA(clang attribute pop)
#elif defined(__GNUC__)
#define QUARNEL_TARGET_BEGIN(features) QUARNEL_PRAGMA(GCC push_options) QUARNEL_PRAGMA(GCC target(features))
#define QUARNEL_TARGET_END QUARNEL_PRAGMA(GCC pop_options)
#else
#error "the vector kernels need GCC or clang"
#endif
