// Texture maps and shading contexts of the host stand-in.
//
// A ShadeContext describes one shading point to a texture map. Only P, Normal and V must be
// answered by every context; every other query has a base answer that holds for a context that
// knows nothing more than those (identity reference frames, no screen, no lights, no cache).
//
// Texmap::EvalMono / EvalColor are called concurrently from many render threads with one
// context per thread: the built-in maps keep no mutable state after construction.
#pragma once

#include "platform/max/maxtypes.h"
#include "platform/max/ref.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

class INode;
class Object;
class Texmap;
class ShadeContext;
class IRenderElement;
class RenderGlobalContext;

// Heap-operator base of the host's classes; the stand-in uses the global operators.
class MaxHeapOperators {};

// Objects that hand out published interfaces by Interface_ID.
class InterfaceServer {
public:
    virtual ~InterfaceServer() = default;
    virtual BaseInterface* GetInterface(Interface_ID id) {
        (void)id;
        return nullptr;
    }
};

// Reference frames of the point and vector conversions.
enum RefFrame { REF_CAMERA = 0, REF_WORLD = 1, REF_OBJECT = 2 };

// Shading modes.
constexpr int SCMODE_NORMAL = 0;
constexpr int SCMODE_SHADOW = 1;

// What a shading pass writes: colour, transparency, index of refraction and G-buffer id.
class ShadeOutput : public MaxHeapOperators {
public:
    ULONG flags = 0;
    Color c;
    Color t;
    float ior = 1.0f;
    int gbufId = 0;
    // n < 0 resets everything; otherwise only the colour parts (the host keeps the id).
    void Reset(int n = -1) {
        c = Color(0.0f, 0.0f, 0.0f);
        t = Color(0.0f, 0.0f, 0.0f);
        ior = 1.0f;
        if (n < 0) {
            flags = 0;
            gbufId = 0;
        }
    }
};

// A light as a shading context sees it.
class LightDesc : public MaxHeapOperators {
public:
    virtual ~LightDesc() = default;
    // Light reaching the shading point: colour, direction towards the light, N.L and the diffuse
    // coefficient. Returns FALSE when the point is not lit.
    virtual BOOL Illuminate(ShadeContext& sc, Point3& normal, Color& color, Point3& dir,
                            float& dotNL, float& diffuseCoef) = 0;
};

class ShadeContext : public InterfaceServer, public MaxHeapOperators {
public:
    // Base state; a new context is a normal-mode, mapped, unfiltered, unshadowed front face.
    int mode = SCMODE_NORMAL;
    BOOL doMaps = TRUE;
    BOOL filterMaps = FALSE;
    BOOL shadow = FALSE;
    BOOL backFace = FALSE;
    int mtlNum = 0;
    Color ambientLight{1.0f, 1.0f, 1.0f};
    int nLights = 0;
    int rayLevel = 0;
    int xshadeID = 0;
    RenderGlobalContext* globContext = nullptr;
    ShadeOutput out;

    ShadeContext() = default;
    ~ShadeContext() override = default;
    virtual void ResetOutput(int n = -1) { out.Reset(n); }

    // What every context must describe: the point, the shading normal and the view direction.
    virtual Point3 P() = 0;
    virtual Point3 Normal() = 0;
    virtual Point3 V() = 0;

    virtual Class_ID ClassID() { return Class_ID(0, 0); }
    virtual BOOL InMtlEditor() { return FALSE; }
    virtual int Antialias() { return 0; }
    virtual int ProjType() { return 0; }
    virtual LightDesc* Light(int n) {
        (void)n;
        return nullptr;
    }
    virtual TimeValue CurTime() { return 0; }
    virtual int NodeID() { return -1; }
    virtual INode* Node() { return nullptr; }
    virtual Object* GetEvalObject() { return nullptr; }
    virtual Point3 BarycentricCoords() { return Point3(0.0f, 0.0f, 0.0f); }
    virtual int FaceNumber() { return 0; }

    virtual void SetNormal(Point3 p) { (void)p; }
    virtual Point3 OrigNormal() { return Normal(); }
    virtual Point3 GNormal() { return Normal(); }
    virtual float Curve() { return 0.0f; }
    virtual void SetView(Point3 p) { (void)p; }
    virtual Point3 OrigView() { return V(); }
    // Mirror of the view direction about the normal.
    virtual Point3 ReflectVector();
    // Refraction of the view direction through the surface with the context's IOR (total
    // internal reflection gives the reflection vector).
    virtual Point3 RefractVector(float ior);
    virtual void SetIOR(float ior) { (void)ior; }
    virtual float GetIOR() { return 1.0f; }
    virtual Point3 CamPos() { return Point3(0.0f, 0.0f, 0.0f); }

