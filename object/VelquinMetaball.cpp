#include "object/VelquinMetaball.h"

#include <cmath>

#include "object/Module.h"
#include "object/ParamIds.h"
#include "render/RenderObject.h"
#include "ui/Rollouts.h"

namespace velquin {

IObjParam* editingInterface = nullptr;

namespace {

VelquinMetaballCreateCallBack theCreateCallBack;
// Shared by every hit test of the module; only the user-interface thread tests hits.
HitRegion hitRegion;

constexpr const char* kLabel = "VelquinMetaball";
constexpr int kIconSegments = 30;
constexpr int kHitEpsilon = 4;

} // namespace

// ---- validator ----

BOOL VelquinMetaballValidatorClass::Validate(PB2Value& v) {
    INode* node = v.ref<INode>();
    if (!node || !owner_)
        return TRUE; // clearing an entry never closes a loop
    if (owner_->listContains(pb_nodes, node) || owner_->dependsOnObject(node))
        return FALSE;
    return TRUE;
}

BOOL VelquinMetaballValidatorClass::Validate(PB2Value& v, ReferenceMaker* owner, ParamID id,
                                             int tabIndex) {
    (void)owner, (void)id, (void)tabIndex;
    return Validate(v);
}

// ---- creation ----

int VelquinMetaballCreateCallBack::proc(ViewExp* vpt, int msg, int point, int flags, IPoint2 m,
                                        Matrix3& mat) {
    (void)flags;
    if (!ob_ || !vpt)
        return CREATE_ABORT;
    IPoint2 snapped;
    Point3 p = vpt->SnapPoint(m, snapped, nullptr, SNAP_IN_PLANE);
    switch (msg) {
    case MOUSE_ABORT:
        return CREATE_ABORT;
    case MOUSE_POINT:
        if (point == 0) {
            Point3 p0 = vpt->SnapPoint(m, m, nullptr, SNAP_IN_3D);
            mat.SetTrans(p0);
            mat.ClearIdentFlag(Matrix3::POS_IDENT);
            ob_->pblock->SetValue(pb_icon, 0, 0.0f);
            return CREATE_CONTINUE;
        }
        if (point == 1) {
            float d = Length(p - mat.GetTrans());
            if (d < 0.001f)
                return CREATE_ABORT;
            ob_->pblock->SetValue(pb_icon, 0, d);
            return CREATE_STOP;
        }
        return CREATE_CONTINUE;
    case MOUSE_MOVE:
        if (point == 1)
            ob_->pblock->SetValue(pb_icon, 0, Length(p - mat.GetTrans()));
        return CREATE_CONTINUE;
    default:
        return CREATE_CONTINUE;
    }
}

// ---- construction ----

VelquinMetaball::VelquinMetaball() : validator(this) {
    GetVelquinMetaballDesc()->MakeAutoParamBlocks(this);
}

VelquinMetaball::~VelquinMetaball() {
    releaseValidator();
    // A pick mode still running for this object would otherwise add to a deleted object.
    if (pickingActive)
        GetCOREInterface()->ClearPickMode();
    if (theCreateCallBack.Owner() == this)
        theCreateCallBack.SetObj(nullptr);
}

// ---- interfaces ----

BaseInterface* VelquinMetaball::GetInterface(Interface_ID id) {
    if (id == VELQUIN_METABALL_OPS_ID)
        return static_cast<IVelquinMetaball*>(this);
    return GeomObject::GetInterface(id);
}

void* VelquinMetaball::GetInterface(ULONG id) {
    if (id == I_VRAYGEOMETRY)
        return static_cast<VRenderObject*>(this);
    return GeomObject::GetInterface(id);
}

void VelquinMetaball::ReleaseInterface(ULONG id, void* i) {
    if (id == I_VRAYGEOMETRY)
        return; // the render-object part is the object itself
    GeomObject::ReleaseInterface(id, i);
}

// ---- references ----

RefTargetHandle VelquinMetaball::GetReference(int i) {
    return i == kParamBlockRef ? pblock : nullptr;
}

void VelquinMetaball::SetReference(int i, RefTargetHandle rtarg) {
    if (i == kParamBlockRef)
        pblock = dynamic_cast<IParamBlock2*>(rtarg);
}

RefResult VelquinMetaball::NotifyRefChanged(const Interval& changeInt, RefTargetHandle hTarget,
                                            PartID& partID, RefMessage message) {
    (void)changeInt, (void)partID;
    // The viewport shape depends on "icon" alone and the renderer reads the block anew at every
    // frame, so a change only needs the open rollouts to show current values.
    if (message == REFMSG_CHANGE && hTarget && hTarget == pblock)
        GetVelquinMetaballParamDesc()->InvalidateUI();
    return REF_SUCCEED;
}

Animatable* VelquinMetaball::SubAnim(int i) {
    return i == 0 ? pblock : nullptr;
}

MSTR VelquinMetaball::SubAnimName(int i) {
    return i == 0 ? MSTR("VelquinMetaball Parameters") : MSTR();
}

IParamBlock2* VelquinMetaball::GetParamBlock(int i) {
    (void)i;
    return pblock;
}

IParamBlock2* VelquinMetaball::GetParamBlockByID(BlockID id) {
    return pblock && pblock->ID() == id ? pblock : nullptr;
}

ReferenceTarget* VelquinMetaball::Clone(RemapDir& remap) {
    auto* copy = new VelquinMetaball();
    BaseClone(this, copy, remap);
    copy->ReplaceReference(kParamBlockRef, remap.CloneRef(pblock));
    return copy;
}

// ---- geometry ----

Interval VelquinMetaball::ObjectValidity(TimeValue t) {
    Interval valid = FOREVER;
    float s = 0.0f;
    if (pblock)
        pblock->GetValue(pb_icon, t, s, valid);
    return valid;
}

void VelquinMetaball::GetLocalBoundBox(TimeValue t, INode* inode, ViewExp* vp, Box3& box) {
    (void)inode, (void)vp;
    float s = pblock ? pblock->GetFloat(pb_icon, t) : 0.0f;
    box = Box3(Point3(-s, -s, -s), Point3(s, s, s));
}

namespace {
Box3 transformedBox(const Box3& local, const Matrix3& tm) {
    Box3 out;
    for (int i = 0; i < 8; ++i)
        out += tm.PointTransform(Point3((i & 1) ? local.pmax.x : local.pmin.x,
                                        (i & 2) ? local.pmax.y : local.pmin.y,
                                        (i & 4) ? local.pmax.z : local.pmin.z));
    return out;
}
} // namespace

void VelquinMetaball::GetWorldBoundBox(TimeValue t, INode* inode, ViewExp* vp, Box3& box) {
    if (!inode)
        return;
    Box3 local;
    GetLocalBoundBox(t, inode, vp, local);
    box = transformedBox(local, inode->GetObjectTM(t));
}

void VelquinMetaball::GetDeformBBox(TimeValue t, Box3& box, Matrix3* tm, BOOL useSel) {
    (void)useSel;
    Box3 local;
    GetLocalBoundBox(t, nullptr, nullptr, local);
    box = tm ? transformedBox(local, *tm) : local;
}

Mesh* VelquinMetaball::GetRenderMesh(TimeValue t, INode* inode, View& view, BOOL& needDelete) {
    (void)t, (void)inode, (void)view;
    needDelete = FALSE;
    return &renderMesh;
}

// ---- viewport ----

void VelquinMetaball::drawIcon(TimeValue t, INode* inode, ViewExp* vpt) {
    if (!inode || !vpt)
        return; // nothing to place the icon by
    GraphicsWindow* gw = vpt->getGW();
    Matrix3 tm = inode->GetObjectTM(t);
    gw->setTransform(tm);

    Point3 color;
    if (inode->IsFrozen())
        color = GetUIColor(COLOR_FREEZE);
    else if (inode->Selected())
        color = GetUIColor(COLOR_SELECTION);
    else
        color = ColorRefToPoint3(inode->GetWireColor());
    gw->setColor(LINE_COLOR, color);

    float s = pblock ? pblock->GetFloat(pb_icon, t) : 0.0f;
    gw->startSegments();
    float px = s, py = 0.0f;
    for (int i = 1; i <= kIconSegments; ++i) {
        float a = static_cast<float>(i) * 6.2831855f / 30.0f;
        float c = s * std::cos(a);
        float n = s * std::sin(a);
        Point3 seg[2];
        seg[0] = Point3(px, py, 0.0f), seg[1] = Point3(c, n, 0.0f);
        gw->segment(seg, 1);
        seg[0] = Point3(0.0f, px, py), seg[1] = Point3(0.0f, c, n);
        gw->segment(seg, 1);
        seg[0] = Point3(px, 0.0f, py), seg[1] = Point3(c, 0.0f, n);
        gw->segment(seg, 1);
        px = c, py = n;
    }
    gw->endSegments();

    // The label keeps its size on screen: drop the node's scale, then scale by the view's world
    // width at the object so that zooming leaves it unchanged.
    for (int r = 0; r < 3; ++r) {
        Point3 axis = tm.GetRow(r);
        tm.SetRow(r, Normalize(axis));
    }
    float k = vpt->GetVPWorldWidth(tm.GetTrans()) * vpt->NonScalingObjectSize() / 360.0f;
    for (int r = 0; r < 3; ++r)
        tm.SetRow(r, tm.GetRow(r) * k);
    gw->setTransform(tm);

    Point3 origin(0.0f, 0.0f, 0.0f), screen;
    if (gw->transPoint(&origin, &screen))
        return; // behind the camera
    IPoint3 at{static_cast<int>(std::lround(screen.x)), static_cast<int>(std::lround(screen.y)),
               static_cast<int>(std::lround(screen.z))};
    SIZE size;
    gw->getTextExtents(kLabel, &size);
    at.x -= size.cx / 2;
    at.y -= size.cy / 2;
    gw->setColor(TEXT_COLOR, 0.0f, 0.0f, 0.0f);
    gw->wText(&at, kLabel);
    at.x -= 1;
    at.y -= 1;
    gw->setColor(TEXT_COLOR, 1.0f, 1.0f, 1.0f);
    gw->wText(&at, kLabel);
}

int VelquinMetaball::Display(TimeValue t, INode* inode, ViewExp* vpt, int flags) {
    (void)flags;
    drawIcon(t, inode, vpt);
    return 0;
}

int VelquinMetaball::HitTest(TimeValue t, INode* inode, int type, int crossing, int flags,
                             IPoint2* p, ViewExp* vpt) {
    (void)flags;
    if (!vpt || !p)
        return 0;
    MakeHitRegion(hitRegion, type, crossing, kHitEpsilon, p);
    GraphicsWindow* gw = vpt->getGW();
    DWORD savedLimits = gw->getRndLimits();
    gw->setRndLimits((savedLimits & ~GW_ILLUM) | GW_PICK);
    gw->setHitRegion(&hitRegion);
    gw->clearHitCode();
    drawIcon(t, inode, vpt);
    gw->setRndLimits(savedLimits);
    // A window (non-crossing) selection takes the object whenever it is asked.
    if (hitRegion.type != POINT_RGN && !hitRegion.crossing)
        return 1;
    return gw->checkHitCode() ? 1 : 0;
}

CreateMouseCallBack* VelquinMetaball::GetCreateMouseCallBack() {
    theCreateCallBack.SetObj(this);
    return &theCreateCallBack;
}

// ---- editing ----

void VelquinMetaball::BeginEditParams(IObjParam* ip, ULONG flags, Animatable* prev) {
    editingInterface = ip;
    GetVelquinMetaballDesc()->BeginEditParams(ip, this, flags, prev);
    installRolloutProcedures(this, GetVelquinMetaballParamDesc());
    GetVelquinMetaballParamDesc()->ParamOption(pb_nodes, p_validator, &validator);
}

void VelquinMetaball::EndEditParams(IObjParam* ip, ULONG flags, Animatable* next) {
    GetVelquinMetaballDesc()->EndEditParams(ip, this, flags, next);
    if (Interface* core = ip ? ip : GetCOREInterface())
        core->ClearPickMode();
    editingInterface = nullptr;
    // The validator guards "nodes" only while our rollouts are open; the descriptor is shared by
    // every object and outlives this one.
    releaseValidator();
}

void VelquinMetaball::releaseValidator() {
    if (ParamDef* def = GetVelquinMetaballParamDesc()->FindParamDef(pb_nodes))
        if (def->validator == &validator)
            def->validator = nullptr;
}

// ---- render-object part ----

int VelquinMetaball::init(INode* node, VR::VRayCore* vray) {
    VRenderObject::init(node, vray);
    return 1;
}

void VelquinMetaball::renderBegin(TimeValue t, VR::VRayCore* vray) {
    VRenderObject::renderBegin(t, vray);
}

void VelquinMetaball::frameBegin(TimeValue t, VR::VRayCore* vray) {
    VRenderObject::frameBegin(t, vray);
}

void VelquinMetaball::frameEnd(VR::VRayCore* vray) {
    VRenderObject::frameEnd(vray);
}

void VelquinMetaball::renderEnd(VR::VRayCore* vray) {
    VRenderObject::renderEnd(vray);
}

VRenderInstance* VelquinMetaball::createRenderInstance(INode* node, VR::VRayCore* vray,
                                                       int renderID) {
    return createMetaballRenderInstance(this, pblock, node, vray, renderID);
}

void VelquinMetaball::destroyRenderInstance(VRenderInstance* instance) {
    destroyMetaballRenderInstance(instance);
}

} // namespace velquin
