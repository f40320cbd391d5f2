// The render instances of a VelquinMetaball node: at every frame they read the object's
// parameters, gather the metaballs and compile them into their embedded primitive, which they
// offer to the ray server as a dynamic primitive; they also answer the renderer's shading
// queries for the hits on that primitive.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "host/max_core.h"
#include "host/max_scene.h"
#include "host/vray.h"
#include "raytrace/HitRecordTable.h"
#include "raytrace/MovingPrimitive.h"
#include "raytrace/StaticPrimitive.h"

namespace velquin {

// The shading parts shared by both instance kinds. The surface is built in world space, so the
// object-space queries answer world-space values and map vectors unchanged.
class VelquinMetaballInstance : public VR::ShadeData, public VR::ShadeInstance {
public:
    // ShadeData: normal, texture coordinates and their bases.
    int getShadeDataType() override { return 7; }
    VR::Vector getNormal(const VR::VRayContext& rc) override;
    VR::Vector getUVWcoords(const VR::VRayContext& rc, int channel) override;
    void getUVWderivs(const VR::VRayContext& rc, int channel, VR::Vector derivs[2]) override;
    void getUVWbases(const VR::VRayContext& rc, int channel, VR::Vector bases[3]) override;
    VR::Vector getUVWnormal(const VR::VRayContext& rc, int channel) override;

