#include "field/Evaluators.h"
#include "field/MetaballArrays.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace velquin {
namespace {

struct Cloud {
    std::vector<float> positions; // in batch order
    std::vector<double> radii;
    std::vector<double> radiiSq;
    std::vector<float> colors;
    std::vector<std::int32_t> indices; // identity: batch element i is metaball i

    explicit Cloud(int n, unsigned seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> pos(-2.0f, 2.0f);
        std::uniform_real_distribution<double> rad(1.0, 3.0);
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
    }
    std::int32_t size() const { return static_cast<std::int32_t>(radii.size()); }
};

const float kP[3] = {0.25f, -0.5f, 0.125f};
const float kOrigin[3] = {0.0f, 0.0f, 0.0f};
const float kUp[3] = {0.0f, 0.0f, 1.0f};

AverageSettings settings(double radius, bool sized) {
    AverageSettings s;
    s.radius = radius;
    s.sized = sized;
    return s; // cutoff 0.5, trim 0.65f widened
}

TEST(FieldAvg, SingleSizedMetaballGivesRadiusMinusDistance) {
    const float pos[3] = {1.0f, 2.0f, 3.0f};
    const double radius[1] = {2.0};
    const std::int32_t idx[1] = {0};
    const float p[3] = {1.0f, 2.0f, 3.5f};
    FieldAvg f;
    f.kernel = kernelPowerOfThree;
    f.radiusSq = 0.01; // ignored with per-metaball radii
    f.positions = pos;
    f.perBallRadiusSq = radius; // radii, squared by the evaluator
    f.setPoint(p);
    f.accumulate(idx, 1);
    EXPECT_EQ(f.weightSum, 0.823974609375); // (1 - 0.25 / 4)^3
    EXPECT_EQ(f.weightedRadius, 0.823974609375 * 2.0);
    EXPECT_EQ(f.sum, 0.0); // gathering leaves the result slot alone
    averageSurfaceValue(f, settings(20.0, true));
    EXPECT_EQ(f.sum, 1.5);
}

TEST(FieldAvg, PerBallArrayHoldsRadiiNotSquares) {
    const float pos[3] = {1.9f, 0.0f, 0.0f};
    const double radius[1] = {2.0};
    const std::int32_t idx[1] = {0};
    FieldAvg f;
    f.kernel = kernelPowerOfTwo;
    f.positions = pos;
    f.perBallRadiusSq = radius;
    f.setPoint(kOrigin);
    f.accumulate(idx, 1);
    double d2 = distanceSq(pos, kOrigin);
    ASSERT_GT(d2, 2.0);
    EXPECT_EQ(f.weightSum, kernelPowerOfTwo(4.0, d2));
    EXPECT_EQ(f.weightedCentre[0], 1.9f * static_cast<float>(f.weightSum));
}

TEST(FieldAvg, GlobalRadiusIgnoresWeights) {
    const float pos[3] = {0.0f, 0.0f, 0.5f};
    const std::int32_t idx[1] = {0};
    FieldAvg f;
    f.kernel = kernelPowerOfThree;
    f.radiusSq = globalRadiusSq(5.0f);
    f.positions = pos;
    f.setPoint(kOrigin);
    f.accumulate(idx, 1);
    EXPECT_EQ(f.weightedRadius, 0.0); // not gathered without per-metaball radii
    ASSERT_GT(f.weightSum, 0.65);
    averageSurfaceValue(f, settings(5.0, false));
    EXPECT_EQ(f.sum, 4.5);
}

TEST(AverageValue, TrimOnlyWhileWeightBelowGlobalRadius) {
    const float zero[3] = {0.0f, 0.0f, 0.0f};
    // W = 0.31 is below cutoff * trim, so a trim would give s = 0, but W >= radius: no trim.
    EXPECT_EQ(averageValueAt(kUp, zero, 0.31, 0.0, settings(0.3, false)),
              static_cast<double>(0.3f - 1.0f));
    EXPECT_EQ(averageValueAt(kUp, zero, 0.31, 0.0, settings(0.32, false)), -1.0);
}

TEST(AverageValue, TrimBandBlendsSmoothly) {
    const float zero[3] = {0.0f, 0.0f, 0.0f};
    AverageSettings s = settings(20.0, false);
    for (double w : {0.34, 0.5, 0.64}) {
        double u = (w / s.trim - s.cutoff) / (1.0 - s.cutoff);
        double smooth = (3.0 - 2.0 * u) * (u * u);
        ASSERT_GT(smooth, 0.0);
        ASSERT_LT(smooth, 1.0);
        float rf = static_cast<float>(static_cast<double>(20.0f) * smooth);
        double v = averageValueAt(kUp, zero, w, 0.0, s);
        EXPECT_EQ(v, static_cast<double>(rf - 1.0f)) << w;
        EXPECT_GT(v, -1.0);
        EXPECT_LT(v, 19.0);
    }
    // The trim is smooth but not monotone-breaking: more weight, larger value.
    EXPECT_LT(averageValueAt(kUp, zero, 0.4, 0.0, s), averageValueAt(kUp, zero, 0.5, 0.0, s));
    // Sized: the trim scales the average radius Q / W.
    AverageSettings sz = settings(20.0, true);
    double u = (0.5 / sz.trim - 0.5) / 0.5;
    float rf = static_cast<float>(static_cast<double>(static_cast<float>(1.5 / 0.5)) *
                                  ((3.0 - 2.0 * u) * (u * u)));
    EXPECT_EQ(averageValueAt(kUp, zero, 0.5, 1.5, sz), static_cast<double>(rf - 1.0f));
}

TEST(AverageValue, AtOrBelowCutoffGivesMinusDistance) {
    const float zero[3] = {0.0f, 0.0f, 0.0f};
    const float p[3] = {3.0f, 4.0f, 0.0f};
    AverageSettings s = settings(20.0, false);
    EXPECT_EQ(averageValueAt(p, zero, 0.3, 0.0, s), -5.0);
    EXPECT_EQ(averageValueAt(p, zero, 0.01, 0.0, s), -5.0);
    s.trim = 0.5; // W / trim == cutoff exactly: u = 0
    EXPECT_EQ(averageValueAt(p, zero, 0.25, 0.0, s), -5.0);
    // Above trim the radius is untouched.
    EXPECT_EQ(averageValueAt(p, zero, 0.5, 0.0, s), 15.0);
}

TEST(AverageValue, CentreAndDistanceInSinglePrecision) {
    // M / (float)W per component, then differences, squares and the root in float.
    const float m[3] = {0.7f, -1.3f, 2.9f};
    const float p[3] = {0.1f, 0.2f, 0.3f};
    const double w = 0.8123456789;
    AverageSettings s = settings(0.5, true); // W >= radius: no trim
    float wf = static_cast<float>(w);
    float dx = p[0] - m[0] / wf;
    float dy = p[1] - m[1] / wf;
    float dz = p[2] - m[2] / wf;
    float dist = std::sqrt((dx * dx + dy * dy) + dz * dz);
    float rf = static_cast<float>(1.7 / w);
    EXPECT_EQ(averageValueAt(p, m, w, 1.7, s), static_cast<double>(rf - dist));
}

// No weight at all: the point is outside for any threshold, finite, and never NaN.
TEST(AverageValue, NoWeightReadsAsEmpty) {
    const float zero[3] = {0.0f, 0.0f, 0.0f};
    for (bool sized : {false, true}) {
        AverageSettings s = settings(20.0, sized);
        EXPECT_EQ(averageValueAt(kUp, zero, 0.0, 0.0, s), kEmptyAverageValue);
        EXPECT_EQ(averageValueAt(kUp, zero, -1e-17, 0.0, s), kEmptyAverageValue);
        // Positive but below float range: the centre would be 0 / 0.
        EXPECT_EQ(averageValueAt(kUp, zero, 1e-300, 0.0, s), kEmptyAverageValue);
        EXPECT_EQ(averageValueAt(kUp, zero, std::nan(""), 0.0, s), kEmptyAverageValue);
    }
    EXPECT_TRUE(std::isfinite(kEmptyAverageValue));
    EXPECT_LT(kEmptyAverageValue, -1e29);

    FieldAvg f;
    f.kernel = kernelWyvill;
    f.radiusSq = 1.0;
    f.setPoint(kUp);
    averageSurfaceValue(f, settings(20.0, false));
    EXPECT_EQ(f.sum, kEmptyAverageValue);
}

// cutoff 1 leaves no blending band: the trim becomes a step at W / trim = 1.
TEST(AverageValue, CutoffOneIsAStep) {
    const float zero[3] = {0.0f, 0.0f, 0.0f};
    AverageSettings s = settings(20.0, false);
    s.cutoff = 1.0;
    s.trim = 0.5;
    EXPECT_EQ(averageValueAt(kUp, zero, 0.5, 0.0, s), 19.0);
    EXPECT_EQ(averageValueAt(kUp, zero, 0.7, 0.0, s), 19.0);
    EXPECT_EQ(averageValueAt(kUp, zero, 0.4999, 0.0, s), -1.0);
    EXPECT_EQ(averageValueAt(kUp, zero, 1e-9, 0.0, s), -1.0);
}

TEST(FieldAvg, ZeroAndNegativeRadiiStayFinite) {
    const float pos[6] = {0.0f, 0.0f, 0.0f, 0.5f, 0.0f, 0.0f};
    const double radii[2] = {0.0, -2.0};
    const std::int32_t idx[2] = {0, 1};
    FieldAvg f;
    f.kernel = kernelPowerOfTwo;
    f.positions = pos;
    f.perBallRadiusSq = radii;
    f.setPoint(kOrigin); // exactly at the zero-size metaball's centre
    f.accumulate(idx, 2);
    double w = kernelPowerOfTwo(4.0, 0.25);
    EXPECT_EQ(f.weightSum, w); // only the negative radius (squared: 4) contributes
    EXPECT_EQ(f.weightedRadius, -2.0 * w);
    averageSurfaceValue(f, settings(20.0, true));
    EXPECT_TRUE(std::isfinite(f.sum));
    EXPECT_LT(f.sum, 0.0);
}

TEST(FieldAvg, GatheringMatchesWeightedSums) {
    Cloud cloud(30, 21);
    for (bool sized : {false, true}) {
        FieldAvg f;
        f.kernel = kernelHermitePowerOfFour;
        f.radiusSq = 4.0;
        f.positions = cloud.positions.data();
        f.perBallRadiusSq = sized ? cloud.radii.data() : nullptr;
        f.setPoint(kP);
        f.accumulate(cloud.indices.data(), 12);
        f.accumulate(cloud.indices.data() + 12, 18);
        float m[3] = {0.0f, 0.0f, 0.0f};
        double w = 0.0, q = 0.0;
        int reached = 0;
        for (int k = 0; k < 30; ++k) {
            double r = cloud.radii[k];
            double r2 = sized ? r * r : 4.0;
            double d2 = distanceSq(&cloud.positions[3 * k], kP);
            if (d2 <= r2) {
                double wk = kernelHermitePowerOfFour(r2, d2);
                for (int c = 0; c < 3; ++c) {
                    m[c] = m[c] + cloud.positions[3 * k + c] * static_cast<float>(wk);
                }
                w += wk;
                q += wk * r;
                ++reached;
            }
        }
        ASSERT_GT(reached, 3);
        EXPECT_EQ(f.weightSum, w);
        EXPECT_EQ(f.weightedRadius, sized ? q : 0.0);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(f.weightedCentre[c], m[c]);
        }
    }
}

