#include "raytrace/RayHierarchy.h"

#include "field/BuildRule.h"

#include <cmath>
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

// Box of the listed metaballs, each grown by its radius in single precision. An empty list
// leaves the box inverted (1e20 / -1e20), which no ray or point can hit.
void boxOf(const BuildInput& in, const std::vector<std::int32_t>& list, float mn[3], float mx[3]) {
    for (int a = 0; a < 3; ++a) {
        mn[a] = 1e20f;
        mx[a] = -1e20f;
    }
    for (std::int32_t k : list) {
        const float r =
            in.perBallRadius != nullptr ? static_cast<float>(in.perBallRadius[k]) : in.radius;
        const float* p = in.positions + 3 * static_cast<std::size_t>(k);
        for (int a = 0; a < 3; ++a) {
            const float lo = p[a] - r;
            const float hi = p[a] + r;
            if (lo < mn[a]) {
                mn[a] = lo;
            }
            if (hi > mx[a]) {
                mx[a] = hi;
            }
        }
    }
}

std::unique_ptr<BVHNode> makeLeaf(const BuildInput& in, std::vector<std::int32_t> list) {
    auto leaf = std::make_unique<Leaf>();
    boxOf(in, list, leaf->min, leaf->max);
    leaf->items = std::move(list);
    return leaf;
}

// Builds a branch from list (consumed) at depth d.
std::unique_ptr<BVHNode> makeBranch(const BuildInput& in, std::vector<std::int32_t> list,
                                    std::int32_t d) {
    auto branch = std::make_unique<Branch>();
    boxOf(in, list, branch->min, branch->max);

    float e[3];
    for (int a = 0; a < 3; ++a) {
        e[a] = branch->max[a] - branch->min[a];
    }
    const int axis = longestAxis(e);
    const float split = (branch->min[axis] + branch->max[axis]) * 0.5f;

    std::vector<std::int32_t> lower;
    std::vector<std::int32_t> upper;
    for (std::int32_t k : list) {
        if (in.positions[3 * static_cast<std::size_t>(k) + axis] < split) {
            lower.push_back(k);
        } else {
            upper.push_back(k);
        }
    }
    const bool forced = forceSplitIfEmpty(list, lower, upper);
    list = std::vector<std::int32_t>(); // a branch keeps no list of its own

    const float extent = branch->max[axis] - branch->min[axis];
    auto child = [&](std::vector<std::int32_t>& side) -> std::unique_ptr<BVHNode> {
        if (becomesLeaf(in.maxDepth, d, extent, in.leafLength, in.perBallRadius != nullptr,
                        side.size(), in.leafSize, forced)) {
            return makeLeaf(in, std::move(side));
        }
        return makeBranch(in, std::move(side), d + 1);
    };
    branch->leftChild = child(lower);
    branch->rightChild = child(upper);
    return branch;
}

} // namespace

void buildTree(std::unique_ptr<BVHNode>& root, const float* positions, const double* perBallRadius,
               std::int32_t count, float radius, std::int32_t maxDepth, std::int32_t leafSize,
               float leafLength) {
    root.reset();
    const BuildInput in{positions, perBallRadius, radius, maxDepth, leafSize, leafLength};
    std::vector<std::int32_t> list(count > 0 ? static_cast<std::size_t>(count) : 0);
    for (std::size_t i = 0; i < list.size(); ++i) {
        list[i] = static_cast<std::int32_t>(i);
    }
    root = makeBranch(in, std::move(list), 1);
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
