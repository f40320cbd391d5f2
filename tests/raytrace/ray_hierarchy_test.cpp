#include "raytrace/RayHierarchy.h"

#include "field/BuildRule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace velquin {
namespace {

using Indices = std::vector<std::int32_t>;

Indices itemsOf(const BVHNode* node) {
    return Indices(node->indices(), node->indices() + node->count());
}

// Leaves in traversal order (left before right).
void leavesOf(const BVHNode* node, std::vector<const BVHNode*>& out) {
    if (node->isBranch()) {
        leavesOf(node->left(), out);
        leavesOf(node->right(), out);
    } else {
        out.push_back(node);
    }
}

int depthOf(const BVHNode* node) {
    if (!node->isBranch()) {
        return 1;
    }
    return 1 + std::max(depthOf(node->left()), depthOf(node->right()));
}

// Records every batch the hierarchy hands over, without evaluating anything.
class RecordingField : public Field {
public:
    std::vector<Indices> batches;
    void accumulate(const std::int32_t* indices, std::int32_t count) override {
        batches.emplace_back(indices, indices + count);
    }
};

class RecordingGrad : public FieldGrad {
public:
    std::vector<Indices> batches;
    void accumulate(const std::int32_t* indices, std::int32_t count) override {
        batches.emplace_back(indices, indices + count);
    }
};

struct Hit {
    double tEnter;
    double tExit;
    const Leaf* leaf;
};

std::vector<Hit> collect(const BVHNode& root, const TraversalRay& ray) {
    IntervalCollector collector;
    collector.reserve(25);
    root.intersect(ray, collector);
    collector.finish();
    std::vector<Hit> hits;
    for (RayInterval* i = collector.head; i != nullptr; i = i->next) {
        hits.push_back(
            {i->tEnter, i->tExit, static_cast<const Leaf*>(containerFromPayload(i->payload))});
    }
    return hits;
}

TraversalRay rayOf(double ox, double oy, double oz, float dx, float dy, float dz, double tMin = 0.0,
                   double tMax = 1e18) {
    const double o[3] = {ox, oy, oz};
    const float d[3] = {dx, dy, dz};
    return TraversalRay(o, d, tMin, tMax);
}

// A leaf with a hand-set box, for slab tests.
Leaf boxLeaf(float x0, float y0, float z0, float x1, float y1, float z1) {
    Leaf leaf;
    leaf.min[0] = x0;
    leaf.min[1] = y0;
    leaf.min[2] = z0;
    leaf.max[0] = x1;
    leaf.max[1] = y1;
    leaf.max[2] = z1;
    leaf.items = {7};
    return leaf;
}

TEST(RayHierarchyBuild, SplitsTheLongestAxisAtItsMiddleAndStopsAtShortSides) {
    // Box x [-1, 12]: axis x, split 5.5; each half is 3 long, below leafLength 4.
    const float pos[] = {0, 0, 0, 10, 0, 0, 1, 0, 0, 11, 0, 0};
    std::unique_ptr<BVHNode> root;
    buildTree(root, pos, nullptr, 4, 1.0f, 15, 30, 4.0f);
    ASSERT_TRUE(root->isBranch());
    EXPECT_EQ(root->min[0], -1.0f);
    EXPECT_EQ(root->max[0], 12.0f);
    EXPECT_EQ(root->min[1], -1.0f);
    EXPECT_EQ(root->max[2], 1.0f);
    EXPECT_EQ(root->indices(), nullptr);
    EXPECT_EQ(root->count(), 0);
    // Root extent 13 >= 4: both sides are branches at depth 2, which split {0, 2} at 0.5.
    const BVHNode* left = root->left();
    ASSERT_TRUE(left->isBranch());
    ASSERT_FALSE(left->left()->isBranch());
    EXPECT_EQ(itemsOf(left->left()), (Indices{0}));
    EXPECT_EQ(itemsOf(left->right()), (Indices{2}));
    EXPECT_EQ(itemsOf(root->right()->left()), (Indices{1}));
    EXPECT_EQ(itemsOf(root->right()->right()), (Indices{3}));
    EXPECT_EQ(left->left()->min[0], -1.0f);
    EXPECT_EQ(left->left()->max[0], 1.0f);

    // leafLength 14: the root's extent is short enough, so both sides are leaves at once.
    buildTree(root, pos, nullptr, 4, 1.0f, 15, 30, 14.0f);
    EXPECT_FALSE(root->left()->isBranch());
    EXPECT_EQ(itemsOf(root->left()), (Indices{0, 2}));
    EXPECT_EQ(itemsOf(root->right()), (Indices{1, 3}));
    // ...unless a side is not below leafSize.
    buildTree(root, pos, nullptr, 4, 1.0f, 15, 2, 14.0f);
    EXPECT_TRUE(root->left()->isBranch());
}

TEST(RayHierarchyBuild, PositionAtTheSplitGoesRight) {
    const float pos[] = {0, 0, 0, 10, 0, 0, 5, 0, 0};
    std::unique_ptr<BVHNode> root;
    buildTree(root, pos, nullptr, 3, 1.0f, 15, 30, 100.0f); // split (-1 + 11) * 0.5 = 5
    EXPECT_EQ(itemsOf(root->left()), (Indices{0}));
    EXPECT_EQ(itemsOf(root->right()), (Indices{1, 2}));
}

TEST(RayHierarchyBuild, AxisTiesGoToTheLowerAxis) {
    // y and z extents are equal (6) and longer than x: y wins. Along y ball 0 is below the split
    // (2), along z it would be above it.
    const float pos[] = {0, 0, 4, 0, 4, 0};
    std::unique_ptr<BVHNode> root;
    buildTree(root, pos, nullptr, 2, 1.0f, 15, 30, 100.0f);
    EXPECT_EQ(itemsOf(root->left()), (Indices{0}));
    EXPECT_EQ(itemsOf(root->right()), (Indices{1}));
    // All three equal: x, where ball 1 (x = 4) goes right.
    const float cube[] = {0, 4, 4, 4, 0, 0};
    buildTree(root, cube, nullptr, 2, 1.0f, 15, 30, 100.0f);
    EXPECT_EQ(itemsOf(root->left()), (Indices{0}));
    EXPECT_EQ(itemsOf(root->right()), (Indices{1}));
    // z longest: z wins over both.
    const float tall[] = {0, 0, 0, 1, 1, 9};
    buildTree(root, tall, nullptr, 2, 1.0f, 15, 30, 100.0f);
    EXPECT_EQ(root->max[2], 10.0f);
    EXPECT_EQ(itemsOf(root->left()), (Indices{0}));
}

TEST(RayHierarchyBuild, SameCentreForcesAHalfSplitIntoTwoLeaves) {
    std::vector<float> pos(3 * 5, 2.5f);
    std::unique_ptr<BVHNode> root;
    buildTree(root, pos.data(), nullptr, 5, 1.0f, 15, 1, 0.0f);
    ASSERT_FALSE(root->left()->isBranch());
    ASSERT_FALSE(root->right()->isBranch());
    EXPECT_EQ(itemsOf(root->left()), (Indices{0, 1}));
    EXPECT_EQ(itemsOf(root->right()), (Indices{2, 3, 4}));

    // Two metaballs at one position end in separate leaves.
    buildTree(root, pos.data(), nullptr, 2, 1.0f, 15, 30, 0.0f);
    EXPECT_EQ(itemsOf(root->left()), (Indices{0}));
    EXPECT_EQ(itemsOf(root->right()), (Indices{1}));
}

TEST(RayHierarchyBuild, PerBallRadiiDropTheLengthTest) {
    const float pos[] = {0, 0, 0, 10, 0, 0, 1, 0, 0, 11, 0, 0};
    const double radii[] = {1.0, 1.0, 1.0, 1.0};
    std::unique_ptr<BVHNode> root;
    // leafLength 0 would never make a leaf by length; with radii, fewer than 3 is enough.
    buildTree(root, pos, radii, 4, 50.0f, 15, 3, 0.0f);
    EXPECT_FALSE(root->left()->isBranch());
    EXPECT_EQ(itemsOf(root->left()), (Indices{0, 2}));
    EXPECT_EQ(root->min[0], -1.0f); // the boxes use the per-ball radii, not the global one
    buildTree(root, pos, radii, 4, 50.0f, 15, 2, 0.0f);
    EXPECT_TRUE(root->left()->isBranch());
    // Radii are narrowed to float before the box grows.
    const double odd[] = {0.1, 0.1, 0.1, 0.1};
    buildTree(root, pos, odd, 4, 1.0f, 15, 30, 0.0f);
    EXPECT_EQ(root->max[0], 11.0f + 0.1f);
}

TEST(RayHierarchyBuild, DepthOneGivesTwoLeaves) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-100.0f, 100.0f);
    std::vector<float> pos(3 * 100);
    for (float& v : pos) {
        v = u(rng);
    }
    std::unique_ptr<BVHNode> root;
    buildTree(root, pos.data(), nullptr, 100, 1.0f, 1, 1, 0.0f);
    ASSERT_FALSE(root->left()->isBranch());
    ASSERT_FALSE(root->right()->isBranch());
    EXPECT_EQ(root->left()->count() + root->right()->count(), 100);
    buildTree(root, pos.data(), nullptr, 100, 1.0f, 4, 1, 0.0f);
    EXPECT_EQ(depthOf(root.get()), 5); // branches at depths 1..4, then leaves
}