// Every point of the four-point classes equals the one-point class at that point, both in the
// gathered sums and in the value written to sums[j].
TEST(FieldGradAvg, EachPointMatchesOnePointClass) {
    Cloud cloud(30, 23);
    for (bool sized : {false, true}) {
        AverageSettings s = settings(sized ? 20.0 : 2.0, sized);
        FieldGradAvg g;
        g.kernel = kernelPowerOfFour;
        g.radiusSq = 4.0;
        g.positions = cloud.positions.data();
        g.perBallRadiusSq = sized ? cloud.radii.data() : nullptr;
        g.setPoints(kP);
        g.accumulate(cloud.indices.data(), 30);
        averageSurfaceValue(g, s);
        for (int j = 0; j < 4; ++j) {
            FieldAvg f;
            f.kernel = g.kernel;
            f.radiusSq = g.radiusSq;
            f.positions = g.positions;
            f.perBallRadiusSq = g.perBallRadiusSq;
            f.setPoint(g.points[j]);
            f.accumulate(cloud.indices.data(), 30);
            averageSurfaceValue(f, s);
            EXPECT_EQ(g.weightSum[j], f.weightSum);
            EXPECT_EQ(g.weightedRadius[j], f.weightedRadius);
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(g.weightedCentre[j][c], f.weightedCentre[c]);
            }
            EXPECT_EQ(g.sums[j], f.sum);
            EXPECT_NE(g.sums[j], kEmptyAverageValue);
        }
    }
}

