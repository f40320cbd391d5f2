// Bounding-volume hierarchy over still metaballs. It answers two questions: which leaves a ray
// crosses and over which distances (so the marcher sums only those leaves while inside their
// intervals), and which leaves contain a point (for normals and colours at a hit).
//
// Built once per frame, then read-only: any number of threads traverse it at once, each with its
// own collector and evaluators. Nodes own their children and index lists; they only point into
// the frame's positions.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "field/Evaluators.h"
#include "field/RayIntervals.h"

namespace velquin {

// What a ray interval carries: the metaballs of one leaf, added to the marcher's evaluator
// (Field, FieldColor or FieldAvg).
class BVHContainer {
public:
    virtual void evaluate(Field& evaluator) const = 0;

protected:
    ~BVHContainer() = default;
};

// The payload of an interval from this hierarchy is a BVHContainer; these convert both ways.
inline void* payloadFromContainer(const BVHContainer* container) {
    return const_cast<void*>(static_cast<const void*>(container));
}
inline const BVHContainer* containerFromPayload(const void* payload) {
    return static_cast<const BVHContainer*>(payload);
}

class BVHNode {
public:
    float min[3] = {1e20f, 1e20f, 1e20f};
    float max[3] = {-1e20f, -1e20f, -1e20f};

    virtual bool isBranch() const { return false; }
    // Adds one interval per crossed leaf, in traversal order (left before right).
    virtual void intersect(const TraversalRay& ray, IntervalCollector& collector) const = 0;
    // Leaves whose box contains the evaluator's point add their metaballs.
    virtual void gatherAt(Field& evaluator) const = 0;
    // The same, with points[0] alone deciding which leaves are visited.
    virtual void gatherAtGrad(FieldGrad& evaluator) const = 0;
    virtual const BVHNode* left() const { return nullptr; }
    virtual const BVHNode* right() const { return nullptr; }
    virtual const std::int32_t* indices() const { return nullptr; }
    virtual std::int32_t count() const { return 0; }
    virtual ~BVHNode() = default;

    // Box contains p, both faces included, no tolerance.
    bool contains(const float p[3]) const {
        return min[0] <= p[0] && p[0] <= max[0] && min[1] <= p[1] && p[1] <= max[1] &&
               min[2] <= p[2] && p[2] <= max[2];
    }
};

class Branch : public BVHNode {
public:
    std::unique_ptr<BVHNode> leftChild;
    std::unique_ptr<BVHNode> rightChild;

    bool isBranch() const override { return true; }
    void intersect(const TraversalRay& ray, IntervalCollector& collector) const override;
    void gatherAt(Field& evaluator) const override;
    void gatherAtGrad(FieldGrad& evaluator) const override;
    const BVHNode* left() const override { return leftChild.get(); }
    const BVHNode* right() const override { return rightChild.get(); }
};

class Leaf : public BVHNode, public BVHContainer {
public:
    std::vector<std::int32_t> items; // metaball numbers, in build order

    void intersect(const TraversalRay& ray, IntervalCollector& collector) const override;
    void gatherAt(Field& evaluator) const override;
    void gatherAtGrad(FieldGrad& evaluator) const override;
    const std::int32_t* indices() const override { return items.data(); }
    std::int32_t count() const override { return static_cast<std::int32_t>(items.size()); }
    void evaluate(Field& evaluator) const override;
};

// Replaces the tree in root by one over count metaballs. perBallRadius holds plain radii (before
// any squaring) or is null for the global radius. The root is always a Branch at depth 1, even
// for count 0 or 1. maxDepth = "depth", leafSize = "leafSize", leafLength = "leafLength" x
// radius. Recursion is at most maxDepth deep (a branch below depth maxDepth is never made).
// threads: how many threads the build may keep busy; the tree is the same for any number.
void buildTree(std::unique_ptr<BVHNode>& root, const float* positions, const double* perBallRadius,
               std::int32_t count, float radius, std::int32_t maxDepth, std::int32_t leafSize,
               float leafLength, int threads = 1);

} // namespace velquin
