// The object in the viewport: the icon, hit testing, creation by dragging, bounds and validity.
#include <cmath>

#include "object_test_support.h"

using namespace velquin;

namespace {

class Icon : public objtest::HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        obj = newObject(&node);
        vpt = core->GetActiveViewport();
        gw = vpt->getGW();
        topView(64.0f); // 10 pixels per unit
    }
    // Looking down -Z at the origin; (x, y) shows at (320 + x*s, 240 - y*s), s = 640 / width.
    void topView(float width) {
        ViewCamera cam;
        cam.perspective = false;
        cam.position = Point3(0.0f, 0.0f, 100.0f);
        cam.target = Point3(0.0f, 0.0f, 0.0f);
        cam.up = Point3(0.0f, 1.0f, 0.0f);
        cam.orthoWidth = width;
        vpt->SetCamera(cam);
    }
    void draw() {
        gw->ClearRecord();
        EXPECT_EQ(obj->Display(0, node, vpt, 0), 0);
    }
    int hit(int type, int crossing, IPoint2 p0, IPoint2 p1 = {}) {
        IPoint2 pts[2] = {p0, p1};
        return obj->HitTest(0, node, type, crossing, 0, pts, vpt);
    }

    VelquinMetaball* obj = nullptr;
    INode* node = nullptr;
    ViewExp* vpt = nullptr;
    GraphicsWindow* gw = nullptr;
};

TEST_F(Icon, ThreeCirclesOfThirtySegmentsInXyYzXzOrder) {
    draw();
    const auto& segs = gw->Segments();
    ASSERT_EQ(segs.size(), 90u);
    EXPECT_EQ(gw->BatchCount(), 1);
    const float s = 10.0f; // the "icon" default
    float px = s, py = 0.0f;
    for (int i = 1; i <= 30; ++i) {
        float a = static_cast<float>(i) * 6.2831855f / 30.0f;
        float c = s * std::cos(a), n = s * std::sin(a);
        const DrawnSegment& xy = segs[3 * (i - 1)];
        const DrawnSegment& yz = segs[3 * (i - 1) + 1];
        const DrawnSegment& xz = segs[3 * (i - 1) + 2];
        EXPECT_EQ(xy.world[0], Point3(px, py, 0.0f)) << i;
        EXPECT_EQ(xy.world[1], Point3(c, n, 0.0f)) << i;
        EXPECT_EQ(yz.world[0], Point3(0.0f, px, py)) << i;
        EXPECT_EQ(yz.world[1], Point3(0.0f, c, n)) << i;
        EXPECT_EQ(xz.world[0], Point3(px, 0.0f, py)) << i;
        EXPECT_EQ(xz.world[1], Point3(c, 0.0f, n)) << i;
        EXPECT_EQ(xy.batch, 0);
        px = c, py = n;
    }
    // The line colour is the node's wire colour.
    EXPECT_EQ(segs[0].color, ColorRefToPoint3(node->GetWireColor()));
}

TEST_F(Icon, LineColourFollowsFrozenThenSelected) {
    SetUIColor(COLOR_SELECTION, Point3(1.0f, 1.0f, 0.0f));
    SetUIColor(COLOR_FREEZE, Point3(0.5f, 0.5f, 1.0f));
    node->SetWireColor(RGB(255, 0, 0));
    node->SetSelected(TRUE);
    draw();
    EXPECT_EQ(gw->Segments()[0].color, Point3(1.0f, 1.0f, 0.0f));
    node->Freeze(TRUE);
    draw();
    EXPECT_EQ(gw->Segments()[0].color, Point3(0.5f, 0.5f, 1.0f));
    node->Freeze(FALSE);
    node->SetSelected(FALSE);
    draw();
    EXPECT_EQ(gw->Segments()[0].color, Point3(1.0f, 0.0f, 0.0f));
}

