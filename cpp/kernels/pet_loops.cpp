// The loops behind quarnel.comfort.pet, .pet_corrected, .pet_person and
// .pet_corrected_person: contiguous blocks through machine/block_io.hpp,
// split over the cores with the module's pool, element by element (each
// solves its own balances with the C library's exp, log and pow). One
// plain build at every instruction-set level: the bits do not depend on
// QUARNEL_ISA. The floating-point flags are left as found: NaN for an
// input outside the domain is the answer, not an error.
#include "kernels/pet_loops.hpp"

#include "formulas/indices/pet.hpp"
#include "formulas/indices/pet_corrected.hpp"
#include "kernels/quiet_split.hpp"
#include "machine/block_io.hpp"

#include <cstring>
#include <limits>

namespace quarnel::kernels {
namespace {

using machine::block_io::input;
using machine::block_io::output;
using machine::block_io::target;
using ::quarnel::indices::pet::Body;
using Formula = double (*)(const Body&, double, double, double, double) noexcept;

// Set in init, with the GIL held, before any ufunc exists.
Body standard{};

constexpr npy_intp block = 64;
// Whole blocks per piece of a split array; the first is timed (about 30 us).
constexpr npy_intp grain = block;

double vdi(const Body& b, double ta, double tmrt, double v, double vpa) noexcept {
    return ::quarnel::indices::pet::vdi(b, ta, tmrt, v, vpa);
}
double corrected(const Body& b, double ta, double tmrt, double v, double vpa) noexcept {
    return ::quarnel::indices::pet::corrected(b, ta, tmrt, v, vpa);
}

template <class Span>
void run(const npy_intp* dimensions, const Span& span) noexcept {
    quiet_split(dimensions[0], grain, span);
}

// The standard person: (ta, tmrt, v, vpa) -> pet.
template <Formula F>
void standard_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept {
    run(dimensions, [&](npy_intp begin, npy_intp end) noexcept {
        double bufs[5][block];
        for (npy_intp off = begin; off < end; off += block) {
            const npy_intp m = end - off < block ? end - off : block;
            const double* in[4];
            for (int i = 0; i < 4; ++i) in[i] = input(args[i], steps[i], off, m, bufs[i]);
            double* out = target(args[4], steps[4], off, bufs[4]);
            for (npy_intp j = 0; j < m; ++j) out[j] = F(standard, in[0][j], in[1][j], in[2][j], in[3][j]);
            output(args[4], steps[4], off, m, out);
        }
    });
}

// Any person: (ta, tmrt, v, vpa, age, sex, height, mass, activity,
// clothing) -> pet. The body is worked out again only when the person
// changes from one element to the next (broadcast persons are the rule).
template <Formula F>
void person_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept {
    run(dimensions, [&](npy_intp begin, npy_intp end) noexcept {
        double bufs[11][block];
        Body body{};
        bool valid = false, known = false;
        double key[6] = {};
        for (npy_intp off = begin; off < end; off += block) {
            const npy_intp m = end - off < block ? end - off : block;
            const double* in[10];
            for (int i = 0; i < 10; ++i) in[i] = input(args[i], steps[i], off, m, bufs[i]);
            double* out = target(args[10], steps[10], off, bufs[10]);
            for (npy_intp j = 0; j < m; ++j) {
                const double person[6] = {in[4][j], in[5][j], in[6][j], in[7][j], in[8][j], in[9][j]};
                if (!known || std::memcmp(person, key, sizeof key) != 0) {
                    std::memcpy(key, person, sizeof key);
                    valid = ::quarnel::indices::pet::make_body(
                        {person[0], person[1], person[2], person[3], person[4], person[5]}, body);
                    known = true;
                }
                out[j] = valid ? F(body, in[0][j], in[1][j], in[2][j], in[3][j])
                               : std::numeric_limits<double>::quiet_NaN();
            }
            output(args[10], steps[10], off, m, out);
        }
    });
}

// NumPy puts the call signature in front.
#define QUARNEL_PET_VDI                                                                                   \
    "Physiologically equivalent temperature, PET [degC], of Hoeppe's MEMI as the\n"                       \
    "VDI 3787 program computes it (Hoeppe 1999, Int J Biometeorol 43:71-75;\n"                            \
    "VDI 3787-2, 2008), from air temperature [degC], mean radiant temperature\n"                          \
    "[degC], wind speed at 1.1 m [m/s] and water vapour pressure [hPa].\n\n"                              \
    "The program's seven cases of the core temperature in its order, each\n"                              \
    "solved exactly (Newton's method inside a bracket), the first that passes\n"                          \
    "the program's checks taken; the reference room (Tmrt = Ta, 0.1 m/s, 12 hPa)\n"                       \
    "with the outdoor skin and clothing temperatures, sweat and skin wetness.\n\n"
#define QUARNEL_PET_WG                                                                                    \
    "Physiologically equivalent temperature, PET [degC], of the corrected model\n"                        \
    "of Walther & Goestchel (2018, Build Environ 137:1-10), from air\n"                                    \
    "temperature [degC], mean radiant temperature [degC], wind speed at 1.1 m\n"                          \
    "[m/s] and water vapour pressure [hPa].\n\n"                                                           \
    "Core, skin and clothing balances solved together (Newton's method inside\n"                          \
    "a bracket on the skin temperature); the reference room (Tmrt = Ta, 0.1 m/s,\n"                       \
    "12 hPa) for the same core and skin, its evaporation worked out there, with\n"                        \
    "the reference activity 80 W and clothing 0.9 clo.\n\n"
#define QUARNEL_PET_STANDARD                                                                              \
    "The standard person of VDI 3787-2: 35 years, male, 1.75 m, 75 kg, 80 W of\n"                         \
    "activity, 0.9 clo, standing.\n\n"
#define QUARNEL_PET_PERSON                                                                                \
    "Six further inputs, the person: age [years] 5-100, sex 1 (male) or 2\n"                              \
    "(female), height [m] 1-2.3, mass [kg] 20-250, activity [W] 0-800 on top of\n"                        \
    "the basal metabolism, clothing [clo] 0.1-2; another person gives NaN.\n\n"
#define QUARNEL_PET_DOMAIN                                                                                \
    "Domain, bounds included: -50 <= Ta <= 60 degC, -50 <= Tmrt - Ta <= 90 K,\n"                          \
    "0 <= v <= 30 m/s, 0 <= vapour pressure <= 1.1 times the saturation\n"                                \
    "pressure at Ta (6.11 * 10^(7.45 Ta / (235 + Ta)) hPa). Elements outside it,\n"                       \
    "and elements with a NaN input, are NaN, without a warning."

constexpr const char vdi_doc[] = QUARNEL_PET_VDI QUARNEL_PET_STANDARD QUARNEL_PET_DOMAIN;
constexpr const char corrected_doc[] = QUARNEL_PET_WG QUARNEL_PET_STANDARD QUARNEL_PET_DOMAIN;
constexpr const char vdi_person_doc[] = QUARNEL_PET_VDI QUARNEL_PET_PERSON
    "Far from the standard person the program's model can leave the reference\n"
    "room without a balance (light clothing in humid heat, a small body at a\n"
    "very high activity in the cold): NaN there.\n\n" QUARNEL_PET_DOMAIN;
constexpr const char corrected_person_doc[] = QUARNEL_PET_WG QUARNEL_PET_PERSON QUARNEL_PET_DOMAIN;
#undef QUARNEL_PET_VDI
#undef QUARNEL_PET_WG
#undef QUARNEL_PET_STANDARD
#undef QUARNEL_PET_PERSON
#undef QUARNEL_PET_DOMAIN

}  // namespace

void init_pet() noexcept { ::quarnel::indices::pet::make_body(::quarnel::indices::pet::standard_person, standard); }

std::span<extension::UfuncEntry> pet_ufuncs() noexcept {
    constexpr char D = NPY_DOUBLE;
    static extension::UfuncEntry entries[] = {
        {"pet", {standard_loop<vdi>}, 4, 1, {D, D, D, D, D}, vdi_doc, "quarnel.comfort"},
        {"pet_corrected", {standard_loop<corrected>}, 4, 1, {D, D, D, D, D}, corrected_doc, "quarnel.comfort"},
        {"pet_person", {person_loop<vdi>}, 10, 1, {D, D, D, D, D, D, D, D, D, D, D}, vdi_person_doc,
         "quarnel.comfort"},
        {"pet_corrected_person", {person_loop<corrected>}, 10, 1, {D, D, D, D, D, D, D, D, D, D, D},
         corrected_person_doc, "quarnel.comfort"},
    };
    return entries;
}

}  // namespace quarnel::kernels