TEST(FieldMovingAvg, MatchesStaticAverage) {
    Cloud cloud(30, 29);
    const std::int32_t n = cloud.size();
    FieldAvg fu;
    fu.kernel = kernelWyvill;
    fu.radiusSq = 2.25;
    fu.positions = cloud.positions.data();
    fu.setPoint(kP);
    FieldAvg fz = fu;
    fz.perBallRadiusSq = cloud.radii.data();
    fu.accumulate(cloud.indices.data(), n);
    fz.accumulate(cloud.indices.data(), n);

    FieldMovingAvg mu;
    mu.kernel = kernelWyvill;
    mu.radiusSq = 2.25;
    mu.setPoint(kP);
    FieldMovingAvg mz = mu;
    FieldMoving* base = &mu; // the average class answers through the base slots
    base->accumulateUniform(cloud.positions.data(), n);
    base = &mz;
    base->accumulateSized(cloud.positions.data(), cloud.radiiSq.data(), cloud.radii.data(), n);
    EXPECT_EQ(mu.sum, 0.0);
    EXPECT_EQ(mu.weightedRadius, 0.0);
    EXPECT_EQ(mu.weightSum, fu.weightSum);
    EXPECT_EQ(mz.weightSum, fz.weightSum);
    EXPECT_EQ(mz.weightedRadius, fz.weightedRadius);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(mu.weightedCentre[c], fu.weightedCentre[c]);
        EXPECT_EQ(mz.weightedCentre[c], fz.weightedCentre[c]);
    }
    averageSurfaceValue(mz, settings(20.0, true));
    averageSurfaceValue(fz, settings(20.0, true));
    EXPECT_EQ(mz.sum, fz.sum);
}

