// Renderer SDK stand-in: the render object that a scene object hands the renderer, and the render
// instances it creates per node. RenderInstance is the host's per-node render record that
// VRenderInstance extends.
#pragma once

#include "platform/max/maxtypes.h"
#include "platform/max/texmap.h"
#include "platform/vray/vraybase.h"
#include "platform/vray/vraycontext.h"
#include "platform/vray/vraycore.h"

#include <cstdint>
#include <vector>

class INode;
class Object;
class Mesh;
class Mtl;
class ObjLightDesc;
class VRenderInstance;

// Interface id under which a scene object offers its VRenderObject part.
constexpr ULONG I_VRAYGEOMETRY = 0x20122002;

// The host's render record of one node.
class RenderInstance {
public:
    ULONG flags = 0;
    Mtl* mtl = nullptr;
    Mesh* mesh = nullptr;
    float vis = 1.0f;
    int nodeID = 0;
    Box3 obBox;
    Point3 center;
    float radius = 0.0f;
    // Transforms of the node's object for the current frame; the normal transforms are the
    // inverse transposes of the point transforms.
    Matrix3 objToWorld;
    Matrix3 objToCam;
    Matrix3 normalObjToCam;
    Matrix3 camToObj;
    Matrix3 normalCamToObj;
    // Filled by the renderer: the next instance of its list and the lights that reach this one.
    RenderInstance* next = nullptr;
    std::vector<LightDesc*> lights;
    Object* evalObject = nullptr;

    RenderInstance() = default;
    RenderInstance(const RenderInstance&) = delete;
    RenderInstance& operator=(const RenderInstance&) = delete;
    virtual ~RenderInstance() = default;

    virtual RenderInstance* Next() { return next; }
    // Times over which `mesh` holds; the base asks for a new mesh every frame.
    virtual Interval MeshValidity() { return NEVER; }
    virtual int NumLights() { return static_cast<int>(lights.size()); }
    virtual LightDesc* Light(int n) {
        return n >= 0 && n < NumLights() ? lights[static_cast<std::size_t>(n)] : nullptr;
    }
    virtual BOOL CastsShadowsFrom(const ObjLightDesc& lt) {
        (void)lt;
        return TRUE;
    }
    virtual INode* GetINode() { return inode_; }
    virtual Object* GetEvalObject() { return evalObject; }
    virtual ULONG MtlRequirements(int mtlNum, int faceNum) {
        (void)mtlNum;
        (void)faceNum;
        return 0;
    }
    virtual Point3 GetFaceNormal(int faceNum) {
        (void)faceNum;
        return Point3(0.0f, 0.0f, 0.0f);
    }
    virtual Point3 GetFaceVertNormal(int faceNum, int vertNum) {
        (void)faceNum;
        (void)vertNum;
        return Point3(0.0f, 0.0f, 0.0f);
    }
    virtual void GetFaceVertNormals(int faceNum, Point3 n[3]) {
        (void)faceNum;
        n[0] = n[1] = n[2] = Point3(0.0f, 0.0f, 0.0f);
    }
    virtual Point3 GetCamVert(int vertNum) {
        (void)vertNum;
        return Point3(0.0f, 0.0f, 0.0f);
    }
    virtual void GetObjVerts(int fnum, Point3 obp[3]) {
        (void)fnum;
        obp[0] = obp[1] = obp[2] = Point3(0.0f, 0.0f, 0.0f);
    }
    virtual void GetCamVerts(int fnum, Point3 cp[3]) {
        (void)fnum;
        cp[0] = cp[1] = cp[2] = Point3(0.0f, 0.0f, 0.0f);
    }
    virtual int Execute(int cmd, std::uintptr_t arg1 = 0, std::uintptr_t arg2 = 0,
                        std::uintptr_t arg3 = 0) {
        (void)cmd;
        (void)arg1;
        (void)arg2;
        (void)arg3;
        return 0;
    }
    virtual Mtl* GetMtl(int faceNum) {
        (void)faceNum;
        return mtl;
    }

protected:
    INode* inode_ = nullptr;
};

// The renderer's view of a scene object: creates and destroys one render instance per node, and
// hears the render and frame brackets.
class VRenderObject {
public:
    VRenderObject() = default;
    VRenderObject(const VRenderObject&) = delete;
    VRenderObject& operator=(const VRenderObject&) = delete;
    virtual ~VRenderObject() = default;

    // Prepares the render object for a render by `vray`; `node` is the node the renderer met the
    // object through. Returns 1.
    virtual int init(INode* node, VR::VRayCore* vray);
    virtual void renderBegin(TimeValue t, VR::VRayCore* vray);
    virtual void frameBegin(TimeValue t, VR::VRayCore* vray);
    virtual void frameEnd(VR::VRayCore* vray);
    virtual void renderEnd(VR::VRayCore* vray);

    // One render instance for a node; null when none can be made.
    virtual VRenderInstance* createRenderInstance(INode* node, VR::VRayCore* vray,
                                                  int renderID) = 0;
    virtual void destroyRenderInstance(VRenderInstance* instance) = 0;

    // What the base operations keep.
    VR::VRayCore* getVRay() const { return vray_; }
    INode* getInitNode() const { return node_; }
    bool isRendering() const { return rendering_; }
    TimeValue getFrameTime() const { return frameTime_; }
    int getFrameCount() const { return frames_; }

private:
    VR::VRayCore* vray_ = nullptr;
    INode* node_ = nullptr;
    bool rendering_ = false;
    TimeValue frameTime_ = 0;
    int frames_ = 0;
};

// A node's render instance for the renderer. Its SurfaceProperties part answers
// EXT_SURFACE_PROPERTIES.
class VRenderInstance : public RenderInstance, public VR::SurfaceProperties {
public:
    VRenderInstance() = default;

    // Binds the instance to its render object, node, renderer and render id.
    void init(VRenderObject* renderObject, INode* node, VR::VRayCore* vray, int renderID);

    virtual void renderBegin(TimeValue t, VR::VRayCore* vray);
    virtual void frameBegin(TimeValue t, VR::VRayCore* vray);
    // Puts the instance's geometry into the ray server for the frame; the base has none.
    virtual void registerGeometry(VR::VRayCore* vray) { (void)vray; }
    virtual void frameEnd(VR::VRayCore* vray);
    virtual void renderEnd(VR::VRayCore* vray);

    // Shades the hit in rc with the node's material (through the renderer core).
    virtual void fullShade(VR::VRayContext& rc, int flags);

    // Displacement; the base displaces nothing.
    virtual int compileDisplacementMap(VR::VRayCore* vray) {
        (void)vray;
        return 0;
    }
    virtual float sampleDisplacementMap(const VR::VRayContext& rc) {
        (void)rc;
        return 0.0f;
    }

    VRenderObject* getRenderObject() const { return renderObject_; }
    VR::VRayCore* getVRay() const { return vray_; }
    int getRenderID() const { return renderID_; }
    TimeValue getFrameTime() const { return frameTime_; }
    bool isRendering() const { return rendering_; }

private:
    VRenderObject* renderObject_ = nullptr;
    VR::VRayCore* vray_ = nullptr;
    int renderID_ = -1;
    TimeValue frameTime_ = 0;
    bool rendering_ = false;
};
