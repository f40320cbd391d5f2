// The trace input reader (defaults, the frame compile's rules, every error path) and the output
// writer (number formats, null, colour field).
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "apps/velquin/trace_input.h"
#include "apps/velquin/trace_output.h"
#include "platform/max/texmap.h"

namespace {

using velquin::compileParams;
using velquin::parseTraceInput;
using velquin::TraceInput;
using velquin::TraceInputError;

const char* kRay = R"({"origin": [1, 2, 3], "direction": [0, 0, 1], "tmin": 0, "tmax": 100})";

std::string stillInput(const std::string& params, const std::string& frame = R"("positions": [])",
                       const std::string& rays = "") {
    return R"({"params": {)" + params + R"(}, "frame": {)" + frame + R"(}, "rays": [)" + rays +
           "]}";
}

// The message of the error that parsing `text` raises, or "" when it parses.
std::string errorOf(const std::string& text) {
    try {
        parseTraceInput(text);
    } catch (const TraceInputError& e) {
        return e.what();
    }
    return "";
}

std::uint32_t bits(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

TEST(TraceInputParams, MissingParametersTakeTheBlockDefaults) {
    const TraceInput in = parseTraceInput(stillInput(""));
    const auto p = compileParams(in);
    EXPECT_EQ(p.radius, 20.0f);
    EXPECT_EQ(p.threshold, 0.5f);
    EXPECT_EQ(p.step, 1.0f);
    EXPECT_EQ(p.error, 0.0001f);
    EXPECT_EQ(p.fieldFunction, 1);
    EXPECT_EQ(p.colourKernel, -2); // "color" 0, "None"
    EXPECT_EQ(p.useAverage, 0);
    EXPECT_EQ(p.cutoff, 0.5f);
    EXPECT_EQ(p.trim, 0.65f);
    EXPECT_EQ(p.depth, 15);
    EXPECT_EQ(p.leafLength, 8.0f);
    EXPECT_EQ(p.leafSize, 30.0f);
    EXPECT_EQ(p.segmentCount, 0);
    EXPECT_EQ(p.texmap, nullptr);
    EXPECT_EQ(p.textureType, 0);
    EXPECT_EQ(p.textureStrength, 1.0f);
    EXPECT_EQ(p.useClamp, 0);
    EXPECT_EQ(p.clampTo, 1.0f);
    EXPECT_TRUE(in.useTexture);
    EXPECT_FALSE(in.moving);
}

TEST(TraceInputParams, FloatsAreNarrowedFromDoubles) {
    const TraceInput in = parseTraceInput(
        stillInput(R"("radius": 0.1, "threshold": 26.437795639038086, "error": 0.00001,
                      "leafSize": 14, "depth": 5.0, "useAverage": 1, "useClamp": true,
                      "textureType": 1)"));
    EXPECT_EQ(bits(in.params.radius), bits(0x1.99999ap-4f));
    EXPECT_EQ(in.params.threshold, 26.437795639038086f);
    EXPECT_EQ(in.params.error, 9.99999975e-06f); // the range's own lower end
    EXPECT_EQ(in.params.leafSize, 14.0f);
    EXPECT_EQ(in.params.depth, 5);
    EXPECT_EQ(in.params.useAverage, 1);
    EXPECT_EQ(in.params.useClamp, 1);
    EXPECT_EQ(in.params.textureType, 1);
}

TEST(TraceInputParams, ColourSelector) {
    auto kernel = [](const std::string& params, const std::string& frame) {
        return compileParams(parseTraceInput(stillInput(params, frame))).colourKernel;
    };
    const std::string withColors = R"("positions": [[0,0,0]], "colors": [[1,0,0]])";
    EXPECT_EQ(kernel(R"("color": 0)", withColors), -2);
    EXPECT_EQ(kernel(R"("color": 1, "fieldFunction": 4)", withColors), 4); // same as the surface
    EXPECT_EQ(kernel(R"("color": 5)", withColors), 3);                     // "Power of five"
    EXPECT_EQ(kernel(R"("color": 8)", withColors), 6);
}

TEST(TraceInputParams, ClampRaisedJustAboveThresholdInSinglePrecision) {
    auto clampTo = [](const std::string& params) {
        return compileParams(parseTraceInput(stillInput(params))).clampTo;
    };
    EXPECT_EQ(bits(clampTo(R"("threshold": 0.5, "clampTo": 0.4)")), bits(0.5f + 0.001f));
    EXPECT_EQ(bits(clampTo(R"("threshold": 0.5, "clampTo": 0.4)")), bits(0x1.008312p-1f));
    // Equal is not above.
    EXPECT_EQ(clampTo(R"("threshold": 0.7, "clampTo": 0.7)"), 0.7f + 0.001f);
    // 0.70000005 is the next float above 0.7: kept.
    EXPECT_EQ(clampTo(R"("threshold": 0.7, "clampTo": 0.70000005)"), 0.70000005f);
    // Threshold missing: compared with the default 0.5.
    EXPECT_EQ(clampTo(R"("clampTo": 0.3)"), 0.501f);
}

TEST(TraceInputParams, TextureMapsComeFromTheFactory) {
    const TraceInput g = parseTraceInput(stillInput(
        R"("texmap": {"type": "gradient", "axis": 0, "from": 0.25, "to": -1}, "textureStr": 0.5)"));
    EXPECT_EQ(g.texmapDesc.type, "gradient");
    EXPECT_EQ(g.texmapDesc.fields.at("from"), 0.25);
    auto* gradient = dynamic_cast<GradientTexmap*>(g.texmap.get());
    ASSERT_NE(gradient, nullptr);
    EXPECT_EQ(gradient->Axis(), 0);
    const auto p = compileParams(g);
    EXPECT_EQ(p.texmap, g.texmap.get());
    EXPECT_EQ(p.textureStrength, 0.5f);
    EXPECT_EQ(g.texmap->UpdateCount(), 1); // updated by the compile, for time 0
    EXPECT_EQ(g.texmap->LastUpdateTime(), 0);

    const TraceInput c =
        parseTraceInput(stillInput(R"("texmap": {"type": "constant", "value": 0.5})"));
    auto* constant = dynamic_cast<ConstantTexmap*>(c.texmap.get());
    ASSERT_NE(constant, nullptr);
    EXPECT_EQ(constant->Value(), 0.5f);
    ASSERT_NE(
        dynamic_cast<NoiseTexmap*>(
            parseTraceInput(stillInput(R"("texmap": {"type": "noise", "seed": 7})")).texmap.get()),
        nullptr);
    ASSERT_NE(dynamic_cast<CheckerTexmap*>(
                  parseTraceInput(stillInput(R"("texmap": {"type": "checker", "size": 2})"))
                      .texmap.get()),
              nullptr);
    const TraceInput n = parseTraceInput(stillInput(R"("texmap": null)"));
    EXPECT_EQ(n.texmap, nullptr);
    EXPECT_EQ(compileParams(n).texmap, nullptr);
}

TEST(TraceInputParams, TextureUsedOnlyWhenOnAndStrongEnough) {
    auto used = [](const std::string& params) {
        const TraceInput in = parseTraceInput(
            stillInput(R"("texmap": {"type": "constant", "value": 0.5}, )" + params));
        const bool isUsed = compileParams(in).texmap != nullptr;
        // A map left out is not updated either.
        EXPECT_EQ(in.texmap->UpdateCount(), isUsed ? 1 : 0);
        return isUsed;
    };
    EXPECT_TRUE(used(R"("useTexture": true)"));
    EXPECT_FALSE(used(R"("useTexture": false)"));
    EXPECT_FALSE(used(R"("useTexture": 0, "textureStr": 5)"));
    EXPECT_FALSE(used(R"("textureStr": 0)"));
    EXPECT_FALSE(used(R"("textureStr": 0.0001)")); // exactly the limit: left out
    EXPECT_TRUE(used(R"("textureStr": 0.00010001)"));
}

TEST(TraceInputFrame, RaysFrameAndDefaults) {
    const TraceInput in = parseTraceInput(stillInput(
        "", R"("positions": [[1,2,3],[4,5,6]], "sizes": [0.5, 2.25])",
        std::string(kRay) +
            R"(, {"origin": [0.1,0,0], "direction": [1,0,0], "tmin": 1, "tmax": 2, "time": 0.5,
                  "nearest": 1.5})"));
    EXPECT_EQ(in.count, 2);
    EXPECT_EQ(in.positions, (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(in.sizes, (std::vector<double>{0.5, 2.25}));
    ASSERT_EQ(in.rays.size(), 2u);
    EXPECT_EQ(in.rays[0].nearest, 100.0); // defaults to tmax
    EXPECT_EQ(in.rays[0].time, 0.0f);
    EXPECT_EQ(in.rays[1].origin[0], 0.1); // origin stays double
    EXPECT_EQ(in.rays[1].time, 0.5f);
    EXPECT_EQ(in.rays[1].nearest, 1.5);
}

TEST(TraceInputFrame, CompiledStillFrameOwnsCopies) {
    TraceInput in = parseTraceInput(
        stillInput("", R"("positions": [[1,2,3]], "colors": [[0.5,0.25,1]])", kRay));
    velquin::CompiledFrame f = velquin::makeCompiledFrame(in);
    EXPECT_EQ(f.count, 1);
    ASSERT_NE(f.positions, nullptr);
    EXPECT_EQ(f.positions[2], 3.0f);
    EXPECT_EQ(f.sizes, nullptr);
    EXPECT_EQ(f.colors, nullptr); // "color" 0: colours given but not used
    EXPECT_FALSE(velquin::frameHasColors(in));
    velquin::freeCompiledFrame(f);

    in = parseTraceInput(stillInput(R"("color": 1)",
                                    R"("positions": [[1,2,3]], "colors": [[0.5,0.25,1]],
                                        "sizes": [3])",
                                    kRay));
    f = velquin::makeCompiledFrame(in);
    ASSERT_NE(f.colors, nullptr);
    EXPECT_EQ(f.colors[1], 0.25f);
    ASSERT_NE(f.sizes, nullptr);
    EXPECT_EQ(f.sizes[0], 3.0);
    EXPECT_TRUE(velquin::frameHasColors(in));
    velquin::freeCompiledFrame(f);
}

TEST(TraceInputFrame, CompiledMovingFrameLaysOutSegments) {
    const TraceInput in = parseTraceInput(R"({"params": {"color": 2}, "segments": [
        {"positions": [[1,2,3],[4,5,6]], "displacements": [[1,0,0],[0,1,0]], "sizes": [1, 2]},
        {"positions": [[7,8,9]], "displacements": [[0,0,1]], "sizes": [3], "sizeDeltas": [0.5]}],
        "colors": [[1,0,0],[0,1,0]], "rays": []})");
    ASSERT_TRUE(in.moving);
    velquin::CompiledMovingFrame f = velquin::makeCompiledMovingFrame(in);
    EXPECT_EQ(f.params.segmentCount, 2);
    EXPECT_EQ(f.params.colourKernel, 0);
    EXPECT_EQ(f.segmentCounts[0], 2);
    EXPECT_EQ(f.segmentCounts[1], 1);
    EXPECT_EQ(f.segmentPositions[0][3], 4.0f); // segment 0 start positions
    EXPECT_EQ(f.segmentPositions[1][4], 1.0f); // segment 0 displacements
    EXPECT_EQ(f.segmentPositions[2][2], 9.0f); // segment 1 start positions
    EXPECT_EQ(f.segmentPositions[3][2], 1.0f);
    EXPECT_EQ(f.segmentSizes[0][1], 2.0);
    EXPECT_EQ(f.segmentSizes[1][0], 0.0); // no deltas given: constant sizes
    EXPECT_EQ(f.segmentSizes[1][1], 0.0);
    EXPECT_EQ(f.segmentSizes[3][0], 0.5);
    ASSERT_NE(f.colors, nullptr);
    EXPECT_EQ(f.colors[4], 1.0f);
    velquin::freeCompiledFrame(f);

    const TraceInput plain = parseTraceInput(
        R"({"segments": [{"positions": [[1,2,3]], "displacements": [[0,0,0]]}], "rays": []})");
    f = velquin::makeCompiledMovingFrame(plain);
    EXPECT_EQ(f.params.segmentCount, 1);
    EXPECT_EQ(f.segmentSizes[0], nullptr);
    EXPECT_EQ(f.segmentSizes[1], nullptr);
    EXPECT_EQ(f.colors, nullptr);
    velquin::freeCompiledFrame(f);
}

TEST(TraceInputFrame, EmptySegmentKeepsItsSizesSwitch) {
    // Segment 0 may hold no metaballs and still say that the frame has sizes.
    const TraceInput in = parseTraceInput(R"({"segments": [
        {"positions": [], "displacements": [], "sizes": []},
        {"positions": [[0,0,0]], "displacements": [[1,1,1]], "sizes": [2]}], "rays": []})");
    velquin::CompiledMovingFrame f = velquin::makeCompiledMovingFrame(in);
    EXPECT_EQ(f.segmentCounts[0], 0);
    EXPECT_NE(f.segmentSizes[0], nullptr);
    EXPECT_NE(f.segmentSizes[1], nullptr);
    EXPECT_EQ(f.segmentSizes[2][0], 2.0);
    velquin::freeCompiledFrame(f);
}

