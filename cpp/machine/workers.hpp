// Threads kept for the parts of a split array. Starting a thread for each
// call costs tens of microseconds, and so does waking one that sleeps (on a
// virtual machine more still): a thread that has just finished a part stays
// awake for two milliseconds, watching for the next call (and yielding its
// core to any other thread that wants it).
//
// The pool is created on first use with the GIL held and never destroyed:
// its threads wait on a condition variable and never touch Python, so they
// may outlive the interpreter. A forked child does not inherit them, and
// builds a pool of its own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace quarnel::workers {

// One part of a split array: part k of `parts`, k >= 1 (the caller takes 0).
using Task = void (*)(void* context, int part);

class Pool {
public:
    // The pool of this process with up to `extra` threads besides the
    // caller's, or nullptr if no thread could be started. GIL held.
    static Pool* get(int extra) noexcept;

    int threads() const noexcept { return threads_; }

    // Wakes sleeping threads so that they watch for a call that may follow:
    // their waking up overlaps with the caller's preparations.
    void rouse() noexcept;
    // Hands parts 1 .. parts-1 to the pool's threads; false (nothing
    // started) while another call is using them or parts - 1 > threads().
    bool begin(Task task, void* context, int parts) noexcept;
    // Returns once every part handed out by `begin` has finished.
    void wait() noexcept;

private:
    Pool() = default;
    void serve(int index) noexcept;

    std::mutex lock_;                      // for sleeping and for `busy_`
    std::condition_variable wake_, done_;
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<int> remaining_{0};
    std::atomic<std::uint64_t> roused_{0};
    Task task_ = nullptr;                  // written before generation_ moves on
    void* context_ = nullptr;
    int parts_ = 0;
    bool busy_ = false;
    int threads_ = 0;
    long pid_ = 0;
};

}  // namespace quarnel::workers
