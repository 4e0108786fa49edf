#include "machine/vector_kernels.hpp"

#include <atomic>

namespace quarnel::vector_kernels {
namespace {

std::atomic<Unary> unary_kernels[np_unary_count];
std::atomic<Power> power_kernel{nullptr};

}  // namespace

Unary unary(NpFn f) noexcept {
    return int(f) < np_unary_count ? unary_kernels[int(f)].load(std::memory_order_relaxed) : nullptr;
}

Power power() noexcept { return power_kernel.load(std::memory_order_relaxed); }

void use(NpFn f, Unary kernel) noexcept {
    if (int(f) < np_unary_count) unary_kernels[int(f)].store(kernel, std::memory_order_relaxed);
}

void use_power(Power kernel) noexcept { power_kernel.store(kernel, std::memory_order_relaxed); }

}  // namespace quarnel::vector_kernels
