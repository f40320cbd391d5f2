#include "render/RenderInstance.h"

#include <new>

#include "render/FrameCompile.h"
#include "render/Gather.h"

namespace velquin {

// ---- VelquinMetaballInstance ----

VR::Vector VelquinMetaballInstance::getNormal(const VR::VRayContext& rc) {
    const VR::Vector n = rc.rayresult.normal;
    return rc.rayresult.side ? -n : n;
}

VR::Vector VelquinMetaballInstance::getUVWcoords(const VR::VRayContext&, int) {
    return VR::Vector(0.0f, 0.0f, 0.0f);
}

void VelquinMetaballInstance::getUVWderivs(const VR::VRayContext&, int, VR::Vector derivs[2]) {
    const Matrix3& tm = objectTransform();
    derivs[0] = Normalize(tm.GetRow(0));
    derivs[1] = Normalize(tm.GetRow(1));
}

void VelquinMetaballInstance::getUVWbases(const VR::VRayContext&, int, VR::Vector bases[3]) {
    const Matrix3& tm = objectTransform();
    for (int i = 0; i < 3; ++i) {
        bases[i] = Normalize(tm.GetRow(i));
    }
}

VR::Vector VelquinMetaballInstance::getUVWnormal(const VR::VRayContext&, int) {
    return Normalize(objectTransform().GetRow(2));
}

VR::Vector VelquinMetaballInstance::worldToObjectPt(const VR::VRayContext&, const VR::Vector& p) {
    return p;
}

VR::Vector VelquinMetaballInstance::worldToObjectVec(const VR::VRayContext&, const VR::Vector& v) {
    return v;
}

VR::Vector VelquinMetaballInstance::objectToWorldPt(const VR::VRayContext&, const VR::Vector& p) {
    return p;
}

VR::Vector VelquinMetaballInstance::objectToWorldVec(const VR::VRayContext&, const VR::Vector& v) {
    return v;
}

VR::Vector VelquinMetaballInstance::getBasePt(const VR::VRayContext& rc) {
    const double* w = rc.rayresult.wpoint;
    return VR::Vector(static_cast<float>(w[0]), static_cast<float>(w[1]), static_cast<float>(w[2]));
}

VR::Vector VelquinMetaballInstance::getBaseGNormal(const VR::VRayContext& rc) {
    return rc.rayresult.normal;
}

VR::Vector VelquinMetaballInstance::getBaseNormal(const VR::VRayContext& rc) {
    return rc.rayresult.normal;
}

VR::Vector VelquinMetaballInstance::getBaseBumpNormal(const VR::VRayContext& rc) {
    return rc.rayresult.normal;
}

// ---- VelquinMetaballInstanceOf ----

namespace {

// The inverse transpose of a transform's axes, without translation: what carries normals.
Matrix3 normalTransform(const Matrix3& m) {
    const Matrix3 inv = m.Inverse();
    Matrix3 r;
    for (int i = 0; i < 3; ++i) {
        r.m[i] = Point3(inv.m[0][i], inv.m[1][i], inv.m[2][i]);
    }
    r.m[3] = Point3(0.0f, 0.0f, 0.0f);
    r.flags = 0;
    return r;
}

// Frees what one gathering call handed out when the compile cannot pass it on.
void freeSegmentArrays(std::int32_t* counts, float** positions, double** sizes,
                       std::int32_t segments) {
    for (std::int32_t i = 0; i < 2 * segments; ++i) {
        if (positions != nullptr) {
            delete[] positions[i];
        }
        if (sizes != nullptr) {
            delete[] sizes[i];
        }
    }
    delete[] counts;
    delete[] positions;
    delete[] sizes;
}

} // namespace

template <class Box, class Primitive>
VelquinMetaballInstanceOf<Box, Primitive>::VelquinMetaballInstanceOf(IParamBlock2* pb)
    : moving(kMoving ? 1 : 0), pblock(pb) {}

template <class Box, class Primitive>
VelquinMetaballInstanceOf<Box, Primitive>::~VelquinMetaballInstanceOf() {
    // Tables first; the primitive (with its arrays) and the mesh go with the members, then the
    // bases.
    freeTables();
}

template <class Box, class Primitive>
void* VelquinMetaballInstanceOf<Box, Primitive>::getInterface(VR::InterfaceID id) {
    switch (id) {
    case VR::EXT_SHADE_DATA:
        return static_cast<void*>(static_cast<VR::ShadeData*>(this));
    case VR::EXT_SHADE_INSTANCE:
        return static_cast<void*>(static_cast<VR::ShadeInstance*>(this));
    case VR::EXT_OBJECT_SHADE_INSTANCE:
        return static_cast<void*>(
            static_cast<VR::ObjectShadeInstance*>(static_cast<VR::ShadeInstance*>(this)));
    case VR::EXT_GEOMETRY_STATS:
        return static_cast<void*>(static_cast<VR::GeometryStats*>(&stats));
    case VR::EXT_SURFACE_PROPERTIES:
        return static_cast<void*>(
            static_cast<VR::SurfaceProperties*>(static_cast<VRenderInstance*>(this)));
    default:
        return VR::DynamicPrimitive<Box>::getInterface(id);
    }
}

namespace {
long long metaballCount(const VelquinMetaballPrimitiveStatic& p) {
    return p.count;
}
long long metaballCount(const VelquinMetaballPrimitiveMoving& p) {
    return p.segmentCount > 0 && p.segmentCounts != nullptr ? p.segmentCounts[0] : 0;
}
} // namespace

template <class Box, class Primitive>
long long VelquinMetaballInstanceOf<Box, Primitive>::Stats::geometryItemCount() const {
    return metaballCount(primitive_);
}

template <class Box, class Primitive>
bool VelquinMetaballInstanceOf<Box, Primitive>::Stats::traceWork(VR::TraceWork& work) const {
    TraceCounters sum;
    for (std::int32_t i = 0; i < tableCount; ++i) {
        if (tables[i] != nullptr) {
            sum.add(tables[i]->counters);
        }
    }
    work.samples = sum.samples;
    work.distanceTests = sum.distanceTests;
    work.evaluations = sum.contributing;
    work.skippedSamples = sum.skipped;
    work.leafVisits = sum.leafVisits;
    work.candidates = sum.candidates;
    return true;
}

template <class Box, class Primitive>
Point3 VelquinMetaballInstanceOf<Box, Primitive>::GetFaceNormal(int) {
    return Point3(0.0f, 0.0f, 1.0f);
}

template <class Box, class Primitive>
Point3 VelquinMetaballInstanceOf<Box, Primitive>::GetFaceVertNormal(int, int) {
    return Point3(0.0f, 0.0f, 1.0f);
}

// The instance has no faces: the outputs of the face queries stay as the caller left them.
template <class Box, class Primitive>
void VelquinMetaballInstanceOf<Box, Primitive>::GetFaceVertNormals(int, Point3[3]) {}

template <class Box, class Primitive>
Point3 VelquinMetaballInstanceOf<Box, Primitive>::GetCamVert(int) {
    return Point3(0.0f, 0.0f, 0.0f);
}

template <class Box, class Primitive>
void VelquinMetaballInstanceOf<Box, Primitive>::GetObjVerts(int, Point3[3]) {}

template <class Box, class Primitive>
void VelquinMetaballInstanceOf<Box, Primitive>::GetCamVerts(int, Point3[3]) {}

template <class Box, class Primitive>
int VelquinMetaballInstanceOf<Box, Primitive>::Execute(int, std::uintptr_t, std::uintptr_t,
                                                       std::uintptr_t) {
    return 0;
}

template <class Box, class Primitive>
void VelquinMetaballInstanceOf<Box, Primitive>::renderBegin(TimeValue t, VR::VRayCore* vray) {
    VRenderInstance::renderBegin(t, vray);
    freeTables();
    createTables(vray != nullptr ? vray->getSequenceData().numThreads : 0);
}

template <class Box, class Primitive>
void VelquinMetaballInstanceOf<Box, Primitive>::frameBegin(TimeValue t, VR::VRayCore* vray) {
    VRenderInstance::frameBegin(t, vray);
    setTransforms(t, vray);
    compile(t, vray);
}

template <class Box, class Primitive>
void VelquinMetaballInstanceOf<Box, Primitive>::registerGeometry(VR::VRayCore* vray) {
    registeredId.store(-1, std::memory_order_relaxed);
    VR::RayServerInterface* rayserver =
        vray != nullptr ? vray->getSequenceData().rayserver : nullptr;
    if (rayserver == nullptr) {
        return;
    }
    const int id = rayserver->newRenderID();
    if constexpr (kMoving) {
        rayserver->storeDynamicMovingPrimitive(dynamicPart(), dynamicPart(), id);
    } else {
        rayserver->storeDynamicStaticPrimitive(dynamicPart(), dynamicPart(), id);
    }
}

template <class Box, class Primitive>
void VelquinMetaballInstanceOf<Box, Primitive>::frameEnd(VR::VRayCore* vray) {
    // The compiled frame stays with the primitive until the next compile or destruction.
    VRenderInstance::frameEnd(vray);
}

template <class Box, class Primitive>
void VelquinMetaballInstanceOf<Box, Primitive>::renderEnd(VR::VRayCore* vray) {
    VRenderInstance::renderEnd(vray);
    freeTables();
}

template <class Box, class Primitive>
void VelquinMetaballInstanceOf<Box, Primitive>::expandForThread(VR::RayServerInterface* rayserver,
                                                                int threadIndex) {
    if (rayserver == nullptr) {
        return;
    }
    // Two threads may expand for the first time at once. Each may ask for an identifier, but only
    // the first to publish one keeps it: the other adopts it, so every thread inserts the
    // primitive under the same identifier without a lock. (The losing request is simply unused.)
    std::int32_t id = registeredId.load(std::memory_order_acquire);
    if (id == -1) {
        const std::int32_t fresh = rayserver->newPrimitiveID(threadIndex, &primitive);
        std::int32_t expected = -1;
        if (registeredId.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel,
                                                 std::memory_order_acquire)) {
            id = fresh;
        } else {
            id = expected;
        }
    }
    rayserver->insertPrimitive(threadIndex, &primitive, dynamicPart(), id);
}

