#include "field/Evaluators.h"
#include "field/MetaballArrays.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace velquin {
namespace {

int gCalls = 0;
double countingKernel(double radiusSq, double distSq) {
    ++gCalls;
    return kernelPowerOfThree(radiusSq, distSq);
}

int gColorCalls = 0;
double countingColorKernel(double radiusSq, double distSq) {
    ++gColorCalls;
    return kernelHermitePowerOfTwo(radiusSq, distSq);
}

// A fixed-seed cloud of metaballs around the origin, some of them out of reach of any query.
struct Cloud {
    std::vector<float> positions;
    std::vector<double> radiiSq;
    std::vector<double> radii;
    std::vector<float> colors;
    std::vector<std::int32_t> indices;

    explicit Cloud(int n, unsigned seed = 7) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> pos(-3.0f, 3.0f);
        std::uniform_real_distribution<double> rad(0.5, 2.5);
        std::uniform_real_distribution<float> col(0.0f, 1.0f);
        for (int i = 0; i < n; ++i) {
            for (int c = 0; c < 3; ++c) {
                positions.push_back(pos(rng));
                colors.push_back(col(rng));
            }
            double r = rad(rng);
            radii.push_back(r);
            radiiSq.push_back(r * r);
            indices.push_back(i);
        }
        std::shuffle(indices.begin(), indices.end(), rng);
    }
};

const float kP[3] = {0.25f, -0.5f, 0.125f};

TEST(Field, EmptyAndNegativeBatchesChangeNothing) {
    Cloud cloud(4);
    Field f;
    f.kernel = countingKernel;
    f.radiusSq = 100.0;
    f.positions = cloud.positions.data();
    f.setPoint(kP);
    gCalls = 0;
    f.accumulate(nullptr, 0);
    f.accumulate(cloud.indices.data(), 0);
    f.accumulate(cloud.indices.data(), -3);
    EXPECT_EQ(f.sum, 0.0);
    EXPECT_EQ(gCalls, 0);

    FieldGrad g;
    g.kernel = countingKernel;
    g.radiusSq = 100.0;
    g.positions = cloud.positions.data();
    g.setPoints(kP);
    g.accumulate(cloud.indices.data(), -1);
    FieldMoving m;
    m.kernel = countingKernel;
    m.radiusSq = 100.0;
    m.accumulateUniform(cloud.positions.data(), -1);
    m.accumulateSized(cloud.positions.data(), cloud.radiiSq.data(), cloud.radii.data(), 0);
    FieldGradMoving gm;
    gm.kernel = countingKernel;
    gm.colorKernel = countingColorKernel;
    gm.radiusSq = 100.0;
    gm.accumulateUniform(cloud.positions.data(), cloud.indices.data(), -5);
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(g.sums[j], 0.0);
        EXPECT_EQ(gm.sums[j], 0.0);
    }
    EXPECT_EQ(m.sum, 0.0);
    EXPECT_EQ(gCalls, 0);
}

TEST(Field, ExactlyAtRadiusCallsKernelAndAddsZero) {
    // Distance 3-4-5: d^2 = 25 exactly.
    const float pos[3] = {3.0f, 4.0f, 0.0f};
    const float origin[3] = {0.0f, 0.0f, 0.0f};
    const std::int32_t idx[1] = {0};
    Field f;
    f.kernel = countingKernel;
    f.radiusSq = 25.0;
    f.positions = pos;
    f.setPoint(origin);
    gCalls = 0;
    f.accumulate(idx, 1);
    EXPECT_EQ(gCalls, 1);
    EXPECT_EQ(f.sum, 0.0);

    // Just inside the next float below: skipped.
    f.radiusSq = std::nextafter(25.0, 0.0);
    f.accumulate(idx, 1);
    EXPECT_EQ(gCalls, 1);
}

