#include "platform/vray/primitive.h"

#include <gtest/gtest.h>

namespace {

using VR::MovingBox;
using VR::StaticBox;

MovingBox numbered() {
    MovingBox b;
    b.tstart = 0.25f;
    b.tend = 0.75f;
    for (int i = 0; i < 12; ++i)
        b.coord(i) = static_cast<float>(i + 1);
    return b;
}

TEST(VRayBoxes, MovingSplitIndexRule) {
    // (axis mod 4) + (axis div 4) * 6: axes 0..2 the first box, 4..6 the second.
    const int expected[8] = {0, 1, 2, -1, 6, 7, 8, -1};
    for (int axis = 0; axis < 8; ++axis)
        EXPECT_EQ(MovingBox::splitIndex(axis), expected[axis]) << axis;
    EXPECT_EQ(MovingBox::splitIndex(-1), -1);
    EXPECT_EQ(MovingBox::splitIndex(8), -1);
}

TEST(VRayBoxes, MovingSplitCutsOneCoordinate) {
    const MovingBox box = numbered();
    for (int axis : {0, 1, 2, 4, 5, 6}) {
        MovingBox l, r;
        VR::splitBox(box, axis, 99.0f, l, r);
        int i = MovingBox::splitIndex(axis);
        for (int k = 0; k < 12; ++k) {
            EXPECT_EQ(l.coord(k), k == i + 3 ? 99.0f : box.coord(k)) << axis << " " << k;
            EXPECT_EQ(r.coord(k), k == i ? 99.0f : box.coord(k)) << axis << " " << k;
        }
        EXPECT_EQ(l.tstart, 0.25f);
        EXPECT_EQ(r.tend, 0.75f);
    }
    // Axes that name no min coordinate leave both halves whole.
    for (int axis : {3, 7, -2, 11}) {
        MovingBox l, r;
        VR::splitBox(box, axis, 99.0f, l, r);
        for (int k = 0; k < 12; ++k) {
            EXPECT_EQ(l.coord(k), box.coord(k));
            EXPECT_EQ(r.coord(k), box.coord(k));
        }
    }
}

TEST(VRayBoxes, StaticSplitAndLayout) {
    StaticBox b;
    for (int i = 0; i < 6; ++i)
        b[i] = static_cast<float>(i);
    StaticBox l, r;
    VR::splitBox(b, 1, 2.5f, l, r);
    EXPECT_EQ(l.pmax.y, 2.5f);
    EXPECT_EQ(r.pmin.y, 2.5f);
    EXPECT_EQ(l.pmin.y, 1.0f);
    EXPECT_EQ(r.pmax.y, 4.0f);
    EXPECT_EQ(l.pmax.x, 3.0f);
    EXPECT_EQ(r.pmin.z, 2.0f);
    // Six floats in the order min x, y, z, max x, y, z.
    const float* raw = reinterpret_cast<const float*>(&b);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(raw[i], static_cast<float>(i));
}

TEST(VRayBoxes, MovingBoxAtTime) {
    MovingBox m;
    m.tstart = 0.0f;
    m.tend = 1.0f;
    m.b[0].pmin = VR::Vector(0, 0, 0);
    m.b[0].pmax = VR::Vector(1, 1, 1);
    m.b[1].pmin = VR::Vector(2, 0, 0);
    m.b[1].pmax = VR::Vector(2, 0, 0);
    StaticBox h = m.boxAt(0.5f);
    EXPECT_EQ(h.pmin.x, 1.0f);
    EXPECT_EQ(h.pmax.x, 2.0f);
    EXPECT_EQ(h.pmax.y, 1.0f);
    // Times outside the range hold the nearest end.
    EXPECT_EQ(m.boxAt(-3.0f).pmin.x, 0.0f);
    EXPECT_EQ(m.boxAt(7.0f).pmin.x, 2.0f);
    // A second box of zeros bounds the whole motion at every time.
    m.b[1] = StaticBox();
    EXPECT_EQ(m.boxAt(0.9f).pmax.x, 1.0f);
}

} // namespace
