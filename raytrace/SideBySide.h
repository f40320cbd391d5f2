// Two parts of a set-up at once: the hierarchy build and its layout split their work this way
// when the render has threads to spare.
#pragma once

#include <cstddef>
#include <exception>
#include <system_error>
#include <thread>

namespace velquin {

// Below this many metaballs a part of a build costs less than starting a thread for it.
constexpr std::size_t kParallelMinimum = 50000;

// Runs beside() on a new thread while here() runs on this one, and returns once both have
// finished; an exception from either reaches the caller. False, with neither run, when no thread
// can be had: the caller then does both itself.
template <class Beside, class Here> bool runSideBySide(Beside&& beside, Here&& here) {
    std::exception_ptr failure;
    std::thread worker;
    try {
        worker = std::thread([&] {
            try {
                beside();
            } catch (...) {
                failure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        return false;
    }
    try {
        here();
    } catch (...) {
        worker.join();
        throw;
    }
    worker.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
    return true;
}

} // namespace velquin
