#include "raytrace/RayHierarchy.h"

#include "field/BuildRule.h"
#include "raytrace/SideBySide.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

namespace velquin {

namespace {

struct BuildInput {
    const float* positions;
    const double* perBallRadius;
    float radius;
    std::int32_t maxDepth;
    std::int32_t leafSize;
    float leafLength;
};

// One box being summed: each metaball grown by its radius in single precision. Nothing added
// leaves it inverted (1e20 / -1e20), which no ray or point can hit.
struct BoxSum {
    float mn[3] = {1e20f, 1e20f, 1e20f};
    float mx[3] = {-1e20f, -1e20f, -1e20f};

    // A metaball with centre c[0..2] and number k.
    void add(const BuildInput& in, const float c[3], std::int32_t k) {
        const float r =
            in.perBallRadius != nullptr ? static_cast<float>(in.perBallRadius[k]) : in.radius;
        // Written as selects, which compile to min and max instructions of these very
        // semantics (the kept value on ties and NaN), without a branch.
        for (int a = 0; a < 3; ++a) {
            const float lo = c[a] - r;
            const float hi = c[a] + r;
            mn[a] = lo < mn[a] ? lo : mn[a];
            mx[a] = hi > mx[a] ? hi : mx[a];
        }
    }
    void copyTo(float outMin[3], float outMax[3]) const {
        for (int a = 0; a < 3; ++a) {
            outMin[a] = mn[a];
            outMax[a] = mx[a];
        }
    }
};

// A metaball as the build moves it: its centre travels with its number, so that a split reads
// its range in order instead of looking each centre up.
struct BuildItem {
    float c[3];
    std::int32_t k;
};

// The tree is built over one array of metaballs that each split partitions in place,
// stably, so that every node's range keeps the order its list had: leaves list their metaballs
// in increasing number, and the sums over a leaf run in that order. Each side's box is summed
// over its range in that same order, so it equals the one summed over its list afresh (a
// minimum depends on the order only through signed zeros, and the order is the same). Subtrees own
// disjoint ranges, so the two sides of a split can be built at once.
class TreeBuilder {
public:
    TreeBuilder(const BuildInput& in, BuildItem* items, BuildItem* scratch)
        : in_(in), items_(items), scratch_(scratch) {}

    BoxSum boxOf(std::size_t lo, std::size_t hi) const {
        BoxSum box;
        for (std::size_t i = lo; i < hi; ++i) {
            box.add(in_, items_[i].c, items_[i].k);
        }
        return box;
    }

    // Items [lo, hi) split at `split` on `axis`: the lower side packed down in place from lo (it
    // never overtakes the reading) up to nl, the upper side into the same places of the scratch
    // array from lo up to nu. Each item is written to both and only the count of its side moves
    // on: the side is a coin toss, and a branch on it was mispredicted half the time.
    void partition(std::size_t lo, std::size_t hi, int axis, float split, std::size_t& nl,
                   std::size_t& nu) {
        nl = lo;
        nu = lo;
        for (std::size_t i = lo; i < hi; ++i) {
            const BuildItem item = items_[i];
            const bool lower = item.c[axis] < split;
            items_[nl] = item;
            scratch_[nu] = item;
            nl += lower ? 1 : 0;
            nu += lower ? 0 : 1;
        }
    }

