#include "platform/max/viewport.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr float kNear = 0.01f; // near clipping depth of perspective views
constexpr float kPi = 3.14159265358979f;

float distPointSegment(float px, float py, float ax, float ay, float bx, float by) {
    float dx = bx - ax, dy = by - ay;
    float len2 = dx * dx + dy * dy;
    float t = 0.0f;
    if (len2 > 0.0f)
        t = std::clamp(((px - ax) * dx + (py - ay) * dy) / len2, 0.0f, 1.0f);
    float qx = ax + t * dx - px, qy = ay + t * dy - py;
    return std::sqrt(qx * qx + qy * qy);
}

float distPointRect(float px, float py, float x0, float y0, float x1, float y1) {
    float dx = std::max({x0 - px, 0.0f, px - x1});
    float dy = std::max({y0 - py, 0.0f, py - y1});
    return std::sqrt(dx * dx + dy * dy);
}

bool inRect(float x, float y, const RECT& r) {
    return x >= r.left && x <= r.right && y >= r.top && y <= r.bottom;
}

// Liang-Barsky: whether any part of the segment lies inside the rectangle.
bool segmentTouchesRect(float ax, float ay, float bx, float by, const RECT& r) {
    float t0 = 0.0f, t1 = 1.0f;
    float dx = bx - ax, dy = by - ay;
    const float p[4] = {-dx, dx, -dy, dy};
    const float q[4] = {ax - r.left, r.right - ax, ay - r.top, r.bottom - ay};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0f) {
            if (q[i] < 0.0f)
                return false;
            continue;
        }
        float t = q[i] / p[i];
        if (p[i] < 0.0f)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    return true;
}

RECT normalized(RECT r) {
    if (r.left > r.right)
        std::swap(r.left, r.right);
    if (r.top > r.bottom)
        std::swap(r.top, r.bottom);
    return r;
}

} // namespace

void MakeHitRegion(HitRegion& hr, int type, int crossing, int epsi, IPoint2* p) {
    hr.crossing = crossing;
    hr.epsilon = epsi;
    switch (type) {
    case HITTYPE_BOX:
        hr.type = RECT_RGN;
        hr.rect.left = p[0].x;
        hr.rect.top = p[0].y;
        hr.rect.right = p[1].x;
        hr.rect.bottom = p[1].y;
        hr.rect = normalized(hr.rect);
        break;
    case HITTYPE_CIRCLE: {
        hr.type = CIRCLE_RGN;
        hr.circle.x = p[0].x;
        hr.circle.y = p[0].y;
        double dx = p[1].x - p[0].x, dy = p[1].y - p[0].y;
        hr.circle.r = static_cast<LONG>(std::lround(std::sqrt(dx * dx + dy * dy)));
        break;
    }
    default:
        hr.type = POINT_RGN;
        hr.pt = p[0];
        break;
    }
}

// ---- GraphicsWindow ----

void GraphicsWindow::setColor(ColorType t, float r, float g, float b) {
    if (t >= LINE_COLOR && t <= CLEAR_COLOR)
        colors_[t] = Point3(r, g, b);
}

Point3 GraphicsWindow::getColor(ColorType t) const {
    return (t >= LINE_COLOR && t <= CLEAR_COLOR) ? colors_[t] : Point3();
}

void GraphicsWindow::startSegments() {
    inBatch_ = true;
    ++batches_;
}

void GraphicsWindow::endSegments() {
    inBatch_ = false;
}

void GraphicsWindow::segment(Point3* xyz, int vis) {
    (void)vis;
    drawSegment(tm_.PointTransform(xyz[0]), tm_.PointTransform(xyz[1]));
}

void GraphicsWindow::polyline(int ct, Point3* xyz, Point3* rgb, int closed, int* es) {
    (void)rgb;
    (void)es;
    for (int i = 0; i + 1 < ct; ++i)
        drawSegment(tm_.PointTransform(xyz[i]), tm_.PointTransform(xyz[i + 1]));
    if (closed && ct > 2)
        drawSegment(tm_.PointTransform(xyz[ct - 1]), tm_.PointTransform(xyz[0]));
}