TEST(Field, PerBallRadiiOverrideGlobal) {
    const float pos[6] = {1.0f, 0.0f, 0.0f, 0.0f, 2.0f, 0.0f};
    const double sq[2] = {4.0, 1.0}; // the second metaball does not reach the origin
    const float origin[3] = {0.0f, 0.0f, 0.0f};
    const std::int32_t idx[2] = {0, 1};
    Field f;
    f.kernel = kernelPowerOfTwo;
    f.radiusSq = 0.25; // would exclude both
    f.positions = pos;
    f.perBallRadiusSq = sq;
    f.setPoint(origin);
    f.accumulate(idx, 2);
    EXPECT_EQ(f.sum, kernelPowerOfTwo(4.0, 1.0)); // 0.5625
    EXPECT_EQ(f.sum, 0.5625);

    Field g = f;
    g.sum = 0.0;
    g.perBallRadiusSq = nullptr;
    g.radiusSq = 16.0; // both reach now
    g.accumulate(idx, 2);
    EXPECT_EQ(g.sum, (0.0 + kernelPowerOfTwo(16.0, 1.0)) + kernelPowerOfTwo(16.0, 4.0));
}

TEST(Field, SumsInBatchOrderAndCountsRepeats) {
    Cloud cloud(30);
    Field f;
    f.kernel = kernelWyvill;
    f.radiusSq = globalRadiusSq(2.0f);
    f.positions = cloud.positions.data();
    f.setPoint(kP);
    f.accumulate(cloud.indices.data(), 10);
    f.accumulate(cloud.indices.data() + 10, 20);
    double expected = 0.0;
    int reached = 0;
    for (std::int32_t k : cloud.indices) {
        double d2 = distanceSq(&cloud.positions[3 * k], kP);
        if (d2 <= 4.0) {
            expected += kernelWyvill(4.0, d2);
            ++reached;
        }
    }
    ASSERT_GT(reached, 2);
    EXPECT_EQ(f.sum, expected);

    // A metaball handed over twice counts twice.
    const std::int32_t twice[2] = {cloud.indices[0], cloud.indices[0]};
    Field once = f;
    once.sum = 0.0;
    once.accumulate(twice, 1);
    Field both = f;
    both.sum = 0.0;
    both.accumulate(twice, 2);
    EXPECT_EQ(both.sum, once.sum + once.sum);
}

TEST(Field, ZeroRadiusAtItsCentreAddsNothing) {
    const float pos[3] = {1.0f, 2.0f, 3.0f};
    const std::int32_t idx[1] = {0};
    const double zero[1] = {0.0};
    Field f;
    f.kernel = countingKernel;
    f.radiusSq = 0.0;
    f.positions = pos;
    f.setPoint(pos);
    gCalls = 0;
    f.accumulate(idx, 1);
    f.perBallRadiusSq = zero;
    f.accumulate(idx, 1);
    EXPECT_EQ(gCalls, 0);
    EXPECT_EQ(f.sum, 0.0);

    FieldMoving m;
    m.kernel = countingKernel;
    m.setPoint(pos);
    m.accumulateUniform(pos, 1);
    m.accumulateSized(pos, zero, zero, 1);
    EXPECT_EQ(gCalls, 0);
    EXPECT_EQ(m.sum, 0.0);
}

TEST(FieldColor, SingleRedMetaballAtItsCentre) {
    const float pos[3] = {1.0f, -2.0f, 0.5f};
    const float red[3] = {1.0f, 0.0f, 0.0f};
    const std::int32_t idx[1] = {0};
    FieldColor f;
    f.kernel = kernelHermitePowerOfFour;
    f.radiusSq = 400.0;
    f.positions = pos;
    f.colors = red;
    f.setPoint(pos);
    f.accumulate(idx, 1);
    EXPECT_EQ(f.sum, 1.0);
    EXPECT_EQ(f.colorSum[0], 1.0f);
    EXPECT_EQ(f.colorSum[1], 0.0f);
    EXPECT_EQ(f.colorSum[2], 0.0f);
}