    // A branch at depth d over items [lo, hi), whose box is given. threads: how many threads
    // this subtree may keep busy.
    std::unique_ptr<BVHNode> branch(std::size_t lo, std::size_t hi, const BoxSum& box,
                                    std::int32_t d, int threads) {
        auto node = std::make_unique<Branch>();
        box.copyTo(node->min, node->max);

        float e[3];
        for (int a = 0; a < 3; ++a) {
            e[a] = node->max[a] - node->min[a];
        }
        const int axis = longestAxis(e);
        const float split = (node->min[axis] + node->max[axis]) * 0.5f;

        // With a thread to spare, the two halves of the range are partitioned at once and their
        // lower sides, then their upper sides, laid end to end: the same stable order.
        const bool together = threads >= 2 && hi - lo >= kParallelMinimum;
        std::size_t nl = lo;
        bool split2 = false;
        if (together) {
            const std::size_t m = lo + (hi - lo) / 2;
            std::size_t nlA = lo, nuA = lo, nlB = m, nuB = m;
            split2 = runSideBySide([&] { partition(m, hi, axis, split, nlB, nuB); },
                                   [&] { partition(lo, m, axis, split, nlA, nuA); });
            if (split2) {
                // The upper sides' places held the halves' own items, all read by now.
                std::memmove(static_cast<void*>(items_ + nlA), items_ + m,
                             (nlB - m) * sizeof(BuildItem));
                nl = nlA + (nlB - m);
                std::copy(scratch_ + lo, scratch_ + nuA, items_ + nl);
                std::copy(scratch_ + m, scratch_ + nuB, items_ + nl + (nuA - lo));
            }
        }
        if (!split2) {
            std::size_t nu = lo;
            partition(lo, hi, axis, split, nl, nu);
            std::copy(scratch_ + lo, scratch_ + nu, items_ + nl);
        }

        // One side empty: the order is untouched, and the halves are the first floor(n/2)
        // and the rest, as forceSplitIfEmpty makes them.
        std::size_t mid = nl;
        const bool forced = nl == lo || nl == hi;
        if (forced) {
            mid = lo + (hi - lo) / 2;
        }
        // Each side's box summed over its range, in the order of its list.
        BoxSum lowerBox, upperBox;
        if (!together || !runSideBySide([&] { upperBox = boxOf(mid, hi); },
                                        [&] { lowerBox = boxOf(lo, mid); })) {
            lowerBox = boxOf(lo, mid);
            upperBox = boxOf(mid, hi);
        }

        const float extent = node->max[axis] - node->min[axis];
        auto child = [&, d, forced, extent](std::size_t a, std::size_t b, const BoxSum& childBox,
                                            int childThreads) -> std::unique_ptr<BVHNode> {
            if (becomesLeaf(in_.maxDepth, d, extent, in_.leafLength, in_.perBallRadius != nullptr,
                            b - a, in_.leafSize, forced)) {
                auto leaf = std::make_unique<Leaf>();
                childBox.copyTo(leaf->min, leaf->max);
                leaf->items.resize(b - a);
                for (std::size_t i = a; i < b; ++i) {
                    leaf->items[i - a] = items_[i].k;
                }
                return leaf;
            }
            return branch(a, b, childBox, d + 1, childThreads);
        };
        if (threads >= 2 && hi - lo >= kParallelMinimum) {
            const int leftThreads = threads / 2;
            std::unique_ptr<BVHNode> left;
            if (runSideBySide(
                    [&] { left = child(lo, mid, lowerBox, leftThreads); },
                    [&] { node->rightChild = child(mid, hi, upperBox, threads - leftThreads); })) {
                node->leftChild = std::move(left);
                return node;
            }
        }
        node->leftChild = child(lo, mid, lowerBox, 1);
        node->rightChild = child(mid, hi, upperBox, 1);
        return node;
    }

private:
    const BuildInput& in_;
    BuildItem* items_;
    BuildItem* scratch_;
};

} // namespace

void buildTree(std::unique_ptr<BVHNode>& root, const float* positions, const double* perBallRadius,
               std::int32_t count, float radius, std::int32_t maxDepth, std::int32_t leafSize,
               float leafLength, int threads) {
    root.reset();
    const BuildInput in{positions, perBallRadius, radius, maxDepth, leafSize, leafLength};
    const std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 0;
    // Both arrays are fresh memory, whose first touch costs more than filling it: with threads
    // to spare, the two halves are filled (and the scratch array's pages touched) at once.
    std::unique_ptr<BuildItem[]> items(new BuildItem[n]);
    std::unique_ptr<BuildItem[]> scratch(new BuildItem[n]);
    auto fill = [&](std::size_t a, std::size_t b, bool touchScratch) {
        for (std::size_t i = a; i < b; ++i) {
            items[i] = BuildItem{{positions[3 * i], positions[3 * i + 1], positions[3 * i + 2]},
                                 static_cast<std::int32_t>(i)};
        }
        if (touchScratch && b > a) {
            std::memset(static_cast<void*>(scratch.get() + a), 0, (b - a) * sizeof(BuildItem));
        }
    };
    const bool halves = threads >= 2 && n >= kParallelMinimum &&
                        runSideBySide([&] { fill(n / 2, n, true); }, [&] { fill(0, n / 2, true); });
    if (!halves) {
        fill(0, n, false);
    }
    TreeBuilder builder(in, items.get(), scratch.get());
    root = builder.branch(0, n, builder.boxOf(0, n), 1, threads);
}

void Branch::intersect(const TraversalRay& ray, IntervalCollector& collector) const {
    double tNear;
    double tFar;
    if (!slabTest(min, max, ray, tNear, tFar)) {
        return;
    }
    leftChild->intersect(ray, collector);
    rightChild->intersect(ray, collector);
}

void Branch::gatherAt(Field& evaluator) const {
    if (!contains(evaluator.point)) {
        return;
    }
    leftChild->gatherAt(evaluator);
    rightChild->gatherAt(evaluator);
}

void Branch::gatherAtGrad(FieldGrad& evaluator) const {
    if (!contains(evaluator.points[0])) {
        return;
    }
    leftChild->gatherAtGrad(evaluator);
    rightChild->gatherAtGrad(evaluator);
}

void Leaf::intersect(const TraversalRay& ray, IntervalCollector& collector) const {
    double tNear;
    double tFar;
    if (!slabTest(min, max, ray, tNear, tFar)) {
        return;
    }
    collector.add(tNear, tFar, payloadFromContainer(this));
}

void Leaf::gatherAt(Field& evaluator) const {
    if (contains(evaluator.point)) {
        evaluator.accumulate(items.data(), count());
    }
}

void Leaf::gatherAtGrad(FieldGrad& evaluator) const {
    if (contains(evaluator.points[0])) {
        evaluator.accumulate(items.data(), count());
    }
}

void Leaf::evaluate(Field& evaluator) const {
    evaluator.accumulate(items.data(), count());
}

} // namespace velquin