void GraphicsWindow::drawSegment(const Point3& a, const Point3& b) {
    Point3 wa = a, wb = b;
    const ViewCamera& cam = vp_->GetCamera();
    if (cam.perspective) {
        // Clip against the near plane so that a segment passing behind the camera keeps only
        // its visible part.
        Point3 fwd = Normalize(cam.target - cam.position);
        float da = DotProd(a - cam.position, fwd), db = DotProd(b - cam.position, fwd);
        if (da < kNear && db < kNear)
            return;
        if (da < kNear)
            wa = a + (b - a) * ((kNear - da) / (db - da));
        else if (db < kNear)
            wb = b + (a - b) * ((kNear - db) / (da - db));
    }
    Point3 sa, sb;
    vp_->Project(wa, sa);
    vp_->Project(wb, sb);
    if (rndLimits_ & GW_PICK) {
        hitSegment(sa, sb);
        return;
    }
    DrawnSegment s;
    s.world[0] = wa;
    s.world[1] = wb;
    s.screen[0] = sa;
    s.screen[1] = sb;
    s.color = colors_[LINE_COLOR];
    s.batch = inBatch_ ? batches_ - 1 : -1;
    segments_.push_back(s);
}

void GraphicsWindow::marker(Point3* xyz, MarkerType type) {
    Point3 w = tm_.PointTransform(*xyz), s;
    if (!vp_->Project(w, s))
        return;
    if (rndLimits_ & GW_PICK) {
        hitPoint(s.x, s.y);
        return;
    }
    markers_.push_back({w, s, type, colors_[LINE_COLOR]});
}

DWORD GraphicsWindow::transPoint(const Point3* in, Point3* out) {
    Point3 s;
    if (!vp_->Project(tm_.PointTransform(*in), s))
        return 1;
    *out = s;
    return 0;
}

DWORD GraphicsWindow::wTransPoint(const Point3* in, IPoint3* out) {
    Point3 s;
    if (!vp_->Project(*in, s))
        return 1;
    out->x = static_cast<int>(std::lround(s.x));
    out->y = static_cast<int>(std::lround(s.y));
    out->z = static_cast<int>(std::lround(s.z));
    return 0;
}

void GraphicsWindow::getTextExtents(const char* text, SIZE* sp) {
    if (!sp)
        return;
    size_t n = text ? std::strlen(text) : 0;
    sp->cx = static_cast<LONG>(n) * GW_CHAR_WIDTH;
    sp->cy = n ? GW_CHAR_HEIGHT : 0;
}

void GraphicsWindow::text(Point3* xyz, const char* s) {
    Point3 p;
    if (transPoint(xyz, &p))
        return;
    IPoint3 ip{static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y)),
               static_cast<int>(std::lround(p.z))};
    wText(&ip, s);
}

void GraphicsWindow::wText(IPoint3* xyz, const char* s) {
    SIZE ext;
    getTextExtents(s, &ext);
    if (rndLimits_ & GW_PICK) {
        hitRect(static_cast<float>(xyz->x), static_cast<float>(xyz->y),
                static_cast<float>(xyz->x + ext.cx), static_cast<float>(xyz->y + ext.cy));
        return;
    }
    texts_.push_back({s ? s : "", IPoint2{xyz->x, xyz->y}, ext, colors_[TEXT_COLOR]});
}

void GraphicsWindow::setHitRegion(HitRegion* rgn) {
    if (!rgn)
        return;
    region_ = *rgn;
    if (region_.type == RECT_RGN)
        region_.rect = normalized(region_.rect);
}

void GraphicsWindow::clearHitCode() {
    hit_ = false;
    anyDrawn_ = false;
    allInside_ = true;
    hitDistance_ = 0;
}

BOOL GraphicsWindow::checkHitCode() const {
    bool window = region_.type != POINT_RGN && !region_.crossing;
    if (window)
        return anyDrawn_ && allInside_;
    return hit_;
}

