#include "platform/max/object.h"

#include "platform/max/core.h"
#include "platform/max/scene.h"
#include "platform/max/viewport.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kTwoPi = 6.28318530717959f;

Point3 wireColorOf(INode* inode) {
    if (!inode)
        return Point3(1.0f, 1.0f, 1.0f);
    if (inode->IsFrozen())
        return GetUIColor(COLOR_FREEZE);
    if (inode->Selected())
        return GetUIColor(COLOR_SELECTION);
    return ColorRefToPoint3(inode->GetWireColor());
}

void drawEdges(const Mesh& mesh, TimeValue t, INode* inode, ViewExp* vpt) {
    GraphicsWindow* gw = vpt->getGW();
    gw->setTransform(inode ? inode->GetObjectTM(t) : Matrix3());
    gw->setColor(LINE_COLOR, wireColorOf(inode));
    gw->startSegments();
    for (int f = 0; f < mesh.numFaces; ++f) {
        const Face& face = mesh.faces[f];
        for (int e = 0; e < 3; ++e) {
            DWORD a = face.v[e], b = face.v[(e + 1) % 3];
            if (a >= static_cast<DWORD>(mesh.numVerts) || b >= static_cast<DWORD>(mesh.numVerts))
                continue;
            Point3 seg[2] = {mesh.verts[a], mesh.verts[b]};
            gw->segment(seg, 1);
        }
    }
    gw->endSegments();
}

Box3 transformedBox(const Box3& local, const Matrix3& tm) {
    Box3 box;
    if (local.IsEmpty())
        return box;
    for (int i = 0; i < 8; ++i)
        box += tm.PointTransform(Point3((i & 1) ? local.pmax.x : local.pmin.x,
                                        (i & 2) ? local.pmax.y : local.pmin.y,
                                        (i & 4) ? local.pmax.z : local.pmin.z));
    return box;
}

} // namespace

void DrawMeshWire(const Mesh& mesh, TimeValue t, INode* inode, ViewExp* vpt) {
    if (vpt)
        drawEdges(mesh, t, inode, vpt);
}

int HitTestMeshWire(const Mesh& mesh, TimeValue t, INode* inode, int type, int crossing, IPoint2* p,
                    ViewExp* vpt) {
    if (!vpt || !p)
        return FALSE;
    GraphicsWindow* gw = vpt->getGW();
    HitRegion hr;
    MakeHitRegion(hr, type, crossing, 4, p);
    DWORD saved = gw->getRndLimits();
    gw->setRndLimits((saved | GW_PICK) & ~GW_ILLUM);
    gw->setHitRegion(&hr);
    gw->clearHitCode();
    drawEdges(mesh, t, inode, vpt);
    gw->setRndLimits(saved);
    return gw->checkHitCode();
}

// ---- TriObject ----

TriObject::~TriObject() {
    if (counts_)
        ++counts_->deleted;
}

TriObject* CreateNewTriObject() {
    return new TriObject();
}

int TriObject::Display(TimeValue t, INode* inode, ViewExp* vpt, int flags) {
    (void)flags;
    DrawMeshWire(mesh, t, inode, vpt);
    return 0;
}

int TriObject::HitTest(TimeValue t, INode* inode, int type, int crossing, int flags, IPoint2* p,
                       ViewExp* vpt) {
    (void)flags;
    return HitTestMeshWire(mesh, t, inode, type, crossing, p, vpt);
}

void TriObject::GetLocalBoundBox(TimeValue t, INode* inode, ViewExp* vp, Box3& box) {
    (void)t, (void)inode, (void)vp;
    box = mesh.getBoundingBox();
}

void TriObject::GetWorldBoundBox(TimeValue t, INode* inode, ViewExp* vp, Box3& box) {
    (void)vp;
    Matrix3 tm = inode ? inode->GetObjectTM(t) : Matrix3();
    box = mesh.getBoundingBox(&tm);
}

Mesh* TriObject::GetRenderMesh(TimeValue t, INode* inode, View& view, BOOL& needDelete) {
    (void)t, (void)inode, (void)view;
    needDelete = FALSE;
    return &mesh;
}

ReferenceTarget* TriObject::Clone(RemapDir& remap) {
    auto* c = new TriObject(mesh);
    BaseClone(this, c, remap);
    return c;
}

