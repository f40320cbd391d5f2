// Renderer SDK stand-in: the renderer core as render objects and instances see it: the sequence
// data (fixed for a whole render), the frame data (per frame), ray tags and the material shading
// hook.
#pragma once

#include "platform/max/maxtypes.h"
#include "platform/vray/vraybase.h"

#include <atomic>
#include <cstdint>

class VRenderInstance;

namespace VR {

class RayServerInterface;
class VRayContext;

struct VRaySequenceData {
    int mbOn = 0;       // motion blur: non-zero = on
    int numThreads = 1; // render threads, indexed 0..numThreads-1
    RayServerInterface* rayserver = nullptr;
};

struct VRayFrameData {
    TimeValue t = 0;      // the frame's time
    double mbStart = 0.0; // motion-blur interval, in ticks
    double mbEnd = 0.0;
    Matrix3 worldToCam;
    Matrix3 camToWorld;
};

class VRayCore {
public:
    VRaySequenceData sequenceData;
    VRayFrameData frameData;

    VRayCore() = default;
    VRayCore(const VRayCore&) = delete;
    VRayCore& operator=(const VRayCore&) = delete;
    virtual ~VRayCore() = default;

    const VRaySequenceData& getSequenceData() const { return sequenceData; }
    const VRayFrameData& getFrameData() const { return frameData; }

    // A tag for a new ray: distinct from the tags of the last 2^31 - 1 rays of the render and
    // never 0. Safe from any thread.
    int newRayTag();

    // Shades the hit in rc with the material of the instance's node (VRenderInstance::fullShade).
    // The core itself knows no materials: it lights the surface colour (the metaball colour when
    // the hit carries one, else mid grey) by a light at the eye. A renderer with materials
    // overrides this.
    virtual void shadeWithMaterial(VRayContext& rc, VRenderInstance& instance, int flags);

private:
    std::atomic<std::uint32_t> tagCounter_{0};
};

} // namespace VR
