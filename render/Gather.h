// Gathering the metaballs of one frame time (still) or one motion segment (moving) from the
// picked scene nodes, particle systems and the script-filled tables of the parameter block.
// Everything gathered is in world space.
#pragma once

#include <cstdint>

#include "host/max_core.h"
#include "host/max_scene.h"

namespace velquin {

// The working lists shared by all routes of one gathering call. They stay parallel: every
// accepted metaball appends one position and, when the matching switch is on, one entry to each
// other list the call uses. Lists grow by kGatherGrowth entries at a time.
struct GatherBuffers {
    static constexpr int kGatherGrowth = 500;
    Tab<Point3> positions;
    Tab<Point3> displacements; // moving only: end minus start
    Tab<float> sizes;          // with useScale
    Tab<float> sizeDeltas;     // moving, with useScale
    Tab<Point3> colors;        // with useColor
    std::uint8_t useScale = 0;
    std::uint8_t useColor = 0;
    float defaultSizeDelta = 0.0f;
    float baseSize = 20.0f;          // the frame's radius
    float velocityThreshold = -1.0f; // moving only
    // The render's threads: a large gathering is copied out on two when there are two.
    int threads = 1;
    // Metaballs the last gathering call left out of its outputs: a position, displacement, size,
    // size delta or colour that is not finite or whose square would overflow single precision
    // (magnitude 2^64 or more; it would poison every field sum it touches), and,
    // with useScale, a size that is not above 0 at the segment's start or end (no surface, and
    // the kernels would meet 0/0). Set by gatherStatic and gatherMoving.
    std::int32_t droppedNonFinite = 0;
    std::int32_t droppedNonPositiveSize = 0;
};

// Every metaball at time t. Allocates the output arrays (new[]; ownership passes to the caller)
// and leaves the lists empty. sizes is null without useScale, colours null without useColor.
// False only when memory runs out (outputs then null, count 0).
bool gatherStatic(GatherBuffers& buffers, bool useScale, bool useColor, std::int32_t& count,
                  float*& positions, double*& sizes, float*& colors, IParamBlock2* pblock,
                  TimeValue t);

// Every metaball of the segment [t0, t1]: start positions, displacements, start sizes and size
// deltas (with useScale), colours (with useColor). Same ownership and failure rule.
bool gatherMoving(GatherBuffers& buffers, bool useScale, bool useColor, std::int32_t& count,
                  float*& positions, float*& displacements, double*& sizes, double*& sizeDeltas,
                  float*& colors, IParamBlock2* pblock, TimeValue t0, TimeValue t1);

} // namespace velquin