// The build rule written plainly, one list per node, as a yardstick for the in-place build.
struct PlainNode {
    float mn[3], mx[3];
    Indices items;
    std::unique_ptr<PlainNode> left, right;
};

std::unique_ptr<PlainNode> plainBuild(const float* pos, const double* radii, float radius,
                                      int maxDepth, int leafSize, float leafLength, Indices list,
                                      int d, bool leaf) {
    auto n = std::make_unique<PlainNode>();
    for (int a = 0; a < 3; ++a) {
        n->mn[a] = 1e20f;
        n->mx[a] = -1e20f;
    }
    for (std::int32_t k : list) {
        const float r = radii != nullptr ? static_cast<float>(radii[k]) : radius;
        for (int a = 0; a < 3; ++a) {
            if (pos[3 * k + a] - r < n->mn[a]) {
                n->mn[a] = pos[3 * k + a] - r;
            }
            if (pos[3 * k + a] + r > n->mx[a]) {
                n->mx[a] = pos[3 * k + a] + r;
            }
        }
    }
    if (leaf) {
        n->items = std::move(list);
        return n;
    }
    float e[3] = {n->mx[0] - n->mn[0], n->mx[1] - n->mn[1], n->mx[2] - n->mn[2]};
    const int axis = longestAxis(e);
    const float split = (n->mn[axis] + n->mx[axis]) * 0.5f;
    Indices lower, upper;
    for (std::int32_t k : list) {
        (pos[3 * k + axis] < split ? lower : upper).push_back(k);
    }
    const bool forced = forceSplitIfEmpty(list, lower, upper);
    const float extent = n->mx[axis] - n->mn[axis];
    for (Indices* side : {&lower, &upper}) {
        const bool l = becomesLeaf(maxDepth, d, extent, leafLength, radii != nullptr, side->size(),
                                   leafSize, forced);
        (side == &lower ? n->left : n->right) = plainBuild(pos, radii, radius, maxDepth, leafSize,
                                                           leafLength, std::move(*side), d + 1, l);
    }
    return n;
}

