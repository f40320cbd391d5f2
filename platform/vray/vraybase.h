// Renderer SDK stand-in, basic parts: vectors, interface identifiers and the interface-query
// base, primitive bounding boxes, and the shading interfaces a render instance offers
// (ShadeData, ShadeInstance, ObjectShadeInstance, Shadeable, SurfaceProperties).
#pragma once

#include "platform/max/maxtypes.h"

#include <cstdint>

namespace VR {

class VRayContext;

using Vector = ::Point3;

// Identifiers of the interfaces a renderer asks an object for.
using InterfaceID = std::uint32_t;
constexpr InterfaceID EXT_SHADE_INSTANCE = 0xFFFF0001u;
constexpr InterfaceID EXT_SHADE_DATA = 0xFFFF0002u;
constexpr InterfaceID EXT_SURFACE_PROPERTIES = 0xFFFF0003u;
constexpr InterfaceID EXT_OBJECT_SHADE_INSTANCE = 2006012001u;

// Base of every class that answers interface queries. getInterface returns a pointer to the part
// of the object that implements `id`, converted to void* from exactly that part's type, so the
// caller converts it back with static_cast<Part*>. A class combining several such bases must
// override getInterface once and route every id itself.
class PluginBase {
public:
    virtual ~PluginBase() = default;
    virtual void* getInterface(InterfaceID id) {
        (void)id;
        return nullptr;
    }
};

template <class T> T* queryInterface(PluginBase* obj, InterfaceID id) {
    return obj ? static_cast<T*>(obj->getInterface(id)) : nullptr;
}

// ---- Bounding boxes ----

// An axis-aligned box as six floats: min x, y, z, max x, y, z.
struct StaticBox {
    Vector pmin, pmax;

    // The six floats by index: 0..2 min, 3..5 max.
    float& operator[](int i) { return i < 3 ? pmin[i] : pmax[i - 3]; }
    float operator[](int i) const { return i < 3 ? pmin[i] : pmax[i - 3]; }
    bool isEmpty() const { return pmin.x > pmax.x || pmin.y > pmax.y || pmin.z > pmax.z; }
};

// A box for a moving primitive: fourteen floats, the time range (within the frame's motion-blur
// interval, 0 to 1) and two boxes. The first box bounds the primitive; the second is its motion:
// at ray time `time` the bounds are first + u * second, u = (time - tstart) / (tend - tstart)
// clamped to [0, 1]. A second box of zeros is a box that bounds the whole motion.
struct MovingBox {
    float tstart = 0.0f, tend = 1.0f;
    StaticBox b[2];

