#include "field/MovingHierarchy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace velquin {
namespace {

using Indices = std::vector<std::int32_t>;

Indices itemsOf(const BVHMNode* node) {
    return Indices(node->indices(), node->indices() + node->count());
}

void leavesOf(const BVHMNode* node, std::vector<const BVHMNode*>& out) {
    if (node->isBranch()) {
        leavesOf(node->left(), out);
        leavesOf(node->right(), out);
    } else {
        out.push_back(node);
    }
}

// Records what a motion cache hands over.
class RecordingMoving : public FieldMoving {
public:
    int calls = 0;
    const float* centres = nullptr;
    const double* sq = nullptr;
    const double* rad = nullptr;
    std::int32_t n = -1;
    void accumulateSized(const float* c, const double* r2, const double* r,
                         std::int32_t count) override {
        ++calls;
        centres = c;
        sq = r2;
        rad = r;
        n = count;
    }
    void accumulateUniform(const float* c, std::int32_t count) override {
        ++calls;
        centres = c;
        sq = nullptr;
        rad = nullptr;
        n = count;
    }
};

class RecordingGradMoving : public FieldGradMoving {
public:
    const float* centres = nullptr;
    const double* sq = nullptr;
    const double* rad = nullptr;
    const std::int32_t* idx = nullptr;
    std::int32_t n = -1;
    void accumulateSized(const float* c, const double* r2, const double* r,
                         const std::int32_t* indices, std::int32_t count) override {
        centres = c;
        sq = r2;
        rad = r;
        idx = indices;
        n = count;
    }
    void accumulateUniform(const float* c, const std::int32_t* indices,
                           std::int32_t count) override {
        centres = c;
        sq = nullptr;
        rad = nullptr;
        idx = indices;
        n = count;
    }
};

TraversalRay rayOf(double ox, double oy, double oz, float dx, float dy, float dz) {
    const double o[3] = {ox, oy, oz};
    const float d[3] = {dx, dy, dz};
    return TraversalRay(o, d, 0.0, 1e18);
}

std::vector<MotionCache*> cachesOf(IntervalCollector& c) {
    std::vector<MotionCache*> out;
    for (RayInterval* i = c.head; i != nullptr; i = i->next) {
        out.push_back(static_cast<MotionCache*>(i->payload));
    }
    return out;
}

TEST(MovingHierarchyBuild, BoxesMoveAndTheSplitUsesTheSweptBox) {
    // At the start the box is taller in y; swept over the segment it is longest in x, where
    // ball 0's mid-segment key (10) is not below the split (10).
    const float pos[] = {0, 0, 0, 0, 3, 0};
    const float vel[] = {20, 0, 0, 0, 0, 0};
    std::unique_ptr<BVHMNode> root;
    buildTree(root, pos, vel, nullptr, nullptr, 2, 1.0f, 15, 30, 100.0f);
    ASSERT_TRUE(root->isBranch());
    EXPECT_EQ(root->min[1], -1.0f);
    EXPECT_EQ(root->max[1], 4.0f);
    EXPECT_EQ(root->max[0], 1.0f);
    EXPECT_EQ(root->deltaMax[0], 20.0f);
    EXPECT_EQ(root->deltaMin[0], 0.0f);
    EXPECT_EQ(root->deltaMax[1], 0.0f);
    EXPECT_EQ(itemsOf(root->left()), (Indices{1}));
    EXPECT_EQ(itemsOf(root->right()), (Indices{0}));
    EXPECT_EQ(root->right()->max[0], 1.0f);
    EXPECT_EQ(root->right()->deltaMin[0], 20.0f);

    // Moving towards -x: the swept box reaches -21, so the split is at -10 and ball 0's key
    // (-10) goes right with ball 1, leaving ball 2 (x = -15) alone on the left.
    const float pos3[] = {0, 0, 0, 0, 3, 0, -15, 0, 0};
    const float vel3[] = {-20, 0, 0, 0, 0, 0, 0, 0, 0};
    buildTree(root, pos3, vel3, nullptr, nullptr, 3, 1.0f, 15, 30, 100.0f);
    EXPECT_EQ(root->deltaMin[0], -5.0f);
    EXPECT_EQ(itemsOf(root->left()), (Indices{2}));
    EXPECT_EQ(itemsOf(root->right()), (Indices{0, 1}));

    // Radii at both ends: start radius, and start + change narrowed to float at the end.
    const double radii[] = {1.0, 2.0};
    const double grow[] = {2.0, -1.0};
    buildTree(root, pos, vel, radii, grow, 2, 50.0f, 15, 30, 100.0f);
    const float wantMin[3] = {-2, -1, -2};
    const float wantMax[3] = {2, 5, 2};
    const float wantDeltaMin[3] = {1, -2, -1};
    const float wantDeltaMax[3] = {21, -1, 1};
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(root->min[a], wantMin[a]);
        EXPECT_EQ(root->max[a], wantMax[a]);
        EXPECT_EQ(root->deltaMin[a], wantDeltaMin[a]);
        EXPECT_EQ(root->deltaMax[a], wantDeltaMax[a]);
    }
}

