// The arithmetic of a frame compile that does not need a renderer: reading the parameters at the
// frame's time, cutting the motion-blur interval into segments, and choosing the colour kernel
// and the kind of render instance.
#pragma once

#include <cstdint>

#include "host/max_core.h"
#include "raytrace/CompiledFrame.h"

namespace velquin {

// What the compile reads beside MetaballRenderParams: the gathering switches and, for moving
// frames, the particle speed filter.
struct FrameSwitches {
    std::int32_t color = 0; // "color" as read: 0 none, 1 same as the surface, 2..8 a kernel
    bool useScale = false;
    bool useColor = false; // "color" != 0
    float velocityThreshold = -1.0f;
};

// Reads the block at t in the compile's order: radius, threshold, step, error, fieldFunction,
// color, useAverage, cutoff, trim, depth, leafLength, leafSize, textureStr, textureType,
// useClamp, clampTo, then the texture map (only with "useTexture" and a strength above 0.0001,
// updated at t), "useScale", the clamp rule (clampTo not above threshold becomes
// threshold + 0.001f), and for a moving frame "mbSamples" (segmentCount = value - 1) and
// "velocityThreshold". colourKernel holds "color" as read.
void readRenderParams(IParamBlock2* pblock, TimeValue t, bool moving, MetaballRenderParams& params,
                      FrameSwitches& switches);

// The colour selector from "color": "Same as the surface" copies the field function, every
// other entry shifts down by two ("None" gives -2).
inline std::int32_t colourKernelFor(std::int32_t color, std::int32_t fieldFunction) {
    return color == 1 ? fieldFunction : color - 2;
}

// A moving instance is made only when the renderer blurs motion and "mbSamples" asks for more
// than one sample.
inline bool wantsMovingInstance(int motionBlurOn, int mbSamples) {
    return motionBlurOn != 0 && mbSamples != 1;
}

// One equal sub-interval [ts, te] of the motion-blur interval, in ticks.
struct MotionSegment {
    TimeValue ts = 0;
    TimeValue te = 0;
};

// A renderer time in ticks truncated to whole ticks (toward zero); NaN reads as 0 and times
// beyond the tick range stop at its ends, since a conversion out of range has no defined value.
TimeValue truncateTicks(double ticks);

// The segment length: (te - ts0) / segmentCount in single precision, truncated. segmentCount
// below 1 is taken as 1.
TimeValue segmentStep(TimeValue ts0, TimeValue te, std::int32_t segmentCount);

// Segment i spans [ts0 + i * step, ts0 + (i + 1) * step]; the last may end before the
// interval's end because the step was truncated.
MotionSegment motionSegment(TimeValue ts0, TimeValue step, std::int32_t i);

// The number of segments a moving frame is compiled with. "mbSamples" may read 1 at a frame of
// an instance that was made moving (it is animatable, and the instance kind is fixed at
// creation); such a frame is compiled as one segment spanning the whole interval, so the object
// stays visible and nothing divides by zero.
inline std::int32_t compiledSegmentCount(std::int32_t segmentCount) {
    return segmentCount < 1 ? 1 : segmentCount;
}

} // namespace velquin
