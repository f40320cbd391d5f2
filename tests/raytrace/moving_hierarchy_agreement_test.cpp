// With nothing moving, the moving hierarchy at any time is the still hierarchy over the
// metaballs at that time: same nodes, same boxes, and the same intervals to the bit.
#include "field/MovingHierarchy.h"
#include "raytrace/RayHierarchy.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace velquin {
namespace {

using Indices = std::vector<std::int32_t>;

void expectSameTree(const BVHNode* s, const BVHMNode* m, float time) {
    ASSERT_EQ(s->isBranch(), m->isBranch());
    float b0[3];
    float b1[3];
    m->boxAt(time, b0, b1);
    for (int a = 0; a < 3; ++a) {
        ASSERT_EQ(s->min[a], b0[a]);
        ASSERT_EQ(s->max[a], b1[a]);
    }
    if (s->isBranch()) {
        expectSameTree(s->left(), m->left(), time);
        expectSameTree(s->right(), m->right(), time);
    } else {
        ASSERT_EQ(Indices(s->indices(), s->indices() + s->count()),
                  Indices(m->indices(), m->indices() + m->count()));
    }
}

struct Hit {
    double tEnter;
    double tExit;
    Indices items;
    bool operator==(const Hit&) const = default;
};

TEST(HierarchyAgreement, StillMetaballsGiveTheSameIntervalsAtEveryTime) {
    std::mt19937 rng(4711);
    std::uniform_real_distribution<float> u(-30.0f, 30.0f);
    std::uniform_real_distribution<double> ur(0.5, 4.0);
    const int n = 3000;
    std::vector<float> pos(3 * n);
    for (float& v : pos) {
        v = u(rng);
    }
    const std::vector<float> vel(3 * n, 0.0f);
    std::vector<double> radii(n);
    for (double& r : radii) {
        r = ur(rng);
    }
    const std::vector<double> grow(n, 0.0);

    for (bool sized : {false, true}) {
        const double* rad = sized ? radii.data() : nullptr;
        const double* gr = sized ? grow.data() : nullptr;
        std::unique_ptr<BVHMNode> moving;
        buildTree(moving, pos.data(), vel.data(), rad, gr, n, 1.5f, 15, 12, 12.0f);
        for (float time : {0.0f, 0.5f, 1.0f}) {
            std::vector<float> moved(3 * n);
            for (int i = 0; i < 3 * n; ++i) {
                moved[i] = pos[i] + vel[i] * time;
            }
            std::unique_ptr<BVHNode> still;
            buildTree(still, moved.data(), rad, n, 1.5f, 15, 12, 12.0f);
            expectSameTree(still.get(), moving.get(), time);

            IntervalCollector cs;
            IntervalCollector cm;
            for (int r = 0; r < 300; ++r) {
                const double o[3] = {u(rng) * 1.5, u(rng) * 1.5, u(rng) * 1.5};
                float d[3] = {u(rng), u(rng), u(rng)};
                if (r % 10 == 0) {
                    d[r % 3] = (r % 20 == 0) ? 0.0f : -0.0f; // axis-parallel planes
                }
                const TraversalRay ray(o, d, 0.0, 1e18);
                cs.clear();
                cm.clear();
                still->intersect(ray, cs);
                moving->intersect(ray, cm, time);
                cs.finish();
                cm.finish();
                std::vector<Hit> hs;
                std::vector<Hit> hm;
                for (RayInterval* i = cs.head; i != nullptr; i = i->next) {
                    const auto* leaf = static_cast<const Leaf*>(containerFromPayload(i->payload));
                    hs.push_back({i->tEnter, i->tExit, leaf->items});
                }
                for (RayInterval* i = cm.head; i != nullptr; i = i->next) {
                    const BVHMLeaf* leaf = static_cast<MotionCache*>(i->payload)->leaf;
                    hm.push_back({i->tEnter, i->tExit, leaf->items});
                }
                ASSERT_EQ(hs, hm);
            }
        }
    }
}

} // namespace
} // namespace velquin
