// Renderer SDK stand-in: primitives and the ray-server interface.
//
// A GenericPrimitive is what the ray server intersects rays with. A DynamicPrimitive<Box> is one
// that puts itself into the ray server per render thread on first use (expandForThread) and takes
// itself out at the end of the frame (collapseForThread); its box type says whether it moves.
#pragma once

#include "platform/vray/vraybase.h"
#include "platform/vray/vraycontext.h"

#include <cstddef>

class VRenderInstance;

namespace VR {

class GenericPrimitive;
template <class Box> class DynamicPrimitive;

// Receiver of GenericPrimitive::collectPrimitives: each primitive hands itself (or the primitives
// it is made of) to add.
class PrimitiveCollector {
public:
    virtual ~PrimitiveCollector() = default;
    virtual void add(int tag, GenericPrimitive* primitive) = 0;
};

// The ray server as primitives and render instances see it.
class RayServerInterface {
public:
    virtual ~RayServerInterface() = default;
    // A new identifier for a frame registration.
    virtual int newRenderID() = 0;
    // Keeps a dynamic primitive for the frame; it is expanded on each thread's first ray.
    virtual void storeDynamicStaticPrimitive(DynamicPrimitive<StaticBox>* primitive,
                                             GenericPrimitive* owner, int id) = 0;
    virtual void storeDynamicMovingPrimitive(DynamicPrimitive<MovingBox>* primitive,
                                             GenericPrimitive* owner, int id) = 0;
    // Per render thread: an identifier for a primitive, and its insertion and removal.
    virtual int newPrimitiveID(int threadIndex, GenericPrimitive* primitive) = 0;
    virtual void insertPrimitive(int threadIndex, GenericPrimitive* primitive,
                                 GenericPrimitive* owner, int id) = 0;
    virtual void removePrimitive(int threadIndex, GenericPrimitive* primitive) = 0;
};

// The operations the ray server and the renderer call on a primitive. Numbers give the slot
// order; slots 19 to 21 (bounding box, canSplit, split) depend on the box type and are declared
// by DynamicPrimitive<Box>.
class GenericPrimitive : public PluginBase {
public:
    ~GenericPrimitive() override = default;

    /*  1 */ virtual int getRTTIType() { return 0; }
    /*  2 */ virtual int getEffectiveFlags() { return getFlags(); }
    // Registration hook: hands this primitive to the collector under `tag`.
    /*  3 */ virtual int collectPrimitives(PrimitiveCollector* collector, int tag);
    /*  4 */ virtual int isVolumetric() { return 0; }
    // Motion of the surface at the hit, for velocity output: world and object space.
    /*  5 */ virtual Vector getVelocity(const VRayContext& rc);
    /*  6 */ virtual Vector getAngularVelocity(const VRayContext& rc);
    /*  7 */ virtual Vector getObjectVelocity(const VRayContext& rc) { return getVelocity(rc); }
    /*  8 */ virtual Vector getObjectAngularVelocity(const VRayContext& rc) {
        return getAngularVelocity(rc);
    }
    // The shading parts of the hit object; by default the parts this primitive's object offers
    // through getInterface (or, for the Shadeable and the render instance, its own other bases).
    /*  9 */ virtual ShadeData* getShadeData(const VRayContext& rc);
    /* 10 */ virtual ShadeInstance* getShadeInstance(const VRayContext& rc);
    // Material id of the hit; -1 when the primitive has none.
    /* 11 */ virtual int getMtlID(const VRayContext& rc);
    /* 12 */ virtual SurfaceProperties* getSurfaceProperties(const VRayContext& rc);
    /* 13 */ virtual Shadeable* getShadeable(const VRayContext& rc);
    // Fills the ray result for a hit this primitive reported: hit flag and distance, world hit
    // point (origin + direction * distance in double), primitive and shading parts.
    /* 14 */ virtual void setIntersectionData(RayBase& ray, RayResult& result);
    /* 15 */ virtual VRenderInstance* getRenderInstance();
    // Object id for the G-buffer: the render instance's render id, else 0.
    /* 16 */ virtual int getObjectID(const VRayContext& rc);
    // Intersects the ray; on a hit at or before ray.nearestDist, lowers nearestDist, sets the
    // hit-primitive fields and returns 1; otherwise leaves the ray alone and returns 0.
    /* 17 */ virtual int intersect(RayBase& ray) = 0;
    // Type identifier of the primitive class.
    /* 18 */ virtual int type() { return 0; }
    /* 22 */ virtual int getFlags() { return 0; }
    /* 23 */ virtual int isLight() { return 0; }
    // The normal of the current hit, for the shading context of the hit's ray (a VRayContext).
    // Named apart from ShadeData::getNormal, which an instance often implements beside it.
    /* 24 */ virtual Vector getSurfaceNormal(ShadeContext& sc);
};

// Something that produces geometry in the ray server per render thread.
class GeometryGenerator {
public:
    virtual ~GeometryGenerator() = default;
    virtual void expandForThread(RayServerInterface* rayserver, int threadIndex) = 0;
    virtual void collapseForThread(RayServerInterface* rayserver, int threadIndex) = 0;
};

// Something that holds memory the renderer may account for.
class Resource {
public:
    virtual ~Resource() = default;
    virtual std::size_t getMemUsage() { return 0; }
};

template <class Box>
class DynamicPrimitive : public GenericPrimitive, public GeometryGenerator, public Resource {
public:
    /* 19 */ virtual void getBBox(Box& bbox) = 0;
    /* 20 */ virtual int canSplit() { return 0; }
    /* 21 */ virtual void split(int axis, float position, Box& left, Box& right) {
        Box b;
        getBBox(b);
        splitBox(b, axis, position, left, right);
    }
    // By default a dynamic primitive inserts itself, as its own owner, under a new identifier.
    void expandForThread(RayServerInterface* rayserver, int threadIndex) override {
        int id = rayserver->newPrimitiveID(threadIndex, this);
        rayserver->insertPrimitive(threadIndex, this, this, id);
    }
    void collapseForThread(RayServerInterface* rayserver, int threadIndex) override {
        rayserver->removePrimitive(threadIndex, this);
    }
};

} // namespace VR
