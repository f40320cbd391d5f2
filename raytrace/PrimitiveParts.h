// The renderer-facing operations both primitives share: constants, and the shading queries that
// are answered by the render instance that owns the primitive.
#pragma once

#include "host/vray.h"

namespace velquin {

// Type identifier of the metaball primitives.
inline constexpr int kPrimitiveTypeId = 268505686;

// Derived must have a member `VR::GenericPrimitive* owner` (the instance's dynamic-primitive
// part, or null); the shading parts of a hit are the owner's.
template <class Derived, class Box> class ForwardingPrimitive : public VR::DynamicPrimitive<Box> {
public:
    int getRTTIType() override { return 0; }
    int getEffectiveFlags() override { return getFlags(); }
    int isVolumetric() override { return 0; }
    VR::Vector getVelocity(const VR::VRayContext&) override { return VR::Vector(0, 0, 0); }
    VR::Vector getAngularVelocity(const VR::VRayContext&) override { return VR::Vector(0, 0, 0); }
    VR::Vector getObjectVelocity(const VR::VRayContext& rc) override { return getVelocity(rc); }
    VR::Vector getObjectAngularVelocity(const VR::VRayContext& rc) override {
        return getAngularVelocity(rc);
    }
    VR::ShadeData* getShadeData(const VR::VRayContext& rc) override {
        return ownerPart() ? ownerPart()->getShadeData(rc) : nullptr;
    }
    VR::ShadeInstance* getShadeInstance(const VR::VRayContext& rc) override {
        return ownerPart() ? ownerPart()->getShadeInstance(rc) : nullptr;
    }
    int getMtlID(const VR::VRayContext&) override { return -1; }
    VR::SurfaceProperties* getSurfaceProperties(const VR::VRayContext& rc) override {
        return ownerPart() ? ownerPart()->getSurfaceProperties(rc) : nullptr;
    }
    VR::Shadeable* getShadeable(const VR::VRayContext& rc) override {
        return ownerPart() ? ownerPart()->getShadeable(rc) : nullptr;
    }
    void setIntersectionData(VR::RayBase& ray, VR::RayResult& result) override {
        if (ownerPart()) {
            ownerPart()->setIntersectionData(ray, result);
        } else {
            VR::DynamicPrimitive<Box>::setIntersectionData(ray, result);
        }
    }
    VRenderInstance* getRenderInstance() override {
        return ownerPart() ? ownerPart()->getRenderInstance() : nullptr;
    }
    int getObjectID(const VR::VRayContext& rc) override {
        return ownerPart() ? ownerPart()->getObjectID(rc) : 0;
    }
    int type() override { return kPrimitiveTypeId; }
    int canSplit() override { return 1; }
    int getFlags() override { return 0; }
    int isLight() override { return 0; }

private:
    VR::GenericPrimitive* ownerPart() { return static_cast<Derived*>(this)->owner; }
};

} // namespace velquin
