#include "fuzz/targets/FuzzTargets.h"

#include "apps/velquin/trace_input.h"

#include <string_view>

namespace velquin::fuzz {

int fuzzTrace(const std::uint8_t* data, std::size_t size) {
    TraceInput input;
    try {
        input = parseTraceInput(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const TraceInputError&) {
        return 0;
    }
    // What `velquin trace` does next with an accepted input, short of tracing: compile the
    // parameters and the frame, and free the frame's arrays again.
    if (input.moving) {
        CompiledMovingFrame f = makeCompiledMovingFrame(input);
        freeCompiledFrame(f);
    } else {
        CompiledFrame f = makeCompiledFrame(input);
        freeCompiledFrame(f);
    }
    return 0;
}

} // namespace velquin::fuzz