void expectSameTree(const PlainNode& want, const BVHNode& got, const std::string& path) {
    for (int a = 0; a < 3; ++a) {
        ASSERT_EQ(std::bit_cast<std::uint32_t>(got.min[a]),
                  std::bit_cast<std::uint32_t>(want.mn[a]))
            << path;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(got.max[a]),
                  std::bit_cast<std::uint32_t>(want.mx[a]))
            << path;
    }
    ASSERT_EQ(got.isBranch(), want.left != nullptr) << path;
    if (!got.isBranch()) {
        ASSERT_EQ(itemsOf(&got), want.items) << path;
        return;
    }
    expectSameTree(*want.left, *got.left(), path + "L");
    expectSameTree(*want.right, *got.right(), path + "R");
}

// The in-place build, on one thread or several, makes exactly the tree of the plain rule: same
// boxes to the bit, same leaves in the same order. The cloud is big enough for the parallel
// build to split, has duplicated centres (forced splits), signed zeros and per-ball radii.
TEST(RayHierarchyBuild, InPlaceAndParallelBuildsMakeThePlainTree) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-400.0f, 400.0f);
    const int n = 120000;
    std::vector<float> pos(3 * static_cast<std::size_t>(n));
    for (float& v : pos) {
        v = u(rng);
    }
    for (int i = 0; i < 3000; ++i) { // a pile of identical centres, and zeros of both signs
        pos[3 * static_cast<std::size_t>(i)] = 5.0f;
        pos[3 * static_cast<std::size_t>(i) + 1] = i % 2 == 0 ? 0.0f : -0.0f;
        pos[3 * static_cast<std::size_t>(i) + 2] = 7.0f;
    }
    std::vector<double> radii(static_cast<std::size_t>(n));
    for (double& r : radii) {
        r = 1.0 + u(rng) / 400.0;
    }
    Indices all(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        all[static_cast<std::size_t>(i)] = i;
    }
    for (const double* perBall :
         {static_cast<const double*>(nullptr), std::as_const(radii).data()}) {
        auto want = plainBuild(pos.data(), perBall, 2.0f, 15, 3, 8.0f, all, 1, false);
        for (int threads : {1, 2, 3, 4}) {
            std::unique_ptr<BVHNode> root;
            buildTree(root, pos.data(), perBall, n, 2.0f, 15, 3, 8.0f, threads);
            SCOPED_TRACE("threads " + std::to_string(threads) + (perBall ? ", radii" : ""));
            expectSameTree(*want, *root, "root");
        }
    }
    // One pile at the top: the first split, made by two threads at once, finds every centre on
    // one side and must fall back to halves in list order.
    const int m = 60000;
    std::vector<float> pile(3 * static_cast<std::size_t>(m));
    for (int i = 0; i < m; ++i) {
        pile[3 * static_cast<std::size_t>(i)] = 5.0f;
        pile[3 * static_cast<std::size_t>(i) + 1] = i % 3 == 0 ? -0.0f : 0.0f;
        pile[3 * static_cast<std::size_t>(i) + 2] = 7.0f;
    }
    Indices first(all.begin(), all.begin() + m);
    auto want = plainBuild(pile.data(), nullptr, 2.0f, 15, 3, 8.0f, first, 1, false);
    for (int threads : {1, 2, 4}) {
        std::unique_ptr<BVHNode> root;
        buildTree(root, pile.data(), nullptr, m, 2.0f, 15, 3, 8.0f, threads);
        SCOPED_TRACE("pile, threads " + std::to_string(threads));
        expectSameTree(*want, *root, "root");
    }
}