TEST(TraceInputErrors, MalformedJsonAndWrongShapes) {
    EXPECT_EQ(
        errorOf("{\"rays\": [1,]}").rfind("malformed JSON: parse error at line 1, column 13", 0),
        0u);
    EXPECT_EQ(errorOf("[]"), "input: expected a JSON object, got an array");
    EXPECT_EQ(errorOf("{\"frame\": {\"positions\": [[1e39, 0, 0]]}, \"rays\": []}"),
              "frame.positions[0][0]: 9.9999999999999994e+38 is outside the single-precision "
              "range");
    EXPECT_EQ(errorOf("{\"frame\": {\"positions\": []}, \"rays\": [1e999]}"),
              "malformed JSON: number overflow parsing '1e999'");
    EXPECT_EQ(errorOf(stillInput("", R"("positions": [[1,2,3]])", R"({"origin": [0,0,0],
                  "direction": [1,0], "tmin": 0, "tmax": 1})")),
              "rays[0].direction: expected an array of 3 numbers");
    EXPECT_EQ(errorOf(stillInput("", R"("positions": [])", R"({"origin": [0,"x",0],
                  "direction": [1,0,0], "tmin": 0, "tmax": 1})")),
              "rays[0].origin[1]: expected a number, got a string");
    EXPECT_EQ(errorOf(stillInput("", R"("positions": [])", R"({"origin": [0,0,0],
                  "direction": [0,0,0], "tmin": 0, "tmax": 1})")),
              "rays[0].direction: expected a non-zero direction");
    EXPECT_EQ(errorOf(stillInput("", R"("positions": [])", std::string(kRay) + R"(,
                  {"origin": [0,0,0], "direction": [1,0,0], "tmin": 0})")),
              "rays[1]: missing field \"tmax\" (a number)");
    EXPECT_EQ(errorOf(stillInput("", R"("positions": [])", R"({"origin": [0,0,0],
                  "direction": [1,0,0], "tmin": 0, "tmax": 1, "nearst": 1})")),
              "rays[0]: unknown field \"nearst\"; known fields: \"origin\", \"direction\", "
              "\"tmin\", \"tmax\", \"time\", \"nearest\"");
    EXPECT_EQ(errorOf(R"({"frame": {"positions": []}})"),
              "input: missing field \"rays\" (an array of rays)");
    EXPECT_EQ(errorOf(R"({"rays": []})"),
              "input: missing field \"frame\" (a still frame) or \"segments\" (motion segments)");
    EXPECT_EQ(errorOf(R"({"frame": {"positions": []}, "segments": [], "rays": []})"),
              "input: has both \"frame\" and \"segments\"; expected one of them");
}

TEST(TraceInputErrors, UnequalLengthsAndMissingPieces) {
    EXPECT_EQ(errorOf(stillInput("", R"("positions": [[0,0,0],[1,1,1]], "sizes": [1])")),
              "frame.sizes: has 1 entries but frame.positions has 2");
    EXPECT_EQ(errorOf(stillInput("", R"("positions": [[0,0,0]], "colors": [[1,1,1],[0,0,0]])")),
              "frame.colors: has 2 entries but frame.positions has 1");
    EXPECT_EQ(errorOf(stillInput(R"("color": 2)", R"("positions": [[0,0,0]])")),
              "frame.colors: missing; params.color 2 asks for per-metaball colours");
    EXPECT_EQ(errorOf(R"({"segments": [{"positions": [[0,0,0]], "displacements": []}],
                         "rays": []})"),
              "segments[0].displacements: has 0 entries but segments[0].positions has 1");
    EXPECT_EQ(errorOf(R"({"segments": [{"positions": [[0,0,0]], "displacements": [[0,0,0]]},
                         {"positions": [], "displacements": [], "sizes": []}], "rays": []})"),
              "segments[1].sizes: given, but segments[0] has no sizes; give sizes in every "
              "segment or in none");
    EXPECT_EQ(errorOf(R"({"segments": [{"positions": [], "displacements": [],
                         "sizeDeltas": []}], "rays": []})"),
              "segments[0].sizeDeltas: given without \"sizes\"");
    EXPECT_EQ(errorOf(R"({"segments": [], "rays": []})"),
              "segments: expected at least one motion segment");
    EXPECT_EQ(errorOf(R"({"params": {"color": 3}, "segments": [{"positions": [[0,0,0]],
                         "displacements": [[0,0,0]]}], "colors": [], "rays": []})"),
              "colors: has 0 entries but segments[0].positions has 1");
    EXPECT_EQ(errorOf(R"({"frame": {"positions": []}, "colors": [], "rays": []})"),
              "colors: a still frame's colours go in frame.colors");
}

