#include "platform/vray/vraycore.h"

#include "platform/vray/vraycontext.h"

#include <cmath>

namespace VR {

int VRayCore::newRayTag() {
    return rayTagOf(tagCounter_.fetch_add(1, std::memory_order_relaxed));
}

std::uint64_t VRayCore::reserveRayNumbers(std::uint32_t n) {
    return tagCounter_.fetch_add(n, std::memory_order_relaxed);
}

void VRayCore::shadeWithMaterial(VRayContext& rc, VRenderInstance& instance, int flags) {
    (void)instance;
    (void)flags;
    Vector n = rc.rayresult.sd ? rc.rayresult.sd->getNormal(rc) : rc.rayresult.normal;
    Vector v = rc.V();
    float k = std::fabs(DotProd(n, v));
    Color base =
        rc.rayresult.metaballColorValid ? rc.rayresult.metaballColor : Color(0.5f, 0.5f, 0.5f);
    rc.mtlresult.color = Color(base.r * k, base.g * k, base.b * k);
    rc.mtlresult.transparency = Color(0.0f, 0.0f, 0.0f);
    rc.mtlresult.alpha = 1.0f;
}

} // namespace VR
