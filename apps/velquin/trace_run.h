// The intersection step of `velquin trace`: from a parsed input to one result per ray.
#pragma once

#include <vector>

#include "apps/velquin/trace_input.h"

namespace velquin {

struct TraceResult {
    bool hit = false;
    double t = 0.0;        // the accepted crossing
    float point[3] = {};   // the float hit point
    float normal[3] = {};  // normalAt(point) still, the hit record's normal moving
    float color[3] = {};   // valid only with hasColor
    bool hasColor = false; // the compiled frame carries colours
};

// Intersects every ray of `input`, in order, with the frame it describes (a still frame or motion
// segments), compiled through makeCompiledFrame / makeCompiledMovingFrame. Returns exactly
// input.rays.size() results. Implemented in trace_run.cpp.
std::vector<TraceResult> traceRays(const TraceInput& input);

} // namespace velquin
