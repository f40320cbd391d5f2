// Gathering from picked mesh nodes: world positions, soft-selection sizes, vertex colours,
// conversions, and moving segments.
#include "gather_fixture.h"

#include <cstring>
#include <limits>

namespace velquin::gathertest {
namespace {

class GatherMeshTest : public ::testing::Test {
protected:
    Scene scene;
    TestBlock pb;
    GatherBuffers buffers;

    INode* triNode(const Mesh& m, const char* name = nullptr) {
        return scene.CreateNode(new TriObject(m), name);
    }
};

TEST_F(GatherMeshTest, VerticesInWorldSpaceAndNullNodesSkipped) {
    INode* a = triNode(pointsMesh({{1, 2, 3}, {-1, 0, 0.5f}}));
    a->SetNodeTMConstant(ScaleMatrix({2, 2, 2}) * TransMatrix({10, 20, 30}));
    INode* gone = triNode(pointsMesh({{7, 7, 7}}));
    INode* b = triNode(pointsMesh({{0, 0, 1}}));
    pb.addNode(a);
    pb.addNode(nullptr);
    pb.addNode(gone);
    pb.addNode(b);
    scene.DeleteNode(gone); // the block now reads null there
    ASSERT_EQ(pb->Count(pb_nodes), 4);

    Gathered g;
    gatherStill(g, buffers, pb.get(), 0, false, false);
    ASSERT_TRUE(g.ok);
    ASSERT_EQ(g.count, 3);
    EXPECT_EQ(g.pos(0), Point3(12, 24, 36));
    EXPECT_EQ(g.pos(1), Point3(8, 20, 31));
    EXPECT_EQ(g.pos(2), Point3(0, 0, 1));
    EXPECT_EQ(g.sizes, nullptr);
    EXPECT_EQ(g.colors, nullptr);
    expectListsEmpty(buffers);
}

TEST_F(GatherMeshTest, SoftSelectionScalesTheRadius) {
    Mesh m = pointsMesh({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
    m.setVDataSupport(VDATA_SELECT);
    m.vertexFloat(VDATA_SELECT)[0] = 0.5f;
    m.vertexFloat(VDATA_SELECT)[1] = 1.0f;
    m.vertexFloat(VDATA_SELECT)[2] = 0.0f; // no surface: left out
    pb.addNode(triNode(m));
    pb.addNode(triNode(pointsMesh({{5, 0, 0}}))); // no weights: the radius
    buffers.baseSize = 20.0f;

    Gathered g;
    gatherStill(g, buffers, pb.get(), 0, true, false);
    ASSERT_EQ(g.count, 3);
    EXPECT_EQ(g.sizes[0], 10.0);
    EXPECT_EQ(g.sizes[1], 20.0);
    EXPECT_EQ(g.pos(2), Point3(5, 0, 0));
    EXPECT_EQ(g.sizes[2], 20.0);
    EXPECT_EQ(buffers.droppedNonPositiveSize, 1);
    EXPECT_EQ(buffers.droppedNonFinite, 0);
}

// A large gathering is judged and copied in two halves on two threads: the same outputs and
// counts as on one, with unusable metaballs on both sides of the middle.
TEST_F(GatherMeshTest, TwoThreadsGatherWhatOneDoes) {
    const int n = 120001;
    Mesh m;
    m.setNumVerts(n);
    m.setVDataSupport(VDATA_SELECT);
    for (int i = 0; i < n; ++i) {
        const float x = static_cast<float>(i);
        m.setVert(i, Point3(i % 997 == 0 ? std::numeric_limits<float>::quiet_NaN() : x, 1, 2));
        m.vertexFloat(VDATA_SELECT)[i] = i % 1013 == 0 ? 0.0f : 1.0f - x * 1e-6f;
    }
    pb.addNode(triNode(m));
    buffers.baseSize = 20.0f;
    Gathered one, two;
    buffers.threads = 1;
    gatherStill(one, buffers, pb.get(), 0, true, false);
    const std::int32_t nonFinite = buffers.droppedNonFinite;
    const std::int32_t nonPositive = buffers.droppedNonPositiveSize;
    buffers.threads = 2;
    gatherStill(two, buffers, pb.get(), 0, true, false);
    ASSERT_TRUE(one.ok && two.ok);
    EXPECT_EQ(nonFinite, 121);
    EXPECT_EQ(nonPositive, 118); // 0 is a multiple of 997 too: counted as not finite
    EXPECT_EQ(one.count, n - nonFinite - nonPositive);
    ASSERT_EQ(two.count, one.count);
    EXPECT_EQ(buffers.droppedNonFinite, nonFinite);
    EXPECT_EQ(buffers.droppedNonPositiveSize, nonPositive);
    const auto k = static_cast<std::size_t>(one.count);
    EXPECT_EQ(std::memcmp(one.positions, two.positions, 3 * k * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(one.sizes, two.sizes, k * sizeof(double)), 0);
    // The halves meet in the right place: vertex 60000 follows vertex 59999.
    const std::int32_t before = 59999 - 59999 / 997 - 1 - 59999 / 1013; // kept ahead of it
    EXPECT_EQ(two.pos(before).x, 59999.0f);
    EXPECT_EQ(two.pos(before + 1).x, 60000.0f);
}

// Two triangles sharing vertices 1 and 2, a degenerate face touching vertex 4 twice, and vertex
// 5 that no face uses.
Mesh coloredMesh() {
    Mesh m = pointsMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 2, 0}, {3, 3, 0}});
    m.setNumFaces(3);
    m.faces[0].setVerts(0, 1, 2);
    m.faces[1].setVerts(2, 1, 3);
    m.faces[2].setVerts(4, 4, 3);
    m.setNumVertCol(8);
    for (int i = 0; i < 8; ++i)
        m.vertCol[i] = Point3(0.1f * static_cast<float>(i), 1.0f, 0.5f);
    m.setNumVCFaces(3);
    m.vcFace[0].setTVerts(0, 1, 2);
    m.vcFace[1].setTVerts(3, 4, 5);
    m.vcFace[2].setTVerts(6, 7, 5);
    return m;
}

TEST_F(GatherMeshTest, LastFaceCornerDecidesTheVertexColour) {
    Mesh m = coloredMesh();
    appendVertexColors(buffers, m);
    ASSERT_EQ(buffers.colors.Count(), 6);
    EXPECT_EQ(buffers.colors[0], m.vertCol[0]);
    EXPECT_EQ(buffers.colors[1], m.vertCol[4]);    // face 1, corner 1
    EXPECT_EQ(buffers.colors[2], m.vertCol[3]);    // face 1, corner 0
    EXPECT_EQ(buffers.colors[3], m.vertCol[5]);    // face 2 is the highest face touching it
    EXPECT_EQ(buffers.colors[4], m.vertCol[7]);    // its later corner
    EXPECT_EQ(buffers.colors[5], Point3(0, 0, 0)); // referenced by no face: black
}

TEST_F(GatherMeshTest, MeshesWithoutColourChannelOrWithBadIndicesStayParallel) {
    Mesh plain = pointsMesh({{0, 0, 0}, {1, 0, 0}});
    appendVertexColors(buffers, plain);
    ASSERT_EQ(buffers.colors.Count(), 2);
    EXPECT_EQ(buffers.colors[1], Point3(0, 0, 0));

    // Colour vertices but no colour faces: black as well.
    Mesh noFaces = coloredMesh();
    noFaces.setNumVCFaces(0);
    buffers.colors.ZeroCount();
    appendVertexColors(buffers, noFaces);
    ASSERT_EQ(buffers.colors.Count(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(buffers.colors[i], Point3(0, 0, 0)) << i;

    // Indices outside the mesh are ignored rather than read or written.
    Mesh bad = coloredMesh();
    bad.faces[2].setVerts(4, 99, 3);
    bad.vcFace[1].setTVerts(3, 4, 1000);
    buffers.colors.ZeroCount();
    appendVertexColors(buffers, bad);
    ASSERT_EQ(buffers.colors.Count(), 6);
    EXPECT_EQ(buffers.colors[3], bad.vertCol[5]); // face 2 corner 2 still applies
    EXPECT_EQ(buffers.colors[4], bad.vertCol[6]);
}

TEST_F(GatherMeshTest, ColoursFollowTheVerticesThroughTheDriver) {
    pb.addNode(triNode(coloredMesh()));
    pb.addNode(triNode(pointsMesh({{9, 9, 9}})));
    Gathered g;
    gatherStill(g, buffers, pb.get(), 0, false, true);
    ASSERT_EQ(g.count, 7);
    EXPECT_EQ(g.col(1), Point3(0.4f, 1.0f, 0.5f));
    EXPECT_EQ(g.col(5), Point3(0, 0, 0));
    EXPECT_EQ(g.col(6), Point3(0, 0, 0));
    EXPECT_EQ(g.pos(6), Point3(9, 9, 9));
}

TEST_F(GatherMeshTest, ConversionsAreDeletedExactlyOnceAndOwnMeshesKept) {
    auto* sphere = new SphereObject();
    sphere->segments = AnimValue<int>(4);
    pb.addNode(scene.CreateNode(sphere));
    auto* tri = new TriObject(pointsMesh({{1, 1, 1}}));
    pb.addNode(scene.CreateNode(tri));

    bool mustDelete = true;
    EXPECT_EQ(triMeshAt(pb->GetINode(pb_nodes, 0, 1), 0, mustDelete), tri);
    EXPECT_FALSE(mustDelete);

    Gathered still;
    gatherStill(still, buffers, pb.get(), 0, true, true);
    EXPECT_EQ(sphere->ConversionsMade(), 1);
    EXPECT_EQ(sphere->ConversionsDeleted(), 1);
    Gathered moving;
    gatherSegment(moving, buffers, pb.get(), 0, 80, true, true);
    EXPECT_EQ(sphere->ConversionsMade(), 3);
    EXPECT_EQ(sphere->ConversionsDeleted(), 3);
    EXPECT_EQ(still.count, moving.count);
    // The node's own mesh object was used in place and is still whole.
    EXPECT_EQ(tri->GetMesh().numVerts, 1);
}

TEST_F(GatherMeshTest, ObjectsThatGiveNoMeshContributeNothing) {
    pb.addNode(scene.CreateNode(nullptr, "empty"));
    auto* none = new MeshSource(); // converts to nothing
    pb.addNode(scene.CreateNode(none));
    pb.addNode(triNode(pointsMesh({{1, 2, 3}})));
    bool mustDelete = true;
    EXPECT_EQ(triMeshAt(nullptr, 0, mustDelete), nullptr);
    EXPECT_EQ(triMeshAt(pb->GetINode(pb_nodes, 0, 0), 0, mustDelete), nullptr);
    EXPECT_FALSE(mustDelete);
    Gathered g;
    gatherStill(g, buffers, pb.get(), 0, false, false);
    ASSERT_EQ(g.count, 1);
    EXPECT_EQ(g.pos(0), Point3(1, 2, 3));
}

TEST_F(GatherMeshTest, MovingVerticesWithSoftSelection) {
    auto* src = new MeshSource();
    src->build = [](TimeValue t, Mesh& m) {
        float x = t == 0 ? 1.0f : 3.0f;
        m = pointsMesh({{x, 0, 0}, {0, x, 0}});
        m.setVDataSupport(VDATA_SELECT);
        m.vertexFloat(VDATA_SELECT)[0] = t == 0 ? 0.5f : 0.25f;
        m.vertexFloat(VDATA_SELECT)[1] = 1.0f;
        return true;
    };
    INode* node = scene.CreateNode(src);
    node->SetNodeTMKey(0, TransMatrix({0, 0, 0}));
    node->SetNodeTMKey(80, TransMatrix({0, 0, 8}));
    pb.addNode(node);
    buffers.baseSize = 20.0f;

    Gathered g;
    gatherSegment(g, buffers, pb.get(), 0, 80, true, false);
    ASSERT_TRUE(g.ok);
    ASSERT_EQ(g.count, 2);
    EXPECT_EQ(g.pos(0), Point3(1, 0, 0));
    EXPECT_EQ(g.disp(0), Point3(2, 0, 8));
    EXPECT_EQ(g.disp(1), Point3(0, 2, 8));
    EXPECT_EQ(g.sizes[0], 10.0);
    EXPECT_EQ(g.sizeDeltas[0], -5.0);
    EXPECT_EQ(g.sizes[1], 20.0);
    EXPECT_EQ(g.sizeDeltas[1], 0.0);
    EXPECT_EQ(src->counts->made, 2);
    EXPECT_EQ(src->counts->deleted, 2);
    expectListsEmpty(buffers);
}

TEST_F(GatherMeshTest, MovingWithAWeightChannelMissingAtOneEndUsesTheRadius) {
    auto* src = new MeshSource();
    src->build = [](TimeValue t, Mesh& m) {
        m = pointsMesh({{0, 0, 0}});
        if (t == 0) {
            m.setVDataSupport(VDATA_SELECT);
            m.vertexFloat(VDATA_SELECT)[0] = 0.5f;
        }
        return true;
    };
    pb.addNode(scene.CreateNode(src));
    buffers.baseSize = 4.0f;
    Gathered g;
    gatherSegment(g, buffers, pb.get(), 0, 80, true, false);
    ASSERT_EQ(g.count, 1);
    EXPECT_EQ(g.sizes[0], 4.0);
    EXPECT_EQ(g.sizeDeltas[0], 0.0);
}

TEST_F(GatherMeshTest, ChangingVertexCountOrVanishingMeshContributesNothingInASegment) {
    auto* grows = new MeshSource();
    grows->build = [](TimeValue t, Mesh& m) {
        m = t < 80 ? pointsMesh({{0, 0, 0}}) : pointsMesh({{0, 0, 0}, {1, 0, 0}});
        return true;
    };
    auto* vanishes = new MeshSource();
    vanishes->build = [](TimeValue t, Mesh& m) {
        m = pointsMesh({{5, 5, 5}});
        return t < 80;
    };
    pb.addNode(scene.CreateNode(grows));
    pb.addNode(scene.CreateNode(vanishes));
    pb.addNode(triNode(pointsMesh({{7, 0, 0}})));

    Gathered across;
    gatherSegment(across, buffers, pb.get(), 0, 80, true, true);
    ASSERT_EQ(across.count, 1);
    EXPECT_EQ(across.pos(0), Point3(7, 0, 0));
    EXPECT_EQ(across.disp(0), Point3(0, 0, 0));
    EXPECT_EQ(across.col(0), Point3(0, 0, 0));
    // Every conversion made was deleted, the ones of the refused meshes included.
    EXPECT_EQ(grows->counts->made, grows->counts->deleted);
    EXPECT_EQ(vanishes->counts->made, 1);
    EXPECT_EQ(vanishes->counts->deleted, 1);

    Gathered before;
    gatherSegment(before, buffers, pb.get(), 0, 40, true, true);
    EXPECT_EQ(before.count, 3);
}

} // namespace
} // namespace velquin::gathertest
