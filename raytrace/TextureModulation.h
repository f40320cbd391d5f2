// A texture map modulating the field: wherever a marcher takes a field value, the value is first
// clamped and then multiplied by, or reduced by, the map's value at the sample point.
#pragma once

#include <cstdint>
#include <cstdio>

#include "host/max_texmap.h"

namespace velquin {

// A shading context that describes nothing but a point: the map sees it as world point, object
// point and texture coordinates alike, so 3D maps and UVW maps both vary with the metaballs.
class VelquinShadeContext : public ShadeContext {
public:
    VelquinShadeContext();
    void setPoint(const float p[3]) { point_ = Point3(p[0], p[1], p[2]); }

    BOOL InMtlEditor() override { return FALSE; }
    int Antialias() override { return 0; }
    int ProjType() override { return 0; }
    LightDesc* Light(int) override { return nullptr; }
    TimeValue CurTime() override { return 0; }
    int NodeID() override { return -1; }
    INode* Node() override { return nullptr; }
    Object* GetEvalObject() override { return nullptr; }
    Point3 BarycentricCoords() override { return Point3(0.0f, 0.0f, 0.0f); }
    int FaceNumber() override { return 0; }
    Point3 Normal() override { return up(); }
    void SetNormal(Point3) override {}
    Point3 OrigNormal() override { return up(); }
    Point3 GNormal() override { return up(); }
    float Curve() override { return 0.0f; }
    Point3 V() override { return up(); }
    void SetView(Point3) override {}
    Point3 OrigView() override { return up(); }
    Point3 ReflectVector() override { return up(); }
    Point3 RefractVector(float) override { return up(); }
    void SetIOR(float) override {}
    float GetIOR() override { return 1.0f; }
    Point3 CamPos() override { return up(); }
    Point3 P() override { return point_; }
    Point3 DP() override { return up(); }
    void DP(Point3&, Point3&) override {}
    Point3 PObj() override { return point_; }
    Point3 DPObj() override { return up(); }
    Box3 ObjectBox() override { return Box3(); }
    Point3 PObjRelBox() override { return up(); }
    Point3 DPObjRelBox() override { return up(); }
    void ScreenUV(Point2& uv, Point2& duv) override {
        uv = Point2{0.0f, 0.0f};
        duv = Point2{0.0f, 0.0f};
    }
    IPoint2 ScreenCoord() override { return IPoint2{0, 0}; }
    Point2 SurfacePtScreen() override { return Point2{0.0f, 0.0f}; }
    Point3 UVW(int) override { return point_; }
    Point3 DUVW(int) override { return up(); }
    void DPdUVW(Point3 dP[3], int) override { dP[0] = dP[1] = dP[2] = up(); }
    int BumpBasisVectors(Point3[2], int, int) override { return 0; }
    BOOL IsSuperSampleOn() override { return FALSE; }
    BOOL IsTextureSuperSampleOn() override { return FALSE; }
    int GetNSuperSample() override { return 0; }
    float GetSampleSizeScale() override { return 1.0f; }
    Point3 UVWNormal(int) override { return up(); }
    float RayDiam() override { return Length(DP()); }
    float RayConeAngle() override { return 0.0f; }
    AColor EvalGlobalEnvironMap(Point3) override { return AColor(0.0f, 0.0f, 0.0f, 0.0f); }
    BOOL GetCache(Texmap*, AColor&) override { return FALSE; }
    BOOL GetCache(Texmap*, float&) override { return FALSE; }
    BOOL GetCache(Texmap*, Point3&) override { return FALSE; }
    void PutCache(Texmap*, const AColor&) override {}
    void PutCache(Texmap*, const float) override {}
    void PutCache(Texmap*, const Point3&) override {}
    void TossCache(Texmap*) override {}
    std::intptr_t Execute(int, std::uintptr_t = 0, std::uintptr_t = 0,
                          std::uintptr_t = 0) override {
        return 0;
    }
    Point3 PointTo(const Point3& p, RefFrame) override { return p; }
    Point3 PointFrom(const Point3& p, RefFrame) override { return p; }
    Point3 VectorTo(const Point3& p, RefFrame) override { return p; }
    Point3 VectorFrom(const Point3& p, RefFrame) override { return p; }
    void GetBGColor(Color&, Color&, BOOL) override {}
    float CamNearRange() override { return 0.0f; }
    float CamFarRange() override { return 0.0f; }
    Class_ID ClassID() override { return Class_ID(0, 0); }
    FILE* DebugFile() override { return nullptr; }
    void SetGBufferID(int gbid) override { out.gbufId = gbid; }

private:
    static Point3 up() { return Point3(0.0f, 0.0f, 1.0f); }
    Point3 point_;
};

// The texture settings a primitive holds, filled at setup.
struct TextureModulation {
    Texmap* texmap = nullptr; // null: no modulation at all, not even the clamp
    bool textureType = false; // false multiply, true subtract
    float strength = 1.0f;
    float oneMinusStrength = 0.0f; // 1 - strength, once at setup
    bool useClamp = false;
    double clampTo = 1.0;
};

// Clamp, then subtract (tex x strength, in single precision) or multiply by the single-precision
// factor tex x strength + (1 - strength).
inline double applyTexture(const TextureModulation& m, float tex, double value) {
    if (m.useClamp && value > m.clampTo) {
        value = m.clampTo;
    }
    if (m.textureType) {
        return value - static_cast<double>(tex * m.strength);
    }
    return value * static_cast<double>(tex * m.strength + m.oneMinusStrength);
}

// The map's monochrome value at p, through the given context.
float textureAt(const TextureModulation& m, VelquinShadeContext& context, const float p[3]);

// The modulation rule: without a map the value is unchanged.
inline void modulateField(const TextureModulation& m, VelquinShadeContext& context,
                          const float p[3], double& value) {
    if (m.texmap == nullptr) {
        return;
    }
    value = applyTexture(m, textureAt(m, context, p), value);
}

} // namespace velquin