TEST(RayHierarchyBuild, EmptyAndSingleInputs) {
    std::unique_ptr<BVHNode> root;
    buildTree(root, nullptr, nullptr, 0, 1.0f, 15, 30, 8.0f);
    ASSERT_TRUE(root->isBranch());
    for (const BVHNode* side : {root->left(), root->right()}) {
        ASSERT_FALSE(side->isBranch());
        EXPECT_EQ(side->count(), 0);
        for (int a = 0; a < 3; ++a) {
            EXPECT_EQ(side->min[a], 1e20f);
            EXPECT_EQ(side->max[a], -1e20f);
        }
    }
    // Rays from anywhere, in any direction, and points, even at the inverted faces: no hit.
    for (float d : {1.0f, -1.0f, 0.0f, -0.0f}) {
        EXPECT_TRUE(collect(*root, rayOf(0, 0, 0, d, 1.0f, -d)).empty());
        EXPECT_TRUE(collect(*root, rayOf(1e20, -1e20, 0, d, d, d, -1e300, 1e300)).empty());
    }
    RecordingField f;
    for (float p : {0.0f, 1e20f, -1e20f}) {
        f.point[0] = f.point[1] = f.point[2] = p;
        root->gatherAt(f);
    }
    EXPECT_TRUE(f.batches.empty());

    const float one[] = {3, 4, 5};
    buildTree(root, one, nullptr, 1, 1.0f, 15, 30, 8.0f);
    ASSERT_TRUE(root->isBranch());
    EXPECT_EQ(root->left()->count(), 0);
    EXPECT_EQ(itemsOf(root->right()), (Indices{0}));
}

