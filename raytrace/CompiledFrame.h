// What a frame compile hands to a primitive: the parameters read at frame time and the metaball
// arrays of the frame (still) or of each motion segment (moving).
#pragma once

#include <cstdint>

class Texmap;
namespace VR {
class GenericPrimitive;
}

namespace velquin {

class HitRecordTable;

// Parameters as read from the object's block at the frame's time.
struct MetaballRenderParams {
    float radius = 20.0f;
    float threshold = 0.5f;
    float step = 1.0f;
    float error = 0.0001f;
    std::int32_t fieldFunction = 1;
    std::int32_t colourKernel = 0; // "color" as read; rewritten to the colour selector
    std::uint8_t useAverage = 0;
    float cutoff = 0.5f;
    float trim = 0.65f;
    std::int32_t depth = 15;
    float leafLength = 8.0f;
    float leafSize = 30.0f;        // integer parameter carried as a float
    std::int32_t segmentCount = 0; // moving frames only: "mbSamples" - 1
    Texmap* texmap = nullptr;      // only with "useTexture" and strength above 0.0001
    std::uint8_t textureType = 0;  // 0 multiply, 1 subtract
    float textureStrength = 1.0f;
    std::uint8_t useClamp = 0;
    float clampTo = 1.0f; // raised above threshold by the compile
};

// The arrays of a still frame. Ownership passes to the primitive at setup.
struct CompiledFrame {
    MetaballRenderParams params;
    float* positions = nullptr; // count x 3
    double* sizes = nullptr;    // count, or null without "useScale"
    float* colors = nullptr;    // count x 3, or null without colours
    std::int32_t count = 0;
    VR::GenericPrimitive* owner = nullptr; // the instance's dynamic-primitive part
    std::int32_t renderId = 0;
    HitRecordTable** hitTables = nullptr;
    std::int32_t hitTableCount = 0;
    // Threads the set-up may keep busy: the render's, idle while frames compile.
    std::int32_t threads = 1;
};

// The arrays of a motion-blurred frame: per segment, start positions and displacements
// (segmentPositions[2i], [2i+1]) and start sizes and size deltas (segmentSizes[2i], [2i+1]).
// Colours belong to segment 0 and are indexed by metaball in every segment.
struct CompiledMovingFrame {
    MetaballRenderParams params;
    float** segmentPositions = nullptr;
    double** segmentSizes = nullptr;
    float* colors = nullptr;
    std::int32_t* segmentCounts = nullptr;
    VR::GenericPrimitive* owner = nullptr;
    std::int32_t renderId = 0;
    HitRecordTable** hitTables = nullptr;
    std::int32_t hitTableCount = 0;
};

} // namespace velquin
