// The input of `velquin trace`: parameters, texture map, a still frame or motion segments, and
// rays, read from one JSON object and checked field by field.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "raytrace/CompiledFrame.h"

namespace velquin {

// A fault in a trace input. what() starts with the JSON path ("rays[3].direction: expected an
// array of 3 numbers") or, for text that is not JSON, with "malformed JSON".
class TraceInputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The built-in texture map named by "params.texmap", as written in the input.
struct TexmapDesc {
    std::string type;                     // "constant", "gradient", "noise", "checker"; "" for null
    std::map<std::string, double> fields; // every other field, by name, as given
};

struct TraceRay {
    double origin[3] = {};
    float direction[3] = {};
    double tmin = 0.0;
    double tmax = 0.0;
    float time = 0.0f;    // in [0, 1]; only motion segments read it
    double nearest = 0.0; // "nearest", or tmax when absent
};

// One motion segment: metaball k moves from positions[k] by u * displacements[k] (u in [0, 1]).
struct TraceSegment {
    std::int32_t count = 0;
    std::vector<float> positions;     // count x 3
    std::vector<float> displacements; // count x 3
    bool hasSizes = false;            // "sizes" given
    std::vector<double> sizes;        // count, when hasSizes
    std::vector<double> sizeDeltas;   // count when hasSizes (zeros when no "sizeDeltas")
};

struct TraceInput {
    // Parameters as read, before the frame compile's rules: colourKernel holds "color" as read,
    // texmap is null and clampTo is the value given. compileParams gives the compiled record.
    MetaballRenderParams params;
    // Read values the compile rules look at.
    std::int32_t color = 0;  // "color"
    bool useTexture = true;  // "useTexture"
    float textureStr = 1.0f; // "textureStr" (also params.textureStrength)
    TexmapDesc texmapDesc;
    // The map texmapDesc describes, made by the built-in map factory and owned here as the
    // parameter block owns its map; null when "texmap" is null.
    std::shared_ptr<Texmap> texmap;

    bool moving = false; // "segments" given instead of "frame"

    // Still frame ("frame").
    std::int32_t count = 0;
    std::vector<float> positions; // count x 3
    bool hasSizes = false;        // "frame.sizes" given
    std::vector<double> sizes;    // count, when hasSizes
    // Motion segments ("segments"); segmentCount in params is their number.
    std::vector<TraceSegment> segments;
    // "frame.colors" or, with segments, "colors" (indexed by metaball in every segment; as many
    // as segment 0 has metaballs). Empty when not given.
    std::vector<float> colors;

    std::vector<TraceRay> rays;
};

// Parses and checks a whole input. Throws TraceInputError naming the JSON path and what was
// expected.
TraceInput parseTraceInput(std::string_view text);

// The frame compile's parameter rules applied to the read values. When the texture takes part,
// its map is updated for time 0, as a frame compile updates it for the frame's time.
MetaballRenderParams compileParams(const TraceInput& input);

// True when the compiled frame carries per-metaball colours ("color" not 0).
bool frameHasColors(const TraceInput& input);

// The compiled frame of a still input (input.moving false). Every array is allocated with new[]
// and belongs to the primitive that is set up with it, which frees it with delete[].
CompiledFrame makeCompiledFrame(const TraceInput& input);

// The compiled frame of a motion input (input.moving true); ownership as makeCompiledFrame.
CompiledMovingFrame makeCompiledMovingFrame(const TraceInput& input);

// Frees the arrays of a compiled frame that never reached a primitive.
void freeCompiledFrame(CompiledFrame& frame);
void freeCompiledFrame(CompiledMovingFrame& frame);

} // namespace velquin
