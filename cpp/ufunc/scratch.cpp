#include "ufunc/scratch.hpp"

#include <new>

namespace quarnel::ufunc {

Scratch* Scratch::mine() noexcept {
    thread_local std::unique_ptr<Scratch> kept;
    if (!kept) {
        std::unique_ptr<Scratch> s(new (std::nothrow) Scratch);
        if (!s) return nullptr;
        s->arena.reset(new (std::nothrow) Arena(arena_blocks));
        if (!s->arena) return nullptr;
        kept = std::move(s);
    }
    return kept.get();
}

}  // namespace quarnel::ufunc
