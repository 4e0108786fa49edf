// Scratch space of one thread evaluating ufunc elements: the formula's
// arena, copies of strided inputs, the subsets of a block that took
// different branches and the block's results. Kept for the thread's life,
// so a call allocates nothing whatever the size of its arrays.
#pragma once

#include "values/blocks.hpp"
#include "values/lanes.hpp"

#include <cstdint>
#include <memory>

namespace quarnel::ufunc {

struct Scratch {
    static constexpr int max_inputs = 8;
    static constexpr std::ptrdiff_t block = Arena::block;

    // Elements of a block still to be evaluated: lanes[first, first + count),
    // with the decisions of their first `nforced` branches.
    struct Todo {
        std::uint16_t first, count;
        std::uint8_t nforced;
        std::uint8_t depth;
        std::uint8_t forced[Lanes::max_branches];
    };
    // Runs deeper than this (branches within branches) go element by element.
    static constexpr int max_depth = 12;
    // Blocks of scratch for one block of elements and all its runs.
    static constexpr int arena_blocks = 320;

    std::unique_ptr<Arena> arena;
    Frame frames[max_depth];
    int arena_mark[max_depth];  // the arena's blocks in use after each depth's run
    std::uint16_t positions[block];  // where a todo's elements stood in the run before
    double held[max_inputs][1];
    double input[max_inputs][block];
    Runs runs[max_inputs];
    double firsts[max_inputs][block];
    double result[block];
    std::uint16_t lanes[block], spare[block], spare_pos[block];
    Todo todo[block + 1];  // each split adds one

    // This thread's scratch, made on first use; null without memory (the
    // elements are then evaluated one by one).
    static Scratch* mine() noexcept;
};

}  // namespace quarnel::ufunc
