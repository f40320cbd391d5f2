// Objects of the host stand-in: the object state a node evaluates to, the object base classes
// with their display, hit-test, bounds, conversion and creation hooks, the triangle-mesh object,
// and procedural geometric objects (sphere, box, plane, torus) whose parameters are constant or
// keyed and which convert to a new triangle-mesh object on request.
#pragma once

#include "platform/max/animval.h"
#include "platform/max/classdesc.h" // BEGIN_EDIT_CREATE and END_EDIT_REMOVEUI
#include "platform/max/maxtypes.h"
#include "platform/max/mesh.h"
#include "platform/max/ref.h"

#include <memory>

class INode;
class Interface;
class IObjParam;
class Object;
class ViewExp;

// What a node evaluates to at a time.
class ObjectState {
public:
    Object* obj = nullptr;
    ObjectState() = default;
    explicit ObjectState(Object* o) : obj(o) {}
};

// Mouse messages of a creation callback.
constexpr int MOUSE_ABORT = 0;
constexpr int MOUSE_POINT = 1;
constexpr int MOUSE_MOVE = 2;
constexpr int MOUSE_DBLCLICK = 3;
constexpr int MOUSE_INIT = 4;
constexpr int MOUSE_UNINIT = 5;
constexpr int MOUSE_FREEMOVE = 6;
// Answers of a creation callback.
constexpr int CREATE_CONTINUE = 1;
constexpr int CREATE_STOP = 0;
constexpr int CREATE_ABORT = -1;

// Receives the mouse while an object is created by dragging in a viewport. mat is the creation
// matrix (the construction plane's transform), in which the new node is placed.
class CreateMouseCallBack {
public:
    virtual ~CreateMouseCallBack() = default;
    virtual int proc(ViewExp* vpt, int msg, int point, int flags, IPoint2 m, Matrix3& mat) = 0;
};

// The renderer's view of the host's own renderer (unused by the stand-in's objects).
class View {
public:
    virtual ~View() = default;
    Matrix3 worldToView;
};

// Class of the triangle-mesh object, the type every geometric object can be converted to.
constexpr Class_ID triObjectClassID(TRIOBJ_CLASS_ID, 0);

class BaseObject : public ReferenceTarget {
public:
    // Draws the object in a viewport; answers 0.
    virtual int Display(TimeValue t, INode* inode, ViewExp* vpt, int flags) {
        (void)t, (void)inode, (void)vpt, (void)flags;
        return 0;
    }
    // Whether the object's drawing meets the region made from type, crossing and p.
    virtual int HitTest(TimeValue t, INode* inode, int type, int crossing, int flags, IPoint2* p,
                        ViewExp* vpt) {
        (void)t, (void)inode, (void)type, (void)crossing, (void)flags, (void)p, (void)vpt;
        return 0;
    }
    virtual void SetExtendedDisplay(int flags) { (void)flags; }
    virtual CreateMouseCallBack* GetCreateMouseCallBack() { return nullptr; }
    // Name shown in the modifier stack.
    virtual const char* GetObjectName() { return "Object"; }
    virtual void GetWorldBoundBox(TimeValue t, INode* inode, ViewExp* vp, Box3& box) {
        (void)t, (void)inode, (void)vp, (void)box;
    }
    virtual void GetLocalBoundBox(TimeValue t, INode* inode, ViewExp* vp, Box3& box) {
        (void)t, (void)inode, (void)vp, (void)box;
    }
    // Command-panel editing of the object.
    virtual void BeginEditParams(IObjParam* ip, ULONG flags, Animatable* prev) {
        (void)ip, (void)flags, (void)prev;
    }
    virtual void EndEditParams(IObjParam* ip, ULONG flags, Animatable* next) {
        (void)ip, (void)flags, (void)next;
    }
};