TEST(TraceInputErrors, ParametersCheckedByNameTypeAndRange) {
    const std::string unknown = errorOf(stillInput(R"("radious": 3)"));
    EXPECT_EQ(unknown.rfind("params: unknown parameter \"radious\"; known parameters: \"radius\", "
                            "\"threshold\",",
                            0),
              0u)
        << unknown;
    EXPECT_NE(unknown.find("\"clampTo\""), std::string::npos);
    EXPECT_EQ(errorOf(stillInput(R"("radius": "20")")),
              "params.radius: expected a number, got a string");
    EXPECT_EQ(errorOf(stillInput(R"("useAverage": 2)")),
              "params.useAverage: expected true, false, 0 or 1, got a number");
    EXPECT_EQ(errorOf(stillInput(R"("depth": 2.5)")),
              "params.depth: expected an integer, got a number");
    EXPECT_EQ(errorOf(stillInput(R"("fieldFunction": 7)")),
              "params.fieldFunction: 7 is out of range; expected a value from 0 to 6");
    EXPECT_EQ(errorOf(stillInput(R"("depth": 0)")),
              "params.depth: 0 is out of range; expected a value from 1 to 50");
    EXPECT_EQ(errorOf(stillInput(R"("radius": 0)")),
              "params.radius: 0 is out of range; expected a value from 0.0001 to 1e+06");
    EXPECT_EQ(errorOf(stillInput(R"("textureStr": -0.5)")),
              "params.textureStr: -0.5 is out of range; expected a value from 0 to 1e+06");
    // The lower ends are the float values of 0.0001 and 0.00001 and are themselves accepted.
    EXPECT_EQ(errorOf(stillInput(R"("radius": 0.0001, "error": 0.00001, "textureStr": 0)")), "");
    EXPECT_EQ(errorOf(stillInput(R"("texmap": {"type": "marble"})")),
              "params.texmap: unknown texmap type \"marble\" (expected \"constant\", "
              "\"gradient\", \"noise\" or \"checker\")");
    EXPECT_EQ(errorOf(stillInput(R"("texmap": {"type": "gradient", "axis": 3})")),
              "params.texmap: gradient texmap: parameter \"axis\" must be 0, 1 or 2");
    EXPECT_EQ(errorOf(stillInput(R"("texmap": {"type": "constant", "valeu": 1})")),
              "params.texmap: constant texmap: unknown parameter \"valeu\"");
    EXPECT_EQ(errorOf(stillInput(R"("texmap": {"type": "constant", "value": "1"})")),
              "params.texmap.value: expected a number, got a string");
    EXPECT_EQ(errorOf(stillInput(R"("texmap": {"type": "gradient", "to": -1e39})")),
              "params.texmap.to: -9.9999999999999994e+38 is outside the single-precision range");
    EXPECT_EQ(errorOf(stillInput(R"("texmap": {"value": 1})")),
              "params.texmap: missing field \"type\" (\"constant\", \"gradient\", \"noise\" or "
              "\"checker\")");
    EXPECT_EQ(errorOf(stillInput(R"("texmap": 3)")),
              "params.texmap: expected an object, got a number");
    EXPECT_EQ(errorOf(R"({"params": [], "frame": {"positions": []}, "rays": []})"),
              "params: expected an object, got an array");
}