    virtual Point3 DP() { return Point3(0.0f, 0.0f, 0.0f); }
    virtual void DP(Point3& dpdx, Point3& dpdy) {
        dpdx = Point3(0.0f, 0.0f, 0.0f);
        dpdy = Point3(0.0f, 0.0f, 0.0f);
    }
    virtual Point3 PObj() { return PointTo(P(), REF_OBJECT); }
    virtual Point3 DPObj() { return VectorTo(DP(), REF_OBJECT); }
    virtual Box3 ObjectBox() { return Box3(); }
    virtual Point3 PObjRelBox();
    virtual Point3 DPObjRelBox() { return Point3(0.0f, 0.0f, 0.0f); }
    virtual void ScreenUV(Point2& uv, Point2& duv) {
        uv = Point2();
        duv = Point2();
    }
    virtual IPoint2 ScreenCoord() { return IPoint2(); }
    virtual Point2 SurfacePtScreen() { return Point2(); }

    virtual Point3 UVW(int channel = 0) {
        (void)channel;
        return Point3(0.0f, 0.0f, 0.0f);
    }
    virtual Point3 DUVW(int channel = 0) {
        (void)channel;
        return Point3(0.0f, 0.0f, 0.0f);
    }
    virtual void DPdUVW(Point3 dP[3], int channel = 0) {
        (void)channel;
        dP[0] = dP[1] = dP[2] = Point3(0.0f, 0.0f, 0.0f);
    }
    virtual int BumpBasisVectors(Point3 dP[2], int axis, int channel = 0) {
        (void)dP;
        (void)axis;
        (void)channel;
        return 0;
    }
    virtual Point3 UVWNormal(int channel = 0) {
        (void)channel;
        return Point3(0.0f, 0.0f, 1.0f);
    }
    virtual float RayDiam() { return Length(DP()); }
    virtual float RayConeAngle() { return 0.0f; }
    virtual float CamNearRange() { return 0.0f; }
    virtual float CamFarRange() { return 0.0f; }

    // The map seen along `view`: the view direction is swapped in for the evaluation.
    virtual AColor EvalEnvironMap(Texmap* map, Point3 view);
    virtual AColor EvalGlobalEnvironMap(Point3 dir) {
        (void)dir;
        return AColor(0.0f, 0.0f, 0.0f, 0.0f);
    }
    virtual void GetBGColor(Color& bgcol, Color& transp, BOOL fogBG = TRUE) {
        (void)fogBG;
        bgcol = Color(0.0f, 0.0f, 0.0f);
        transp = Color(0.0f, 0.0f, 0.0f);
    }

    // Conversions between the world (the context's own frame) and the other frames. Without
    // transforms every frame is the world.
    virtual Point3 PointTo(const Point3& p, RefFrame ito) {
        (void)ito;
        return p;
    }
    virtual Point3 PointFrom(const Point3& p, RefFrame ifrom) {
        (void)ifrom;
        return p;
    }
    virtual Point3 VectorTo(const Point3& p, RefFrame ito) {
        (void)ito;
        return p;
    }
    virtual Point3 VectorFrom(const Point3& p, RefFrame ifrom) {
        (void)ifrom;
        return p;
    }
    // As VectorTo / VectorFrom but keeping the vector's length (the frame's scale removed).
    virtual Point3 VectorToNoScale(const Point3& p, RefFrame ito);
    virtual Point3 VectorFromNoScale(const Point3& p, RefFrame ifrom);

    virtual void SetGBufferID(int gbid) { out.gbufId = gbid; }
    virtual FILE* DebugFile() { return nullptr; }

    // Per-point texture cache; the base keeps nothing.
    virtual BOOL GetCache(Texmap* map, AColor& c) {
        (void)map;
        (void)c;
        return FALSE;
    }
    virtual BOOL GetCache(Texmap* map, float& f) {
        (void)map;
        (void)f;
        return FALSE;
    }
    virtual BOOL GetCache(Texmap* map, Point3& p) {
        (void)map;
        (void)p;
        return FALSE;
    }
    virtual void PutCache(Texmap* map, const AColor& c) {
        (void)map;
        (void)c;
    }
    virtual void PutCache(Texmap* map, const float f) {
        (void)map;
        (void)f;
    }
    virtual void PutCache(Texmap* map, const Point3& p) {
        (void)map;
        (void)p;
    }
    virtual void TossCache(Texmap* map) { (void)map; }

    virtual std::intptr_t Execute(int cmd, std::uintptr_t arg1 = 0, std::uintptr_t arg2 = 0,
                                  std::uintptr_t arg3 = 0) {
        (void)cmd;
        (void)arg1;
        (void)arg2;
        (void)arg3;
        return 0;
    }
    virtual float GetSampleSizeScale() { return 1.0f; }
    virtual BOOL IsSuperSampleOn() { return FALSE; }
    virtual BOOL IsTextureSuperSampleOn() { return FALSE; }
    virtual int GetNSuperSample() { return 0; }

    // Sum of the diffuse light of the context's lights (nLights of them, through Light(i)).
    virtual Color DiffuseIllum();

    // Interfaces by 32-bit ID; the base offers none.
    virtual void* GetInterface(ULONG id) {
        (void)id;
        return nullptr;
    }
    using InterfaceServer::GetInterface;

    // Render elements; the base renders none.
    virtual int NRenderElements() { return 0; }
    virtual IRenderElement* GetRenderElement(int n) {
        (void)n;
        return nullptr;
    }
};