TEST(RayHierarchySlab, ToleranceOfTwoToTheMinusTwenty) {
    const Leaf leaf = boxLeaf(0, 0, 0, 1, 1, 1);
    // Along +x from x = -1 the box spans t in [1, 2]; push tMin past 2.
    EXPECT_EQ(collect(leaf, rayOf(-1, 0.5, 0.5, 1, 0, 0)).size(), 1u);
    const double justIn = 2.0 + 0x1p-20;  // 2 (1 + 2^-21)
    const double atEdge = 2.0 + 0x1p-19;  // 2 (1 + 2^-20): still a hit
    const double justOut = 2.0 + 0x1p-18; // 2 (1 + 2^-19)
    auto in = collect(leaf, rayOf(-1, 0.5, 0.5, 1, 0, 0, justIn));
    ASSERT_EQ(in.size(), 1u);
    EXPECT_EQ(in[0].tEnter, justIn);
    EXPECT_EQ(in[0].tExit, 2.0);
    EXPECT_EQ(collect(leaf, rayOf(-1, 0.5, 0.5, 1, 0, 0, atEdge)).size(), 1u);
    EXPECT_TRUE(collect(leaf, rayOf(-1, 0.5, 0.5, 1, 0, 0, justOut)).empty());

    // A ray passing just beside the edge x = 0, y = 1: it leaves the y slab just before it
    // enters the x slab. Within the tolerance it is still reported.
    const float grazeIn = 2.0f + 0x1p-22f;
    auto graze = collect(leaf, rayOf(-1, -1, 0.5, 1, grazeIn, 0));
    ASSERT_EQ(graze.size(), 1u);
    EXPECT_EQ(graze[0].tEnter, 1.0);
    EXPECT_EQ(graze[0].tExit, 2.0 * (1.0 / static_cast<double>(grazeIn)));
    EXPECT_LT(graze[0].tExit, graze[0].tEnter);
    EXPECT_TRUE(collect(leaf, rayOf(-1, -1, 0.5, 1, 2.0f + 0x1p-18f, 0)).empty());
}

TEST(RayHierarchySlab, ZeroDirectionsClampAndNegativeZeroCountsAsNegative) {
    const float pz[3] = {0.0f, 0.0f, 1.0f};
    const float nz[3] = {-0.0f, -0.0f, 1.0f};
    const double o[3] = {0.5, 0.5, -5.0};
    const TraversalRay up(o, pz, 0.0, 1e18);
    EXPECT_EQ(up.inverseDirection[0], 1e18);
    EXPECT_EQ(up.sign[0], 0);
    const TraversalRay down(o, nz, 0.0, 1e18);
    EXPECT_EQ(down.inverseDirection[0], -1e18);
    EXPECT_EQ(down.sign[0], 1);
    EXPECT_EQ(down.sign[2], 0);
    // Tiny components clamp too; ordinary ones are the plain double reciprocal.
    const float tiny[3] = {1e-20f, -1e-20f, 3.0f};
    const TraversalRay t(o, tiny, 0.0, 1.0);
    EXPECT_EQ(t.inverseDirection[0], 1e18);
    EXPECT_EQ(t.inverseDirection[1], -1e18);
    EXPECT_EQ(t.inverseDirection[2], 1.0 / 3.0);
    EXPECT_EQ(t.sign[1], 1);

    const Leaf leaf = boxLeaf(0, 0, 0, 1, 1, 1);
    for (const TraversalRay& ray : {up, down}) {
        auto hits = collect(leaf, ray);
        ASSERT_EQ(hits.size(), 1u);
        EXPECT_EQ(hits[0].tEnter, 5.0);
        EXPECT_EQ(hits[0].tExit, 6.0);
    }
    // Outside the x slab, parallel to it: missed with either zero.
    EXPECT_TRUE(collect(leaf, rayOf(2, 0.5, -5, 0.0f, 0, 1)).empty());
    EXPECT_TRUE(collect(leaf, rayOf(2, 0.5, -5, -0.0f, 0, 1)).empty());
    // Exactly in the plane of the max-x face the zero's sign decides: with +0 the far face is at
    // 0 * 1e18 = 0, behind the entry at 5; with -0 the faces swap and the ray is inside.
    EXPECT_TRUE(collect(leaf, rayOf(1, 0.5, -5, 0.0f, 0, 1)).empty());
    EXPECT_EQ(collect(leaf, rayOf(1, 0.5, -5, -0.0f, 0, 1)).size(), 1u);
}