TEST(FieldColor, WeightNarrowedBeforeSinglePrecisionSum) {
    Cloud cloud(30, 11);
    FieldColor f;
    f.kernel = kernelPowerOfFour;
    f.radiusSq = 9.0;
    f.positions = cloud.positions.data();
    f.colors = cloud.colors.data();
    f.setPoint(kP);
    f.accumulate(cloud.indices.data(), 30);
    double sum = 0.0;
    float cs[3] = {0.0f, 0.0f, 0.0f};
    int reached = 0;
    for (std::int32_t k : cloud.indices) {
        double d2 = distanceSq(&cloud.positions[3 * k], kP);
        if (d2 <= 9.0) {
            double w = kernelPowerOfFour(9.0, d2);
            sum += w;
            for (int c = 0; c < 3; ++c) {
                cs[c] = cs[c] + cloud.colors[3 * k + c] * static_cast<float>(w);
            }
            ++reached;
        }
    }
    ASSERT_GT(reached, 2);
    EXPECT_EQ(f.sum, sum);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(f.colorSum[c], cs[c]);
    }
}

TEST(FieldGrad, PointsOffsetInSinglePrecision) {
    const float p[3] = {1.0f, 1000.0f, -3.5f};
    FieldGrad g;
    g.setPoints(p);
    EXPECT_EQ(g.points[0][0], 1.0f);
    EXPECT_EQ(g.points[1][0], 1.0f - 0.001f);
    EXPECT_EQ(g.points[1][1], 1000.0f);
    EXPECT_EQ(g.points[2][1], 1000.0f - 0.001f);
    EXPECT_EQ(g.points[2][1], 999.999f); // the float nearest, not 1000 - 0.001 in double
    EXPECT_EQ(g.points[3][2], -3.5f - 0.001f);
    EXPECT_EQ(g.points[3][0], 1.0f);
    EXPECT_EQ(static_cast<double>(kGradientOffset), 0.0010000000474974513);

    FieldGradMoving gm;
    gm.setPoints(p);
    for (int j = 0; j < 4; ++j) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(gm.points[j][c], g.points[j][c]);
        }
    }
}

TEST(FieldGrad, FourSumsEqualFourSingleEvaluations) {
    Cloud cloud(30, 3);
    for (bool sized : {false, true}) {
        FieldGrad g;
        g.kernel = kernelHermitePowerOfTwo;
        g.radiusSq = 4.0;
        g.positions = cloud.positions.data();
        g.perBallRadiusSq = sized ? cloud.radiiSq.data() : nullptr;
        g.setPoints(kP);
        g.accumulate(cloud.indices.data(), 17);
        g.accumulate(cloud.indices.data() + 17, 13);
        for (int j = 0; j < 4; ++j) {
            Field f;
            f.kernel = g.kernel;
            f.radiusSq = g.radiusSq;
            f.positions = g.positions;
            f.perBallRadiusSq = g.perBallRadiusSq;
            f.setPoint(g.points[j]);
            f.accumulate(cloud.indices.data(), 17);
            f.accumulate(cloud.indices.data() + 17, 13);
            EXPECT_EQ(g.sums[j], f.sum) << j;
            EXPECT_GT(f.sum, 0.0);
        }
        EXPECT_NE(g.sums[0], g.sums[1]);
    }
}

TEST(FieldGrad, ReachTestedPerPoint) {
    // The metaball's reach ends between p and p - 0.001 along x.
    const float pos[3] = {0.0f, 0.0f, 0.0f};
    const float p[3] = {1.0005f, 0.0f, 0.0f};
    const std::int32_t idx[1] = {0};
    FieldGrad g;
    g.kernel = kernelPowerOfTwo;
    g.radiusSq = 1.0;
    g.positions = pos;
    g.setPoints(p);
    g.accumulate(idx, 1);
    EXPECT_EQ(g.sums[0], 0.0);
    EXPECT_GT(g.sums[1], 0.0);
    EXPECT_EQ(g.sums[2], 0.0);
    EXPECT_EQ(g.sums[3], 0.0);
}