template <class Box, class Primitive>
void VelquinMetaballInstanceOf<Box, Primitive>::collapseForThread(VR::RayServerInterface* rayserver,
                                                                  int threadIndex) {
    if (rayserver != nullptr) {
        rayserver->removePrimitive(threadIndex, &primitive);
    }
}

template <class Box, class Primitive>
void VelquinMetaballInstanceOf<Box, Primitive>::setIntersectionData(VR::RayBase& ray,
                                                                    VR::RayResult& result) {
    result.isHit = 1;
    result.dist = ray.nearestDist;
    result.primitive = ray.hitPrimitive != nullptr ? ray.hitPrimitive : &primitive;
    result.sd = static_cast<VR::ShadeData*>(this);
    result.si = static_cast<VR::ShadeInstance*>(this);
    result.surfaceProps = static_cast<VR::SurfaceProperties*>(static_cast<VRenderInstance*>(this));
    for (int i = 0; i < 3; ++i) {
        result.wpoint[i] = ray.p[i] + static_cast<double>(ray.dir[i]) * ray.nearestDist;
    }

    // The colour is the one the primitive kept for exactly this ray. A frame without colours,
    // or a record that is missing or was written by another ray (the hit was made by a different
    // primitive, or the table could not grow), reports no colour: black, marked invalid, so the
    // material falls back to its own colour instead of showing another ray's.
    result.metaballColor = Color(0.0f, 0.0f, 0.0f);
    result.metaballColorValid = 0;
    const VR::VRayContext* rc = ray.rc;
    if (rc == nullptr || primitive.colors == nullptr) {
        return;
    }
    const HitRecord* record =
        findHitRecord(hitTables, hitTableCount, rc->threadIndex, rc->slot, rc->rayTag);
    if (record != nullptr) {
        result.metaballColor = Color(record->data[3], record->data[4], record->data[5]);
        result.metaballColorValid = 1;
    }
}

