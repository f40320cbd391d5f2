// Bounding-volume hierarchy over metaballs that move linearly through one motion segment. Every
// box is stored at the segment start with its change over the segment, and moved to the ray's
// time on the fly, so one tree serves every time in [0, 1]. A crossed leaf becomes an interval
// carrying a MotionCache that moves the leaf's metaballs to the ray's time on first use.
//
// Built once per segment, then read-only and shared by every render thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "field/Evaluators.h"
#include "field/RayIntervals.h"

namespace velquin {

class BVHMLeaf;

// A leaf's metaballs at one ray's time. Lives in the collector's storage (interval payload:
// static_cast<MotionCache*>(interval->payload)) and goes with it; so do its arrays, which are
// allocated from the same storage once per cache, never per metaball or per sample.
//
// Filling is lazy and per array: the centres on the first evaluation of any form, the squared
// radii on the first sized one, the radii on the first that wants them. So a cache first used
// by a uniform call and later by a sized one (or a sized one without and later with radii) is
// still complete; every array is computed from the same inputs, so the values do not depend on
// which call came first. All calls for one cache must pass the same arrays and time (one ray's).
struct MotionCache {
    float* centres = nullptr; // 3 floats per metaball, moved to the time
    double* radiusSq = nullptr;
    double* radius = nullptr;
    std::int32_t count = 0;
    bool dirty = true; // centres not filled yet
    const BVHMLeaf* leaf = nullptr;
    IntervalCollector* storage = nullptr; // where the arrays come from

    // (positions, velocities) and (perBallRadius, radiusVelocities) are the segment's pairs.
    void evaluateUniform(const float* positions, const float* velocities, float time,
                         FieldMoving& evaluator);
    void evaluateUniformGrad(const float* positions, const float* velocities, float time,
                             FieldGradMoving& evaluator);
    void evaluateSized(const float* positions, const float* velocities, const double* perBallRadius,
                       const double* radiusVelocities, float time, FieldMoving& evaluator,
                       bool wantRadius);
    void evaluateSizedGrad(const float* positions, const float* velocities,
                           const double* perBallRadius, const double* radiusVelocities, float time,
                           FieldGradMoving& evaluator, bool wantRadius);

    // The filling steps, public so that they can be checked on their own.
    void fillCentres(const float* positions, const float* velocities, float time);
    void fillSizes(const double* perBallRadius, const double* radiusVelocities, float time,
                   bool wantRadius);
};

class BVHMNode {
public:
    // The box at the segment start, and how its faces move by the end.
    float min[3] = {1e20f, 1e20f, 1e20f};
    float max[3] = {-1e20f, -1e20f, -1e20f};
    float deltaMin[3] = {0.0f, 0.0f, 0.0f};
    float deltaMax[3] = {0.0f, 0.0f, 0.0f};

    virtual bool isBranch() const { return false; }
    // Adds one interval (with a fresh MotionCache) per leaf whose box at time the ray crosses.
    virtual void intersect(const TraversalRay& ray, IntervalCollector& collector,
                           float time) const = 0;
    virtual const BVHMNode* left() const { return nullptr; }
    virtual const BVHMNode* right() const { return nullptr; }
    virtual const std::int32_t* indices() const { return nullptr; }
    virtual std::int32_t count() const { return 0; }
    virtual ~BVHMNode() = default;

    // The box at time: min + deltaMin * time, max + deltaMax * time, in single precision.
    void boxAt(float time, float b0[3], float b1[3]) const {
        for (int a = 0; a < 3; ++a) {
            b0[a] = min[a] + deltaMin[a] * time;
            b1[a] = max[a] + deltaMax[a] * time;
        }
    }
};

class BVHMBranch : public BVHMNode {
public:
    std::unique_ptr<BVHMNode> leftChild;
    std::unique_ptr<BVHMNode> rightChild;

    bool isBranch() const override { return true; }
    void intersect(const TraversalRay& ray, IntervalCollector& collector,
                   float time) const override;
    const BVHMNode* left() const override { return leftChild.get(); }
    const BVHMNode* right() const override { return rightChild.get(); }
};

class BVHMLeaf : public BVHMNode {
public:
    std::vector<std::int32_t> items; // metaball numbers, in build order

    void intersect(const TraversalRay& ray, IntervalCollector& collector,
                   float time) const override;
    const std::int32_t* indices() const override { return items.data(); }
    std::int32_t count() const override { return static_cast<std::int32_t>(items.size()); }
};

// Replaces the tree in root by one over count moving metaballs. perBallRadius (plain radii at
// the segment start) and radiusVelocities travel together; perBallRadius null means the global
// radius for all (a null radiusVelocities beside radii counts as no change). The root is always
// a BVHMBranch at depth 1. Recursion is at most maxDepth deep.
void buildTree(std::unique_ptr<BVHMNode>& root, const float* positions, const float* velocities,
               const double* perBallRadius, const double* radiusVelocities, std::int32_t count,
               float radius, std::int32_t maxDepth, std::int32_t leafSize, float leafLength);

} // namespace velquin
