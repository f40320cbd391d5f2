// Hostile values on every gathering route: NaN, infinities and finite values whose squares
// overflow single precision (|v| >= 2^64) in positions, moving ends, sizes and colours never
// reach the outputs, are counted, and leave the lists aligned; sizes that are not above 0 are
// dropped and counted apart.
#include "gather_fixture.h"

#include <limits>

namespace velquin::gathertest {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kHuge = 0x1p64f;           // its square is the first to overflow
constexpr float kLargest = 0x1.fffffep63f; // the largest value whose square is finite

class GatherHostileTest : public ::testing::Test {
protected:
    Scene scene;
    TestBlock pb;
    GatherBuffers buffers;

    INode* meshNode(const Mesh& m) {
        INode* node = scene.CreateNode(new TriObject(m));
        pb.addNode(node);
        return node;
    }
    // A node whose mesh at t0 = 0 and at any later time are given.
    void movingMesh(Mesh start, Mesh end) {
        auto* src = new MeshSource();
        src->build = [start, end](TimeValue t, Mesh& m) {
            m = t == 0 ? start : end;
            return true;
        };
        pb.addNode(scene.CreateNode(src));
    }
};

// One face over vertices 0, 1, 2, each corner with its own colour vertex.
Mesh colouredTriangle(Point3 c0, Point3 c1, Point3 c2) {
    Mesh m = pointsMesh({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
    m.setNumFaces(1);
    m.faces[0].setVerts(0, 1, 2);
    m.setNumVertCol(3);
    m.vertCol[0] = c0;
    m.vertCol[1] = c1;
    m.vertCol[2] = c2;
    m.setNumVCFaces(1);
    m.vcFace[0].setTVerts(0, 1, 2);
    return m;
}

TEST_F(GatherHostileTest, MeshVerticesAndTransforms) {
    meshNode(pointsMesh({{1, 0, 0},
                         {kNaN, 0, 0},
                         {0, kInf, 0},
                         {0, 0, -kInf},
                         {kHuge, 0, 0},
                         {0, -kHuge, 0},
                         {kLargest, -kLargest, 0}}));
    // Finite vertices that the node's transform takes beyond the limit.
    INode* stretched = meshNode(pointsMesh({{1, 0, 0}, {0, 1, 0}}));
    stretched->SetNodeTMConstant(ScaleMatrix({1e20f, 1, 1}));

    Gathered g;
    gatherStill(g, buffers, pb.get(), 0, false, false);
    ASSERT_TRUE(g.ok);
    ASSERT_EQ(g.count, 3);
    EXPECT_EQ(g.pos(0), Point3(1, 0, 0));
    EXPECT_EQ(g.pos(1), Point3(kLargest, -kLargest, 0));
    EXPECT_EQ(g.pos(2), Point3(0, 1, 0));
    EXPECT_EQ(buffers.droppedNonFinite, 6);
    EXPECT_EQ(buffers.droppedNonPositiveSize, 0);
    expectListsEmpty(buffers);
}

TEST_F(GatherHostileTest, MeshSoftSelectionSizes) {
    Mesh m = pointsMesh({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}});
    m.setVDataSupport(VDATA_SELECT);
    float* w = m.vertexFloat(VDATA_SELECT);
    w[0] = 0.5f;
    w[1] = kNaN;
    w[2] = -0.25f;
    w[3] = 0.0f;
    w[4] = 1e18f;  // x 20 = 2e19: beyond the limit
    w[5] = 1e-30f; // tiny but above 0: kept
    meshNode(m);
    buffers.baseSize = 20.0f;

    Gathered g;
    gatherStill(g, buffers, pb.get(), 0, true, false);
    ASSERT_EQ(g.count, 2);
    EXPECT_EQ(g.pos(0), Point3(0, 0, 0));
    EXPECT_EQ(g.sizes[0], 10.0);
    EXPECT_EQ(g.pos(1), Point3(5, 0, 0));
    EXPECT_EQ(g.sizes[1], static_cast<double>(20.0f * 1e-30f));
    EXPECT_EQ(buffers.droppedNonFinite, 2);
    EXPECT_EQ(buffers.droppedNonPositiveSize, 2);

    // Without sizes the weights are not read and every vertex is kept; the counts restart.
    Gathered plain;
    gatherStill(plain, buffers, pb.get(), 0, false, false);
    EXPECT_EQ(plain.count, 6);
    EXPECT_EQ(buffers.droppedNonFinite, 0);
    EXPECT_EQ(buffers.droppedNonPositiveSize, 0);
}

TEST_F(GatherHostileTest, MeshVertexColours) {
    meshNode(colouredTriangle({0.5f, 0.25f, 1}, {kNaN, 0, 0}, {0, 0, -kHuge}));
    Gathered g;
    gatherStill(g, buffers, pb.get(), 0, false, true);
    ASSERT_EQ(g.count, 1);
    EXPECT_EQ(g.col(0), Point3(0.5f, 0.25f, 1));
    EXPECT_EQ(buffers.droppedNonFinite, 2);
    // Colours off: they are not gathered and cannot drop anything.
    Gathered plain;
    gatherStill(plain, buffers, pb.get(), 0, false, false);
    EXPECT_EQ(plain.count, 3);
    EXPECT_EQ(buffers.droppedNonFinite, 0);
}

TEST_F(GatherHostileTest, MovingMeshEnds) {
    // Vertex 0 moves soundly; 1 ends at NaN; 2 ends beyond the limit; 3 ends within it but moves
    // further than the limit (its displacement is not usable); 4 is NaN at the start.
    movingMesh(pointsMesh({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {-1.5e19f, 0, 0}, {kNaN, 0, 0}}),
               pointsMesh({{0, 0, 4}, {kNaN, 0, 0}, {kHuge, 0, 0}, {1.5e19f, 0, 0}, {4, 0, 0}}));
    Gathered g;
    gatherSegment(g, buffers, pb.get(), 0, 80, false, false);
    ASSERT_TRUE(g.ok);
    ASSERT_EQ(g.count, 1);
    EXPECT_EQ(g.pos(0), Point3(0, 0, 0));
    EXPECT_EQ(g.disp(0), Point3(0, 0, 4));
    EXPECT_EQ(buffers.droppedNonFinite, 4);
    expectListsEmpty(buffers);
}

TEST_F(GatherHostileTest, MovingMeshSizes) {
    Mesh start = pointsMesh({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
    Mesh end = start;
    start.setVDataSupport(VDATA_SELECT);
    end.setVDataSupport(VDATA_SELECT);
    const float w0[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    const float w1[4] = {0.5f, kNaN, 0.0f, -1.0f}; // sound, NaN, shrinks to 0, turns negative
    for (int k = 0; k < 4; ++k) {
        start.vertexFloat(VDATA_SELECT)[k] = w0[k];
        end.vertexFloat(VDATA_SELECT)[k] = w1[k];
    }
    movingMesh(start, end);
    buffers.baseSize = 8.0f;
    Gathered g;
    gatherSegment(g, buffers, pb.get(), 0, 80, true, false);
    ASSERT_EQ(g.count, 1);
    EXPECT_EQ(g.sizes[0], 8.0);
    EXPECT_EQ(g.sizeDeltas[0], -4.0);
    EXPECT_EQ(buffers.droppedNonFinite, 1);
    EXPECT_EQ(buffers.droppedNonPositiveSize, 2);
}

TEST_F(GatherHostileTest, SimpleParticles) {
    auto* sys = new DataParticleObject();
    SimpleParticleRecord sound;
    sound.position = {1, 2, 3};
    sound.radius = 2.0f;
    SimpleParticleRecord nanPos = sound;
    nanPos.position = {kNaN, 0, 0};
    SimpleParticleRecord hugePos = sound;
    hugePos.position = {0, 0, kHuge};
    SimpleParticleRecord nanRadius = sound;
    nanRadius.radius = kNaN;
    SimpleParticleRecord infRadius = sound;
    infRadius.radius = kInf;
    SimpleParticleRecord zeroRadius = sound;
    zeroRadius.radius = 0.0f;
    SimpleParticleRecord negRadius = sound;
    negRadius.radius = -3.0f;
    sys->particles = {sound, nanPos, hugePos, nanRadius, infRadius, zeroRadius, negRadius};
    pb.addNode(scene.CreateNode(sys));

    Gathered g;
    gatherStill(g, buffers, pb.get(), 0, true, true);
    ASSERT_EQ(g.count, 1);
    EXPECT_EQ(g.pos(0), Point3(1, 2, 3));
    EXPECT_EQ(g.sizes[0], 2.0);
    EXPECT_EQ(buffers.droppedNonFinite, 4);
    EXPECT_EQ(buffers.droppedNonPositiveSize, 2);

    // Without sizes only the positions decide.
    Gathered bare;
    gatherStill(bare, buffers, pb.get(), 0, false, false);
    EXPECT_EQ(bare.count, 5);
    EXPECT_EQ(buffers.droppedNonFinite, 2);
}

TEST_F(GatherHostileTest, SimpleParticlesMoving) {
    auto* sys = new DataParticleObject();
    SimpleParticleRecord sound;
    sound.position = {1, 0, 0};
    sound.velocity = {0.125f, 0, 0};
    sound.radius = 2.0f;
    SimpleParticleRecord fast = sound; // 1e18 per tick over 80 ticks: beyond the limit
    fast.velocity = {0, 1e18f, 0};
    sys->particles = {sound, fast};
    pb.addNode(scene.CreateNode(sys));
    Gathered g;
    gatherSegment(g, buffers, pb.get(), 0, 80, true, false);
    ASSERT_EQ(g.count, 1);
    EXPECT_EQ(g.disp(0), Point3(10, 0, 0));
    EXPECT_EQ(buffers.droppedNonFinite, 1);
}

class GatherHostileFlowTest : public GatherHostileTest {
protected:
    PFlowSystemObject* sys = nullptr;
    void SetUp() override {
        sys = new PFlowSystemObject();
        pb.addNode(scene.CreateNode(sys, "PF Source"));
        sys->AddEvent(scene, "Event 0");
    }
    static FlowParticleRecord record(int id, Point3 pos, Point3 vel = {}) {
        FlowParticleRecord r;
        r.id = id;
        r.position = pos;
        r.velocity = vel;
        r.size = 1.5f;
        r.color = {0.5f, 0.5f, 0.5f};
        return r;
    }
};

TEST_F(GatherHostileFlowTest, StillPositionsSizesAndColours) {
    FlowParticleRecord nanSize = record(2, {2, 0, 0});
    nanSize.size = kNaN;
    FlowParticleRecord negSize = record(3, {3, 0, 0});
    negSize.size = -1.5f;
    FlowParticleRecord hugeColour = record(4, {4, 0, 0});
    hugeColour.color = {kHuge, 0, 0};
    sys->particles = {record(1, {1, 0, 0}), nanSize, negSize, hugeColour, record(5, {kInf, 0, 0}),
                      record(6, {6, 0, 0})};
    Gathered g;
    gatherStill(g, buffers, pb.get(), 0, true, true);
    ASSERT_EQ(g.count, 2);
    EXPECT_EQ(g.pos(0), Point3(1, 0, 0));
    EXPECT_EQ(g.pos(1), Point3(6, 0, 0));
    EXPECT_EQ(g.col(1), Point3(0.5f, 0.5f, 0.5f));
    EXPECT_EQ(g.sizes[1], 1.5);
    EXPECT_EQ(buffers.droppedNonFinite, 3);
    EXPECT_EQ(buffers.droppedNonPositiveSize, 1);
}

TEST_F(GatherHostileFlowTest, MovingEndsAndSizes) {
    // 2 leaves the usable range by the end of the segment (its displacement is 8e19).
    sys->particles = {record(1, {1, 0, 0}, {0.125f, 0, 0}), record(2, {2, 0, 0}, {1e18f, 0, 0}),
                      record(3, {3, 0, 0})};
    buffers.velocityThreshold = -1.0f; // no speed filter: only usability decides
    Gathered g;
    gatherSegment(g, buffers, pb.get(), 0, 80, true, true);
    ASSERT_EQ(g.count, 2);
    EXPECT_EQ(g.disp(0), Point3(10, 0, 0));
    EXPECT_EQ(g.pos(1), Point3(3, 0, 0));
    EXPECT_EQ(buffers.droppedNonFinite, 1);
}

TEST_F(GatherHostileTest, ScriptedTablesAtTheLimit) {
    pb.setPoints(pb_metaballs, {{kLargest, 0, 0}, {kHuge, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
    pb.setFloats(pb_metaballSizes, {kLargest, 1, kHuge, -kLargest, 5});
    pb.setPoints(pb_colors, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, -kHuge, 0}});
    Gathered g;
    gatherStill(g, buffers, pb.get(), 0, true, true);
    ASSERT_EQ(g.count, 1);
    EXPECT_EQ(g.pos(0), Point3(kLargest, 0, 0));
    EXPECT_EQ(g.sizes[0], static_cast<double>(kLargest));
    EXPECT_EQ(buffers.droppedNonFinite, 3);
    EXPECT_EQ(buffers.droppedNonPositiveSize, 1);
}

TEST_F(GatherHostileTest, ScriptedMovingEnds) {
    pb.setPoints(pb_metaballs, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
    pb.setFloats(pb_metaballSizes, {2, 2, 2});
    pb->SetKey(pb_metaballs, 0, Point3(1, 0, 0), 1);
    pb->SetKey(pb_metaballs, 80, Point3(kHuge, 0, 0), 1); // ends beyond the limit
    pb->SetKey(pb_metaballSizes, 0, 2.0f, 2);
    pb->SetKey(pb_metaballSizes, 80, kNaN, 2); // size NaN at the end
    Gathered g;
    gatherSegment(g, buffers, pb.get(), 0, 80, true, false);
    ASSERT_EQ(g.count, 1);
    EXPECT_EQ(g.pos(0), Point3(0, 0, 0));
    EXPECT_EQ(buffers.droppedNonFinite, 2);
}

} // namespace
} // namespace velquin::gathertest