// Every shared reference input reads cleanly, holds a frame the trace can compile, and comes
// with one expected line per ray; whatever case a file holds, these must hold of it.
TEST(TraceInputFrame, ReferenceInputsParse) {
    const std::filesystem::path dir = std::filesystem::path(VELQUIN_VECTORS_DIR) / "trace";
    int inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::filesystem::path path = entry.path();
        const std::string name = path.filename().string();
        if (path.extension() != ".json" || name.find(".expected") != std::string::npos) {
            continue;
        }
        SCOPED_TRACE(name);
        ++inputs;
        std::ifstream in(path);
        std::ostringstream text;
        text << in.rdbuf();
        TraceInput input;
        ASSERT_NO_THROW(input = parseTraceInput(text.str()));
        EXPECT_FALSE(input.rays.empty());
        if (input.moving) {
            EXPECT_EQ(static_cast<std::size_t>(compileParams(input).segmentCount),
                      input.segments.size());
        } else {
            EXPECT_EQ(input.positions.size(), 3u * static_cast<std::size_t>(input.count));
            if (input.hasSizes) {
                EXPECT_EQ(input.sizes.size(), static_cast<std::size_t>(input.count));
            }
        }
        if (frameHasColors(input) && !input.colors.empty()) {
            EXPECT_EQ(input.colors.size() % 3, 0u);
        }
        // A map the compile keeps is one the input described.
        if (compileParams(input).texmap != nullptr) {
            EXPECT_NE(input.texmap, nullptr);
        }
        std::ifstream expected(dir / (path.stem().string() + ".expected.jsonl"));
        ASSERT_TRUE(expected.good()) << "no expected output beside " << name;
        std::size_t lines = 0;
        for (std::string line; std::getline(expected, line);) {
            if (!line.empty()) {
                ++lines;
            }
        }
        EXPECT_EQ(lines, input.rays.size());
    }
    EXPECT_GE(inputs, 5);
}