    // The twelve box floats after the two times: 0..5 the first box, 6..11 the second.
    float& coord(int i) { return b[i / 6][i % 6]; }
    float coord(int i) const { return b[i / 6][i % 6]; }
    // The coordinate a split axis selects: axes 0..2 the first box's x, y, z, axes 4..6 the
    // second box's. Axes 3 and 7 and anything outside 0..7 select nothing (-1).
    static int splitIndex(int axis) {
        if (axis < 0 || axis > 7 || axis % 4 == 3)
            return -1;
        return (axis % 4) + (axis / 4) * 6;
    }
    StaticBox boxAt(float time) const;
};

static_assert(sizeof(StaticBox) == 6 * sizeof(float), "a static box is six floats");
static_assert(sizeof(MovingBox) == 14 * sizeof(float), "a moving box is fourteen floats");

// Splits at `position` on `axis`: both halves start as copies of `box`; the left half's max and
// the right half's min at the selected coordinate become `position`. An axis that selects nothing
// leaves both halves whole copies.
void splitBox(const StaticBox& box, int axis, float position, StaticBox& left, StaticBox& right);
void splitBox(const MovingBox& box, int axis, float position, MovingBox& left, MovingBox& right);

// ---- Shading interfaces ----

// Bits of ShadeData::getShadeDataType: which groups of queries the data answers.
constexpr int SHADEDATA_NORMAL = 1;
constexpr int SHADEDATA_UVW = 2;
constexpr int SHADEDATA_UVW_BASES = 4;

// Surface values of a hit beyond what the ray result holds: normal and texture coordinates.
class ShadeData : public PluginBase {
public:
    void* getInterface(InterfaceID id) override {
        return id == EXT_SHADE_DATA ? static_cast<void*>(static_cast<ShadeData*>(this))
                                    : PluginBase::getInterface(id);
    }
    virtual int getShadeDataType() = 0;
    virtual Vector getNormal(const VRayContext& rc) = 0;
    virtual Vector getUVWcoords(const VRayContext& rc, int channel) = 0;
    virtual void getUVWderivs(const VRayContext& rc, int channel, Vector derivs[2]) = 0;
    virtual void getUVWbases(const VRayContext& rc, int channel, Vector bases[3]) = 0;
    virtual Vector getUVWnormal(const VRayContext& rc, int channel) = 0;
};

// Conversions between world space and the object space of the hit object.
class ObjectShadeInstance : public PluginBase {
public:
    void* getInterface(InterfaceID id) override {
        return id == EXT_OBJECT_SHADE_INSTANCE
                   ? static_cast<void*>(static_cast<ObjectShadeInstance*>(this))
                   : PluginBase::getInterface(id);
    }
    virtual Vector worldToObjectPt(const VRayContext& rc, const Vector& p) = 0;
    virtual Vector worldToObjectVec(const VRayContext& rc, const Vector& v) = 0;
    virtual Vector objectToWorldPt(const VRayContext& rc, const Vector& p) = 0;
    virtual Vector objectToWorldVec(const VRayContext& rc, const Vector& v) = 0;
};

// The hit in object space ("base" values, before any deformation the renderer applies).
class ShadeInstance : public ObjectShadeInstance {
public:
    void* getInterface(InterfaceID id) override {
        return id == EXT_SHADE_INSTANCE ? static_cast<void*>(static_cast<ShadeInstance*>(this))
                                        : ObjectShadeInstance::getInterface(id);
    }
    virtual Vector getBasePt(const VRayContext& rc) = 0;
    virtual Vector getBaseGNormal(const VRayContext& rc) = 0;
    virtual Vector getBaseNormal(const VRayContext& rc) = 0;
    virtual Vector getBaseBumpNormal(const VRayContext& rc) = 0;
};

// Something the renderer can shade a hit with; writes the context's material result.
class Shadeable {
public:
    virtual ~Shadeable() = default;
    virtual void shade(VRayContext& rc) = 0;
};

// Bits of SurfaceProperties::getSurfaceFlags.
constexpr int SURF_VISIBLE_TO_CAMERA = 1;
constexpr int SURF_VISIBLE_IN_REFLECTIONS = 2;
constexpr int SURF_VISIBLE_IN_REFRACTIONS = 4;
constexpr int SURF_CASTS_SHADOWS = 8;
constexpr int SURF_RECEIVES_SHADOWS = 16;
constexpr int SURF_ALL = 31;

// How the renderer treats a surface: which rays see it and its shadows.
// What a render instance may tell the renderer's statistics about its geometry after a frame
// compile: how many items it holds (for example metaballs) and what they are called.
constexpr InterfaceID EXT_GEOMETRY_STATS = 0xFFFF0010u;
// The intersections' work since a frame compile, summed over the render threads.
struct TraceWork {
    long long samples = 0;        // field samples taken (march and refinement)
    long long distanceTests = 0;  // metaball distances those samples computed
    long long evaluations = 0;    // of those, metaballs within reach: kernel evaluations
    long long skippedSamples = 0; // march samples passed without a value, proven not to cross
    long long leafVisits = 0;     // leaves first reached by a ray's march
    long long candidates = 0;     // metaballs of those leaves the ray can reach
};

class GeometryStats {
public:
    virtual long long geometryItemCount() const = 0;
    virtual const char* geometryItemName() const = 0;
    // Items the frame compile left out: a value that was not finite, or a size not above 0.
    virtual long long droppedNonFinite() const { return 0; }
    virtual long long droppedNonPositiveSize() const { return 0; }
    // The intersections' work since the frame compile. False when the instance does not count.
    // Read it while no thread renders.
    virtual bool traceWork(TraceWork& work) const {
        (void)work;
        return false;
    }

protected:
    ~GeometryStats() = default;
};

class SurfaceProperties : public PluginBase {
public:
    int surfaceFlags = SURF_ALL;

    void* getInterface(InterfaceID id) override {
        return id == EXT_SURFACE_PROPERTIES
                   ? static_cast<void*>(static_cast<SurfaceProperties*>(this))
                   : PluginBase::getInterface(id);
    }
    virtual int getSurfaceFlags() { return surfaceFlags; }
};

} // namespace VR
