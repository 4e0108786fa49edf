#include "machine/isa.hpp"

#include <cctype>
#include <cstdlib>
#include <string>

namespace quarnel::machine {
namespace {

Isa detect() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
    // libgcc's checks include the operating system's support (XGETBV).
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) return Isa::baseline;
    if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512dq")) return Isa::avx2;
    return Isa::avx512;
#else
    return Isa::baseline;
#endif
}

struct Decision {
    Isa level = Isa::baseline;
    std::string ignored;  // the setting, when it named no level
    bool has_ignored = false;
};

Decision decide() noexcept {
    Decision d;
    d.level = processor_isa();
    const char* raw = std::getenv("QUARNEL_ISA");
    if (!raw) return d;
    std::string v;
    for (const char* p = raw; *p; ++p) v += char(std::tolower(static_cast<unsigned char>(*p)));
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!v.empty() && blank(v.back())) v.pop_back();
    while (!v.empty() && blank(v.front())) v.erase(v.begin());
    Isa cap;
    if (v.empty() || v == "avx512") cap = Isa::avx512;
    else if (v == "avx2") cap = Isa::avx2;
    else if (v == "baseline") cap = Isa::baseline;
    else {
        d.ignored = raw;
        d.has_ignored = true;
        return d;
    }
    if (cap < d.level) d.level = cap;
    return d;
}

const Decision& decision() noexcept {
    static const Decision d = decide();  // once; thread-safe initialisation
    return d;
}

}  // namespace

Isa processor_isa() noexcept {
    static const Isa best = detect();
    return best;
}

Isa isa() noexcept { return decision().level; }

const char* name(Isa level) noexcept {
    switch (level) {
        case Isa::avx512: return "avx512";
        case Isa::avx2: return "avx2";
        default: return "baseline";
    }
}

const char* isa_name() noexcept { return name(isa()); }

const char* ignored_setting() noexcept {
    const Decision& d = decision();
    return d.has_ignored ? d.ignored.c_str() : nullptr;
}

}  // namespace quarnel::machine