TEST(RayHierarchySlab, NegativeDirectionsMeetTheMaxFaceFirst) {
    const Leaf leaf = boxLeaf(0, 0, 0, 1, 1, 1);
    auto hits = collect(leaf, rayOf(3, 0.5, 0.5, -2, 0, 0));
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].tEnter, 1.0);
    EXPECT_EQ(hits[0].tExit, 1.5);
    // tMax before the box: no hit; tMax inside it cuts the exit.
    EXPECT_TRUE(collect(leaf, rayOf(3, 0.5, 0.5, -2, 0, 0, 0.0, 0.5)).empty());
    EXPECT_EQ(collect(leaf, rayOf(3, 0.5, 0.5, -2, 0, 0, 0.0, 1.25))[0].tExit, 1.25);
}

TEST(RayHierarchyTraversal, EqualEntriesKeepHitOrder) {
    // Five overlapping balls around the origin, each in its own leaf. A ray from the origin is
    // inside every leaf box, so every interval enters at tMin = 0: the list keeps leaf order.
    const float pos[] = {0.5f, 0, 0, -0.5f, 0, 0, 0.25f, 0, 0, -0.25f, 0, 0, 0.0f, 0, 0};
    std::unique_ptr<BVHNode> root;
    buildTree(root, pos, nullptr, 5, 2.0f, 15, 2, 100.0f);
    std::vector<const BVHNode*> leaves;
    leavesOf(root.get(), leaves);
    ASSERT_EQ(leaves.size(), 5u);
    EXPECT_EQ(itemsOf(leaves[0]), (Indices{1}));
    EXPECT_EQ(itemsOf(leaves[2]), (Indices{4}));
    for (float dx : {1.0f, -1.0f}) {
        auto hits = collect(*root, rayOf(0, 0, 0, dx, 0.25f, 0.5f));
        ASSERT_EQ(hits.size(), leaves.size());
        for (std::size_t i = 0; i < hits.size(); ++i) {
            EXPECT_EQ(hits[i].tEnter, 0.0);
            EXPECT_EQ(hits[i].leaf, static_cast<const Leaf*>(leaves[i]));
        }
    }
}

TEST(RayHierarchyTraversal, PayloadEvaluatesTheLeaf) {
    const float pos[] = {0, 0, 0, 10, 0, 0, 1, 0, 0, 11, 0, 0};
    std::unique_ptr<BVHNode> root;
    buildTree(root, pos, nullptr, 4, 1.0f, 15, 30, 14.0f);
    IntervalCollector collector;
    root->intersect(rayOf(-5, 0, 0, 1, 0, 0), collector);
    collector.finish();
    RecordingField f;
    for (RayInterval* i = collector.head; i != nullptr; i = i->next) {
        containerFromPayload(i->payload)->evaluate(f);
    }
    EXPECT_EQ(f.batches, (std::vector<Indices>{{0, 2}, {1, 3}}));
    ASSERT_NE(collector.head, nullptr);
    EXPECT_EQ(collector.head->tEnter, 4.0);
    EXPECT_EQ(collector.head->tExit, 7.0);
    EXPECT_EQ(collector.head->next->tEnter, 14.0);
    EXPECT_EQ(collector.head->next->tExit, 17.0);
}

