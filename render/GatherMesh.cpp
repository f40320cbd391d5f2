// Metaballs from the vertices of picked scene nodes: one per vertex, in world space, sized by the
// soft-selection weights and coloured from the vertex-colour channel.
#include <algorithm>
#include <bit>
#include <limits>
#include <vector>

#include "render/GatherRoutes.h"

namespace velquin {

namespace {

constexpr int kGrow = GatherBuffers::kGatherGrowth;

// Deletes a converted mesh object when its scope ends, so that it goes exactly once whatever
// path (including running out of memory while copying its mesh) leaves the route.
class ConvertedMesh {
public:
    ConvertedMesh(TriObject* tri, bool mustDelete) : tri_(tri), mustDelete_(mustDelete) {}
    ConvertedMesh(const ConvertedMesh&) = delete;
    ConvertedMesh& operator=(const ConvertedMesh&) = delete;
    ~ConvertedMesh() { release(); }
    void release() {
        if (tri_ && mustDelete_)
            tri_->DeleteThis();
        tri_ = nullptr;
    }
    TriObject* get() const { return tri_; }

private:
    TriObject* tri_;
    bool mustDelete_;
};

// The mesh of the node at t, copied, with the converted object (if any) already deleted.
// False when the node gives no mesh at t.
bool copyMeshAt(INode* node, TimeValue t, Mesh& mesh) {
    bool mustDelete = false;
    TriObject* tri = triMeshAt(node, t, mustDelete);
    if (!tri)
        return false;
    ConvertedMesh guard(tri, mustDelete);
    mesh = tri->GetMesh();
    return true;
}

// The soft-selection weights of a mesh, or null when it carries none.
const float* softSelection(const Mesh& mesh) {
    return mesh.vDataSupport(VDATA_SELECT) ? mesh.vertexFloat(VDATA_SELECT) : nullptr;
}

} // namespace

TriObject* triMeshAt(INode* node, TimeValue t, bool& mustDelete) {
    mustDelete = false;
    if (!node)
        return nullptr;
    Object* obj = node->EvalWorldState(t).obj;
    if (!obj || obj->SuperClassID() != GEOMOBJECT_CLASS_ID)
        return nullptr;
    if (obj->ClassID() == triObjectClassID)
        return static_cast<TriObject*>(obj);
    if (!obj->CanConvertToType(triObjectClassID))
        return nullptr;
    Object* converted = obj->ConvertToType(t, triObjectClassID);
    if (!converted)
        return nullptr;
    mustDelete = converted != obj;
    return static_cast<TriObject*>(converted);
}

bool gatherNodeMesh(GatherBuffers& b, INode* node, TimeValue t) {
    bool mustDelete = false;
    TriObject* tri = triMeshAt(node, t, mustDelete);
    if (!tri)
        return false;
    // Nothing evaluates the node again before the mesh is used, so it is read in place rather
    // than copied; the converted object goes when the guard does.
    ConvertedMesh guard(tri, mustDelete);
    const Mesh& mesh = tri->GetMesh();
    const Matrix3 tm = node->GetObjectTM(t);
    const float* weights = b.useScale ? softSelection(mesh) : nullptr;
    // Transformed a batch at a time into the lists, each grown once for the whole mesh: one
    // append per vertex cost more than the transform.
    constexpr int kBatch = 256;
    Point3 p[kBatch];
    float s[kBatch];
    // Room for the whole mesh, rounded up to a power of two: one node of many small meshes after
    // another must not reallocate the lists each time (quadratic in the node count).
    const auto room = [](int count, int more) {
        const std::size_t need = static_cast<std::size_t>(count) + static_cast<std::size_t>(more);
        return static_cast<int>(std::min<std::size_t>(
            std::bit_ceil(need), static_cast<std::size_t>(std::numeric_limits<int>::max())));
    };
    b.positions.Resize(room(b.positions.Count(), mesh.numVerts));
    if (b.useScale)
        b.sizes.Resize(room(b.sizes.Count(), mesh.numVerts));
    for (int k0 = 0; k0 < mesh.numVerts; k0 += kBatch) {
        const int n = std::min(kBatch, mesh.numVerts - k0);
        for (int i = 0; i < n; ++i)
            p[i] = tm.PointTransform(mesh.verts[k0 + i]);
        b.positions.Append(n, p, kGrow);
        if (b.useScale) {
            for (int i = 0; i < n; ++i)
                s[i] = weights ? b.baseSize * weights[k0 + i] : b.baseSize;
            b.sizes.Append(n, s, kGrow);
        }
    }
    if (b.useColor)
        appendVertexColors(b, mesh);
    return true;
}

// A node that gives a mesh at one end of the segment but not at the other contributes nothing,
// as one whose vertex count changes does: there is no vertex-to-vertex motion to blur.
bool gatherNodeMeshMoving(GatherBuffers& b, INode* node, TimeValue t0, TimeValue t1) {
    Mesh mesh0, mesh1;
    if (!copyMeshAt(node, t0, mesh0))
        return false;
    if (!copyMeshAt(node, t1, mesh1))
        return false;
    const Matrix3 tm0 = node->GetObjectTM(t0);
    const Matrix3 tm1 = node->GetObjectTM(t1);
    const float* w0 = b.useScale ? softSelection(mesh0) : nullptr;
    const float* w1 = b.useScale ? softSelection(mesh1) : nullptr;
    if (mesh0.numVerts != mesh1.numVerts)
        return false;
    for (int k = 0; k < mesh0.numVerts; ++k) {
        Point3 p0 = tm0.PointTransform(mesh0.verts[k]);
        Point3 p1 = tm1.PointTransform(mesh1.verts[k]);
        Point3 d = p1 - p0;
        b.positions.Append(1, &p0, kGrow);
        b.displacements.Append(1, &d, kGrow);
        if (b.useScale) {
            float s0 = b.baseSize;
            float ds = b.defaultSizeDelta;
            if (w0 && w1) {
                s0 = b.baseSize * w0[k];
                ds = b.baseSize * w1[k] - s0;
            }
            b.sizes.Append(1, &s0, kGrow);
            b.sizeDeltas.Append(1, &ds, kGrow);
        }
    }
    if (b.useColor)
        appendVertexColors(b, mesh0);
    return true;
}

// Colours reach the vertices through the faces, so a vertex that no face references has no
// colour of its own: it is black, like every vertex of a mesh without a colour channel. Corners
// whose vertex or colour index lies outside the mesh are ignored, as are faces beyond the
// colour faces, rather than read out of bounds.
void appendVertexColors(GatherBuffers& b, const Mesh& mesh) {
    const int nv = mesh.numVerts;
    if (nv <= 0)
        return;
    const Point3 black(0.0f, 0.0f, 0.0f);
    std::vector<Point3> colors(static_cast<size_t>(nv), black);
    const int nf = mesh.getNumVCFaces() < mesh.numFaces ? mesh.getNumVCFaces() : mesh.numFaces;
    if (mesh.numCVerts > 0 && mesh.vertCol && mesh.vcFace && mesh.faces) {
        const DWORD numV = static_cast<DWORD>(nv);
        const DWORD numC = static_cast<DWORD>(mesh.numCVerts);
        for (int f = 0; f < nf; ++f) {
            const Face& face = mesh.faces[f];
            const TVFace& cface = mesh.vcFace[f];
            for (int c = 0; c < 3; ++c) {
                if (face.v[c] < numV && cface.t[c] < numC)
                    colors[face.v[c]] = mesh.vertCol[cface.t[c]];
            }
        }
    }
    b.colors.Append(nv, colors.data(), kGrow);
}

} // namespace velquin
