// Compares two `velquin trace` outputs by parsed values: hit flags, t as the same double, every
// vector component as the same float, null (not a number) equal only to null.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace velquin::testing {

inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

inline std::string describeDouble(const nlohmann::json& v) {
    if (v.is_null())
        return "null";
    if (!v.is_number())
        return v.dump();
    char buf[96];
    double d = v.get<double>();
    std::snprintf(buf, sizeof buf, "%.17g (%a)", d, d);
    return buf;
}

inline std::string describeFloat(const nlohmann::json& v) {
    if (v.is_null())
        return "null";
    if (!v.is_number())
        return v.dump();
    char buf[96];
    float f = static_cast<float>(v.get<double>());
    std::snprintf(buf, sizeof buf, "%.9g (%a)", static_cast<double>(f), static_cast<double>(f));
    return buf;
}

inline bool sameDouble(const nlohmann::json& a, const nlohmann::json& b) {
    if (a.is_null() || b.is_null())
        return a.is_null() && b.is_null();
    if (!a.is_number() || !b.is_number())
        return false;
    double x = a.get<double>(), y = b.get<double>();
    return std::memcmp(&x, &y, sizeof x) == 0;
}

inline bool sameFloat(const nlohmann::json& a, const nlohmann::json& b) {
    if (a.is_null() || b.is_null())
        return a.is_null() && b.is_null();
    if (!a.is_number() || !b.is_number())
        return false;
    float x = static_cast<float>(a.get<double>()), y = static_cast<float>(b.get<double>());
    return std::memcmp(&x, &y, sizeof x) == 0;
}

// One message per difference, each naming the line (1-based), the field and both values.
inline std::vector<std::string> compareTraceOutput(const std::string& expectedText,
                                                   const std::string& actualText) {
    using nlohmann::json;
    std::vector<std::string> diffs;
    const auto expected = splitLines(expectedText);
    const auto actual = splitLines(actualText);
    if (expected.size() != actual.size())
        diffs.push_back("line count: expected " + std::to_string(expected.size()) + ", got " +
                        std::to_string(actual.size()));
    const std::size_t n = std::min(expected.size(), actual.size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::string at = "line " + std::to_string(i + 1) + ": ";
        json e, a;
        try {
            e = json::parse(expected[i]);
        } catch (const json::exception& ex) {
            diffs.push_back(at + "expected line is not JSON: " + ex.what());
            continue;
        }
        try {
            a = json::parse(actual[i]);
        } catch (const json::exception& ex) {
            diffs.push_back(at + "output is not JSON: " + ex.what() + ": " + actual[i]);
            continue;
        }
        if (!a.is_object() || !a.contains("hit") || !a["hit"].is_boolean()) {
            diffs.push_back(at + "output has no boolean \"hit\": " + actual[i]);
            continue;
        }
        const bool eh = e.value("hit", false), ah = a["hit"].get<bool>();
        if (eh != ah) {
            diffs.push_back(at + "hit: expected " + (eh ? "true" : "false") + ", got " +
                            (ah ? "true" : "false"));
            continue;
        }
        if (!eh)
            continue;
        if (!sameDouble(e["t"], a.value("t", json())))
            diffs.push_back(at + "t: expected " + describeDouble(e["t"]) + ", got " +
                            describeDouble(a.value("t", json())));
        for (const char* key : {"point", "normal", "color"}) {
            const bool ein = e.contains(key), ain = a.contains(key);
            if (ein != ain) {
                diffs.push_back(at + key + ": expected " + (ein ? "present" : "absent") + ", got " +
                                (ain ? "present" : "absent"));
                continue;
            }
            if (!ein)
                continue;
            const json& ev = e[key];
            const json& av = a[key];
            if (!av.is_array() || av.size() != 3 || !ev.is_array() || ev.size() != 3) {
                diffs.push_back(at + key + ": expected " + ev.dump() + ", got " + av.dump());
                continue;
            }
            for (std::size_t c = 0; c < 3; ++c)
                if (!sameFloat(ev[c], av[c]))
                    diffs.push_back(at + key + "[" + std::to_string(c) + "]: expected " +
                                    describeFloat(ev[c]) + ", got " + describeFloat(av[c]));
        }
    }
    return diffs;
}

} // namespace velquin::testing