    // ObjectShadeInstance and ShadeInstance.
    VR::Vector worldToObjectPt(const VR::VRayContext& rc, const VR::Vector& p) override;
    VR::Vector worldToObjectVec(const VR::VRayContext& rc, const VR::Vector& v) override;
    VR::Vector objectToWorldPt(const VR::VRayContext& rc, const VR::Vector& p) override;
    VR::Vector objectToWorldVec(const VR::VRayContext& rc, const VR::Vector& v) override;
    VR::Vector getBasePt(const VR::VRayContext& rc) override;
    VR::Vector getBaseGNormal(const VR::VRayContext& rc) override;
    VR::Vector getBaseNormal(const VR::VRayContext& rc) override;
    VR::Vector getBaseBumpNormal(const VR::VRayContext& rc) override;

protected:
    VelquinMetaballInstance() = default;
    // objToWorld of the last frame compile, whose axes give the texture-coordinate bases.
    virtual const Matrix3& objectTransform() const = 0;
};

// One instance kind: Box is the renderer's box type (StaticBox still, MovingBox motion-blurred),
// Primitive the embedded primitive it compiles. Used through the two names below.
template <class Box, class Primitive>
class VelquinMetaballInstanceOf : public VelquinMetaballInstance,
                                  public VRenderInstance,
                                  public VR::Shadeable,
                                  public VR::DynamicPrimitive<Box> {
public:
    static constexpr bool kMoving = std::is_same_v<Box, VR::MovingBox>;

    // pblock is the object's parameter block (not owned); read at every frame compile.
    explicit VelquinMetaballInstanceOf(IParamBlock2* pblock);
    ~VelquinMetaballInstanceOf() override;

    // Interface queries of every part, routed once here.
    void* getInterface(VR::InterfaceID id) override;

    // ---- RenderInstance ----
    Interval MeshValidity() override { return FOREVER; }
    Point3 GetFaceNormal(int faceNum) override;
    Point3 GetFaceVertNormal(int faceNum, int vertNum) override;
    void GetFaceVertNormals(int faceNum, Point3 n[3]) override;
    Point3 GetCamVert(int vertNum) override;
    void GetObjVerts(int fnum, Point3 obp[3]) override;
    void GetCamVerts(int fnum, Point3 cp[3]) override;
    int Execute(int cmd, std::uintptr_t arg1 = 0, std::uintptr_t arg2 = 0,
                std::uintptr_t arg3 = 0) override;

    // ---- VRenderInstance ----
    void renderBegin(TimeValue t, VR::VRayCore* vray) override;
    // The frame compile: transforms, parameters, gathering, colour kernel, tables, primitive.
    void frameBegin(TimeValue t, VR::VRayCore* vray) override;
    void registerGeometry(VR::VRayCore* vray) override;
    void frameEnd(VR::VRayCore* vray) override;
    void renderEnd(VR::VRayCore* vray) override;

    // ---- Shadeable ----
    void shade(VR::VRayContext& rc) override { fullShade(rc, 0); }

    // ---- dynamic primitive, as the ray server sees it ----
    void getBBox(Box& bbox) override { primitive.getBBox(bbox); }
    int canSplit() override { return primitive.canSplit(); }
    void split(int axis, float position, Box& left, Box& right) override {
        primitive.split(axis, position, left, right);
    }
    void expandForThread(VR::RayServerInterface* rayserver, int threadIndex) override;
    void collapseForThread(VR::RayServerInterface* rayserver, int threadIndex) override;
    void setIntersectionData(VR::RayBase& ray, VR::RayResult& result) override;
    // The remaining primitive operations are the embedded primitive's own.
    int getRTTIType() override { return primitive.getRTTIType(); }
    int getEffectiveFlags() override { return primitive.getEffectiveFlags(); }
    int collectPrimitives(VR::PrimitiveCollector* collector, int tag) override {
        return primitive.collectPrimitives(collector, tag);
    }
    int isVolumetric() override { return primitive.isVolumetric(); }
    VR::Vector getVelocity(const VR::VRayContext& rc) override { return primitive.getVelocity(rc); }
    VR::Vector getAngularVelocity(const VR::VRayContext& rc) override {
        return primitive.getAngularVelocity(rc);
    }
    VR::Vector getObjectVelocity(const VR::VRayContext& rc) override {
        return primitive.getObjectVelocity(rc);
    }
    VR::Vector getObjectAngularVelocity(const VR::VRayContext& rc) override {
        return primitive.getObjectAngularVelocity(rc);
    }
    int getMtlID(const VR::VRayContext& rc) override { return primitive.getMtlID(rc); }
    int intersect(VR::RayBase& ray) override { return primitive.intersect(ray); }
    int type() override { return primitive.type(); }
    int getFlags() override { return primitive.getFlags(); }
    int isLight() override { return primitive.isLight(); }
    VR::Vector getSurfaceNormal(ShadeContext& sc) override {
        return primitive.getSurfaceNormal(sc);
    }

    // The dynamic-primitive part: owner of the embedded primitive and what the ray server holds.
    VR::DynamicPrimitive<Box>* dynamicPart() { return this; }

    // Members, in this order.
    const std::int32_t moving;            // 1 for the motion-blurred kind; fixed at construction
    Matrix3 objToWorldTM;                 // objToWorld of the last frame compile
    Matrix3 worldToObjTM;                 // and its inverse
    Mesh emptyMesh;                       // never filled; the render record's mesh points to it
    Primitive primitive;                  // embedded; owns the arrays of the compiled frame
    HitRecordTable** hitTables = nullptr; // one per render thread
    std::int32_t hitTableCount = 0;
    // Identifier of the embedded primitive in the ray server: -1 after every registration, set
    // by the first expansion on any thread.
    std::atomic<std::int32_t> registeredId{-1};
    IParamBlock2* pblock; // the object's block (not owned)

    // The metaball count of the last frame compile, for the renderer's statistics (the first
    // segment's count when the frame is motion blurred).
    class Stats : public VR::GeometryStats {
    public:
        explicit Stats(const Primitive& p) : primitive_(p) {}
        long long geometryItemCount() const override;
        const char* geometryItemName() const override { return "metaballs"; }
        long long droppedNonFinite() const override { return nonFinite; }
        long long droppedNonPositiveSize() const override { return nonPositiveSize; }
        bool traceWork(VR::TraceWork& work) const override;

        // What gathering dropped at the last frame compile (the first segment's, when moving).
        long long nonFinite = 0;
        long long nonPositiveSize = 0;
        HitRecordTable* const* tables = nullptr;
        std::int32_t tableCount = 0;

    private:
        const Primitive& primitive_;
    };
    Stats stats{primitive};

protected:
    const Matrix3& objectTransform() const override { return objToWorldTM; }

private:
    void setTransforms(TimeValue t, VR::VRayCore* vray);
    // Tables for every render thread; false (and none) when memory runs out.
    bool createTables(std::int32_t count);
    void freeTables();
    void compile(TimeValue t, VR::VRayCore* vray);
};

using VelquinMetaballInstanceStatic =
    VelquinMetaballInstanceOf<VR::StaticBox, VelquinMetaballPrimitiveStatic>;
using VelquinMetaballInstanceMoving =
    VelquinMetaballInstanceOf<VR::MovingBox, VelquinMetaballPrimitiveMoving>;

extern template class VelquinMetaballInstanceOf<VR::StaticBox, VelquinMetaballPrimitiveStatic>;
extern template class VelquinMetaballInstanceOf<VR::MovingBox, VelquinMetaballPrimitiveMoving>;

} // namespace velquin
