// The laid-out hierarchy must answer exactly as the tree does: the same intervals in the same
// order (eagerly and fed lazily), and leaf sums equal to the evaluator's bit for bit.
#include "raytrace/FlatHierarchy.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <vector>

namespace velquin {
namespace {

struct Interval {
    double tEnter;
    double tExit;
    const Leaf* leaf;
    bool operator==(const Interval&) const = default;
};

std::vector<Interval> listed(const IntervalCollector& c, bool flat) {
    std::vector<Interval> out;
    for (const RayInterval* i = c.head; i != nullptr; i = i->next) {
        const Leaf* leaf = flat ? FlatHierarchy::nodeOf(*i).leaf
                                : static_cast<const Leaf*>(containerFromPayload(i->payload));
        out.push_back({i->tEnter, i->tExit, leaf});
    }
    return out;
}

struct Cloud {
    std::vector<float> positions;
    std::vector<double> radii;   // plain, for the build
    std::vector<double> radiiSq; // squared, for the sums
    std::unique_ptr<BVHNode> root;
    FlatHierarchy flat;

    // Points on a coarse lattice, so that many boxes share faces and many entries tie.
    Cloud(int n, bool sized, std::uint32_t seed) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> cell(-6, 6);
        std::uniform_real_distribution<double> size(0.5, 3.0);
        for (int i = 0; i < n; ++i) {
            for (int a = 0; a < 3; ++a) {
                positions.push_back(static_cast<float>(cell(rng)) * 2.0f);
            }
            radii.push_back(size(rng));
            radiiSq.push_back(radii.back() * radii.back());
        }
        buildTree(root, positions.data(), sized ? radii.data() : nullptr, n, 2.5f, 12, 3, 4.0f);
        EXPECT_TRUE(flat.build(*root, positions.data(), sized ? radiiSq.data() : nullptr,
                               static_cast<double>(2.5f * 2.5f)));
    }
};

TraversalRay randomRay(std::mt19937& rng) {
    std::uniform_real_distribution<double> o(-30.0, 30.0);
    std::uniform_int_distribution<int> d(-2, 2);
    double origin[3] = {o(rng), o(rng), o(rng)};
    // Axis-parallel and diagonal directions make ties between boxes common.
    float dir[3] = {static_cast<float>(d(rng)), static_cast<float>(d(rng)),
                    static_cast<float>(d(rng))};
    if (dir[0] == 0.0f && dir[1] == 0.0f && dir[2] == 0.0f) {
        dir[2] = 1.0f;
    }
    return TraversalRay(origin, dir, 0.0, static_cast<double>(1e18f));
}

TEST(FlatHierarchy, IntervalsMatchTheTreeEagerAndFed) {
    for (bool sized : {false, true}) {
        Cloud cloud(300, sized, sized ? 7u : 3u);
        std::mt19937 rng(11);
        int rays = 0, tied = 0;
        for (int r = 0; r < 400; ++r) {
            const TraversalRay ray = randomRay(rng);
            IntervalCollector tree;
            cloud.root->intersect(ray, tree);
            tree.finish();
            const std::vector<Interval> expected = listed(tree, false);

            IntervalCollector eager;
            cloud.flat.intersect(ray, eager);
            eager.finish();
            ASSERT_EQ(listed(eager, true), expected);

            // Fed in steps: after each step exactly the intervals entering before the limit.
            std::vector<FlatHierarchy::Feeder::Entry> heap;
            FlatHierarchy::Feeder feeder(cloud.flat, ray, heap);
            IntervalCollector lazy;
            lazy.feeder = &feeder;
            std::size_t n = 0;
            for (double limit = 0.0; n < expected.size(); limit += 3.0) {
                lazy.feedTo(limit);
                std::size_t want = 0;
                while (want < expected.size() && expected[want].tEnter < limit) {
                    ++want;
                }
                ASSERT_EQ(listed(lazy, true).size(), want);
                double next = 0.0;
                ASSERT_EQ(feeder.nextEnter(next), want < expected.size());
                if (want < expected.size()) {
                    EXPECT_EQ(next, expected[want].tEnter);
                }
                n = want;
            }
            ASSERT_EQ(listed(lazy, true), expected);
            EXPECT_TRUE(lazy.exhausted() == expected.empty());
            ++rays;
            for (std::size_t i = 1; i < expected.size(); ++i) {
                tied += expected[i].tEnter == expected[i - 1].tEnter ? 1 : 0;
            }
        }
        EXPECT_EQ(rays, 400);
        EXPECT_GT(tied, 0) << "the lattice should make some entries tie";
    }
}

template <class K> void expectLeafSumsMatch(FalloffKernel kernel, bool sized) {
    Cloud cloud(200, sized, 5u);
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> at(-14.0f, 14.0f);
    for (int p = 0; p < 300; ++p) {
        const float point[3] = {at(rng), at(rng), at(rng)};
        Field field;
        field.setPoint(point);
        field.radiusSq = static_cast<double>(2.5f * 2.5f);
        field.kernel = kernel;
        field.positions = cloud.positions.data();
        field.perBallRadiusSq = sized ? cloud.radiiSq.data() : nullptr;
        double packed = 0.0;
        TraceCounters counters;
        // The leaves a vertical ray through the point crosses, each added both ways.
        const double origin[3] = {static_cast<double>(point[0]), static_cast<double>(point[1]),
                                  -100.0};
        const float up[3] = {0.0f, 0.0f, 1.0f};
        const TraversalRay ray(origin, up, 0.0, static_cast<double>(1e18f));
        IntervalCollector c;
        cloud.flat.intersect(ray, c);
        c.finish();
        for (const RayInterval* i = c.head; i != nullptr; i = i->next) {
            const FlatNode& node = FlatHierarchy::nodeOf(*i);
            node.leaf->evaluate(field);
            cloud.flat.addLeaf<K>(node, point, packed, &counters);
        }
        ASSERT_EQ(packed, field.sum) << "point " << p;
        EXPECT_EQ(counters.contributing, field.reached);
        EXPECT_GE(counters.distanceTests, counters.contributing);
    }
}

TEST(FlatHierarchy, LeafSumsEqualTheEvaluatorsBitForBit) {
    for (bool sized : {false, true}) {
        expectLeafSumsMatch<kernel_types::PowerOfTwo>(kernelPowerOfTwo, sized);
        expectLeafSumsMatch<kernel_types::PowerOfThree>(kernelPowerOfThree, sized);
        expectLeafSumsMatch<kernel_types::PowerOfFour>(kernelPowerOfFour, sized);
        expectLeafSumsMatch<kernel_types::PowerOfFive>(kernelPowerOfFive, sized);
        expectLeafSumsMatch<kernel_types::HermitePowerOfTwo>(kernelHermitePowerOfTwo, sized);
        expectLeafSumsMatch<kernel_types::HermitePowerOfFour>(kernelHermitePowerOfFour, sized);
        expectLeafSumsMatch<kernel_types::Wyvill>(kernelWyvill, sized);
    }
}

TEST(FlatHierarchy, KernelTypesCoverEveryKernelAndNothingElse) {
    int picked = 0;
    for (std::int32_t s = -1; s <= 7; ++s) {
        EXPECT_TRUE(withKernelType(kernelFor(s), [&](auto) { ++picked; }));
    }
    EXPECT_EQ(picked, 9);
    EXPECT_FALSE(withKernelType(nullptr, [](auto) {}));
}

} // namespace
} // namespace velquin

