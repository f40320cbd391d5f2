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

    // Reserves n consecutive ray numbers and returns the first; rayTagOf makes each a tag as
    // newRayTag would. Safe from any thread.
    std::uint64_t reserveRayNumbers(std::uint32_t n);
    static int rayTagOf(std::uint64_t number) { return static_cast<int>(number % 0x7fffffffu) + 1; }

    // Shades the hit in rc with the material of the instance's node (VRenderInstance::fullShade).
    // The core itself knows no materials: it lights the surface colour (the metaball colour when
    // the hit carries one, else mid grey) by a light at the eye. A renderer with materials
    // overrides this.
    virtual void shadeWithMaterial(VRayContext& rc, VRenderInstance& instance, int flags);

private:
    // 64 bits: a 32-bit count would wrap at 2^32, a multiple of neither 2^31 - 1 nor a tag
    // cycle, and hand out a tag used two rays before.
    std::atomic<std::uint64_t> tagCounter_{0};
};

// One thread's supply of ray tags, drawn from the core a block at a time. Render threads that
// took every tag from the shared counter passed its cache line back and forth on every ray.
class RayTagBlock {
public:
    int next(VRayCore& core) {
        if (next_ == end_) {
            next_ = core.reserveRayNumbers(kSize);
            end_ = next_ + kSize;
        }
        return VRayCore::rayTagOf(next_++);
    }

private:
    static constexpr std::uint32_t kSize = 4096;
    std::uint64_t next_ = 0, end_ = 0;
};

} // namespace VR
