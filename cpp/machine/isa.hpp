// The instruction set the module's machine-specific code may use: the
// processor's best level, capped by the environment variable QUARNEL_ISA.
//
//     QUARNEL_ISA=baseline   no vector kernels, no direct calls of NumPy's
//                            AVX-512 routines: what any x86-64 (or other
//                            processor) runs
//     QUARNEL_ISA=avx2       at most AVX2 with FMA
//     QUARNEL_ISA=avx512     at most AVX-512 (the default: no cap)
//
// Case and surrounding blanks do not matter; a level above the processor's
// is the processor's (a cap never enables anything). A value naming no
// level is ignored, and the module's import warns about it. The variable is
// read once, at the first call, and the answer holds for the process.
#pragma once

namespace quarnel::machine {

enum class Isa { baseline, avx2, avx512 };

// The level in force: the processor's best, capped by QUARNEL_ISA.
Isa isa() noexcept;
const char* isa_name() noexcept;

// The processor's best level, whatever the cap: AVX2 with FMA; AVX-512 with
// the foundation and doubleword/quadword instructions the kernels use (and
// the operating system saving the registers).
Isa processor_isa() noexcept;

const char* name(Isa level) noexcept;

// QUARNEL_ISA's value when it named no level and was ignored, else null.
const char* ignored_setting() noexcept;

}  // namespace quarnel::machine