class Object : public BaseObject {
public:
    // The object at time t (a procedural object evaluates its parameters lazily, so itself).
    virtual ObjectState Eval(TimeValue t) {
        (void)t;
        return ObjectState(this);
    }
    // The interval around t over which the object stays the same.
    virtual Interval ObjectValidity(TimeValue t) {
        (void)t;
        return FOREVER;
    }
    virtual int IsParticleSystem() { return FALSE; }
    virtual int IsRenderable() { return TRUE; }
    // Whether ConvertToType can make an object of class obtype; an object always converts to its
    // own class.
    virtual int CanConvertToType(Class_ID obtype) { return obtype == ClassID() ? TRUE : FALSE; }
    // The object of class obtype at t: this object itself when it already is one, else a new
    // object owned by the caller (who deletes it when it differs from this), or null.
    virtual Object* ConvertToType(TimeValue t, Class_ID obtype) {
        (void)t;
        return obtype == ClassID() ? this : nullptr;
    }
    // Bounds of the object's points, transformed by tm when given.
    virtual void GetDeformBBox(TimeValue t, Box3& box, Matrix3* tm = nullptr, BOOL useSel = FALSE) {
        (void)useSel;
        box.Init();
        Box3 local;
        GetLocalBoundBox(t, nullptr, nullptr, local);
        if (local.IsEmpty() || !tm) {
            box = local;
            return;
        }
        for (int i = 0; i < 8; ++i)
            box += tm->PointTransform(Point3((i & 1) ? local.pmax.x : local.pmin.x,
                                             (i & 2) ? local.pmax.y : local.pmin.y,
                                             (i & 4) ? local.pmax.z : local.pmin.z));
    }
    // The base of a new node's name.
    virtual void InitNodeName(MSTR& s) { s = GetObjectName(); }
};

class GeomObject : public Object {
public:
    SClass_ID SuperClassID() override { return GEOMOBJECT_CLASS_ID; }
    // The mesh the host's own renderer draws; needDelete tells whether the caller owns it.
    virtual Mesh* GetRenderMesh(TimeValue t, INode* inode, View& view, BOOL& needDelete) {
        (void)t, (void)inode, (void)view;
        needDelete = FALSE;
        return nullptr;
    }
};

// Counts of the triangle-mesh objects a procedural object handed out by conversion, shared with
// those objects so that their deletion is counted even after the source has gone.
struct ConversionCounts {
    int made = 0;
    int deleted = 0;
};

// An editable triangle mesh.
class TriObject : public GeomObject {
public:
    Mesh mesh;

    TriObject() = default;
    explicit TriObject(const Mesh& m) : mesh(m) {}
    ~TriObject() override;

    Mesh& GetMesh() { return mesh; }
    Class_ID ClassID() override { return triObjectClassID; }
    void GetClassName(MSTR& s) override { s = "Editable Mesh"; }
    const char* GetObjectName() override { return "Editable Mesh"; }
    int Display(TimeValue t, INode* inode, ViewExp* vpt, int flags) override;
    int HitTest(TimeValue t, INode* inode, int type, int crossing, int flags, IPoint2* p,
                ViewExp* vpt) override;
    void GetLocalBoundBox(TimeValue t, INode* inode, ViewExp* vp, Box3& box) override;
    void GetWorldBoundBox(TimeValue t, INode* inode, ViewExp* vp, Box3& box) override;
    Mesh* GetRenderMesh(TimeValue t, INode* inode, View& view, BOOL& needDelete) override;
    ReferenceTarget* Clone(RemapDir& remap) override;

    // Made by converting a procedural object: its deletion is counted there.
    void SetConversionCounts(std::shared_ptr<ConversionCounts> c) { counts_ = std::move(c); }

private:
    std::shared_ptr<ConversionCounts> counts_;
};

TriObject* CreateNewTriObject();

// Draws a mesh's edges as segments (the stand-in's wireframe) and, during picking, hit-tests
// them with the region made from type, crossing and p; shared by every mesh-like object.
void DrawMeshWire(const Mesh& mesh, TimeValue t, INode* inode, ViewExp* vpt);
int HitTestMeshWire(const Mesh& mesh, TimeValue t, INode* inode, int type, int crossing, IPoint2* p,
                    ViewExp* vpt);

// A geometric object whose mesh is built from its parameters at a time. Converting it to the
// triangle-mesh class always makes a new TriObject, which the caller must delete.
class ProceduralObject : public GeomObject {
public:
    ProceduralObject() : counts_(std::make_shared<ConversionCounts>()) {}

