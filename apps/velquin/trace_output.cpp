#include "apps/velquin/trace_output.h"

#include <cmath>
#include <cstdio>

namespace velquin {
namespace {

// JSON has no NaN or infinity; null keeps the line valid and is read back as "not a number".
void appendNumber(std::string& out, double v, const char* format) {
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    char buf[40];
    int n = std::snprintf(buf, sizeof buf, format, v);
    out.append(buf, static_cast<std::size_t>(n));
}

void appendVector(std::string& out, const char* key, const float v[3]) {
    out += ", \"";
    out += key;
    out += "\": [";
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            out += ',';
        appendNumber(out, static_cast<double>(v[i]), "%.9g");
    }
    out += ']';
}

} // namespace

void appendTraceResult(std::string& out, const TraceResult& r) {
    if (!r.hit) {
        out += "{\"hit\": false}\n";
        return;
    }
    out += "{\"hit\": true, \"t\": ";
    appendNumber(out, r.t, "%.17g");
    appendVector(out, "point", r.point);
    appendVector(out, "normal", r.normal);
    if (r.hasColor)
        appendVector(out, "color", r.color);
    out += "}\n";
}

std::string formatTraceResult(const TraceResult& r) {
    std::string s;
    appendTraceResult(s, r);
    return s;
}

} // namespace velquin