template <class Box, class Primitive>
void VelquinMetaballInstanceOf<Box, Primitive>::setTransforms(TimeValue t, VR::VRayCore* vray) {
    INode* node = GetINode();
    const Matrix3 tm = node != nullptr ? node->GetObjectTM(t) : Matrix3();
    objToWorldTM = tm;
    worldToObjTM = tm.Inverse();

    Matrix3 worldToCam, camToWorld;
    if (vray != nullptr) {
        worldToCam = vray->getFrameData().worldToCam;
        camToWorld = vray->getFrameData().camToWorld;
    }
    objToWorld = tm;
    camToObj = camToWorld * worldToObjTM;
    objToCam = tm * worldToCam;
    normalObjToCam = normalTransform(objToCam);
    normalCamToObj = normalTransform(camToObj);
    mesh = &emptyMesh;
}

template <class Box, class Primitive>
bool VelquinMetaballInstanceOf<Box, Primitive>::createTables(std::int32_t count) {
    if (count <= 0) {
        return true;
    }
    HitRecordTable** tables = new (std::nothrow) HitRecordTable*[count]();
    if (tables == nullptr) {
        return false;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        tables[i] = new (std::nothrow) HitRecordTable();
        if (tables[i] == nullptr) {
            for (std::int32_t j = 0; j < i; ++j) {
                delete tables[j];
            }
            delete[] tables;
            return false;
        }
    }
    hitTables = tables;
    hitTableCount = count;
    // The primitive reads the tables through its own pointer; keep it from dangling between a
    // new render's tables and the next compile.
    primitive.hitTable = hitTables;
    primitive.hitTableCount = hitTableCount;
    stats.tables = hitTables;
    stats.tableCount = hitTableCount;
    return true;
}

