#include "platform/vray/vraycontext.h"

#include "platform/vray/vraycore.h"

#include <cmath>

namespace VR {

void RayBase::set(const double origin[3], const float direction[3], double tmin_, double tmax_,
                  float time_) {
    for (int i = 0; i < 3; ++i) {
        p[i] = origin[i];
        dir[i] = direction[i];
    }
    tmin = tmin_;
    tmax = tmax_;
    time = time_;
    nearestDist = tmax_;
    hitPrimitive = nullptr;
    hitTopPrimitive = nullptr;
}

void VRayContext::beginRay(const double origin[3], const float direction[3], double tmin,
                           double tmax, float time, int tag) {
    ray.set(origin, direction, tmin, tmax, time);
    ray.rc = this;
    rayTag = tag;
    rayresult.clear();
    mtlresult = ShadeResult();
}

Point3 VRayContext::P() {
    return Point3(static_cast<float>(rayresult.wpoint[0]), static_cast<float>(rayresult.wpoint[1]),
                  static_cast<float>(rayresult.wpoint[2]));
}

Point3 VRayContext::Normal() {
    return rayresult.normal;
}

Point3 VRayContext::V() {
    return Normalize(Point3(ray.dir[0], ray.dir[1], ray.dir[2]));
}

Point3 VRayContext::CamPos() {
    return vray ? vray->frameData.camToWorld.GetTrans() : Point3(0.0f, 0.0f, 0.0f);
}

TimeValue VRayContext::CurTime() {
    return vray ? vray->frameData.t : 0;
}

// World is the context's own frame; the camera frame comes from the frame data. The object frame
// is not known to a bare ray context and reads as the world.
Point3 VRayContext::PointTo(const Point3& p, RefFrame ito) {
    return (ito == REF_CAMERA && vray) ? vray->frameData.worldToCam.PointTransform(p) : p;
}

Point3 VRayContext::PointFrom(const Point3& p, RefFrame ifrom) {
    return (ifrom == REF_CAMERA && vray) ? vray->frameData.camToWorld.PointTransform(p) : p;
}

Point3 VRayContext::VectorTo(const Point3& p, RefFrame ito) {
    return (ito == REF_CAMERA && vray) ? vray->frameData.worldToCam.VectorTransform(p) : p;
}

Point3 VRayContext::VectorFrom(const Point3& p, RefFrame ifrom) {
    return (ifrom == REF_CAMERA && vray) ? vray->frameData.camToWorld.VectorTransform(p) : p;
}

} // namespace VR