TEST_F(Icon, LabelBlackThenWhiteCentredOnThePivot) {
    Matrix3 tm;
    tm.SetTrans(Point3(5.0f, 7.0f, 0.0f));
    node->SetNodeTMConstant(tm);
    draw();
    const auto& texts = gw->Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].text, "VelquinMetaball");
    EXPECT_EQ(texts[1].text, "VelquinMetaball");
    EXPECT_EQ(texts[0].color, Point3(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(texts[1].color, Point3(1.0f, 1.0f, 1.0f));
    // The pivot shows at (370, 170); the text is moved by its integer half extents.
    SIZE ext = texts[0].extent;
    EXPECT_EQ(texts[0].pos.x, 370 - ext.cx / 2);
    EXPECT_EQ(texts[0].pos.y, 170 - ext.cy / 2);
    EXPECT_EQ(texts[1].pos.x, texts[0].pos.x - 1);
    EXPECT_EQ(texts[1].pos.y, texts[0].pos.y - 1);
}

TEST_F(Icon, LabelKeepsItsScreenSizeWhileCirclesZoom) {
    ViewCamera cam; // perspective, looking at the origin
    vpt->SetCamera(cam);
    draw();
    float before = std::fabs(gw->Segments()[0].screen[0].x - gw->Segments()[0].screen[1].x) +
                   std::fabs(gw->Segments()[0].screen[0].y - gw->Segments()[0].screen[1].y);
    DrawnText label = gw->Texts()[0];
    vpt->Zoom(4.0f);
    draw();
    float after = std::fabs(gw->Segments()[0].screen[0].x - gw->Segments()[0].screen[1].x) +
                  std::fabs(gw->Segments()[0].screen[0].y - gw->Segments()[0].screen[1].y);
    EXPECT_GT(after, 3.0f * before);
    ASSERT_EQ(gw->Texts().size(), 2u);
    EXPECT_EQ(gw->Texts()[0].extent.cx, label.extent.cx);
    EXPECT_EQ(gw->Texts()[0].extent.cy, label.extent.cy);
    EXPECT_EQ(gw->Texts()[0].pos.x, label.pos.x); // the pivot stays at the view's centre
    EXPECT_EQ(gw->Texts()[0].pos.y, label.pos.y);
}

TEST_F(Icon, WindowRegionsAlwaysHitPointRegionsOnlyTheDrawing) {
    DWORD limits = gw->getRndLimits();
    gw->ClearRecord();
    // A window far away from the icon still takes it.
    EXPECT_EQ(hit(HITTYPE_BOX, FALSE, {0, 0}, {10, 10}), 1);
    EXPECT_EQ(hit(HITTYPE_CIRCLE, FALSE, {5, 5}, {6, 6}), 1);
    // Crossing regions need the drawing.
    EXPECT_EQ(hit(HITTYPE_BOX, TRUE, {0, 0}, {10, 10}), 0);
    EXPECT_EQ(hit(HITTYPE_BOX, TRUE, {415, 230}, {430, 250}), 1);
    // Points: on the XY circle (radius 100 px), within 4 pixels of it, on the label, and off.
    EXPECT_EQ(hit(HITTYPE_POINT, FALSE, {420, 240}), 1);
    EXPECT_EQ(hit(HITTYPE_POINT, FALSE, {391, 168}), 1);
    EXPECT_EQ(hit(HITTYPE_POINT, FALSE, {320, 240}), 1);
    EXPECT_EQ(hit(HITTYPE_POINT, FALSE, {370, 290}), 0);
    EXPECT_EQ(hit(HITTYPE_POINT, FALSE, {425, 240}), 0);
    // Picking records nothing and leaves the render limits as they were.
    EXPECT_TRUE(gw->Segments().empty());
    EXPECT_TRUE(gw->Texts().empty());
    EXPECT_EQ(gw->getRndLimits(), limits);
}

TEST_F(Icon, CreationDragSetsIconAndShortDragAborts) {
    topView(640.0f); // one pixel per unit
    auto* made = static_cast<VelquinMetaball*>(
        static_cast<GeomObject*>(GetVelquinMetaballDesc()->Create(FALSE)));
    INode* n = core->CreateObjectByDrag(made, vpt, {330, 230}, {335, 230});
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(made->pblock->GetFloat(pb_icon, 0), 5.0f);
    EXPECT_FALSE(made->pblock->IsAnimated(pb_icon));
    EXPECT_EQ(n->GetNodeTM(0).GetTrans(), Point3(10.0f, 10.0f, 0.0f));
    EXPECT_EQ(std::string(n->GetName()), "VelquinMetaball001");

    topView(0.064f); // 0.0001 units per pixel: 5 pixels are 0.0005 units
    int nodes = core->GetScene().NumNodes();
    auto* tiny = static_cast<VelquinMetaball*>(
        static_cast<GeomObject*>(GetVelquinMetaballDesc()->Create(FALSE)));
    EXPECT_EQ(core->CreateObjectByDrag(tiny, vpt, {320, 240}, {325, 240}), nullptr);
    EXPECT_EQ(core->GetScene().NumNodes(), nodes);
}

TEST_F(Icon, CreationCallbackMessages) {
    topView(640.0f);
    CreateMouseCallBack* cb = obj->GetCreateMouseCallBack();
    ASSERT_NE(cb, nullptr);
    Matrix3 mat;
    EXPECT_EQ(cb->proc(vpt, MOUSE_POINT, 0, 0, {320, 240}, mat), CREATE_CONTINUE);
    EXPECT_EQ(mat.GetIdentFlags() & Matrix3::POS_IDENT, 0u);
    EXPECT_EQ(cb->proc(vpt, MOUSE_MOVE, 1, 0, {320, 232}, mat), CREATE_CONTINUE);
    EXPECT_EQ(obj->pblock->GetFloat(pb_icon, 0), 8.0f);
    EXPECT_EQ(cb->proc(vpt, MOUSE_FREEMOVE, 0, 0, {0, 0}, mat), CREATE_CONTINUE);
    EXPECT_EQ(obj->pblock->GetFloat(pb_icon, 0), 8.0f);
    EXPECT_EQ(cb->proc(vpt, MOUSE_ABORT, 0, 0, {0, 0}, mat), CREATE_ABORT);

    VelquinMetaballCreateCallBack unbound;
    EXPECT_EQ(unbound.proc(vpt, MOUSE_POINT, 0, 0, {320, 240}, mat), CREATE_ABORT);
}

TEST_F(Icon, BoundsFollowIconOnly) {
    obj->pblock->SetValue(pb_icon, 0, 3.0f);
    Point3 pts[] = {{100.0f, 0.0f, 0.0f}};
    obj->pblock->Append(pb_metaballs, 1, pts);
    Box3 box;
    obj->GetLocalBoundBox(0, node, vpt, box);
    EXPECT_EQ(box.pmin, Point3(-3.0f, -3.0f, -3.0f));
    EXPECT_EQ(box.pmax, Point3(3.0f, 3.0f, 3.0f));

    Matrix3 tm = ScaleMatrix(Point3(2.0f, 2.0f, 2.0f));
    tm.SetTrans(Point3(10.0f, 0.0f, 0.0f));
    node->SetNodeTMConstant(tm);
    obj->GetWorldBoundBox(0, node, vpt, box);
    EXPECT_EQ(box.pmin, Point3(4.0f, -6.0f, -6.0f));
    EXPECT_EQ(box.pmax, Point3(16.0f, 6.0f, 6.0f));
    Box3 untouched(Point3(1, 2, 3), Point3(4, 5, 6));
    obj->GetWorldBoundBox(0, nullptr, vpt, untouched);
    EXPECT_EQ(untouched.pmin, Point3(1, 2, 3));

    obj->GetDeformBBox(0, box, &tm);
    EXPECT_EQ(box.pmin, Point3(4.0f, -6.0f, -6.0f));
    obj->GetDeformBBox(0, box, nullptr);
    EXPECT_EQ(box.pmax, Point3(3.0f, 3.0f, 3.0f));
}

TEST_F(Icon, ValidityNarrowsOnlyForAnimatedIcon) {
    EXPECT_EQ(obj->ObjectValidity(100), FOREVER);
    int invalidations = GetVelquinMetaballParamDesc()->InvalidateUICount();
    obj->pblock->SetKey(pb_radius, 0, 5.0f);
    obj->pblock->SetKey(pb_radius, 4800, 50.0f);
    EXPECT_EQ(obj->ObjectValidity(100), FOREVER);
    // Every change of the block refreshes the rollouts.
    EXPECT_GT(GetVelquinMetaballParamDesc()->InvalidateUICount(), invalidations);

    obj->pblock->SetKey(pb_icon, 0, 5.0f);
    obj->pblock->SetKey(pb_icon, 4800, 50.0f);
    Interval v = obj->ObjectValidity(2400);
    EXPECT_TRUE(v.InInterval(2400));
    EXPECT_FALSE(v == FOREVER);
}

TEST_F(Icon, IdentityInterfacesAndReferences) {
    EXPECT_EQ(obj->ClassID(), Class_ID(0x3d1bec1b, 0x43756d05));
    EXPECT_EQ(obj->SuperClassID(), 0x10u);
    MSTR s;
    obj->GetClassName(s);
    EXPECT_EQ(s, "VelquinMetaball");
    EXPECT_STREQ(obj->GetObjectName(), "Object");
    EXPECT_EQ(std::string(node->GetName()), "Blob");

    EXPECT_EQ(obj->GetInterface(ULONG(0x20122002)), static_cast<VRenderObject*>(obj));
    EXPECT_EQ(obj->GetInterface(ULONG(0x20122003)), nullptr);
    EXPECT_EQ(obj->GetInterface(Interface_ID(0x3d1bec1c, 0x43756d06)),
              static_cast<BaseInterface*>(static_cast<IVelquinMetaball*>(obj)));
    EXPECT_EQ(obj->GetInterface(Interface_ID(0x3d1bec1b, 0x43756d05)), nullptr);

    ASSERT_NE(obj->pblock, nullptr);
    EXPECT_EQ(obj->NumRefs(), 1);
    EXPECT_EQ(obj->GetReference(0), obj->pblock);
    EXPECT_EQ(obj->GetReference(1), nullptr);
    obj->SetReference(1, obj->pblock); // ignored
    EXPECT_EQ(obj->GetReference(1), nullptr);
    EXPECT_EQ(obj->NumSubs(), 1);
    EXPECT_EQ(obj->SubAnim(0), obj->pblock);
    EXPECT_EQ(obj->SubAnim(1), nullptr);
    EXPECT_EQ(obj->SubAnimName(0), "VelquinMetaball Parameters");
    EXPECT_EQ(obj->SubAnimName(1), "");
    EXPECT_EQ(obj->NumParamBlocks(), 1);
    EXPECT_EQ(obj->GetParamBlock(3), obj->pblock);
    EXPECT_EQ(obj->GetParamBlockByID(0), obj->pblock);
    EXPECT_EQ(obj->GetParamBlockByID(1), nullptr);
    EXPECT_EQ(obj->Eval(0).obj, obj);

    View view;
    BOOL needDelete = TRUE;
    Mesh* mesh = obj->GetRenderMesh(0, node, view, needDelete);
    EXPECT_EQ(mesh, &obj->renderMesh);
    EXPECT_EQ(mesh->numVerts, 0);
    EXPECT_EQ(mesh->numFaces, 0);
    EXPECT_EQ(needDelete, FALSE);
}

TEST_F(Icon, RenderObjectPartMakesAndDestroysInstances) {
    VR::VRayCore vray;
    VRenderObject* ro = static_cast<VRenderObject*>(obj->GetInterface(ULONG(I_VRAYGEOMETRY)));
    ASSERT_NE(ro, nullptr);
    EXPECT_EQ(ro->init(node, &vray), 1);
    EXPECT_EQ(ro->getInitNode(), node);
    ro->renderBegin(160, &vray);
    EXPECT_TRUE(ro->isRendering());
    ro->frameBegin(320, &vray);
    EXPECT_EQ(ro->getFrameTime(), 320);
    VRenderInstance* inst = ro->createRenderInstance(node, &vray, 7);
    ASSERT_NE(inst, nullptr);
    EXPECT_EQ(inst->getRenderObject(), ro);
    EXPECT_EQ(inst->getRenderID(), 7);
    ro->destroyRenderInstance(inst);
    ro->frameEnd(&vray);
    ro->renderEnd(&vray);
    EXPECT_FALSE(ro->isRendering());
}

} // namespace