// --- output ---

velquin::TraceResult hitResult() {
    velquin::TraceResult r;
    r.hit = true;
    r.t = 44.588238992500791;
    const float point[3] = {-115.676666f, -66.5198822f, -17.2993717f};
    const float normal[3] = {0.653528273f, -0.184294865f, 0.734122753f};
    for (int i = 0; i < 3; ++i) {
        r.point[i] = point[i];
        r.normal[i] = normal[i];
    }
    return r;
}

TEST(TraceOutput, LinesInTheReferenceStyle) {
    EXPECT_EQ(velquin::formatTraceResult(velquin::TraceResult{}), "{\"hit\": false}\n");
    velquin::TraceResult r = hitResult();
    EXPECT_EQ(velquin::formatTraceResult(r),
              "{\"hit\": true, \"t\": 44.588238992500791, \"point\": "
              "[-115.676666,-66.5198822,-17.2993717], \"normal\": "
              "[0.653528273,-0.184294865,0.734122753]}\n");
    r.hasColor = true;
    r.color[0] = 0.567356527f;
    r.color[1] = 1.0f;
    r.color[2] = 0.0f;
    const std::string line = velquin::formatTraceResult(r);
    EXPECT_EQ(line.substr(line.find(", \"color\"")), ", \"color\": [0.567356527,1,0]}\n");
}

