#include "host/max_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <utility>

namespace {

// Every edge of a closed triangle mesh is shared by exactly two faces, once in each direction.
void expectClosedManifold(const Mesh& m) {
    std::map<std::pair<DWORD, DWORD>, int> edges;
    for (int f = 0; f < m.numFaces; ++f)
        for (int e = 0; e < 3; ++e) {
            DWORD a = m.faces[f].v[e], b = m.faces[f].v[(e + 1) % 3];
            ASSERT_LT(a, static_cast<DWORD>(m.numVerts));
            ASSERT_NE(a, b);
            ++edges[{a, b}];
        }
    for (const auto& [e, n] : edges) {
        EXPECT_EQ(n, 1) << "edge " << e.first << "-" << e.second << " used twice one way";
        auto back = edges.find({e.second, e.first});
        EXPECT_TRUE(back != edges.end()) << "edge " << e.first << "-" << e.second << " is open";
    }
}

// What the gathering does with a node: the node's object as a triangle mesh, deleted when the
// conversion made a new one.
TriObject* triMeshAt(INode* node, TimeValue t, bool& mustDelete) {
    mustDelete = false;
    Object* obj = node->EvalWorldState(t).obj;
    if (!obj || obj->SuperClassID() != GEOMOBJECT_CLASS_ID)
        return nullptr;
    if (obj->ClassID() == triObjectClassID)
        return static_cast<TriObject*>(obj);
    if (!obj->CanConvertToType(triObjectClassID))
        return nullptr;
    Object* c = obj->ConvertToType(t, triObjectClassID);
    mustDelete = c != obj;
    return static_cast<TriObject*>(c);
}

TEST(SceneMesh, CopiesDeeplyWithColourAndDataChannels) {
    Mesh a;
    a.setNumVerts(3);
    a.setVert(0, 1, 2, 3);
    a.setNumFaces(1);
    a.faces[0].setVerts(0, 1, 2);
    a.setNumVertCol(2);
    a.vertCol[1] = Point3(0.5f, 0.25f, 1.0f);
    a.setNumVCFaces(1);
    a.vcFace[0].setTVerts(1, 0, 1);
    a.setVDataSupport(VDATA_SELECT);
    a.vertexFloat(VDATA_SELECT)[2] = 0.5f;

    Mesh b(a);
    Mesh c;
    c = a;
    a.setVert(0, 9, 9, 9);
    a.vertCol[1] = Point3();
    a.vertexFloat(VDATA_SELECT)[2] = 0.0f;
    for (Mesh* m : {&b, &c}) {
        EXPECT_EQ(m->numVerts, 3);
        EXPECT_EQ(m->verts[0], Point3(1, 2, 3));
        EXPECT_NE(m->verts, a.verts);
        EXPECT_EQ(m->numCVerts, 2);
        EXPECT_EQ(m->vertCol[1], Point3(0.5f, 0.25f, 1.0f));
        EXPECT_EQ(m->vcFace[0].t[0], 1u);
        ASSERT_TRUE(m->vDataSupport(VDATA_SELECT));
        EXPECT_EQ(m->vertexFloat(VDATA_SELECT)[2], 0.5f);
    }
}

TEST(SceneMesh, EmptyPartsAreNullAndDataFollowsVertexCount) {
    Mesh m;
    EXPECT_EQ(m.verts, nullptr);
    EXPECT_EQ(m.vertCol, nullptr);
    EXPECT_EQ(m.vcFace, nullptr);
    EXPECT_FALSE(m.vDataSupport(0));
    EXPECT_EQ(m.vertexFloat(0), nullptr);
    EXPECT_EQ(m.vertexFloat(-1), nullptr);
    EXPECT_EQ(m.vertexFloat(MAX_VERTEX_DATA), nullptr);
    m.setNumVerts(2);
    m.setVDataSupport(0);
    m.setNumVerts(5); // the weights grow with the vertices, new ones 0
    ASSERT_NE(m.vertexFloat(0), nullptr);
    EXPECT_EQ(m.vertexFloat(0)[4], 0.0f);
    m.setVDataSupport(0, FALSE);
    EXPECT_EQ(m.vertexFloat(0), nullptr);
    m.FreeAll();
    EXPECT_EQ(m.numVerts, 0);
    EXPECT_TRUE(m.getBoundingBox().IsEmpty());
}

TEST(SceneProcedural, ConversionIsNewEachTimeAndDeletedExactlyOnce) {
    ResetCOREInterface();
    Scene& scene = GetCOREInterface()->GetScene();
    auto* sphere = new SphereObject();
    INode* node = scene.CreateNode(sphere);
    for (TimeValue t : {0, 160, 320}) {
        bool mustDelete = false;
        TriObject* tri = triMeshAt(node, t, mustDelete);
        ASSERT_NE(tri, nullptr);
        EXPECT_TRUE(mustDelete);
        EXPECT_NE(static_cast<Object*>(tri), static_cast<Object*>(sphere));
        Mesh copy = tri->GetMesh();
        if (mustDelete)
            tri->DeleteThis();
        EXPECT_GT(copy.numVerts, 0);
    }
    EXPECT_EQ(sphere->ConversionsMade(), 3);
    EXPECT_EQ(sphere->ConversionsDeleted(), 3);

    // A triangle-mesh object is its own conversion: nothing to delete.
    auto* tri = new TriObject();
    INode* meshNode = scene.CreateNode(tri);
    bool mustDelete = true;
    EXPECT_EQ(triMeshAt(meshNode, 0, mustDelete), tri);
    EXPECT_FALSE(mustDelete);
    EXPECT_EQ(tri->ConvertToType(0, triObjectClassID), tri);
    EXPECT_EQ(sphere->ConvertToType(0, Class_ID(1234, 5)), nullptr);
    EXPECT_FALSE(sphere->CanConvertToType(Class_ID(1234, 5)));
    ResetCOREInterface();
}

TEST(SceneProcedural, ConversionCountSurvivesTheSource) {
    auto* box = new BoxObject();
    Object* tri = box->ConvertToType(0, triObjectClassID);
    box->DeleteThis(); // the mesh outlives its source
    EXPECT_EQ(static_cast<TriObject*>(tri)->mesh.numVerts, 8);
    tri->DeleteThis(); // must not touch the deleted box
}

TEST(SceneProcedural, MeshesAreClosedAndSized) {
    SphereObject sphere;
    sphere.radius.SetConstant(2.0f);
    sphere.segments.SetConstant(8);
    Mesh m;
    Interval valid = FOREVER;
    sphere.BuildMesh(0, m, valid);
    EXPECT_EQ(m.numVerts, 26); // two poles and three rings of eight
    EXPECT_EQ(m.numFaces, 48);
    expectClosedManifold(m);
    for (int i = 0; i < m.numVerts; ++i)
        EXPECT_NEAR(m.verts[i].Length(), 2.0f, 1e-5f);
    EXPECT_EQ(valid, FOREVER);

    BoxObject box;
    box.width.SetConstant(2.0f);
    box.length.SetConstant(4.0f);
    box.height.SetConstant(6.0f);
    box.BuildMesh(0, m, valid);
    EXPECT_EQ(m.numVerts, 8);
    EXPECT_EQ(m.numFaces, 12);
    expectClosedManifold(m);
    Box3 b = m.getBoundingBox();
    EXPECT_EQ(b.pmin, Point3(-1, -2, 0));
    EXPECT_EQ(b.pmax, Point3(1, 2, 6));

    TorusObject torus;
    torus.segs.SetConstant(6);
    torus.BuildMesh(0, m, valid);
    EXPECT_EQ(m.numVerts, 18);
    EXPECT_EQ(m.numFaces, 36);
    expectClosedManifold(m);

    PlaneObject plane;
    plane.segs.SetConstant(2);
    plane.width.SetConstant(4.0f);
    plane.length.SetConstant(2.0f);
    plane.BuildMesh(0, m, valid);
    EXPECT_EQ(m.numVerts, 9);
    EXPECT_EQ(m.numFaces, 8);
    b = m.getBoundingBox();
    EXPECT_EQ(b.pmin, Point3(-2, -1, 0));
    EXPECT_EQ(b.pmax, Point3(2, 1, 0));
}

TEST(SceneProcedural, KeyedParameterDrivesConversionAndValidity) {
    SphereObject sphere;
    sphere.radius.SetKey(0, 1.0f);
    sphere.radius.SetKey(100, 3.0f);
    Object* tri = sphere.ConvertToType(50, triObjectClassID);
    EXPECT_EQ(static_cast<TriObject*>(tri)->mesh.verts[0], Point3(0, 0, 2.0f)); // the top pole
    tri->DeleteThis();
    EXPECT_EQ(sphere.ObjectValidity(50), Interval(50, 50));
    EXPECT_EQ(sphere.ObjectValidity(200), Interval(100, TIME_PosInfinity));
    BoxObject box;
    EXPECT_EQ(box.ObjectValidity(50), FOREVER);
}

TEST(SceneProcedural, BoundsAndCloneKeepTheParameters) {
    BoxObject box;
    box.width.SetConstant(2.0f);
    Box3 local;
    box.GetLocalBoundBox(0, nullptr, nullptr, local);
    Matrix3 tm = TransMatrix(Point3(10, 0, 0));
    Box3 deform;
    box.GetDeformBBox(0, deform, &tm);
    EXPECT_EQ(deform.pmin.x, local.pmin.x + 10.0f);
    EXPECT_EQ(deform.pmax.z, local.pmax.z);

    RemapDir remap;
    auto* c = static_cast<BoxObject*>(remap.CloneRef(&box));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->width.Get(0), 2.0f);
    c->DeleteThis();
}

TEST(SceneProcedural, HostRenderMeshOwnership) {
    SphereObject sphere;
    View view;
    BOOL needDelete = FALSE;
    Mesh* m = sphere.GetRenderMesh(0, nullptr, view, needDelete);
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(needDelete);
    delete m;
    TriObject tri;
    EXPECT_EQ(tri.GetRenderMesh(0, nullptr, view, needDelete), &tri.mesh);
    EXPECT_FALSE(needDelete);
}

} // namespace
