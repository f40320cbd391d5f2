// The output of `velquin trace`: one compact JSON line per ray.
#pragma once

#include <string>

#include "apps/velquin/trace_run.h"

namespace velquin {

// Appends one line, newline included:
//   {"hit": false}
//   {"hit": true, "t": T, "point": [x,y,z], "normal": [x,y,z], "color": [r,g,b]}
// t is printed %.17g and every float %.9g, so parsing gives back the same double and floats;
// a value that is not finite is printed null. "color" appears only when hasColor is set.
void appendTraceResult(std::string& out, const TraceResult& result);

std::string formatTraceResult(const TraceResult& result);

} // namespace velquin
