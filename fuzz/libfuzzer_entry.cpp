// libFuzzer's entry for one target; VELQUIN_FUZZ_FUNCTION names the function of FuzzTargets.h.
#include "fuzz/targets/FuzzTargets.h"

#ifndef VELQUIN_FUZZ_FUNCTION
#error "VELQUIN_FUZZ_FUNCTION must name the fuzz entry point"
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return velquin::fuzz::VELQUIN_FUZZ_FUNCTION(data, size);
}
