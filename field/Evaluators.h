// Field evaluators: small accumulators that live on the caller's stack. The caller sets the query
// point(s), radius, kernel(s) and array pointers, hands over one batch of metaballs per active
// hierarchy leaf, then reads the sums. They never own the arrays they read.
#pragma once

#include <cstdint>

#include "field/Kernels.h"

namespace velquin {

// The offset of the three gradient samples: 0.001f, in scene units.
inline constexpr float kGradientOffset = 0.001f;

// Summed field at one point over static metaballs (indices into the frame's arrays).
class Field {
public:
    double sum = 0.0;
    float point[3] = {0.0f, 0.0f, 0.0f};
    double radiusSq = 0.0; // global R^2, used without perBallRadiusSq
    FalloffKernel kernel = nullptr;
    const float* positions = nullptr;        // 3 floats per metaball
    const double* perBallRadiusSq = nullptr; // squared sizes, or null (radii for FieldAvg)
    std::int64_t reached = 0;                // metaballs within reach so far (statistics)

    virtual ~Field() = default;
    virtual void accumulate(const std::int32_t* indices, std::int32_t count);
    void setPoint(const float p[3]) {
        point[0] = p[0];
        point[1] = p[1];
        point[2] = p[2];
    }
};

// Summed colour weights (with the colour kernel) and the weighted colour sum.
class FieldColor : public Field {
public:
    const float* colors = nullptr; // 3 floats per metaball
    float colorSum[3] = {0.0f, 0.0f, 0.0f};

    void accumulate(const std::int32_t* indices, std::int32_t count) override;
};

// Summed field at four points: p and p minus the gradient offset along x, y and z.
class FieldGrad {
public:
    double sums[4] = {0.0, 0.0, 0.0, 0.0};
    float points[4][3] = {};
    double radiusSq = 0.0;
    FalloffKernel kernel = nullptr;
    const float* positions = nullptr;
    const double* perBallRadiusSq = nullptr;

    virtual ~FieldGrad() = default;
    virtual void accumulate(const std::int32_t* indices, std::int32_t count);
    // points[0] = p, points[1..3] = p - offset along x, y, z (single precision).
    void setPoints(const float p[3]);
};

// Summed field at one point over metaballs already moved to the query time.
class FieldMoving {
public:
    double sum = 0.0;
    float point[3] = {0.0f, 0.0f, 0.0f};
    double radiusSq = 0.0; // global R^2 for the uniform form
    FalloffKernel kernel = nullptr;
    std::int64_t reached = 0; // metaballs within reach so far (statistics)

    virtual ~FieldMoving() = default;
    // Slot 0: per-metaball squared radii (radius is read only by the average classes).
    virtual void accumulateSized(const float* centres, const double* radiusSq, const double* radius,
                                 std::int32_t count);
    // Slot 1: every metaball has the global radius.
    virtual void accumulateUniform(const float* centres, std::int32_t count);
    void setPoint(const float p[3]) {
        point[0] = p[0];
        point[1] = p[1];
        point[2] = p[2];
    }
};

// Four-point summed field over moved metaballs; also blends colour at the first point.
class FieldGradMoving {
public:
    const float* colors = nullptr; // frame colours (3 floats per metaball), or null
    std::int32_t colorCount = 0;   // metaballs that have a colour; later indices add no colour
    float colorSum[3] = {0.0f, 0.0f, 0.0f};
    double colorWeightSum = 0.0;
    double sums[4] = {0.0, 0.0, 0.0, 0.0};
    float points[4][3] = {};
    double radiusSq = 0.0;
    FalloffKernel kernel = nullptr;
    FalloffKernel colorKernel = nullptr;

    virtual ~FieldGradMoving() = default;
    virtual void accumulateSized(const float* centres, const double* radiusSq, const double* radius,
                                 const std::int32_t* indices, std::int32_t count);
    virtual void accumulateUniform(const float* centres, const std::int32_t* indices,
                                   std::int32_t count);
    void setPoints(const float p[3]);
};

// Average-distance classes: kernel-weighted average centre and radius. The base sum(s) receive
// the value written by averageSurfaceValue.
class FieldAvg : public Field {
public:
    float weightedCentre[3] = {0.0f, 0.0f, 0.0f};
    double weightSum = 0.0;
    double weightedRadius = 0.0;
    void accumulate(const std::int32_t* indices, std::int32_t count) override;
};

class FieldGradAvg : public FieldGrad {
public:
    float weightedCentre[4][3] = {};
    double weightSum[4] = {0.0, 0.0, 0.0, 0.0};
    double weightedRadius[4] = {0.0, 0.0, 0.0, 0.0};
    void accumulate(const std::int32_t* indices, std::int32_t count) override;
};

class FieldMovingAvg : public FieldMoving {
public:
    float weightedCentre[3] = {0.0f, 0.0f, 0.0f};
    double weightSum = 0.0;
    double weightedRadius = 0.0;
    void accumulateSized(const float* centres, const double* radiusSq, const double* radius,
                         std::int32_t count) override;
    void accumulateUniform(const float* centres, std::int32_t count) override;
};

class FieldGradMovingAvg : public FieldGradMoving {
public:
    float weightedCentre[4][3] = {};
    double weightSum[4] = {0.0, 0.0, 0.0, 0.0};
    double weightedRadius[4] = {0.0, 0.0, 0.0, 0.0};
    // frameColorCount bounds the colour lookups exactly as colorCount does in the base class.
    explicit FieldGradMovingAvg(const float* frameColors = nullptr,
                                std::int32_t frameColorCount = 0) {
        colors = frameColors;
        colorCount = frameColorCount;
    }
    void accumulateSized(const float* centres, const double* radiusSq, const double* radius,
                         const std::int32_t* indices, std::int32_t count) override;
    void accumulateUniform(const float* centres, const std::int32_t* indices,
                           std::int32_t count) override;
};

// The average-surface value of a point that no metaball weights (weight sum 0 or below, or a
// degenerate sum whose average is not finite). The averages are undefined there; a large finite
// negative keeps the point outside for any threshold, also after the texture scales it by a factor
// up to 1 or subtracts from it, and lets no NaN or infinity reach the ray marcher.
inline constexpr double kEmptyAverageValue = -1e30;

// The settings averageSurfaceValue reads from the primitive.
struct AverageSettings {
    double radius = 20.0; // global radius, not squared
    double cutoff = 0.5;
    double trim = 0.6499999761581421;
    bool sized = false; // per-metaball radii present
};

// Value of the average-distance surface at p from one point's sums.
double averageValueAt(const float p[3], const float weightedCentre[3], double weightSum,
                      double weightedRadius, const AverageSettings& s);

// One-point classes write the value into sum; four-point classes into sums[0..3].
void averageSurfaceValue(FieldAvg& e, const AverageSettings& s);
void averageSurfaceValue(FieldMovingAvg& e, const AverageSettings& s);
void averageSurfaceValue(FieldGradAvg& e, const AverageSettings& s);
void averageSurfaceValue(FieldGradMovingAvg& e, const AverageSettings& s);

} // namespace velquin