// ---- ProceduralObject ----

Interval ProceduralObject::ObjectValidity(TimeValue t) {
    Mesh m;
    Interval valid = FOREVER;
    BuildMesh(t, m, valid);
    return valid;
}

int ProceduralObject::CanConvertToType(Class_ID obtype) {
    return (obtype == triObjectClassID || obtype == ClassID()) ? TRUE : FALSE;
}

Object* ProceduralObject::ConvertToType(TimeValue t, Class_ID obtype) {
    if (obtype == ClassID())
        return this;
    if (!(obtype == triObjectClassID))
        return nullptr;
    auto* tri = new TriObject();
    Interval valid = FOREVER;
    BuildMesh(t, tri->mesh, valid);
    ++counts_->made;
    tri->SetConversionCounts(counts_);
    return tri;
}

int ProceduralObject::Display(TimeValue t, INode* inode, ViewExp* vpt, int flags) {
    (void)flags;
    Mesh m;
    Interval valid = FOREVER;
    BuildMesh(t, m, valid);
    DrawMeshWire(m, t, inode, vpt);
    return 0;
}

int ProceduralObject::HitTest(TimeValue t, INode* inode, int type, int crossing, int flags,
                              IPoint2* p, ViewExp* vpt) {
    (void)flags;
    Mesh m;
    Interval valid = FOREVER;
    BuildMesh(t, m, valid);
    return HitTestMeshWire(m, t, inode, type, crossing, p, vpt);
}

void ProceduralObject::GetLocalBoundBox(TimeValue t, INode* inode, ViewExp* vp, Box3& box) {
    (void)inode, (void)vp;
    Mesh m;
    Interval valid = FOREVER;
    BuildMesh(t, m, valid);
    box = m.getBoundingBox();
}

void ProceduralObject::GetWorldBoundBox(TimeValue t, INode* inode, ViewExp* vp, Box3& box) {
    Box3 local;
    GetLocalBoundBox(t, inode, vp, local);
    box = transformedBox(local, inode ? inode->GetObjectTM(t) : Matrix3());
}

Mesh* ProceduralObject::GetRenderMesh(TimeValue t, INode* inode, View& view, BOOL& needDelete) {
    (void)inode, (void)view;
    auto* m = new Mesh();
    Interval valid = FOREVER;
    BuildMesh(t, *m, valid);
    needDelete = TRUE;
    return m;
}

void ProceduralObject::ParamsChanged() {
    NotifyDependents(FOREVER, PART_GEOM | PART_TOPO, REFMSG_CHANGE);
}

// ---- Sphere ----

void SphereObject::BuildMesh(TimeValue t, Mesh& mesh, Interval& valid) {
    float r = radius.Get(t, valid);
    int n = std::max(4, segments.Get(t, valid));
    int bands = std::max(2, n / 2);
    int rings = bands - 1;
    mesh.FreeAll();
    mesh.setNumVerts(2 + rings * n);
    mesh.setVert(0, 0.0f, 0.0f, r);
    for (int i = 1; i <= rings; ++i) {
        float phi = static_cast<float>(i) * (kTwoPi * 0.5f) / static_cast<float>(bands);
        float z = r * std::cos(phi), rr = r * std::sin(phi);
        for (int j = 0; j < n; ++j) {
            float a = static_cast<float>(j) * kTwoPi / static_cast<float>(n);
            mesh.setVert(1 + (i - 1) * n + j, rr * std::cos(a), rr * std::sin(a), z);
        }
    }
    int bottom = 1 + rings * n;
    mesh.setVert(bottom, 0.0f, 0.0f, -r);
    mesh.setNumFaces(2 * n + 2 * n * (rings - 1));
    int f = 0;
    for (int j = 0; j < n; ++j)
        mesh.faces[f++].setVerts(0, 1 + j, 1 + (j + 1) % n);
    for (int i = 0; i + 1 < rings; ++i)
        for (int j = 0; j < n; ++j) {
            int a = 1 + i * n + j, b = 1 + i * n + (j + 1) % n;
            int c = a + n, d = b + n;
            mesh.faces[f++].setVerts(a, c, d);
            mesh.faces[f++].setVerts(a, d, b);
        }
    int last = 1 + (rings - 1) * n;
    for (int j = 0; j < n; ++j)
        mesh.faces[f++].setVerts(bottom, last + (j + 1) % n, last + j);
}