TEST(FieldGradMovingAvg, SizedFillsFourPointsAndColorsAtFirst) {
    Cloud cloud(30, 31);
    const std::int32_t n = cloud.size();
    for (bool sized : {false, true}) {
        FieldGradMovingAvg g(cloud.colors.data(), n);
        EXPECT_EQ(g.colorWeightSum, 0.0);
        EXPECT_EQ(g.colorSum[0], 0.0f);
        g.kernel = kernelPowerOfThree;
        g.colorKernel = kernelPowerOfTwo;
        g.radiusSq = 4.0;
        g.setPoints(kP);
        FieldGradMoving* base = &g;
        if (sized) {
            base->accumulateSized(cloud.positions.data(), cloud.radiiSq.data(), cloud.radii.data(),
                                  cloud.indices.data(), n);
        } else {
            base->accumulateUniform(cloud.positions.data(), cloud.indices.data(), n);
        }
        for (int j = 0; j < 4; ++j) {
            EXPECT_EQ(g.sums[j], 0.0);
            FieldMovingAvg m;
            m.kernel = g.kernel;
            m.radiusSq = g.radiusSq;
            m.setPoint(g.points[j]);
            if (sized) {
                m.accumulateSized(cloud.positions.data(), cloud.radiiSq.data(), cloud.radii.data(),
                                  n);
            } else {
                m.accumulateUniform(cloud.positions.data(), n);
            }
            EXPECT_GT(m.weightSum, 0.0);
            EXPECT_EQ(g.weightSum[j], m.weightSum);
            EXPECT_EQ(g.weightedRadius[j], m.weightedRadius);
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(g.weightedCentre[j][c], m.weightedCentre[c]);
            }
        }
        // The colour is the one the summed moving class gathers at the first point.
        FieldGradMoving ref;
        ref.colors = cloud.colors.data();
        ref.colorCount = n;
        ref.kernel = g.kernel;
        ref.colorKernel = g.colorKernel;
        ref.radiusSq = g.radiusSq;
        ref.setPoints(kP);
        if (sized) {
            ref.accumulateSized(cloud.positions.data(), cloud.radiiSq.data(), cloud.radii.data(),
                                cloud.indices.data(), n);
        } else {
            ref.accumulateUniform(cloud.positions.data(), cloud.indices.data(), n);
        }
        EXPECT_GT(ref.colorWeightSum, 0.0);
        EXPECT_EQ(g.colorWeightSum, ref.colorWeightSum);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(g.colorSum[c], ref.colorSum[c]);
        }

        averageSurfaceValue(g, settings(20.0, sized));
        for (int j = 0; j < 4; ++j) {
            EXPECT_EQ(g.sums[j], averageValueAt(g.points[j], g.weightedCentre[j], g.weightSum[j],
                                                g.weightedRadius[j], settings(20.0, sized)));
        }
    }
}

TEST(FieldGradMovingAvg, ColorsOffOrOutOfRangeAddNoColor) {
    Cloud cloud(5, 37);
    FieldGradMovingAvg off;
    FieldGradMovingAvg bounded(cloud.colors.data(), 0); // colours present, none addressable
    for (FieldGradMovingAvg* g : {&off, &bounded}) {
        g->kernel = kernelPowerOfThree;
        g->colorKernel = kernelPowerOfTwo;
        g->radiusSq = 16.0;
        g->setPoints(kP);
        g->accumulateUniform(cloud.positions.data(), cloud.indices.data(), 5);
        EXPECT_GT(g->weightSum[0], 0.0);
        EXPECT_EQ(g->colorWeightSum, 0.0);
        EXPECT_EQ(g->colorSum[0], 0.0f);
        EXPECT_EQ(g->colorSum[1], 0.0f);
        EXPECT_EQ(g->colorSum[2], 0.0f);
    }
}

} // namespace
} // namespace velquin
