#include "render/FrameCompile.h"

#include <cmath>
#include <limits>

#include "host/max_texmap.h"
#include "object/ParamIds.h"

namespace velquin {

namespace {

TimeValue clampTicks(std::int64_t v) {
    constexpr std::int64_t lo = std::numeric_limits<TimeValue>::min();
    constexpr std::int64_t hi = std::numeric_limits<TimeValue>::max();
    return static_cast<TimeValue>(v < lo ? lo : (v > hi ? hi : v));
}

} // namespace

void readRenderParams(IParamBlock2* pblock, TimeValue t, bool moving, MetaballRenderParams& params,
                      FrameSwitches& switches) {
    params.radius = pblock->GetFloat(pb_radius, t);
    params.threshold = pblock->GetFloat(pb_threshold, t);
    params.step = pblock->GetFloat(pb_step, t);
    params.error = pblock->GetFloat(pb_error, t);
    params.fieldFunction = pblock->GetInt(pb_fieldFunction, t);
    switches.color = pblock->GetInt(pb_color, t);
    params.colourKernel = switches.color;
    switches.useColor = switches.color != 0;
    params.useAverage = pblock->GetInt(pb_useAverage, t) != 0 ? 1 : 0;
    params.cutoff = pblock->GetFloat(pb_cutoff, t);
    params.trim = pblock->GetFloat(pb_trim, t);
    params.depth = pblock->GetInt(pb_depth, t);
    params.leafLength = pblock->GetFloat(pb_leafLength, t);
    params.leafSize = static_cast<float>(pblock->GetInt(pb_leafSize, t));
    params.textureStrength = pblock->GetFloat(pb_textureStr, t);
    params.textureType = pblock->GetInt(pb_textureType, t) != 0 ? 1 : 0;
    params.useClamp = pblock->GetInt(pb_useClamp, t) != 0 ? 1 : 0;
    params.clampTo = pblock->GetFloat(pb_clampTo, t);

    params.texmap = nullptr;
    if (pblock->GetInt(pb_useTexture, t) != 0 && params.textureStrength > 0.0001f) {
        params.texmap = pblock->GetTexmap(pb_texmap, t);
        if (params.texmap != nullptr) {
            Interval valid = FOREVER;
            params.texmap->Update(t, valid);
        }
    }
    switches.useScale = pblock->GetInt(pb_useScale, t) != 0;

    // A clamp at or below the threshold would cap every field value under the surface level.
    if (params.clampTo <= params.threshold) {
        params.clampTo = params.threshold + 0.001f;
    }

    if (moving) {
        params.segmentCount = pblock->GetInt(pb_mbSamples, t) - 1;
        switches.velocityThreshold = pblock->GetFloat(pb_velocityThreshold, t);
    }
}

TimeValue truncateTicks(double ticks) {
    if (std::isnan(ticks)) {
        return 0;
    }
    if (ticks <= static_cast<double>(std::numeric_limits<TimeValue>::min())) {
        return std::numeric_limits<TimeValue>::min();
    }
    if (ticks >= static_cast<double>(std::numeric_limits<TimeValue>::max())) {
        return std::numeric_limits<TimeValue>::max();
    }
    return static_cast<TimeValue>(ticks);
}

TimeValue segmentStep(TimeValue ts0, TimeValue te, std::int32_t segmentCount) {
    const std::int32_t n = compiledSegmentCount(segmentCount);
    const float length =
        static_cast<float>(static_cast<std::int64_t>(te) - static_cast<std::int64_t>(ts0));
    const float step = length / static_cast<float>(n);
    // The float quotient of two tick counts stays within the tick range except for intervals
    // that span it entirely; those are clamped rather than converted out of range.
    if (!(step > static_cast<float>(std::numeric_limits<TimeValue>::min()))) {
        return std::numeric_limits<TimeValue>::min();
    }
    if (!(step < static_cast<float>(std::numeric_limits<TimeValue>::max()))) {
        return std::numeric_limits<TimeValue>::max();
    }
    return static_cast<TimeValue>(step);
}

MotionSegment motionSegment(TimeValue ts0, TimeValue step, std::int32_t i) {
    const std::int64_t s = static_cast<std::int64_t>(step);
    MotionSegment seg;
    seg.ts = clampTicks(static_cast<std::int64_t>(ts0) + static_cast<std::int64_t>(i) * s);
    seg.te = clampTicks(static_cast<std::int64_t>(ts0) + static_cast<std::int64_t>(i + 1) * s);
    return seg;
}

} // namespace velquin
