#include "host/max_scene.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A top view: one pixel per unit, world (x, y) at pixel (320 + x, 240 - y).
void topView(ViewExp& vp) {
    ViewCamera cam;
    cam.perspective = false;
    cam.position = Point3(0, 0, 100);
    cam.target = Point3(0, 0, 0);
    cam.up = Point3(0, 1, 0);
    cam.orthoWidth = 640.0f;
    vp.SetCamera(cam);
}

void drawSegment(GraphicsWindow* gw, Point3 a, Point3 b) {
    Point3 s[2] = {a, b};
    gw->startSegments();
    gw->segment(s, 1);
    gw->endSegments();
}

// Draws the segment (0,0)-(100,0) in pick mode against a region and answers the hit code.
BOOL hitSegment(ViewExp& vp, int type, int crossing, IPoint2 p0, IPoint2 p1 = {}) {
    GraphicsWindow* gw = vp.getGW();
    IPoint2 pts[2] = {p0, p1};
    HitRegion hr;
    MakeHitRegion(hr, type, crossing, 4, pts);
    DWORD saved = gw->getRndLimits();
    gw->setRndLimits((saved | GW_PICK) & ~GW_ILLUM);
    gw->setHitRegion(&hr);
    gw->clearHitCode();
    gw->setTransform(Matrix3());
    drawSegment(gw, Point3(0, 0, 0), Point3(100, 0, 0));
    gw->setRndLimits(saved);
    return gw->checkHitCode();
}

TEST(SceneViewport, RecordsSegmentsTextsAndColours) {
    ViewExp vp(640, 480);
    topView(vp);
    GraphicsWindow* gw = vp.getGW();
    gw->setTransform(TransMatrix(Point3(10, 0, 0)));
    gw->setColor(LINE_COLOR, 1.0f, 0.0f, 0.0f);
    drawSegment(gw, Point3(0, 0, 0), Point3(0, 50, 0));
    gw->setColor(TEXT_COLOR, Point3(0, 0, 1));
    IPoint3 at{5, 6, 0};
    gw->wText(&at, "Label");

    ASSERT_EQ(gw->Segments().size(), 1u);
    const DrawnSegment& s = gw->Segments()[0];
    EXPECT_EQ(s.world[1], Point3(10, 50, 0));
    EXPECT_EQ(s.screen[0].x, 330.0f);
    EXPECT_EQ(s.screen[1].y, 190.0f);
    EXPECT_EQ(s.color, Point3(1, 0, 0));
    EXPECT_EQ(s.batch, 0);
    ASSERT_EQ(gw->Texts().size(), 1u);
    EXPECT_EQ(gw->Texts()[0].text, "Label");
    EXPECT_EQ(gw->Texts()[0].pos.x, 5);
    EXPECT_EQ(gw->Texts()[0].color, Point3(0, 0, 1));
    SIZE ext;
    gw->getTextExtents("Label", &ext);
    EXPECT_EQ(ext.cx, 5 * GW_CHAR_WIDTH);
    EXPECT_EQ(ext.cy, GW_CHAR_HEIGHT);

    // Projection through the current transform.
    Point3 origin(0, 0, 0), out;
    EXPECT_EQ(gw->transPoint(&origin, &out), 0u);
    EXPECT_EQ(out.x, 330.0f);
    IPoint3 w;
    Point3 world(-20, 20, 0);
    EXPECT_EQ(gw->wTransPoint(&world, &w), 0u);
    EXPECT_EQ(w.x, 300);
    EXPECT_EQ(w.y, 220);

    gw->ClearRecord();
    EXPECT_TRUE(gw->Segments().empty());
    EXPECT_TRUE(gw->Texts().empty());
}

TEST(SceneViewport, PickModeHitTestsInsteadOfRecording) {
    ViewExp vp(640, 480);
    topView(vp);
    // Segment on screen from (320, 240) to (420, 240).
    EXPECT_TRUE(hitSegment(vp, HITTYPE_POINT, FALSE, {370, 243}));
    EXPECT_EQ(vp.getGW()->getHitDistance(), 3u);
    EXPECT_FALSE(hitSegment(vp, HITTYPE_POINT, FALSE, {370, 245})); // beyond the 4 pixels
    EXPECT_FALSE(hitSegment(vp, HITTYPE_POINT, FALSE, {430, 240}));
    EXPECT_TRUE(vp.getGW()->Segments().empty());

    // Crossing box: touching is enough; window box: all of it must be inside.
    EXPECT_TRUE(hitSegment(vp, HITTYPE_BOX, TRUE, {400, 200}, {500, 300}));
    EXPECT_FALSE(hitSegment(vp, HITTYPE_BOX, FALSE, {400, 200}, {500, 300}));
    EXPECT_TRUE(hitSegment(vp, HITTYPE_BOX, FALSE, {500, 300}, {300, 200})); // any corner order
    EXPECT_FALSE(hitSegment(vp, HITTYPE_BOX, TRUE, {430, 200}, {500, 300}));
    // A box the segment crosses without an end inside.
    EXPECT_TRUE(hitSegment(vp, HITTYPE_BOX, TRUE, {350, 230}, {360, 250}));

    // Circles.
    EXPECT_TRUE(hitSegment(vp, HITTYPE_CIRCLE, TRUE, {370, 250}, {370, 260}));
    EXPECT_FALSE(hitSegment(vp, HITTYPE_CIRCLE, FALSE, {370, 250}, {370, 260}));
    EXPECT_TRUE(hitSegment(vp, HITTYPE_CIRCLE, FALSE, {370, 240}, {370, 300}));
    EXPECT_FALSE(hitSegment(vp, HITTYPE_CIRCLE, TRUE, {370, 300}, {370, 320}));
}