void GraphicsWindow::noteHit(float dist) {
    DWORD d = static_cast<DWORD>(std::lround(dist));
    if (!hit_ || d < hitDistance_)
        hitDistance_ = d;
    hit_ = true;
}

void GraphicsWindow::noteShape(bool touches, bool inside) {
    anyDrawn_ = true;
    if (!inside)
        allInside_ = false;
    if (touches)
        noteHit(0.0f);
}

void GraphicsWindow::hitSegment(const Point3& sa, const Point3& sb) {
    switch (region_.type) {
    case RECT_RGN:
        noteShape(segmentTouchesRect(sa.x, sa.y, sb.x, sb.y, region_.rect),
                  inRect(sa.x, sa.y, region_.rect) && inRect(sb.x, sb.y, region_.rect));
        break;
    case CIRCLE_RGN: {
        float cx = static_cast<float>(region_.circle.x), cy = static_cast<float>(region_.circle.y);
        float r = static_cast<float>(region_.circle.r);
        bool inside =
            std::hypot(sa.x - cx, sa.y - cy) <= r && std::hypot(sb.x - cx, sb.y - cy) <= r;
        noteShape(distPointSegment(cx, cy, sa.x, sa.y, sb.x, sb.y) <= r, inside);
        break;
    }
    default: {
        anyDrawn_ = true;
        float d = distPointSegment(static_cast<float>(region_.pt.x),
                                   static_cast<float>(region_.pt.y), sa.x, sa.y, sb.x, sb.y);
        if (d <= static_cast<float>(region_.epsilon))
            noteHit(d);
        break;
    }
    }
}

void GraphicsWindow::hitRect(float x0, float y0, float x1, float y1) {
    switch (region_.type) {
    case RECT_RGN: {
        const RECT& r = region_.rect;
        bool touches = x0 <= r.right && x1 >= r.left && y0 <= r.bottom && y1 >= r.top;
        noteShape(touches, inRect(x0, y0, r) && inRect(x1, y1, r));
        break;
    }
    case CIRCLE_RGN: {
        float cx = static_cast<float>(region_.circle.x), cy = static_cast<float>(region_.circle.y);
        float r = static_cast<float>(region_.circle.r);
        bool inside = std::hypot(x0 - cx, y0 - cy) <= r && std::hypot(x1 - cx, y0 - cy) <= r &&
                      std::hypot(x0 - cx, y1 - cy) <= r && std::hypot(x1 - cx, y1 - cy) <= r;
        noteShape(distPointRect(cx, cy, x0, y0, x1, y1) <= r, inside);
        break;
    }
    default: {
        anyDrawn_ = true;
        float d = distPointRect(static_cast<float>(region_.pt.x), static_cast<float>(region_.pt.y),
                                x0, y0, x1, y1);
        if (d <= static_cast<float>(region_.epsilon))
            noteHit(d);
        break;
    }
    }
}

void GraphicsWindow::hitPoint(float x, float y) {
    hitRect(x, y, x, y);
}

int GraphicsWindow::getWinSizeX() const {
    return vp_->Width();
}

int GraphicsWindow::getWinSizeY() const {
    return vp_->Height();
}

void GraphicsWindow::ClearRecord() {
    segments_.clear();
    texts_.clear();
    markers_.clear();
    batches_ = 0;
}

// ---- ViewExp ----

ViewExp::ViewExp(int width, int height)
    : width_(width > 0 ? width : 1), height_(height > 0 ? height : 1), gw_(this),
      hwnd_(reinterpret_cast<HWND>(&handleTag_)) {}

void ViewExp::cameraBasis(Point3& right, Point3& up, Point3& fwd) const {
    fwd = Normalize(cam_.target - cam_.position);
    if (fwd.LengthSquared() == 0.0f)
        fwd = Point3(0.0f, 1.0f, 0.0f);
    right = CrossProd(fwd, cam_.up);
    if (right.LengthSquared() < 1e-12f) // looking along the up vector
        right = CrossProd(fwd, Point3(0.0f, 1.0f, 0.0f));
    right = Normalize(right);
    up = CrossProd(right, fwd);
}