TEST(MovingHierarchyBuild, LeafRuleUsesTheSweptExtent) {
    // Start extent 5, swept extent 15.
    const float pos[] = {0, 0, 0, 3, 0, 0};
    const float vel[] = {0, 0, 0, 10, 0, 0};
    std::unique_ptr<BVHMNode> root;
    buildTree(root, pos, vel, nullptr, nullptr, 2, 1.0f, 15, 30, 10.0f);
    EXPECT_TRUE(root->left()->isBranch());
    buildTree(root, pos, vel, nullptr, nullptr, 2, 1.0f, 15, 30, 16.0f);
    EXPECT_FALSE(root->left()->isBranch());
    EXPECT_FALSE(root->right()->isBranch());
    // With per-ball radii only the count matters.
    const double radii[] = {1.0, 1.0};
    const double still[] = {0.0, 0.0};
    buildTree(root, pos, vel, radii, still, 2, 1.0f, 15, 2, 0.0f);
    EXPECT_FALSE(root->left()->isBranch());
    buildTree(root, pos, vel, radii, still, 2, 1.0f, 15, 1, 0.0f);
    EXPECT_TRUE(root->left()->isBranch());
    // Depth 1: two leaves whatever their size.
    buildTree(root, pos, vel, nullptr, nullptr, 2, 1.0f, 1, 1, 0.0f);
    EXPECT_FALSE(root->left()->isBranch());
    EXPECT_FALSE(root->right()->isBranch());
}

TEST(MovingHierarchyBuild, SameMidSegmentCentreForcesTwoLeaves) {
    // Every ball passes (1, 0, 0) at mid-segment, from different starts.
    const float pos[] = {0, 0, 0, 2, 0, 0, 0, 0, 0, 2, 0, 0, 1, 0, 0};
    const float vel[] = {2, 0, 0, -2, 0, 0, 2, 0, 0, -2, 0, 0, 0, 0, 0};
    std::unique_ptr<BVHMNode> root;
    buildTree(root, pos, vel, nullptr, nullptr, 5, 1.0f, 15, 1, 0.0f);
    ASSERT_FALSE(root->left()->isBranch());
    ASSERT_FALSE(root->right()->isBranch());
    EXPECT_EQ(itemsOf(root->left()), (Indices{0, 1}));
    EXPECT_EQ(itemsOf(root->right()), (Indices{2, 3, 4}));
}

TEST(MovingHierarchyBuild, EmptyInputNeverMakesAnInterval) {
    std::unique_ptr<BVHMNode> root;
    buildTree(root, nullptr, nullptr, nullptr, nullptr, 0, 1.0f, 15, 30, 8.0f);
    ASSERT_TRUE(root->isBranch());
    for (const BVHMNode* side : {root->left(), root->right()}) {
        ASSERT_FALSE(side->isBranch());
        EXPECT_EQ(side->count(), 0);
        EXPECT_EQ(side->min[0], 1e20f);
        EXPECT_EQ(side->max[0], -1e20f);
        EXPECT_EQ(side->deltaMin[0], 0.0f);
    }
    for (float t : {0.0f, 0.5f, 1.0f}) {
        IntervalCollector c;
        root->intersect(rayOf(0, 0, 0, 1, 0.5f, -0.0f), c, t);
        c.finish();
        EXPECT_EQ(c.head, nullptr);
    }
}

