#include "platform/vray/primitive.h"

#include "platform/vray/vrender.h"

namespace VR {

// ---- Boxes ----

StaticBox MovingBox::boxAt(float time) const {
    float u = 0.0f;
    if (tend > tstart)
        u = (time - tstart) / (tend - tstart);
    // Outside the time range the box stays at its nearest end rather than extrapolating.
    if (!(u > 0.0f))
        u = 0.0f;
    else if (u > 1.0f)
        u = 1.0f;
    StaticBox r;
    for (int i = 0; i < 6; ++i)
        r[i] = b[0][i] + u * b[1][i];
    return r;
}

void splitBox(const StaticBox& box, int axis, float position, StaticBox& left, StaticBox& right) {
    left = box;
    right = box;
    if (axis < 0 || axis > 2)
        return;
    left.pmax[axis] = position;
    right.pmin[axis] = position;
}

void splitBox(const MovingBox& box, int axis, float position, MovingBox& left, MovingBox& right) {
    left = box;
    right = box;
    int i = MovingBox::splitIndex(axis);
    // Axes 3 and 7 would name a max coordinate as if it were a min one and write into the other
    // box; they select nothing.
    if (i < 0)
        return;
    left.coord(i + 3) = position;
    right.coord(i) = position;
}

// ---- GenericPrimitive ----

int GenericPrimitive::collectPrimitives(PrimitiveCollector* collector, int tag) {
    if (collector)
        collector->add(tag, this);
    return 0;
}

Vector GenericPrimitive::getVelocity(const VRayContext& rc) {
    (void)rc;
    return Vector(0.0f, 0.0f, 0.0f);
}

Vector GenericPrimitive::getAngularVelocity(const VRayContext& rc) {
    (void)rc;
    return Vector(0.0f, 0.0f, 0.0f);
}

ShadeData* GenericPrimitive::getShadeData(const VRayContext& rc) {
    (void)rc;
    return static_cast<ShadeData*>(getInterface(EXT_SHADE_DATA));
}

ShadeInstance* GenericPrimitive::getShadeInstance(const VRayContext& rc) {
    (void)rc;
    return static_cast<ShadeInstance*>(getInterface(EXT_SHADE_INSTANCE));
}

int GenericPrimitive::getMtlID(const VRayContext& rc) {
    (void)rc;
    return -1;
}

SurfaceProperties* GenericPrimitive::getSurfaceProperties(const VRayContext& rc) {
    (void)rc;
    return static_cast<SurfaceProperties*>(getInterface(EXT_SURFACE_PROPERTIES));
}

Shadeable* GenericPrimitive::getShadeable(const VRayContext& rc) {
    (void)rc;
    // Shadeable has no interface id: the object that is also Shadeable is found by its type.
    return dynamic_cast<Shadeable*>(this);
}

void GenericPrimitive::setIntersectionData(RayBase& ray, RayResult& result) {
    result.isHit = 1;
    result.dist = ray.nearestDist;
    for (int i = 0; i < 3; ++i)
        result.wpoint[i] = ray.p[i] + static_cast<double>(ray.dir[i]) * ray.nearestDist;
    result.primitive = this;
    if (ray.rc) {
        result.sd = getShadeData(*ray.rc);
        result.si = getShadeInstance(*ray.rc);
        result.surfaceProps = getSurfaceProperties(*ray.rc);
    } else {
        result.sd = nullptr;
        result.si = nullptr;
        result.surfaceProps = nullptr;
    }
    result.metaballColorValid = 0;
}

VRenderInstance* GenericPrimitive::getRenderInstance() {
    return dynamic_cast<VRenderInstance*>(this);
}

int GenericPrimitive::getObjectID(const VRayContext& rc) {
    (void)rc;
    VRenderInstance* ri = getRenderInstance();
    return ri ? ri->getRenderID() : 0;
}

Vector GenericPrimitive::getSurfaceNormal(ShadeContext& sc) {
    // Without a surface of its own the primitive reports what the renderer already holds.
    VRayContext* rc = VRayContext::fromShadeContext(sc);
    return rc ? rc->rayresult.normal : sc.Normal();
}

} // namespace VR