// A texture map. Update prepares the map for a time (narrowing `valid` to the interval over which
// the result holds); the evaluations may then run concurrently.
class Texmap : public ReferenceTarget {
public:
    SClass_ID SuperClassID() override { return TEXMAP_CLASS_ID; }
    virtual void Update(TimeValue t, Interval& valid);
    // Convenience form of Update that ignores validity.
    void Update(TimeValue t) {
        Interval v = FOREVER;
        Update(t, v);
    }
    virtual float EvalMono(ShadeContext& sc) = 0;
    virtual AColor EvalColor(ShadeContext& sc) {
        float v = EvalMono(sc);
        return AColor(v, v, v, 1.0f);
    }
    // Perturbation of the normal for bump mapping; the built-in maps have none.
    virtual Point3 EvalNormalPerturb(ShadeContext& sc) {
        (void)sc;
        return Point3(0.0f, 0.0f, 0.0f);
    }

    // Times Update was called, and the last time passed (observable by the tests of a caller).
    int UpdateCount() const { return updateCount_; }
    TimeValue LastUpdateTime() const { return lastUpdate_; }

private:
    int updateCount_ = 0;
    TimeValue lastUpdate_ = 0;
};

// ---- Built-in maps ----

// Class IDs of the built-in maps.
constexpr Class_ID CONSTANT_TEXMAP_CLASS_ID(0x7e510001, 0x1);
constexpr Class_ID GRADIENT_TEXMAP_CLASS_ID(0x7e510002, 0x1);
constexpr Class_ID NOISE_TEXMAP_CLASS_ID(0x7e510003, 0x1);
constexpr Class_ID CHECKER_TEXMAP_CLASS_ID(0x7e510004, 0x1);

// One value everywhere.
class ConstantTexmap : public Texmap {
public:
    explicit ConstantTexmap(float value) : value_(value) {}
    Class_ID ClassID() override { return CONSTANT_TEXMAP_CLASS_ID; }
    void GetClassName(MSTR& s) override { s = "constant"; }
    float EvalMono(ShadeContext& sc) override;
    ReferenceTarget* Clone(RemapDir& remap) override;
    float Value() const { return value_; }

private:
    const float value_;
};

// A linear ramp along one world axis: (p[axis] - from) / (to - from) in single precision,
// clamped to [0, 1].
class GradientTexmap : public Texmap {
public:
    GradientTexmap(int axis, float from, float to);
    Class_ID ClassID() override { return GRADIENT_TEXMAP_CLASS_ID; }
    void GetClassName(MSTR& s) override { s = "gradient"; }
    float EvalMono(ShadeContext& sc) override;
    ReferenceTarget* Clone(RemapDir& remap) override;
    int Axis() const { return axis_; }

private:
    const int axis_;
    const float from_, to_;
};

// Three-dimensional gradient noise summed over `levels` octaves (each of double frequency and
// half amplitude), scaled by 1/size, mapped to [0, 1] and then stretched between low and high.
// The permutation is made from the seed at construction; evaluation only reads it.
class NoiseTexmap : public Texmap {
public:
    NoiseTexmap(float size, int levels, float low, float high, std::uint32_t seed);
    Class_ID ClassID() override { return NOISE_TEXMAP_CLASS_ID; }
    void GetClassName(MSTR& s) override { s = "noise"; }
    float EvalMono(ShadeContext& sc) override;
    ReferenceTarget* Clone(RemapDir& remap) override;
    // The raw noise at a point, roughly in [-1, 1]; 0 at every integer lattice point.
    double Noise(double x, double y, double z) const;

private:
    const float size_;
    const int levels_;
    const float low_, high_;
    const std::uint32_t seed_;
    unsigned char perm_[512];
};

// Three-dimensional checker of cubes of edge `size`: value1 where the sum of the cell indices is
// even (the cell of the origin), value2 where it is odd.
class CheckerTexmap : public Texmap {
public:
    CheckerTexmap(float size, float value1, float value2);
    Class_ID ClassID() override { return CHECKER_TEXMAP_CLASS_ID; }
    void GetClassName(MSTR& s) override { s = "checker"; }
    float EvalMono(ShadeContext& sc) override;
    ReferenceTarget* Clone(RemapDir& remap) override;

private:
    const float size_;
    const float value1_, value2_;
};

// Parameters of a map by name, as a scene file gives them.
using TexmapParams = std::map<std::string, double>;

// Makes a built-in map by type name ("constant", "gradient", "noise", "checker"). Unknown types,
// unknown parameter names and values out of range give null and, when `error` is given, a
// message naming the parameter. The caller owns the map (DeleteThis).
//   constant: value (1)
//   gradient: axis (2; 0, 1 or 2), from (0), to (1; must differ from `from`)
//   noise:    size (1; > 0), levels (3; 1..16, whole), low (0), high (1; > low), seed (0; whole, >=
//   0) checker:  size (1; > 0), value1 (0), value2 (1)
Texmap* CreateTexmap(const std::string& type, const TexmapParams& params,
                     std::string* error = nullptr);
