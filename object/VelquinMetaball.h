// The scene object: a geometric object whose viewport presence is an icon and whose surface
// exists only for the renderer. It owns its parameter block (reference 0), answers the host's
// queries, hands the renderer its render-object part and carries the scripting mixin.
#pragma once

#include "host/max_core.h"
#include "host/max_scene.h"
#include "host/vray.h"
#include "host/win.h"
#include "object/IVelquinMetaball.h"

namespace velquin {

class VelquinMetaball;

// Guards the "nodes" list while the rollouts are open: refuses a node already in the list and a
// node whose geometry depends on the owner (adding it would close a dependency loop).
class VelquinMetaballValidatorClass : public PBValidator {
public:
    explicit VelquinMetaballValidatorClass(VelquinMetaball* owner) : owner_(owner) {}
    BOOL Validate(PB2Value& v) override;
    BOOL Validate(PB2Value& v, ReferenceMaker* owner, ParamID id, int tabIndex) override;
    VelquinMetaball* owner() const { return owner_; }

private:
    VelquinMetaball* owner_;
};

// Drag-to-create: the first click places the object, the drag sets "icon".
class VelquinMetaballCreateCallBack : public CreateMouseCallBack {
public:
    void SetObj(VelquinMetaball* obj) { ob_ = obj; }
    VelquinMetaball* Owner() const { return ob_; }
    int proc(ViewExp* vpt, int msg, int point, int flags, IPoint2 m, Matrix3& mat) override;

private:
    VelquinMetaball* ob_ = nullptr;
};

// The host's editing interface while an object's rollouts are open, else null.
extern IObjParam* editingInterface;

class VelquinMetaball : public GeomObject, public VRenderObject, public IVelquinMetaball {
public:
    // Owned by the object.
    Mesh renderMesh; // handed to the host's own renderer; never filled
    VelquinMetaballValidatorClass validator;
    IParamBlock2* pblock = nullptr; // reference 0
    HWND nodesRolloutWindow = nullptr;
    HWND flowRolloutWindow = nullptr;
    int pickingActive = 0;
    Tab<INode*> flowEventCandidates; // nodes not owned
    Tab<int> flowEventSelection;

    VelquinMetaball();
    ~VelquinMetaball() override;

    // ---- identity ----
    Class_ID ClassID() override { return VELQUIN_METABALL_CLASS_ID; }
    SClass_ID SuperClassID() override { return GEOMOBJECT_CLASS_ID; }
    void GetClassName(MSTR& s) override { s = "VelquinMetaball"; }
    void InitNodeName(MSTR& s) override { s = "VelquinMetaball"; }
    void DeleteThis() override { delete this; }

    // ---- interfaces ----
    BaseInterface* GetInterface(Interface_ID id) override;
    void* GetInterface(ULONG id) override;
    void ReleaseInterface(ULONG id, void* i) override;
    using IVelquinMetaball::ReleaseInterface;

    // ---- references, sub-animatables, parameter blocks ----
    int NumRefs() override { return 1; }
    RefTargetHandle GetReference(int i) override;
    void SetReference(int i, RefTargetHandle rtarg) override;
    RefResult NotifyRefChanged(const Interval& changeInt, RefTargetHandle hTarget, PartID& partID,
                               RefMessage message) override;
    int NumSubs() override { return 1; }
    Animatable* SubAnim(int i) override;
    MSTR SubAnimName(int i) override;
    int NumParamBlocks() override { return 1; }
    IParamBlock2* GetParamBlock(int i) override;
    IParamBlock2* GetParamBlockByID(BlockID id) override;
    ReferenceTarget* Clone(RemapDir& remap) override;

    // ---- geometry ----
    ObjectState Eval(TimeValue t) override {
        (void)t;
        return ObjectState(this);
    }
    Interval ObjectValidity(TimeValue t) override;
    void GetLocalBoundBox(TimeValue t, INode* inode, ViewExp* vp, Box3& box) override;
    void GetWorldBoundBox(TimeValue t, INode* inode, ViewExp* vp, Box3& box) override;
    void GetDeformBBox(TimeValue t, Box3& box, Matrix3* tm = nullptr, BOOL useSel = FALSE) override;
    Mesh* GetRenderMesh(TimeValue t, INode* inode, View& view, BOOL& needDelete) override;

    // ---- viewport ----
    int Display(TimeValue t, INode* inode, ViewExp* vpt, int flags) override;
    int HitTest(TimeValue t, INode* inode, int type, int crossing, int flags, IPoint2* p,
                ViewExp* vpt) override;
    void SetExtendedDisplay(int flags) override { (void)flags; }
    CreateMouseCallBack* GetCreateMouseCallBack() override;
    // Three circles of radius "icon" around the origin and the class name at constant screen
    // size; shared by display and hit testing.
    void drawIcon(TimeValue t, INode* inode, ViewExp* vpt);

    // ---- editing ----
    void BeginEditParams(IObjParam* ip, ULONG flags, Animatable* prev) override;
    void EndEditParams(IObjParam* ip, ULONG flags, Animatable* next) override;

    // ---- render-object part ----
    int init(INode* node, VR::VRayCore* vray) override;
    void renderBegin(TimeValue t, VR::VRayCore* vray) override;
    void frameBegin(TimeValue t, VR::VRayCore* vray) override;
    void frameEnd(VR::VRayCore* vray) override;
    void renderEnd(VR::VRayCore* vray) override;
    VRenderInstance* createRenderInstance(INode* node, VR::VRayCore* vray, int renderID) override;
    void destroyRenderInstance(VRenderInstance* instance) override;

    // ---- scripting ----
    void addMetaball(INode* node) override;
    void removeMetaball(INode* node) override;
    void addPFMetaball(INode* node) override;
    void removePFMetaball(INode* node) override;
    void pick() override;
    void add() override;
    void addPF() override;

    // ---- list helpers shared with the pickers ----
    // Whether the node stands in the node table `id` (pointer comparison at time 0).
    bool listContains(ParamID id, INode* node);
    // The dependency test: true when the node depends on this object.
    bool dependsOnObject(INode* node);
    // The pick filter: a node that is not null, not yet in "nodes" and not dependent on us.
    bool acceptsNode(INode* node);
    // Tells every dependent that the geometry changed and redraws the viewports.
    void notifyListChanged();
    // Takes our validator off the "nodes" parameter when it is still installed there.
    void releaseValidator();

private:
    void appendTo(ParamID id, INode* node);
    void removeFrom(ParamID id, INode* node);
};

} // namespace velquin
