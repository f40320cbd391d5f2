#include "field/MovingHierarchy.h"

#include "field/BuildRule.h"

#include <cmath>
#include <utility>

namespace velquin {

namespace {

struct BuildInput {
    const float* positions;
    const float* velocities;
    const double* perBallRadius;
    const double* radiusVelocities;
    float radius;
    std::int32_t maxDepth;
    std::int32_t leafSize;
    float leafLength;
};

void grow(float mn[3], float mx[3], const float c[3], float r) {
    for (int a = 0; a < 3; ++a) {
        const float lo = c[a] - r;
        const float hi = c[a] + r;
        if (lo < mn[a]) {
            mn[a] = lo;
        }
        if (hi > mx[a]) {
            mx[a] = hi;
        }
    }
}

// Start box and its change to the end box over the listed metaballs. An empty list leaves the
// box inverted with no change, so it is missed at every time.
void movingBoxOf(const BuildInput& in, const std::vector<std::int32_t>& list, BVHMNode& node) {
    float endMin[3];
    float endMax[3];
    for (int a = 0; a < 3; ++a) {
        node.min[a] = 1e20f;
        node.max[a] = -1e20f;
        endMin[a] = 1e20f;
        endMax[a] = -1e20f;
    }
    for (std::int32_t k : list) {
        const std::size_t i = static_cast<std::size_t>(k);
        float r0 = in.radius;
        float r1 = in.radius;
        if (in.perBallRadius != nullptr) {
            const double dr = in.radiusVelocities != nullptr ? in.radiusVelocities[i] : 0.0;
            r0 = static_cast<float>(in.perBallRadius[i]);
            r1 = static_cast<float>(in.perBallRadius[i] + dr);
        }
        const float* p = in.positions + 3 * i;
        const float* v = in.velocities + 3 * i;
        const float q[3] = {p[0] + v[0], p[1] + v[1], p[2] + v[2]};
        grow(node.min, node.max, p, r0);
        grow(endMin, endMax, q, r1);
    }
    for (int a = 0; a < 3; ++a) {
        node.deltaMin[a] = endMin[a] - node.min[a];
        node.deltaMax[a] = endMax[a] - node.max[a];
    }
}

std::unique_ptr<BVHMNode> makeLeaf(const BuildInput& in, std::vector<std::int32_t> list) {
    auto leaf = std::make_unique<BVHMLeaf>();
    movingBoxOf(in, list, *leaf);
    leaf->items = std::move(list);
    return leaf;
}

std::unique_ptr<BVHMNode> makeBranch(const BuildInput& in, std::vector<std::int32_t> list,
                                     std::int32_t d) {
    auto branch = std::make_unique<BVHMBranch>();
    movingBoxOf(in, list, *branch);

    // The split works on the box swept over the whole segment.
    float lower[3];
    float upper[3];
    float e[3];
    for (int a = 0; a < 3; ++a) {
        const float endLow = branch->min[a] + branch->deltaMin[a];
        const float endHigh = branch->max[a] + branch->deltaMax[a];
        lower[a] = endLow < branch->min[a] ? endLow : branch->min[a];
        upper[a] = endHigh > branch->max[a] ? endHigh : branch->max[a];
        e[a] = upper[a] - lower[a];
    }
    const int axis = longestAxis(e);
    const float split = (lower[axis] + upper[axis]) * 0.5f;

    // Each metaball is keyed by its centre at mid-segment.
    std::vector<std::int32_t> left;
    std::vector<std::int32_t> right;
    for (std::int32_t k : list) {
        const std::size_t c = 3 * static_cast<std::size_t>(k) + static_cast<std::size_t>(axis);
        const float key = in.positions[c] + in.velocities[c] * 0.5f;
        if (key < split) {
            left.push_back(k);
        } else {
            right.push_back(k);
        }
    }
    const bool forced = forceSplitIfEmpty(list, left, right);
    list = std::vector<std::int32_t>(); // a branch keeps no list of its own

    const float extent = upper[axis] - lower[axis];
    auto child = [&](std::vector<std::int32_t>& side) -> std::unique_ptr<BVHMNode> {
        if (becomesLeaf(in.maxDepth, d, extent, in.leafLength, in.perBallRadius != nullptr,
                        side.size(), in.leafSize, forced)) {
            return makeLeaf(in, std::move(side));
        }
        return makeBranch(in, std::move(side), d + 1);
    };
    branch->leftChild = child(left);
    branch->rightChild = child(right);
    return branch;
}

} // namespace

void buildTree(std::unique_ptr<BVHMNode>& root, const float* positions, const float* velocities,
               const double* perBallRadius, const double* radiusVelocities, std::int32_t count,
               float radius, std::int32_t maxDepth, std::int32_t leafSize, float leafLength) {
    root.reset();
    const BuildInput in{positions, velocities, perBallRadius, radiusVelocities,
                        radius,    maxDepth,   leafSize,      leafLength};
    std::vector<std::int32_t> list(count > 0 ? static_cast<std::size_t>(count) : 0);
    for (std::size_t i = 0; i < list.size(); ++i) {
        list[i] = static_cast<std::int32_t>(i);
    }
    root = makeBranch(in, std::move(list), 1);
}

void BVHMBranch::intersect(const TraversalRay& ray, IntervalCollector& collector,
                           float time) const {
    float b0[3];
    float b1[3];
    boxAt(time, b0, b1);
    double tNear;
    double tFar;
    if (!slabTest(b0, b1, ray, tNear, tFar)) {
        return;
    }
    leftChild->intersect(ray, collector, time);
    rightChild->intersect(ray, collector, time);
}

void BVHMLeaf::intersect(const TraversalRay& ray, IntervalCollector& collector, float time) const {
    float b0[3];
    float b1[3];
    boxAt(time, b0, b1);
    double tNear;
    double tFar;
    if (!slabTest(b0, b1, ray, tNear, tFar)) {
        return;
    }
    MotionCache* cache = collector.make<MotionCache>();
    cache->leaf = this;
    cache->storage = &collector;
    collector.add(tNear, tFar, cache);
}

void MotionCache::fillCentres(const float* positions, const float* velocities, float time) {
    dirty = false;
    count = leaf->count();
    const std::int32_t* idx = leaf->indices();
    centres = storage->makeArray<float>(3 * static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        const std::size_t k = 3 * static_cast<std::size_t>(idx[i]);
        float* c = centres + 3 * static_cast<std::size_t>(i);
        c[0] = positions[k] + velocities[k] * time;
        c[1] = positions[k + 1] + velocities[k + 1] * time;
        c[2] = positions[k + 2] + velocities[k + 2] * time;
    }
}

void MotionCache::fillSizes(const double* perBallRadius, const double* radiusVelocities, float time,
                            bool wantRadius) {
    const bool needSq = radiusSq == nullptr;
    const bool needRadius = wantRadius && radius == nullptr;
    if (!needSq && !needRadius) {
        return;
    }
    const std::int32_t n = leaf->count();
    const std::int32_t* idx = leaf->indices();
    double* sq = needSq ? storage->makeArray<double>(static_cast<std::size_t>(n)) : nullptr;
    double* rad = needRadius ? storage->makeArray<double>(static_cast<std::size_t>(n)) : nullptr;
    const double t = static_cast<double>(time);
    for (std::int32_t i = 0; i < n; ++i) {
        const std::size_t k = static_cast<std::size_t>(idx[i]);
        const double r = radiusVelocities != nullptr ? radiusVelocities[k] * t + perBallRadius[k]
                                                     : perBallRadius[k];
        if (rad != nullptr) {
            rad[i] = r;
        }
        if (sq != nullptr) {
            sq[i] = r * r;
        }
    }
    if (needSq) {
        radiusSq = sq;
    }
    if (needRadius) {
        radius = rad;
    }
}

void MotionCache::evaluateUniform(const float* positions, const float* velocities, float time,
                                  FieldMoving& evaluator) {
    if (dirty) {
        fillCentres(positions, velocities, time);
    }
    evaluator.accumulateUniform(centres, count);
}

void MotionCache::evaluateUniformGrad(const float* positions, const float* velocities, float time,
                                      FieldGradMoving& evaluator) {
    if (dirty) {
        fillCentres(positions, velocities, time);
    }
    evaluator.accumulateUniform(centres, leaf->indices(), count);
}

void MotionCache::evaluateSized(const float* positions, const float* velocities,
                                const double* perBallRadius, const double* radiusVelocities,
                                float time, FieldMoving& evaluator, bool wantRadius) {
    if (dirty) {
        fillCentres(positions, velocities, time);
    }
    fillSizes(perBallRadius, radiusVelocities, time, wantRadius);
    evaluator.accumulateSized(centres, radiusSq, radius, count);
}

void MotionCache::evaluateSizedGrad(const float* positions, const float* velocities,
                                    const double* perBallRadius, const double* radiusVelocities,
                                    float time, FieldGradMoving& evaluator, bool wantRadius) {
    if (dirty) {
        fillCentres(positions, velocities, time);
    }
    fillSizes(perBallRadius, radiusVelocities, time, wantRadius);
    evaluator.accumulateSized(centres, radiusSq, radius, leaf->indices(), count);
}

} // namespace velquin
