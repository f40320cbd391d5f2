// Viewports of the host stand-in: a simple camera, the graphics window that records what objects
// draw (and hit-tests the drawing against a region while picking), hit regions, and ViewExp with
// construction-plane snapping and the hit log.
//
// Screen coordinates are pixels with x to the right and y downwards, (0, 0) at the top-left
// corner of the viewport.
#pragma once

#include "platform/max/maxtypes.h"
#include "platform/win/wintypes.h"

#include <string>
#include <vector>

class INode;
class ViewExp;

#ifndef VELQUIN_WIN_SIZE_DEFINED
#define VELQUIN_WIN_SIZE_DEFINED
struct SIZE {
    LONG cx = 0, cy = 0;
};
#endif

// Kinds of hit test an object is asked for.
constexpr int HITTYPE_POINT = 1;
constexpr int HITTYPE_BOX = 2;
constexpr int HITTYPE_CIRCLE = 3;
constexpr int HITTYPE_SOLID = 4;

// Region kinds of a HitRegion.
constexpr DWORD POINT_RGN = 0x1;
constexpr DWORD RECT_RGN = 0x2;
constexpr DWORD CIRCLE_RGN = 0x4;

struct CIRCLE {
    LONG x = 0, y = 0, r = 0;
};

// A screen region to hit-test against. crossing: a rectangle or circle hits what touches it
// (crossing) or only what lies wholly inside it (window). epsilon: pick distance of a point region.
struct HitRegion {
    DWORD type = POINT_RGN;
    int crossing = TRUE;
    int epsilon = 0;
    IPoint2 pt;
    RECT rect;
    CIRCLE circle;
};

// Builds a region from a hit-test kind and its points: a point (p[0]), a box (corners p[0] and
// p[1]) or a circle (centre p[0], through p[1]). Solid hits are point hits here.
void MakeHitRegion(HitRegion& hr, int type, int crossing, int epsi, IPoint2* p);

enum ColorType { LINE_COLOR = 0, FILL_COLOR = 1, TEXT_COLOR = 2, CLEAR_COLOR = 3 };
enum MarkerType { POINT_MRKR = 0, HOLLOW_BOX_MRKR = 1, PLUS_SIGN_MRKR = 2, X_MRKR = 3 };

// Render limits.
constexpr DWORD GW_WIREFRAME = 0x1;
constexpr DWORD GW_ILLUM = 0x2; // lighting
constexpr DWORD GW_Z_BUFFER = 0x8;
constexpr DWORD GW_PICK = 0x1000;

// Fixed-pitch font of the stand-in's text.
constexpr int GW_CHAR_WIDTH = 7;
constexpr int GW_CHAR_HEIGHT = 13;

// A pinhole (perspective) or parallel (orthographic) camera looking from position at target.
struct ViewCamera {
    bool perspective = true;
    Point3 position{0.0f, -200.0f, 100.0f};
    Point3 target{0.0f, 0.0f, 0.0f};
    Point3 up{0.0f, 0.0f, 1.0f};
    float fov = 45.0f;         // vertical field of view in degrees (perspective)
    float orthoWidth = 400.0f; // world width across the viewport (orthographic)
};

// One segment as drawn: its ends in world space (after clipping at the near plane) and on
// screen (x, y in pixels, z the depth in front of the camera).
struct DrawnSegment {
    Point3 world[2];
    Point3 screen[2];
    Point3 color;
    int batch = 0; // index of the startSegments batch, -1 outside a batch
};
// One text as drawn: top-left corner on screen, its extents and colour.
struct DrawnText {
    std::string text;
    IPoint2 pos;
    SIZE extent;
    Point3 color;
};
struct DrawnMarker {
    Point3 world;
    Point3 screen;
    MarkerType type = POINT_MRKR;
    Point3 color;
};

class GraphicsWindow {
public:
    explicit GraphicsWindow(ViewExp* owner) : vp_(owner) {}
    GraphicsWindow(const GraphicsWindow&) = delete;
    GraphicsWindow& operator=(const GraphicsWindow&) = delete;

    // Object-to-world transform for everything drawn next.
    void setTransform(const Matrix3& m) { tm_ = m; }
    const Matrix3& getTransform() const { return tm_; }

    void setColor(ColorType t, float r, float g, float b);
    void setColor(ColorType t, const Point3& c) { setColor(t, c.x, c.y, c.z); }
    Point3 getColor(ColorType t) const;

    // Segments in object space; vis is ignored (every segment shows).
    void startSegments();
    void segment(Point3* xyz, int vis);
    void endSegments();
    // Open or closed line through ct points in object space (rgb and es are ignored).
    void polyline(int ct, Point3* xyz, Point3* rgb, int closed, int* es);
    void marker(Point3* xyz, MarkerType type);

    // Object space to screen (floats; z is the depth). Answers 0 when the point lies in front of
    // the camera, else a non-zero clip code with out left untouched.
    DWORD transPoint(const Point3* in, Point3* out);
    // World space to screen, rounded to whole pixels.
    DWORD wTransPoint(const Point3* in, IPoint3* out);
    DWORD hTransPoint(const Point3* in, IPoint3* out) { return wTransPoint(in, out); }

    void getTextExtents(const char* text, SIZE* sp);
    // Text anchored at an object-space point (projected) or at a screen point; the anchor is the
    // text's top-left corner.
    void text(Point3* xyz, const char* s);
    void wText(IPoint3* xyz, const char* s);

