#include "field/Kernels.h"

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace velquin {
namespace {

const FalloffKernel kAllKernels[] = {
    kernelPowerOfTwo,        kernelPowerOfThree,       kernelPowerOfFour, kernelPowerOfFive,
    kernelHermitePowerOfTwo, kernelHermitePowerOfFour, kernelWyvill};

TEST(Kernels, OneAtCentreZeroAtRadius) {
    const double radiiSq[] = {400.0, 1.0, 0x1.8e467da7ffb33p+5, 2.25, 1e-6, 7.3};
    for (FalloffKernel k : kAllKernels) {
        for (double r2 : radiiSq) {
            EXPECT_EQ(k(r2, 0.0), 1.0) << r2;
            EXPECT_EQ(k(r2, r2), 0.0) << r2;
        }
    }
}

// Mid values at an x where every other grouping of the products rounds differently; the expected
// bits come from the formulas evaluated in the fixed order in double precision.
TEST(Kernels, MidValuesBitExact) {
    const double r2 = 0x1.8e467da7ffb33p+5;
    const double d2 = 0x1.7696b70db0dd5p+4;
    EXPECT_EQ(kernelPowerOfTwo(r2, d2), 0x1.1f5b0bd870ad5p-2);
    EXPECT_EQ(kernelPowerOfThree(r2, d2), 0x1.30720f6a48ab1p-3);
    EXPECT_EQ(kernelPowerOfFour(r2, d2), 0x1.428d44f0b9110p-4);
    EXPECT_EQ(kernelPowerOfFive(r2, d2), 0x1.55bc25e9ef262p-5);
    EXPECT_EQ(kernelHermitePowerOfTwo(r2, d2), 0x1.16cf8a0f84ae7p-1);
    EXPECT_EQ(kernelHermitePowerOfFour(r2, d2), 0x1.38f5d4741e067p-3);
    // ((x*x*(17/9) + 1) - x*x*(4/9)*x) - x*(22/9); dividing by 9 after the product instead
    // gives ...9f08p-3.
    EXPECT_EQ(kernelWyvill(r2, d2), 0x1.c697db1fb9ef8p-3);

    const double r2b = 7.3;
    const double d2b = 2.1;
    EXPECT_EQ(kernelPowerOfFive(r2b, d2b), 0x1.779b1a3de5af9p-3);
    EXPECT_EQ(kernelHermitePowerOfTwo(r2b, d2b), 0x1.9944277b43ce3p-1);
    EXPECT_EQ(kernelWyvill(r2b, d2b), 0x1.c528969163902p-2);
}

TEST(Kernels, SelectorPicksTableEntry) {
    EXPECT_EQ(kernelFor(PowerOfTwo), &kernelPowerOfTwo);
    EXPECT_EQ(kernelFor(PowerOfThree), &kernelPowerOfThree);
    EXPECT_EQ(kernelFor(PowerOfFour), &kernelPowerOfFour);
    EXPECT_EQ(kernelFor(PowerOfFive), &kernelPowerOfFive);
    EXPECT_EQ(kernelFor(HermitePowerOfTwo), &kernelHermitePowerOfTwo);
    EXPECT_EQ(kernelFor(HermitePowerOfFour), &kernelHermitePowerOfFour);
    EXPECT_EQ(kernelFor(Wyvill), &kernelWyvill);
    for (std::int32_t v : {7, -1, -2, 100, std::numeric_limits<std::int32_t>::max(),
                           std::numeric_limits<std::int32_t>::min()}) {
        EXPECT_EQ(kernelFor(v), &kernelWyvill) << v;
    }
}

TEST(Kernels, ColorSelectorAndSelectKernels) {
    // "Same as the surface" takes "fieldFunction".
    EXPECT_EQ(colorSelectorFor(ColorSameAsSurface, HermitePowerOfTwo), HermitePowerOfTwo);
    SelectedKernels k = selectKernels(HermitePowerOfTwo, colorSelectorFor(1, 4));
    EXPECT_EQ(k.surface, &kernelHermitePowerOfTwo);
    EXPECT_EQ(k.color, &kernelHermitePowerOfTwo);

    // "Wyvill" in the colour list whatever the surface kernel.
    EXPECT_EQ(colorSelectorFor(ColorWyvill, PowerOfTwo), Wyvill);
    k = selectKernels(PowerOfTwo, colorSelectorFor(8, 0));
    EXPECT_EQ(k.surface, &kernelPowerOfTwo);
    EXPECT_EQ(k.color, &kernelWyvill);

    // "None" gives -2, which selects Wyvill.
    EXPECT_EQ(colorSelectorFor(ColorNone, PowerOfFive), -2);
    k = selectKernels(PowerOfFive, colorSelectorFor(0, 3));
    EXPECT_EQ(k.surface, &kernelPowerOfFive);
    EXPECT_EQ(k.color, &kernelWyvill);

    // Every list entry from 2 on maps to its kernel.
    EXPECT_EQ(selectKernels(0, colorSelectorFor(ColorPowerOfTwo, 6)).color, &kernelPowerOfTwo);
    EXPECT_EQ(selectKernels(0, colorSelectorFor(ColorHermitePowerOfFour, 6)).color,
              &kernelHermitePowerOfFour);

    // The bottom of the int range does not overflow and still selects Wyvill.
    std::int32_t low = colorSelectorFor(std::numeric_limits<std::int32_t>::min(), 0);
    EXPECT_EQ(kernelFor(low), &kernelWyvill);
    EXPECT_EQ(colorSelectorFor(std::numeric_limits<std::int32_t>::min() + 2, 0),
              std::numeric_limits<std::int32_t>::min());
}

TEST(Kernels, DistanceSqSumsInSinglePrecision) {
    // Each square and the running sum round to float: 1 + 2^-12 squared loses its last bit in
    // float, and 2^-13 squared vanishes against the float sum of the first two.
    const float c[3] = {1.0f + 0x1p-12f, 1.0f, 0x1p-13f};
    const float p[3] = {0.0f, 0.0f, 0.0f};
    float sx = (1.0f + 0x1p-12f) * (1.0f + 0x1p-12f);
    float expected = (sx + 1.0f) + 0x1p-26f;
    EXPECT_EQ(distanceSq(c, p), static_cast<double>(expected));
    EXPECT_EQ(distanceSq(c, p), 0x1.001p+1); // 2 + 2^-11, not 2 + 2^-11 + 2^-24 + 2^-26

    const float q[3] = {-1.5f, 2.25f, 4.0f};
    const float r[3] = {0.5f, 0.25f, 1.0f};
    EXPECT_EQ(distanceSq(q, r), 4.0 + 4.0 + 9.0);
}

} // namespace
} // namespace velquin