TEST(MovingHierarchyIntersect, BoxesAreMovedToTheRayTime) {
    const float pos[] = {0, 0, 0};
    const float vel[] = {10, 0, 0};
    std::unique_ptr<BVHMNode> root;
    buildTree(root, pos, vel, nullptr, nullptr, 1, 1.0f, 15, 30, 8.0f);
    const TraversalRay ray = rayOf(5, -10, 0, 0, 1, 0); // crosses x = 5
    for (float t : {0.0f, 0.5f, 1.0f}) {
        IntervalCollector c;
        root->intersect(ray, c, t);
        c.finish();
        auto caches = cachesOf(c);
        if (t != 0.5f) {
            EXPECT_TRUE(caches.empty());
            continue;
        }
        ASSERT_EQ(caches.size(), 1u);
        EXPECT_EQ(c.head->tEnter, 9.0);
        EXPECT_EQ(c.head->tExit, 11.0);
        EXPECT_TRUE(caches[0]->dirty);
        EXPECT_EQ(caches[0]->centres, nullptr);
        EXPECT_EQ(caches[0]->leaf, root->right());
    }
}

TEST(MotionCacheFill, ValuesFollowTheStatedPrecision) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> u(-0.4f, 0.4f); // every ball reaches the test ray
    const int n = 6;
    std::vector<float> pos(3 * n);
    std::vector<float> vel(3 * n);
    std::vector<double> radii(n);
    std::vector<double> grow(n);
    for (int i = 0; i < 3 * n; ++i) {
        pos[i] = u(rng);
        vel[i] = u(rng);
    }
    for (int i = 0; i < n; ++i) {
        radii[i] = 1.0 + 0.1 * i;
        grow[i] = 0.3 - 0.07 * i;
    }
    std::unique_ptr<BVHMNode> root;
    buildTree(root, pos.data(), vel.data(), radii.data(), grow.data(), n, 1.0f, 1, 1, 0.0f);
    const float time = 0.3f;
    IntervalCollector c;
    root->intersect(rayOf(-100, 0.25, 0.125, 1, 0, 0), c, time);
    c.finish();
    auto caches = cachesOf(c);
    ASSERT_EQ(caches.size(), 2u);
    bool floatMatters = false;
    for (MotionCache* cache : caches) {
        const Indices idx = itemsOf(cache->leaf);
        // A uniform call fills the centres only.
        RecordingMoving f;
        cache->evaluateUniform(pos.data(), vel.data(), time, f);
        EXPECT_FALSE(cache->dirty);
        ASSERT_EQ(f.n, static_cast<std::int32_t>(idx.size()));
        const float* centres = f.centres;
        EXPECT_EQ(cache->radiusSq, nullptr);
        for (std::size_t i = 0; i < idx.size(); ++i) {
            for (int a = 0; a < 3; ++a) {
                const float p = pos[3 * idx[i] + a];
                const float v = vel[3 * idx[i] + a];
                const float want = p + v * time;
                EXPECT_EQ(centres[3 * i + a], want);
                const double wide = static_cast<double>(p) + static_cast<double>(v) * time;
                floatMatters = floatMatters || static_cast<float>(wide) != want;
            }
        }
        // A later sized call adds the squared radii and keeps the centres.
        cache->evaluateSized(pos.data(), vel.data(), radii.data(), grow.data(), time, f, false);
        EXPECT_EQ(f.centres, centres);
        ASSERT_NE(f.sq, nullptr);
        EXPECT_EQ(f.rad, nullptr);
        const double* sq = f.sq;
        // Asking for radii too fills them without touching the rest.
        cache->evaluateSized(pos.data(), vel.data(), radii.data(), grow.data(), time, f, true);
        EXPECT_EQ(f.sq, sq);
        ASSERT_NE(f.rad, nullptr);
        for (std::size_t i = 0; i < idx.size(); ++i) {
            const double r = grow[idx[i]] * static_cast<double>(time) + radii[idx[i]];
            EXPECT_EQ(f.rad[i], r);
            EXPECT_EQ(f.sq[i], r * r);
        }
        // The gradient forms pass the leaf's indices with the same arrays.
        RecordingGradMoving g;
        cache->evaluateSizedGrad(pos.data(), vel.data(), radii.data(), grow.data(), time, g, true);
        EXPECT_EQ(g.idx, cache->leaf->indices());
        EXPECT_EQ(g.centres, centres);
        EXPECT_EQ(g.rad, f.rad);
        EXPECT_EQ(g.n, f.n);
        cache->evaluateUniformGrad(pos.data(), vel.data(), time, g);
        EXPECT_EQ(g.centres, centres);
        EXPECT_EQ(g.idx, cache->leaf->indices());
    }
    EXPECT_TRUE(floatMatters); // the data tells single from double precision apart
}