TEST(TraceOutput, NotANumberIsNull) {
    velquin::TraceResult r = hitResult();
    r.t = std::numeric_limits<double>::quiet_NaN();
    r.normal[1] = std::numeric_limits<float>::quiet_NaN();
    r.point[2] = -std::numeric_limits<float>::infinity();
    r.hasColor = true;
    r.color[0] = std::numeric_limits<float>::quiet_NaN();
    const std::string line = velquin::formatTraceResult(r);
    EXPECT_EQ(line, "{\"hit\": true, \"t\": null, \"point\": [-115.676666,-66.5198822,null], "
                    "\"normal\": [0.653528273,null,0.734122753], \"color\": [null,0,0]}\n");
    EXPECT_TRUE(nlohmann::json::accept(line));
}

TEST(TraceOutput, NumbersReadBackToTheSameBits) {
    // Values whose shortest forms need all 17 (double) or 9 (float) digits.
    const double ts[] = {0.1,       std::nextafter(0.1, 1.0),   1e30, 5e-324,
                         2.0 / 3.0, std::nextafter(1e-300, 0.0)};
    const float fs[] = {0.1f,   std::nextafter(1.0f, 2.0f),         16777217.0f,
                        1e-45f, -std::numeric_limits<float>::max(), -1e-45f};
    for (double t : ts) {
        for (float f : fs) {
            velquin::TraceResult r = hitResult();
            r.t = t;
            r.normal[0] = f;
            const auto j = nlohmann::json::parse(velquin::formatTraceResult(r));
            const double tb = j["t"].get<double>();
            const float fb = static_cast<float>(j["normal"][0].get<double>());
            EXPECT_EQ(std::memcmp(&tb, &t, sizeof t), 0) << t;
            EXPECT_EQ(bits(fb), bits(f)) << f;
        }
    }
}