// The moving classes take centres in batch order; handing them the static metaballs gathered by
// index must give the same bits as the static evaluators.
TEST(FieldMoving, MatchesStaticEvaluators) {
    Cloud cloud(30, 5);
    std::vector<float> centres;
    std::vector<double> sq, rad;
    for (std::int32_t k : cloud.indices) {
        for (int c = 0; c < 3; ++c) {
            centres.push_back(cloud.positions[3 * k + c]);
        }
        sq.push_back(cloud.radiiSq[k]);
        rad.push_back(cloud.radii[k]);
    }
    const std::int32_t n = static_cast<std::int32_t>(cloud.indices.size());

    Field fs;
    fs.kernel = kernelPowerOfFive;
    fs.radiusSq = 3.0;
    fs.positions = cloud.positions.data();
    fs.setPoint(kP);
    Field fz = fs;
    fz.perBallRadiusSq = cloud.radiiSq.data();
    fs.accumulate(cloud.indices.data(), n);
    fz.accumulate(cloud.indices.data(), n);

    FieldMoving mu;
    mu.kernel = kernelPowerOfFive;
    mu.radiusSq = 3.0;
    mu.setPoint(kP);
    FieldMoving mz = mu;
    mu.accumulateUniform(centres.data(), n);
    mz.accumulateSized(centres.data(), sq.data(), rad.data(), n);
    EXPECT_EQ(mu.sum, fs.sum);
    EXPECT_EQ(mz.sum, fz.sum);
    EXPECT_NE(mu.sum, mz.sum);

    FieldGrad gs;
    gs.kernel = kernelPowerOfFive;
    gs.radiusSq = 3.0;
    gs.positions = cloud.positions.data();
    gs.setPoints(kP);
    FieldGrad gz = gs;
    gz.perBallRadiusSq = cloud.radiiSq.data();
    gs.accumulate(cloud.indices.data(), n);
    gz.accumulate(cloud.indices.data(), n);

    FieldGradMoving gu;
    gu.kernel = kernelPowerOfFive;
    gu.radiusSq = 3.0;
    gu.setPoints(kP);
    FieldGradMoving gmz = gu;
    gu.accumulateUniform(centres.data(), cloud.indices.data(), n);
    gmz.accumulateSized(centres.data(), sq.data(), rad.data(), cloud.indices.data(), n);
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(gu.sums[j], gs.sums[j]);
        EXPECT_EQ(gmz.sums[j], gz.sums[j]);
    }

    // Dispatch through the base pointer uses the same slots.
    FieldMoving viaBase;
    viaBase.kernel = kernelPowerOfFive;
    viaBase.radiusSq = 3.0;
    viaBase.setPoint(kP);
    FieldMoving* base = &viaBase;
    base->accumulateUniform(centres.data(), n);
    EXPECT_EQ(viaBase.sum, fs.sum);
}

TEST(FieldGradMoving, NoColorsNeverCallsColorKernel) {
    Cloud cloud(30, 9);
    FieldGradMoving g;
    g.kernel = kernelPowerOfThree;
    g.colorKernel = countingColorKernel;
    g.colors = nullptr;
    g.colorCount = 30; // a count alone does not switch colours on
    g.radiusSq = 4.0;
    g.setPoints(kP);
    gColorCalls = 0;
    g.accumulateUniform(cloud.positions.data(), cloud.indices.data(), 30);
    g.accumulateSized(cloud.positions.data(), cloud.radiiSq.data(), cloud.radii.data(),
                      cloud.indices.data(), 30);
    EXPECT_EQ(gColorCalls, 0);
    EXPECT_GT(g.sums[0], 0.0);
    EXPECT_EQ(g.colorWeightSum, 0.0);
    EXPECT_EQ(g.colorSum[0], 0.0f);
    EXPECT_EQ(g.colorSum[1], 0.0f);
    EXPECT_EQ(g.colorSum[2], 0.0f);
}