    DWORD getRndLimits() const { return rndLimits_; }
    void setRndLimits(DWORD l) { rndLimits_ = l; }
    // While the limits carry GW_PICK, drawing is tested against this region instead of recorded.
    void setHitRegion(HitRegion* rgn);
    void clearHitCode();
    // Point and crossing regions: something drawn touched the region. Window regions: something
    // was drawn and all of it lay inside.
    BOOL checkHitCode() const;
    // Smallest pixel distance of a hit (point regions; 0 for other regions).
    DWORD getHitDistance() const { return hitDistance_; }

    int getWinSizeX() const;
    int getWinSizeY() const;

    // What has been drawn since the last ClearRecord.
    const std::vector<DrawnSegment>& Segments() const { return segments_; }
    const std::vector<DrawnText>& Texts() const { return texts_; }
    const std::vector<DrawnMarker>& Markers() const { return markers_; }
    int BatchCount() const { return batches_; }
    void ClearRecord();

private:
    void drawSegment(const Point3& a, const Point3& b); // world space
    void hitSegment(const Point3& sa, const Point3& sb);
    void hitRect(float x0, float y0, float x1, float y1);
    void hitPoint(float x, float y);
    void noteHit(float dist);
    void noteShape(bool touches, bool inside);

    ViewExp* vp_;
    Matrix3 tm_;
    Point3 colors_[4] = {{1, 1, 1}, {0.5f, 0.5f, 0.5f}, {1, 1, 1}, {0.25f, 0.25f, 0.25f}};
    DWORD rndLimits_ = GW_WIREFRAME | GW_ILLUM | GW_Z_BUFFER;
    HitRegion region_;
    bool inBatch_ = false;
    int batches_ = 0;
    bool hit_ = false;
    bool anyDrawn_ = false;
    bool allInside_ = true;
    DWORD hitDistance_ = 0;
    std::vector<DrawnSegment> segments_;
    std::vector<DrawnText> texts_;
    std::vector<DrawnMarker> markers_;
};

// One logged hit of a viewport pick.
struct HitRecord {
    INode* nodeRef = nullptr;
    DWORD distance = 0;
    ULONG hitInfo = 0;
};

// Snap flags.
constexpr DWORD SNAP_IN_3D = 0x0;
constexpr DWORD SNAP_IN_PLANE = 0x1;

struct Ray {
    Point3 p;   // origin
    Point3 dir; // unit direction
};

class ViewExp {
public:
    ViewExp(int width = 640, int height = 480);
    ViewExp(const ViewExp&) = delete;
    ViewExp& operator=(const ViewExp&) = delete;

    GraphicsWindow* getGW() { return &gw_; }
    HWND GetHWnd() const { return hwnd_; }
    int Width() const { return width_; }
    int Height() const { return height_; }

    void SetCamera(const ViewCamera& c) { cam_ = c; }
    const ViewCamera& GetCamera() const { return cam_; }
    // Zooms in by factor (> 1 brings the view closer): a perspective camera moves towards its
    // target, an orthographic one narrows its width.
    void Zoom(float factor);

    // World to screen; false when the point is not in front of the camera.
    bool Project(const Point3& world, Point3& screen) const;
    // The camera's ray through a screen point.
    Ray MapScreenToWorldRay(float sx, float sy) const;

    // The construction plane is the XY plane of this transform (world XY by default).
    void SetConstructionTM(const Matrix3& tm) { construction_ = tm; }
    void GetConstructionTM(Matrix3& tm) const { tm = construction_; }
    // Grid snapping on the construction plane; spacing 0 turns it off.
    void SetGridSnap(float spacing) { gridSpacing_ = spacing; }

    // The point on the construction plane (plane2d's XY plane when given) under the screen point,
    // in that plane's coordinates, snapped to the grid when grid snapping is on. out receives the
    // screen position of the snapped point. The stand-in has no 3D snap targets, so SNAP_IN_3D and
    // SNAP_IN_PLANE find the same point. A ray parallel to the plane gives the plane's point
    // nearest to the camera.
    Point3 SnapPoint(const IPoint2& in, IPoint2& out, Matrix3* plane2d = nullptr, DWORD flags = 0);

    // Width of the view in world units at the depth of a world point.
    float GetVPWorldWidth(const Point3& wPoint) const;
    // The host's size setting for objects that keep their screen size.
    float NonScalingObjectSize() const { return nonScalingSize_; }
    void SetNonScalingObjectSize(float s) { nonScalingSize_ = s; }

    // Hit log filled by node picking.
    void ClearHitList() { hits_.clear(); }
    void LogHit(INode* nr, DWORD dist, ULONG info = 0);
    int NumHits() const { return static_cast<int>(hits_.size()); }
    const HitRecord* GetHit(int i) const { return &hits_[static_cast<size_t>(i)]; }
    // The hit with the smallest distance (the first logged among equals), or null.
    HitRecord* GetClosestHit();

private:
    void cameraBasis(Point3& right, Point3& up, Point3& fwd) const;
    float focalPixels() const;

    int width_, height_;
    ViewCamera cam_;
    GraphicsWindow gw_;
    Matrix3 construction_;
    float gridSpacing_ = 0.0f;
    float nonScalingSize_ = 1.0f;
    std::vector<HitRecord> hits_;
    char handleTag_ = 0; // its address is the viewport's window handle
    HWND hwnd_;
};