TEST(RayHierarchyGather, FacesAreInsideAndOnlyTheFirstGradientPointDecides) {
    const float pos[] = {0, 0, 0, 10, 0, 0};
    std::unique_ptr<BVHNode> root;
    buildTree(root, pos, nullptr, 2, 1.0f, 15, 30, 100.0f);
    RecordingField f;
    const float onFace[3] = {1.0f, 1.0f, -1.0f};
    f.setPoint(onFace);
    root->gatherAt(f);
    EXPECT_EQ(f.batches, (std::vector<Indices>{{0}}));
    f.batches.clear();
    const float outside[3] = {std::nextafter(1.0f, 2.0f), 0.0f, 0.0f};
    f.setPoint(outside);
    root->gatherAt(f);
    EXPECT_TRUE(f.batches.empty());
    const float corner[3] = {11.0f, -1.0f, 1.0f};
    f.setPoint(corner);
    root->gatherAt(f);
    EXPECT_EQ(f.batches, (std::vector<Indices>{{1}}));

    RecordingGrad g;
    g.setPoints(onFace);
    g.points[3][2] = -5.0f; // outside every box: only points[0] counts
    root->gatherAtGrad(g);
    EXPECT_EQ(g.batches, (std::vector<Indices>{{0}}));
    g.batches.clear();
    g.setPoints(outside);
    g.points[1][0] = 0.0f; // only points[0] counts
    root->gatherAtGrad(g);
    EXPECT_TRUE(g.batches.empty());
}

// Random cloud: every metaball is in exactly one leaf, leaf boxes hold their spheres, and a ray
// that passes through a sphere reports that sphere's leaf over a stretch containing the closest
// approach.
TEST(RayHierarchyTraversal, RandomCloudIsCoveredConservatively) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> u(-50.0f, 50.0f);
    std::uniform_real_distribution<double> ur(0.5, 3.0);
    const int n = 2000;
    std::vector<float> pos(3 * n);
    std::vector<double> radii(n);
    for (float& v : pos) {
        v = u(rng);
    }
    for (double& r : radii) {
        r = ur(rng);
    }
    for (const double* rad :
         {static_cast<const double*>(nullptr), static_cast<const double*>(radii.data())}) {
        std::unique_ptr<BVHNode> root;
        buildTree(root, pos.data(), rad, n, 2.0f, 15, 8, 16.0f);
        std::vector<const BVHNode*> leaves;
        leavesOf(root.get(), leaves);
        std::vector<const BVHNode*> owner(n, nullptr);
        for (const BVHNode* leaf : leaves) {
            for (std::int32_t k : itemsOf(leaf)) {
                ASSERT_EQ(owner[k], nullptr);
                owner[k] = leaf;
                const float r = rad != nullptr ? static_cast<float>(rad[k]) : 2.0f;
                for (int a = 0; a < 3; ++a) {
                    EXPECT_LE(leaf->min[a], pos[3 * k + a] - r);
                    EXPECT_GE(leaf->max[a], pos[3 * k + a] + r);
                }
            }
        }
        for (int k = 0; k < n; ++k) {
            ASSERT_NE(owner[k], nullptr);
        }
        for (int r = 0; r < 200; ++r) {
            const double o[3] = {u(rng) * 2.0, u(rng) * 2.0, u(rng) * 2.0};
            const int k = static_cast<int>(rng() % n);
            // Aim at the centre of metaball k.
            float d[3];
            for (int a = 0; a < 3; ++a) {
                d[a] = static_cast<float>(pos[3 * k + a] - o[a]) * 0.1f;
            }
            const TraversalRay ray(o, d, 0.0, 1e18);
            auto hits = collect(*root, ray);
            bool found = false;
            for (std::size_t i = 0; i < hits.size(); ++i) {
                if (i > 0) {
                    EXPECT_LE(hits[i - 1].tEnter, hits[i].tEnter);
                }
                if (hits[i].leaf == static_cast<const Leaf*>(owner[k])) {
                    found = true;
                    EXPECT_LE(hits[i].tEnter, 10.0 * (1.0 + 1e-6));
                    EXPECT_GE(hits[i].tExit, 10.0 * (1.0 - 1e-6));
                }
            }
            EXPECT_TRUE(found);
        }
    }
}

} // namespace
} // namespace velquin