float ViewExp::focalPixels() const {
    float half = cam_.fov * 0.5f * kPi / 180.0f;
    return 0.5f * static_cast<float>(height_) / std::tan(half);
}

void ViewExp::Zoom(float factor) {
    if (!(factor > 0.0f))
        return;
    if (cam_.perspective)
        cam_.position = cam_.target + (cam_.position - cam_.target) / factor;
    else
        cam_.orthoWidth /= factor;
}

bool ViewExp::Project(const Point3& world, Point3& screen) const {
    Point3 right, up, fwd;
    cameraBasis(right, up, fwd);
    Point3 d = world - cam_.position;
    float xc = DotProd(d, right), yc = DotProd(d, up), zc = DotProd(d, fwd);
    float cx = 0.5f * static_cast<float>(width_), cy = 0.5f * static_cast<float>(height_);
    if (cam_.perspective) {
        if (zc < kNear * 0.5f) // a little slack for points clipped exactly at the near plane
            return false;
        float f = focalPixels();
        screen = Point3(cx + f * xc / zc, cy - f * yc / zc, zc);
    } else {
        float s = static_cast<float>(width_) / cam_.orthoWidth;
        screen = Point3(cx + xc * s, cy - yc * s, zc);
    }
    return true;
}

Ray ViewExp::MapScreenToWorldRay(float sx, float sy) const {
    Point3 right, up, fwd;
    cameraBasis(right, up, fwd);
    float dx = sx - 0.5f * static_cast<float>(width_);
    float dy = 0.5f * static_cast<float>(height_) - sy;
    Ray r;
    if (cam_.perspective) {
        float f = focalPixels();
        r.p = cam_.position;
        r.dir = Normalize(fwd + right * (dx / f) + up * (dy / f));
    } else {
        float s = static_cast<float>(width_) / cam_.orthoWidth;
        r.p = cam_.position + right * (dx / s) + up * (dy / s);
        r.dir = fwd;
    }
    return r;
}

Point3 ViewExp::SnapPoint(const IPoint2& in, IPoint2& out, Matrix3* plane2d, DWORD flags) {
    (void)flags;
    Matrix3 tm = plane2d ? *plane2d : construction_;
    Point3 origin = tm.GetTrans();
    Point3 n = Normalize(CrossProd(tm.GetRow(0), tm.GetRow(1)));
    Ray ray = MapScreenToWorldRay(static_cast<float>(in.x), static_cast<float>(in.y));
    float denom = DotProd(ray.dir, n);
    Point3 world;
    if (std::fabs(denom) < 1e-8f)
        world = ray.p - n * DotProd(ray.p - origin, n);
    else
        world = ray.p + ray.dir * (DotProd(origin - ray.p, n) / denom);
    Point3 local = Inverse(tm).PointTransform(world);
    local.z = 0.0f;
    if (gridSpacing_ > 0.0f) {
        local.x = std::round(local.x / gridSpacing_) * gridSpacing_;
        local.y = std::round(local.y / gridSpacing_) * gridSpacing_;
    }
    Point3 s;
    if (Project(tm.PointTransform(local), s))
        out = IPoint2{static_cast<int>(std::lround(s.x)), static_cast<int>(std::lround(s.y))};
    else
        out = in;
    return local;
}

float ViewExp::GetVPWorldWidth(const Point3& wPoint) const {
    if (!cam_.perspective)
        return cam_.orthoWidth;
    Point3 right, up, fwd;
    cameraBasis(right, up, fwd);
    float zc = std::max(DotProd(wPoint - cam_.position, fwd), kNear);
    return static_cast<float>(width_) * zc / focalPixels();
}

void ViewExp::LogHit(INode* nr, DWORD dist, ULONG info) {
    hits_.push_back({nr, dist, info});
}

HitRecord* ViewExp::GetClosestHit() {
    HitRecord* best = nullptr;
    for (HitRecord& h : hits_)
        if (!best || h.distance < best->distance)
            best = &h;
    return best;
}