namespace velquin {
namespace {

// Laid out on several threads, the layout is the one laid out on one: every ray meets the same
// leaves at the same entries, each with the same place in the blocks and the same sums. The
// cloud is large enough for both sides of the root, and of its children, to be laid at once.
TEST(FlatHierarchy, ParallelLayoutEqualsTheSerialOne) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-300.0f, 300.0f);
    std::uniform_real_distribution<double> size(0.5, 3.0);
    const int n = 150000;
    std::vector<float> positions(3 * static_cast<std::size_t>(n));
    std::vector<double> radii(static_cast<std::size_t>(n)), radiiSq(radii.size());
    for (float& v : positions) {
        v = u(rng);
    }
    for (std::size_t i = 0; i < radii.size(); ++i) {
        radii[i] = size(rng);
        radiiSq[i] = radii[i] * radii[i];
    }
    std::unique_ptr<BVHNode> root;
    buildTree(root, positions.data(), radii.data(), n, 2.5f, 15, 3, 4.0f);
    FlatHierarchy serial, parallel;
    ASSERT_TRUE(serial.build(*root, positions.data(), radiiSq.data(), 6.25, 1));
    for (int threads : {2, 3, 4}) {
        ASSERT_TRUE(parallel.build(*root, positions.data(), radiiSq.data(), 6.25, threads));
        for (int r = 0; r < 200; ++r) {
            const double origin[3] = {u(rng) * 2.0, u(rng) * 2.0, u(rng) * 2.0};
            const float dir[3] = {-static_cast<float>(origin[0]) + u(rng),
                                  -static_cast<float>(origin[1]) + u(rng),
                                  -static_cast<float>(origin[2]) + u(rng)};
            const TraversalRay ray(origin, dir, 0.0, static_cast<double>(1e18f));
            IntervalCollector a, b;
            serial.intersect(ray, a);
            parallel.intersect(ray, b);
            ASSERT_EQ(listed(a, true), listed(b, true)) << "threads " << threads << " ray " << r;
            for (const RayInterval *i = a.head, *j = b.head; i != nullptr;
                 i = i->next, j = j->next) {
                const FlatNode& x = FlatHierarchy::nodeOf(*i);
                const FlatNode& y = FlatHierarchy::nodeOf(*j);
                ASSERT_EQ(x.begin, y.begin);
                ASSERT_EQ(x.count, y.count);
                ASSERT_EQ(x.end, y.end);
                const float p[3] = {positions[3 * static_cast<std::size_t>(x.leaf->items[0])], 1.0f,
                                    2.0f};
                double sa = 0.0, sb = 0.0;
                serial.addLeaf<kernel_types::PowerOfTwo>(x, p, sa, nullptr);
                parallel.addLeaf<kernel_types::PowerOfTwo>(y, p, sb, nullptr);
                ASSERT_EQ(std::bit_cast<std::uint64_t>(sa), std::bit_cast<std::uint64_t>(sb));
            }
        }
    }
}

} // namespace
} // namespace velquin