TEST(TraceOutput, NegativeZeroKeepsItsSign) {
    velquin::TraceResult r = hitResult();
    r.normal[0] = -0.0f;
    const std::string line = velquin::formatTraceResult(r);
    EXPECT_NE(line.find("\"normal\": [-0,"), std::string::npos) << line;
}

// Every reference line, parsed and written again, comes out as the same text: the writer's
// style is the reference's.
TEST(TraceOutput, ReferenceLinesReproducedExactly) {
    for (const char* kind : {"static", "moving", "average", "texture", "colors"}) {
        std::ifstream in(std::string(VELQUIN_VECTORS_DIR) + "/trace/" + kind + ".expected.jsonl");
        ASSERT_TRUE(in) << kind;
        std::string line;
        int n = 0;
        while (std::getline(in, line)) {
            ++n;
            const auto j = nlohmann::json::parse(line);
            velquin::TraceResult r;
            r.hit = j["hit"].get<bool>();
            if (r.hit) {
                r.t = j["t"].get<double>();
                for (int i = 0; i < 3; ++i) {
                    r.point[i] = static_cast<float>(j["point"][i].get<double>());
                    r.normal[i] = static_cast<float>(j["normal"][i].get<double>());
                }
                r.hasColor = j.contains("color");
                if (r.hasColor)
                    for (int i = 0; i < 3; ++i)
                        r.color[i] = static_cast<float>(j["color"][i].get<double>());
            }
            EXPECT_EQ(velquin::formatTraceResult(r), line + "\n") << kind << " line " << n;
        }
        EXPECT_EQ(n, 40) << kind;
    }
}

} // namespace