template <class Box, class Primitive> void VelquinMetaballInstanceOf<Box, Primitive>::freeTables() {
    if (hitTables != nullptr) {
        for (std::int32_t i = 0; i < hitTableCount; ++i) {
            delete hitTables[i];
        }
        delete[] hitTables;
    }
    hitTables = nullptr;
    hitTableCount = 0;
    primitive.hitTable = nullptr;
    primitive.hitTableCount = 0;
    stats.tables = nullptr;
    stats.tableCount = 0;
}

template <class Box, class Primitive>
void VelquinMetaballInstanceOf<Box, Primitive>::compile(TimeValue t, VR::VRayCore* vray) {
    MetaballRenderParams params;
    FrameSwitches switches;
    if (pblock != nullptr) {
        readRenderParams(pblock, t, kMoving, params, switches);
    }

    // Gathering. Each call hands out arrays that pass to the primitive at setup.
    float* positions = nullptr;
    double* sizes = nullptr;
    float* colors = nullptr;
    std::int32_t count = 0;
    std::int32_t segments = 0;
    std::int32_t* segmentCounts = nullptr;
    float** segmentPositions = nullptr;
    double** segmentSizes = nullptr;

    stats.nonFinite = 0;
    stats.nonPositiveSize = 0;
    const int threads = vray != nullptr ? std::max(1, vray->getSequenceData().numThreads) : 1;
    if constexpr (!kMoving) {
        if (pblock != nullptr) {
            GatherBuffers buffers;
            buffers.defaultSizeDelta = 0.0f;
            buffers.baseSize = params.radius;
            buffers.threads = threads;
            if (!gatherStatic(buffers, switches.useScale, switches.useColor, count, positions,
                              sizes, colors, pblock, t)) {
                count = 0;
                positions = nullptr;
                sizes = nullptr;
                colors = nullptr;
            }
            stats.nonFinite = buffers.droppedNonFinite;
            stats.nonPositiveSize = buffers.droppedNonPositiveSize;
        }
    } else {
        segments = compiledSegmentCount(params.segmentCount);
        params.segmentCount = segments;
        const VR::VRayFrameData* frame = vray != nullptr ? &vray->getFrameData() : nullptr;
        const TimeValue ts0 = frame != nullptr ? truncateTicks(frame->mbStart) : t;
        const TimeValue te = frame != nullptr ? truncateTicks(frame->mbEnd) : t;
        const TimeValue step = segmentStep(ts0, te, segments);

        segmentCounts = new (std::nothrow) std::int32_t[segments]();
        segmentPositions = new (std::nothrow) float*[2 * segments]();
        segmentSizes = new (std::nothrow) double*[2 * segments]();
        if (segmentCounts == nullptr || segmentPositions == nullptr || segmentSizes == nullptr) {
            // Out of memory: the frame is compiled empty (no segments, nothing to hit).
            freeSegmentArrays(segmentCounts, segmentPositions, segmentSizes, 0);
            segmentCounts = nullptr;
            segmentPositions = nullptr;
            segmentSizes = nullptr;
            segments = 0;
            params.segmentCount = 0;
        }
        for (std::int32_t i = 0; i < segments && pblock != nullptr; ++i) {
            const MotionSegment seg = motionSegment(ts0, step, i);
            GatherBuffers buffers;
            buffers.defaultSizeDelta = 0.0f;
            buffers.baseSize = params.radius;
            buffers.velocityThreshold = switches.velocityThreshold;
            buffers.threads = threads;
            // Only segment 0 carries colours; they are indexed by metaball in every segment.
            const bool useColor = i == 0 && switches.useColor;
            float* segColors = nullptr;
            if (!gatherMoving(buffers, switches.useScale, useColor, segmentCounts[i],
                              segmentPositions[2 * i], segmentPositions[2 * i + 1],
                              segmentSizes[2 * i], segmentSizes[2 * i + 1], segColors, pblock,
                              seg.ts, seg.te)) {
                segmentCounts[i] = 0;
                segmentPositions[2 * i] = nullptr;
                segmentPositions[2 * i + 1] = nullptr;
                segmentSizes[2 * i] = nullptr;
                segmentSizes[2 * i + 1] = nullptr;
                segColors = nullptr;
            }
            if (i == 0) {
                stats.nonFinite = buffers.droppedNonFinite;
                stats.nonPositiveSize = buffers.droppedNonPositiveSize;
                colors = segColors;
            } else {
                delete[] segColors; // never handed out without useColor; freed should it be
            }
        }
    }

    params.colourKernel = colourKernelFor(switches.color, params.fieldFunction);

    if (hitTables == nullptr) {
        createTables(vray != nullptr ? vray->getSequenceData().numThreads : 0);
    } else {
        for (std::int32_t i = 0; i < hitTableCount; ++i) {
            hitTables[i]->reset();
        }
    }

    const std::int32_t id = registeredId.load(std::memory_order_relaxed);
    if constexpr (!kMoving) {
        CompiledFrame frame;
        frame.params = params;
        frame.positions = positions;
        frame.sizes = sizes;
        frame.colors = colors;
        frame.count = count;
        frame.owner = dynamicPart();
        frame.renderId = id;
        frame.hitTables = hitTables;
        frame.hitTableCount = hitTableCount;
        frame.threads = threads;
        primitive.setup(frame);
    } else {
        CompiledMovingFrame frame;
        frame.params = params;
        frame.segmentPositions = segmentPositions;
        frame.segmentSizes = segmentSizes;
        frame.colors = colors;
        frame.segmentCounts = segmentCounts;
        frame.owner = dynamicPart();
        frame.renderId = id;
        frame.hitTables = hitTables;
        frame.hitTableCount = hitTableCount;
        primitive.setup(frame);
    }
}

template class VelquinMetaballInstanceOf<VR::StaticBox, VelquinMetaballPrimitiveStatic>;
template class VelquinMetaballInstanceOf<VR::MovingBox, VelquinMetaballPrimitiveMoving>;

} // namespace velquin