ReferenceTarget* SphereObject::Clone(RemapDir& remap) {
    auto* c = new SphereObject();
    c->radius = radius;
    c->segments = segments;
    BaseClone(this, c, remap);
    return c;
}

// ---- Box ----

void BoxObject::BuildMesh(TimeValue t, Mesh& mesh, Interval& valid) {
    float l = length.Get(t, valid), w = width.Get(t, valid), h = height.Get(t, valid);
    float x = w * 0.5f, y = l * 0.5f;
    mesh.FreeAll();
    mesh.setNumVerts(8);
    for (int i = 0; i < 8; ++i)
        mesh.setVert(i, (i & 1) ? x : -x, (i & 2) ? y : -y, (i & 4) ? h : 0.0f);
    static const int quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                    {1, 3, 7, 5}, {3, 2, 6, 7}, {2, 0, 4, 6}};
    mesh.setNumFaces(12);
    for (int q = 0; q < 6; ++q) {
        mesh.faces[2 * q].setVerts(quads[q][0], quads[q][1], quads[q][2]);
        mesh.faces[2 * q + 1].setVerts(quads[q][2], quads[q][3], quads[q][0]);
    }
}

ReferenceTarget* BoxObject::Clone(RemapDir& remap) {
    auto* c = new BoxObject();
    c->length = length;
    c->width = width;
    c->height = height;
    BaseClone(this, c, remap);
    return c;
}

// ---- Plane ----

void PlaneObject::BuildMesh(TimeValue t, Mesh& mesh, Interval& valid) {
    float l = length.Get(t, valid), w = width.Get(t, valid);
    int n = std::max(1, segs.Get(t, valid));
    mesh.FreeAll();
    mesh.setNumVerts((n + 1) * (n + 1));
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j)
            mesh.setVert(i * (n + 1) + j,
                         -w * 0.5f + w * static_cast<float>(j) / static_cast<float>(n),
                         -l * 0.5f + l * static_cast<float>(i) / static_cast<float>(n), 0.0f);
    mesh.setNumFaces(2 * n * n);
    int f = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            int a = i * (n + 1) + j, b = a + 1, c = a + n + 1, d = c + 1;
            mesh.faces[f++].setVerts(a, b, d);
            mesh.faces[f++].setVerts(d, c, a);
        }
}

ReferenceTarget* PlaneObject::Clone(RemapDir& remap) {
    auto* c = new PlaneObject();
    c->length = length;
    c->width = width;
    c->segs = segs;
    BaseClone(this, c, remap);
    return c;
}

// ---- Torus ----

void TorusObject::BuildMesh(TimeValue t, Mesh& mesh, Interval& valid) {
    float r1 = radius1.Get(t, valid), r2 = radius2.Get(t, valid);
    int n = std::max(3, segs.Get(t, valid));
    int m = std::max(3, n / 2);
    mesh.FreeAll();
    mesh.setNumVerts(n * m);
    for (int i = 0; i < n; ++i) {
        float a = static_cast<float>(i) * kTwoPi / static_cast<float>(n);
        for (int j = 0; j < m; ++j) {
            float b = static_cast<float>(j) * kTwoPi / static_cast<float>(m);
            float rr = r1 + r2 * std::cos(b);
            mesh.setVert(i * m + j, rr * std::cos(a), rr * std::sin(a), r2 * std::sin(b));
        }
    }
    mesh.setNumFaces(2 * n * m);
    int f = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < m; ++j) {
            int a = i * m + j, b = i * m + (j + 1) % m;
            int c = ((i + 1) % n) * m + j, d = ((i + 1) % n) * m + (j + 1) % m;
            mesh.faces[f++].setVerts(a, c, d);
            mesh.faces[f++].setVerts(a, d, b);
        }
}

ReferenceTarget* TorusObject::Clone(RemapDir& remap) {
    auto* c = new TorusObject();
    c->radius1 = radius1;
    c->radius2 = radius2;
    c->segs = segs;
    BaseClone(this, c, remap);
    return c;
}