TEST(SceneViewport, TextIsHitByItsBox) {
    ViewExp vp(640, 480);
    GraphicsWindow* gw = vp.getGW();
    IPoint2 p{12, 105};
    HitRegion hr;
    MakeHitRegion(hr, HITTYPE_POINT, FALSE, 0, &p);
    gw->setRndLimits(gw->getRndLimits() | GW_PICK);
    gw->setHitRegion(&hr);
    gw->clearHitCode();
    IPoint3 at{10, 100, 0};
    gw->wText(&at, "ab"); // 14 x 13 pixels from (10, 100)
    EXPECT_TRUE(gw->checkHitCode());
    p = {30, 105};
    MakeHitRegion(hr, HITTYPE_POINT, FALSE, 0, &p);
    gw->setHitRegion(&hr);
    gw->clearHitCode();
    gw->wText(&at, "ab");
    EXPECT_FALSE(gw->checkHitCode());
    EXPECT_TRUE(gw->Texts().empty());
}

TEST(SceneViewport, PerspectiveProjectionAndNearClipping) {
    ViewExp vp(640, 480);
    ViewCamera cam; // perspective from (0, -200, 100) at the origin
    vp.SetCamera(cam);
    Point3 s;
    ASSERT_TRUE(vp.Project(Point3(0, 0, 0), s));
    EXPECT_NEAR(s.x, 320.0f, 1e-3f);
    EXPECT_NEAR(s.y, 240.0f, 1e-3f);
    EXPECT_FALSE(vp.Project(cam.position + (cam.position - cam.target), s)); // behind

    // A segment reaching behind the camera keeps only its visible part.
    GraphicsWindow* gw = vp.getGW();
    drawSegment(gw, Point3(0, 0, 0), Point3(0, -400, 200));
    ASSERT_EQ(gw->Segments().size(), 1u);
    Point3 fwd = Normalize(cam.target - cam.position);
    EXPECT_NEAR(DotProd(gw->Segments()[0].world[1] - cam.position, fwd), 0.01f, 1e-4f);
    drawSegment(gw, cam.position * 2.0f, cam.position * 3.0f); // wholly behind
    EXPECT_EQ(gw->Segments().size(), 1u);

    // The screen ray through a pixel passes through what projects there.
    Ray r = vp.MapScreenToWorldRay(100.0f, 50.0f);
    ASSERT_TRUE(vp.Project(r.p + r.dir * 300.0f, s));
    EXPECT_NEAR(s.x, 100.0f, 1e-2f);
    EXPECT_NEAR(s.y, 50.0f, 1e-2f);
}

TEST(SceneViewport, ObjectsScaledByWorldWidthKeepTheirScreenSize) {
    for (bool perspective : {true, false}) {
        ViewExp vp(640, 480);
        ViewCamera cam;
        cam.perspective = perspective;
        vp.SetCamera(cam);
        vp.SetNonScalingObjectSize(1.0f);
        auto screenLength = [&]() {
            Point3 at(0, 0, 0);
            float k = vp.GetVPWorldWidth(at) * vp.NonScalingObjectSize() / 360.0f;
            Point3 a, b;
            vp.Project(at, a);
            vp.Project(at + Point3(k, 0, 0), b);
            return (b - a).Length();
        };
        float before = screenLength();
        float widthBefore = vp.GetVPWorldWidth(Point3());
        vp.Zoom(2.0f);
        EXPECT_NEAR(vp.GetVPWorldWidth(Point3()), widthBefore / 2.0f, widthBefore * 1e-5f);
        EXPECT_NEAR(screenLength(), before, before * 1e-4f);
        EXPECT_NEAR(before, 640.0f / 360.0f, 1e-3f);
    }
}

TEST(SceneViewport, SnapPointOnTheConstructionPlane) {
    ViewExp vp(640, 480);
    topView(vp);
    IPoint2 out;
    Point3 p = vp.SnapPoint(IPoint2{420, 140}, out, nullptr, SNAP_IN_PLANE);
    EXPECT_EQ(p, Point3(100, 100, 0));
    EXPECT_EQ(out.x, 420);
    EXPECT_EQ(out.y, 140);
    vp.SetGridSnap(30.0f);
    p = vp.SnapPoint(IPoint2{420, 140}, out, nullptr, SNAP_IN_3D);
    EXPECT_EQ(p, Point3(90, 90, 0));
    EXPECT_EQ(out.x, 410);
    vp.SetGridSnap(0.0f);

    // Coordinates are those of the plane: a plane moved up and across.
    Matrix3 plane = TransMatrix(Point3(50, 0, 10));
    p = vp.SnapPoint(IPoint2{420, 140}, out, &plane, SNAP_IN_PLANE);
    EXPECT_EQ(p, Point3(50, 100, 0));

    // Perspective: the snapped point projects back to the cursor.
    vp.SetCamera(ViewCamera());
    p = vp.SnapPoint(IPoint2{200, 300}, out, nullptr, SNAP_IN_PLANE);
    EXPECT_NEAR(p.z, 0.0f, 1e-6f);
    EXPECT_EQ(out.x, 200);
    EXPECT_EQ(out.y, 300);
}

TEST(SceneViewport, HitLogAnswersTheClosest) {
    ViewExp vp;
    EXPECT_EQ(vp.GetClosestHit(), nullptr);
    INode a("a"), b("b"), c("c");
    vp.LogHit(&a, 3);
    vp.LogHit(&b, 1);
    vp.LogHit(&c, 1);
    ASSERT_NE(vp.GetClosestHit(), nullptr);
    EXPECT_EQ(vp.GetClosestHit()->nodeRef, &b);
    EXPECT_EQ(vp.NumHits(), 3);
    vp.ClearHitList();
    EXPECT_EQ(vp.GetClosestHit(), nullptr);
}

} // namespace