    // Builds the mesh at t and narrows valid by the parameters read.
    virtual void BuildMesh(TimeValue t, Mesh& mesh, Interval& valid) = 0;

    Interval ObjectValidity(TimeValue t) override;
    int CanConvertToType(Class_ID obtype) override;
    Object* ConvertToType(TimeValue t, Class_ID obtype) override;
    int Display(TimeValue t, INode* inode, ViewExp* vpt, int flags) override;
    int HitTest(TimeValue t, INode* inode, int type, int crossing, int flags, IPoint2* p,
                ViewExp* vpt) override;
    void GetLocalBoundBox(TimeValue t, INode* inode, ViewExp* vp, Box3& box) override;
    void GetWorldBoundBox(TimeValue t, INode* inode, ViewExp* vp, Box3& box) override;
    Mesh* GetRenderMesh(TimeValue t, INode* inode, View& view, BOOL& needDelete) override;

    int ConversionsMade() const { return counts_->made; }
    int ConversionsDeleted() const { return counts_->deleted; }

    // Parameters changed: tells the dependents (the nodes) that the geometry changed.
    void ParamsChanged();

private:
    std::shared_ptr<ConversionCounts> counts_;
};

// Class IDs of the procedural objects.
constexpr Class_ID SPHERE_OBJ_CLASS_ID(0x56510001, 0x0);
constexpr Class_ID BOX_OBJ_CLASS_ID(0x56510002, 0x0);
constexpr Class_ID PLANE_OBJ_CLASS_ID(0x56510003, 0x0);
constexpr Class_ID TORUS_OBJ_CLASS_ID(0x56510004, 0x0);

// Sphere around its origin: segments around (at least 4), segments/2 bands from pole to pole.
class SphereObject : public ProceduralObject {
public:
    AnimValue<float> radius{25.0f};
    AnimValue<int> segments{16};

    Class_ID ClassID() override { return SPHERE_OBJ_CLASS_ID; }
    void GetClassName(MSTR& s) override { s = "Sphere"; }
    const char* GetObjectName() override { return "Sphere"; }
    void BuildMesh(TimeValue t, Mesh& mesh, Interval& valid) override;
    ReferenceTarget* Clone(RemapDir& remap) override;
};

// Box standing on its XY base centred at the origin: length along Y, width along X, height up Z
// (one segment per side: 8 vertices, 12 faces).
class BoxObject : public ProceduralObject {
public:
    AnimValue<float> length{25.0f};
    AnimValue<float> width{25.0f};
    AnimValue<float> height{25.0f};

    Class_ID ClassID() override { return BOX_OBJ_CLASS_ID; }
    void GetClassName(MSTR& s) override { s = "Box"; }
    const char* GetObjectName() override { return "Box"; }
    void BuildMesh(TimeValue t, Mesh& mesh, Interval& valid) override;
    ReferenceTarget* Clone(RemapDir& remap) override;
};

// Plane in the XY plane centred at the origin, segs x segs quads ((segs + 1)^2 vertices).
class PlaneObject : public ProceduralObject {
public:
    AnimValue<float> length{50.0f};
    AnimValue<float> width{50.0f};
    AnimValue<int> segs{4};

    Class_ID ClassID() override { return PLANE_OBJ_CLASS_ID; }
    void GetClassName(MSTR& s) override { s = "Plane"; }
    const char* GetObjectName() override { return "Plane"; }
    void BuildMesh(TimeValue t, Mesh& mesh, Interval& valid) override;
    ReferenceTarget* Clone(RemapDir& remap) override;
};

// Torus around the Z axis: ring radius radius1, tube radius radius2, segs around the ring and
// segs/2 (at least 3) around the tube.
class TorusObject : public ProceduralObject {
public:
    AnimValue<float> radius1{30.0f};
    AnimValue<float> radius2{10.0f};
    AnimValue<int> segs{24};

    Class_ID ClassID() override { return TORUS_OBJ_CLASS_ID; }
    void GetClassName(MSTR& s) override { s = "Torus"; }
    const char* GetObjectName() override { return "Torus"; }
    void BuildMesh(TimeValue t, Mesh& mesh, Interval& valid) override;
    ReferenceTarget* Clone(RemapDir& remap) override;
};