TEST(FieldGradMoving, ColorAtFirstPointWithColorKernel) {
    Cloud cloud(30, 13);
    // Centres in batch order; indices[i] names each one's colour.
    std::vector<float> centres;
    for (std::int32_t k : cloud.indices) {
        for (int c = 0; c < 3; ++c) {
            centres.push_back(cloud.positions[3 * k + c]);
        }
    }
    FieldGradMoving g;
    g.kernel = kernelPowerOfThree;
    g.colorKernel = countingColorKernel;
    g.colors = cloud.colors.data();
    g.colorCount = 30;
    g.radiusSq = 9.0;
    g.setPoints(kP);
    gColorCalls = 0;
    g.accumulateUniform(centres.data(), cloud.indices.data(), 30);

    double cw = 0.0;
    float cs[3] = {0.0f, 0.0f, 0.0f};
    int reached = 0;
    for (int i = 0; i < 30; ++i) {
        double d2 = distanceSq(&centres[3 * i], kP);
        if (d2 <= 9.0) {
            double w = kernelHermitePowerOfTwo(9.0, d2);
            cw += w;
            for (int c = 0; c < 3; ++c) {
                cs[c] = cs[c] + cloud.colors[3 * cloud.indices[i] + c] * static_cast<float>(w);
            }
            ++reached;
        }
    }
    ASSERT_GT(reached, 2);
    EXPECT_EQ(gColorCalls, reached);
    EXPECT_EQ(g.colorWeightSum, cw);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(g.colorSum[c], cs[c]);
    }
}

TEST(FieldGradMoving, ColorOnlyFromMetaballsReachingFirstPoint) {
    // Reaches p - 0.001 along x but not p itself.
    const float centre[3] = {0.0f, 0.0f, 0.0f};
    const float p[3] = {1.0005f, 0.0f, 0.0f};
    const float color[3] = {0.5f, 0.25f, 1.0f};
    const std::int32_t idx[1] = {0};
    const double sq[1] = {1.0};
    const double rad[1] = {1.0};
    FieldGradMoving g;
    g.kernel = kernelPowerOfTwo;
    g.colorKernel = countingColorKernel;
    g.colors = color;
    g.colorCount = 1;
    g.radiusSq = 1.0;
    g.setPoints(p);
    gColorCalls = 0;
    g.accumulateUniform(centre, idx, 1);
    g.accumulateSized(centre, sq, rad, idx, 1);
    EXPECT_GT(g.sums[1], 0.0);
    EXPECT_EQ(gColorCalls, 0);
    EXPECT_EQ(g.colorWeightSum, 0.0);
}

// An index outside the colour array (>= colorCount, or negative) reads nothing and adds neither
// weight nor colour; the field sums are unaffected.
TEST(FieldGradMoving, IndexOutsideColorArrayAddsNoColor) {
    const float centres[9] = {0.0f, 0.0f, 0.0f, 0.1f, 0.0f, 0.0f, 0.0f, 0.1f, 0.0f};
    const float colors[3] = {0.5f, 0.25f, 1.0f}; // one colour only
    const std::int32_t idx[3] = {0, 1, -1};
    const float origin[3] = {0.0f, 0.0f, 0.0f};
    FieldGradMoving g;
    g.kernel = kernelPowerOfTwo;
    g.colorKernel = countingColorKernel;
    g.colors = colors;
    g.colorCount = 1;
    g.radiusSq = 1.0;
    g.setPoints(origin);
    gColorCalls = 0;
    g.accumulateUniform(centres, idx, 3);
    EXPECT_EQ(gColorCalls, 1);
    EXPECT_EQ(g.colorWeightSum, 1.0);
    EXPECT_EQ(g.colorSum[0], 0.5f);
    EXPECT_EQ(g.colorSum[1], 0.25f);
    EXPECT_EQ(g.colorSum[2], 1.0f);
    EXPECT_EQ(g.sums[0], (1.0 + kernelPowerOfTwo(1.0, distanceSq(centres + 3, origin))) +
                             kernelPowerOfTwo(1.0, distanceSq(centres + 6, origin)));
}

} // namespace
} // namespace velquin
