// The gathering drivers and the script-filled tables: padding of short tables, moving ends,
// the outputs' ownership and conversions, the working lists, and what never reaches a primitive.
#include "gather_fixture.h"

#include <limits>

namespace velquin::gathertest {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

class GatherDriverTest : public ::testing::Test {
protected:
    Scene scene;
    TestBlock pb;
    GatherBuffers buffers;
};

TEST_F(GatherDriverTest, ShortSizeAndColourTablesPadWithRadiusAndBlack) {
    pb.setPoints(pb_metaballs, {{1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
    pb.setFloats(pb_metaballSizes, {0.1f});
    pb.setPoints(pb_colors, {{1, 0.5f, 0.25f}});
    buffers.baseSize = 7.5f;

    Gathered g;
    gatherStill(g, buffers, pb.get(), 0, true, true);
    ASSERT_TRUE(g.ok);
    ASSERT_EQ(g.count, 3);
    EXPECT_EQ(g.pos(2), Point3(3, 0, 0));
    EXPECT_EQ(g.sizes[0], static_cast<double>(0.1f)); // widened from the float, not 0.1
    EXPECT_EQ(g.sizes[1], 7.5);
    EXPECT_EQ(g.sizes[2], 7.5);
    EXPECT_EQ(g.col(0), Point3(1, 0.5f, 0.25f));
    EXPECT_EQ(g.col(1), Point3(0, 0, 0));
    EXPECT_EQ(g.col(2), Point3(0, 0, 0));
    expectListsEmpty(buffers);
}

TEST_F(GatherDriverTest, MovingScriptedMetaballsTakeBothEnds) {
    pb.setPoints(pb_metaballs, {{0, 0, 0}, {5, 5, 5}});
    pb.setFloats(pb_metaballSizes, {2.0f});
    pb->SetKey(pb_metaballs, 0, Point3(1, 2, 3), 0);
    pb->SetKey(pb_metaballs, 160, Point3(2, 4, 7), 0);
    pb->SetKey(pb_metaballSizes, 0, 2.0f, 0);
    pb->SetKey(pb_metaballSizes, 160, 3.5f, 0);
    buffers.baseSize = 20.0f;

    Gathered g;
    gatherSegment(g, buffers, pb.get(), 0, 160, true, true);
    ASSERT_EQ(g.count, 2);
    EXPECT_EQ(g.pos(0), Point3(1, 2, 3));
    EXPECT_EQ(g.disp(0), Point3(1, 2, 4));
    EXPECT_EQ(g.sizes[0], 2.0);
    EXPECT_EQ(g.sizeDeltas[0], 1.5);
    EXPECT_EQ(g.disp(1), Point3(0, 0, 0));
    EXPECT_EQ(g.sizes[1], 20.0);
    EXPECT_EQ(g.sizeDeltas[1], 0.0);
    EXPECT_EQ(g.col(1), Point3(0, 0, 0));
    expectListsEmpty(buffers);
}

TEST_F(GatherDriverTest, SwitchesDecideWhichOutputsExist) {
    pb.setPoints(pb_metaballs, {{1, 1, 1}});
    Gathered g;
    gatherSegment(g, buffers, pb.get(), 0, 80, false, false);
    ASSERT_EQ(g.count, 1);
    EXPECT_NE(g.positions, nullptr);
    EXPECT_NE(g.displacements, nullptr);
    EXPECT_EQ(g.sizes, nullptr);
    EXPECT_EQ(g.sizeDeltas, nullptr);
    EXPECT_EQ(g.colors, nullptr);
    EXPECT_EQ(buffers.useScale, 0);
    EXPECT_EQ(buffers.useColor, 0);

    Gathered s;
    gatherStill(s, buffers, pb.get(), 0, true, true);
    EXPECT_EQ(buffers.useScale, 1);
    EXPECT_EQ(buffers.useColor, 1);
    EXPECT_NE(s.sizes, nullptr);
    EXPECT_NE(s.colors, nullptr);
}

TEST_F(GatherDriverTest, NothingToGatherGivesCountZero) {
    Gathered g;
    gatherStill(g, buffers, pb.get(), 0, true, true);
    EXPECT_TRUE(g.ok);
    EXPECT_EQ(g.count, 0);
    Gathered none;
    gatherSegment(none, buffers, nullptr, 0, 80, true, true);
    EXPECT_TRUE(none.ok);
    EXPECT_EQ(none.count, 0);
    expectListsEmpty(buffers);
}

TEST_F(GatherDriverTest, ListsGrowFiveHundredAtATime) {
    pb.setPoints(pb_metaballs, {{1, 1, 1}, {2, 2, 2}});
    buffers.useScale = 1;
    gatherScriptedMetaballs(buffers, pb.get(), 0);
    EXPECT_EQ(buffers.positions.Count(), 2);
    EXPECT_EQ(buffers.positions.Capacity(), 501);
    EXPECT_EQ(buffers.sizes.Capacity(), 501);
    EXPECT_EQ(buffers.colors.Capacity(), 0);
}

// Non-finite values and sizes that are not above 0 are left out, and the metaballs after them
// keep their own sizes and colours.
TEST_F(GatherDriverTest, UnusableMetaballsAreDroppedAndTheRestStayAligned) {
    pb.setPoints(pb_metaballs,
                 {{0, 0, 0}, {kNaN, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}, {6, 0, 0}});
    pb.setFloats(pb_metaballSizes, {1, 2, 3, kInf, 0, -1, 7});
    pb.setPoints(pb_colors,
                 {{0, 0, 0}, {1, 0, 0}, {0, 0, kNaN}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}, {6, 0, 0}});
    Gathered g;
    gatherStill(g, buffers, pb.get(), 0, true, true);
    ASSERT_EQ(g.count, 2);
    EXPECT_EQ(g.pos(0), Point3(0, 0, 0));
    EXPECT_EQ(g.pos(1), Point3(6, 0, 0));
    EXPECT_EQ(g.sizes[1], 7.0);
    EXPECT_EQ(g.col(1), Point3(6, 0, 0));
    EXPECT_EQ(buffers.droppedNonFinite, 3);
    EXPECT_EQ(buffers.droppedNonPositiveSize, 2);

    // Without sizes and colours only the positions decide.
    Gathered bare;
    gatherStill(bare, buffers, pb.get(), 0, false, false);
    EXPECT_EQ(bare.count, 6);
    EXPECT_EQ(buffers.droppedNonFinite, 1);
    EXPECT_EQ(buffers.droppedNonPositiveSize, 0);
}

TEST_F(GatherDriverTest, MovingSizeMustStayAboveZeroAndEndsFinite) {
    pb.setPoints(pb_metaballs, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
    pb.setFloats(pb_metaballSizes, {2, 2, 2});
    pb->SetKey(pb_metaballSizes, 0, 2.0f, 0);
    pb->SetKey(pb_metaballSizes, 80, 0.0f, 0); // shrinks to nothing at the end
    pb->SetKey(pb_metaballs, 0, Point3(1, 0, 0), 1);
    pb->SetKey(pb_metaballs, 80, Point3(kInf, 0, 0), 1);
    Gathered g;
    gatherSegment(g, buffers, pb.get(), 0, 80, true, false);
    ASSERT_EQ(g.count, 1);
    EXPECT_EQ(g.pos(0), Point3(2, 0, 0));
    EXPECT_EQ(buffers.droppedNonPositiveSize, 1);
    EXPECT_EQ(buffers.droppedNonFinite, 1);
}

} // namespace
} // namespace velquin::gathertest