TEST(MotionCacheFill, SizedFirstCallFillsAtOnce) {
    const float pos[] = {1, 2, 3};
    const float vel[] = {0.5f, 0, 0};
    const double radii[] = {2.0};
    const double grow[] = {1.0};
    std::unique_ptr<BVHMNode> root;
    buildTree(root, pos, vel, radii, grow, 1, 1.0f, 15, 30, 8.0f);
    IntervalCollector c;
    root->intersect(rayOf(1, -10, 3, 0, 1, 0), c, 1.0f);
    c.finish();
    auto caches = cachesOf(c);
    ASSERT_EQ(caches.size(), 1u);
    RecordingMoving f;
    caches[0]->evaluateSized(pos, vel, radii, grow, 1.0f, f, true);
    EXPECT_EQ(f.n, 1);
    EXPECT_EQ(f.centres[0], 1.5f);
    EXPECT_EQ(f.rad[0], 3.0);
    EXPECT_EQ(f.sq[0], 9.0);
    EXPECT_EQ(caches[0]->count, 1);
}

// Moved boxes hold the moved spheres at every time, and a ray aimed at a metaball at its ray's
// time reports that metaball's leaf over a stretch containing the aim point.
TEST(MovingHierarchyIntersect, RandomMovingCloudIsCovered) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> u(-40.0f, 40.0f);
    std::uniform_real_distribution<float> uv(-15.0f, 15.0f);
    std::uniform_real_distribution<double> ur(0.5, 3.0);
    std::uniform_real_distribution<double> ug(-0.4, 1.0);
    const int n = 1500;
    std::vector<float> pos(3 * n);
    std::vector<float> vel(3 * n);
    std::vector<double> radii(n);
    std::vector<double> grow(n);
    for (int i = 0; i < 3 * n; ++i) {
        pos[i] = u(rng);
        vel[i] = uv(rng);
    }
    for (int i = 0; i < n; ++i) {
        radii[i] = ur(rng);
        grow[i] = ug(rng);
    }
    for (bool sized : {false, true}) {
        const double* rad = sized ? radii.data() : nullptr;
        const double* gr = sized ? grow.data() : nullptr;
        std::unique_ptr<BVHMNode> root;
        buildTree(root, pos.data(), vel.data(), rad, gr, n, 2.0f, 15, 6, 12.0f);
        std::vector<const BVHMNode*> leaves;
        leavesOf(root.get(), leaves);
        std::vector<const BVHMNode*> owner(n, nullptr);
        for (const BVHMNode* leaf : leaves) {
            for (std::int32_t k : itemsOf(leaf)) {
                ASSERT_EQ(owner[k], nullptr);
                owner[k] = leaf;
                for (float t : {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}) {
                    float b0[3];
                    float b1[3];
                    leaf->boxAt(t, b0, b1);
                    const double r = sized ? radii[k] + grow[k] * t : 2.0;
                    for (int a = 0; a < 3; ++a) {
                        // Geometric containment; allow the float rounding of the moved faces.
                        const double c = pos[3 * k + a] + static_cast<double>(vel[3 * k + a]) * t;
                        EXPECT_LE(b0[a], c - r + 1e-4);
                        EXPECT_GE(b1[a], c + r - 1e-4);
                    }
                }
            }
        }
        for (int k = 0; k < n; ++k) {
            ASSERT_NE(owner[k], nullptr);
        }
        IntervalCollector c;
        for (int i = 0; i < 200; ++i) {
            const int k = static_cast<int>(rng() % n);
            const float t = static_cast<float>(rng() % 1001) / 1000.0f;
            const double o[3] = {u(rng) * 2.0, u(rng) * 2.0, u(rng) * 2.0};
            float d[3];
            for (int a = 0; a < 3; ++a) {
                const float centre = pos[3 * k + a] + vel[3 * k + a] * t;
                d[a] = static_cast<float>(centre - o[a]) * 0.1f;
            }
            c.clear();
            root->intersect(TraversalRay(o, d, 0.0, 1e18), c, t);
            c.finish();
            bool found = false;
            for (RayInterval* iv = c.head; iv != nullptr; iv = iv->next) {
                if (iv->next != nullptr) {
                    EXPECT_LE(iv->tEnter, iv->next->tEnter);
                }
                if (static_cast<MotionCache*>(iv->payload)->leaf == owner[k]) {
                    found = true;
                    EXPECT_LT(iv->tEnter, 10.0);
                    EXPECT_GT(iv->tExit, 10.0);
                }
            }
            EXPECT_TRUE(found);
        }
    }
}

} // namespace
} // namespace velquin
