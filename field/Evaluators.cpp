#include "field/Evaluators.h"

#include <cmath>

namespace velquin {

namespace {

// A metaball contributes when d^2 <= R^2, so one exactly at its radius is still evaluated (and
// adds 0). A squared radius of 0 or below is skipped: only a point exactly at the centre of a
// zero-size metaball could pass the distance test, and its kernel would be 0/0. The extra compare
// costs nothing next to the kernel call it guards, and it never changes a sum of sound metaballs.
inline bool reaches(double distSq, double radiusSq) {
    return distSq <= radiusSq && radiusSq > 0.0;
}

// Colour lookups of the moving evaluators read the frame's colour array by the metaball's index;
// an index outside [0, colorCount) has no colour to read, so it adds neither weight nor colour
// (the unsigned compare rejects negative indices too).
inline bool hasColor(std::int32_t index, std::int32_t colorCount) {
    return static_cast<std::uint32_t>(index) < static_cast<std::uint32_t>(colorCount);
}

// Single-precision weighted add of a 3-float vector: the weight is narrowed to float first.
inline void addWeighted(float* acc, const float* v, double w) {
    float wf = static_cast<float>(w);
    acc[0] = acc[0] + v[0] * wf;
    acc[1] = acc[1] + v[1] * wf;
    acc[2] = acc[2] + v[2] * wf;
}

inline void setFourPoints(float points[4][3], const float p[3]) {
    for (int j = 0; j < 4; ++j) {
        points[j][0] = p[0];
        points[j][1] = p[1];
        points[j][2] = p[2];
    }
    points[1][0] = p[0] - kGradientOffset;
    points[2][1] = p[1] - kGradientOffset;
    points[3][2] = p[2] - kGradientOffset;
}

// Colour gathered at the first gradient point by the two moving four-point classes.
inline void gatherColor(FieldGradMoving& e, std::int32_t index, double radiusSq, double distSq) {
    if (e.colors == nullptr || !hasColor(index, e.colorCount)) {
        return;
    }
    double cw = e.colorKernel(radiusSq, distSq);
    e.colorWeightSum += cw;
    addWeighted(e.colorSum, e.colors + 3 * static_cast<std::int64_t>(index), cw);
}

} // namespace

// ---- Summed field -------------------------------------------------------------------------------

void Field::accumulate(const std::int32_t* indices, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
        std::int64_t k = indices[i];
        double r2 = perBallRadiusSq != nullptr ? perBallRadiusSq[k] : radiusSq;
        double d2 = distanceSq(positions + 3 * k, point);
        if (reaches(d2, r2)) {
            ++reached;
            sum += kernel(r2, d2);
        }
    }
}

void FieldColor::accumulate(const std::int32_t* indices, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
        std::int64_t k = indices[i];
        double r2 = perBallRadiusSq != nullptr ? perBallRadiusSq[k] : radiusSq;
        double d2 = distanceSq(positions + 3 * k, point);
        if (reaches(d2, r2)) {
            double w = kernel(r2, d2);
            sum += w;
            addWeighted(colorSum, colors + 3 * k, w);
        }
    }
}

void FieldGrad::setPoints(const float p[3]) {
    setFourPoints(points, p);
}

void FieldGrad::accumulate(const std::int32_t* indices, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
        std::int64_t k = indices[i];
        double r2 = perBallRadiusSq != nullptr ? perBallRadiusSq[k] : radiusSq;
        const float* c = positions + 3 * k;
        for (int j = 0; j < 4; ++j) {
            double d2 = distanceSq(c, points[j]);
            if (reaches(d2, r2)) {
                sums[j] += kernel(r2, d2);
            }
        }
    }
}

void FieldMoving::accumulateSized(const float* centres, const double* radiusSqs,
                                  const double* /*radius*/, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
        double r2 = radiusSqs[i];
        double d2 = distanceSq(centres + 3 * static_cast<std::int64_t>(i), point);
        if (reaches(d2, r2)) {
            ++reached;
            sum += kernel(r2, d2);
        }
    }
}

void FieldMoving::accumulateUniform(const float* centres, std::int32_t count) {
    double r2 = radiusSq;
    for (std::int32_t i = 0; i < count; ++i) {
        double d2 = distanceSq(centres + 3 * static_cast<std::int64_t>(i), point);
        if (reaches(d2, r2)) {
            ++reached;
            sum += kernel(r2, d2);
        }
    }
}

void FieldGradMoving::setPoints(const float p[3]) {
    setFourPoints(points, p);
}

void FieldGradMoving::accumulateSized(const float* centres, const double* radiusSqs,
                                      const double* /*radius*/, const std::int32_t* indices,
                                      std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
        double r2 = radiusSqs[i];
        const float* c = centres + 3 * static_cast<std::int64_t>(i);
        for (int j = 0; j < 4; ++j) {
            double d2 = distanceSq(c, points[j]);
            if (reaches(d2, r2)) {
                sums[j] += kernel(r2, d2);
                if (j == 0) {
                    gatherColor(*this, indices[i], r2, d2);
                }
            }
        }
    }
}

void FieldGradMoving::accumulateUniform(const float* centres, const std::int32_t* indices,
                                        std::int32_t count) {
    double r2 = radiusSq;
    for (std::int32_t i = 0; i < count; ++i) {
        const float* c = centres + 3 * static_cast<std::int64_t>(i);
        for (int j = 0; j < 4; ++j) {
            double d2 = distanceSq(c, points[j]);
            if (reaches(d2, r2)) {
                sums[j] += kernel(r2, d2);
                if (j == 0) {
                    gatherColor(*this, indices[i], r2, d2);
                }
            }
        }
    }
}

// ---- Average distance: gathering ----------------------------------------------------------------
// The per-metaball array of the static average classes holds radii, squared here in double.

void FieldAvg::accumulate(const std::int32_t* indices, std::int32_t count) {
    const double* radii = perBallRadiusSq;
    for (std::int32_t i = 0; i < count; ++i) {
        std::int64_t k = indices[i];
        double r = radii != nullptr ? radii[k] : 0.0;
        double r2 = radii != nullptr ? r * r : radiusSq;
        const float* c = positions + 3 * k;
        double d2 = distanceSq(c, point);
        if (reaches(d2, r2)) {
            ++reached;
            double w = kernel(r2, d2);
            addWeighted(weightedCentre, c, w);
            weightSum += w;
            if (radii != nullptr) {
                weightedRadius += w * r;
            }
        }
    }
}

void FieldGradAvg::accumulate(const std::int32_t* indices, std::int32_t count) {
    const double* radii = perBallRadiusSq;
    for (std::int32_t i = 0; i < count; ++i) {
        std::int64_t k = indices[i];
        double r = radii != nullptr ? radii[k] : 0.0;
        double r2 = radii != nullptr ? r * r : radiusSq;
        const float* c = positions + 3 * k;
        for (int j = 0; j < 4; ++j) {
            double d2 = distanceSq(c, points[j]);
            if (reaches(d2, r2)) {
                double w = kernel(r2, d2);
                addWeighted(weightedCentre[j], c, w);
                weightSum[j] += w;
                if (radii != nullptr) {
                    weightedRadius[j] += w * r;
                }
            }
        }
    }
}

void FieldMovingAvg::accumulateSized(const float* centres, const double* radiusSqs,
                                     const double* radius, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
        double r2 = radiusSqs[i];
        const float* c = centres + 3 * static_cast<std::int64_t>(i);
        double d2 = distanceSq(c, point);
        if (reaches(d2, r2)) {
            ++reached;
            double w = kernel(r2, d2);
            addWeighted(weightedCentre, c, w);
            weightSum += w;
            weightedRadius += w * radius[i];
        }
    }
}

void FieldMovingAvg::accumulateUniform(const float* centres, std::int32_t count) {
    double r2 = radiusSq;
    for (std::int32_t i = 0; i < count; ++i) {
        const float* c = centres + 3 * static_cast<std::int64_t>(i);
        double d2 = distanceSq(c, point);
        if (reaches(d2, r2)) {
            ++reached;
            double w = kernel(r2, d2);
            addWeighted(weightedCentre, c, w);
            weightSum += w;
        }
    }
}

void FieldGradMovingAvg::accumulateSized(const float* centres, const double* radiusSqs,
                                         const double* radius, const std::int32_t* indices,
                                         std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
        double r2 = radiusSqs[i];
        const float* c = centres + 3 * static_cast<std::int64_t>(i);
        for (int j = 0; j < 4; ++j) {
            double d2 = distanceSq(c, points[j]);
            if (reaches(d2, r2)) {
                double w = kernel(r2, d2);
                addWeighted(weightedCentre[j], c, w);
                weightSum[j] += w;
                weightedRadius[j] += w * radius[i];
                if (j == 0) {
                    gatherColor(*this, indices[i], r2, d2);
                }
            }
        }
    }
}

void FieldGradMovingAvg::accumulateUniform(const float* centres, const std::int32_t* indices,
                                           std::int32_t count) {
    double r2 = radiusSq;
    for (std::int32_t i = 0; i < count; ++i) {
        const float* c = centres + 3 * static_cast<std::int64_t>(i);
        for (int j = 0; j < 4; ++j) {
            double d2 = distanceSq(c, points[j]);
            if (reaches(d2, r2)) {
                double w = kernel(r2, d2);
                addWeighted(weightedCentre[j], c, w);
                weightSum[j] += w;
                if (j == 0) {
                    gatherColor(*this, indices[i], r2, d2);
                }
            }
        }
    }
}

// ---- Average distance: value --------------------------------------------------------------------

double averageValueAt(const float p[3], const float weightedCentre[3], double weightSum,
                      double weightedRadius, const AverageSettings& s) {
    const double w = weightSum;
    // No weight: the average centre and radius do not exist (0/0). The point reads as outside.
    if (!(w > 0.0)) {
        return kEmptyAverageValue;
    }

    double averageRadius = s.sized ? weightedRadius / w : s.radius;
    float rf = static_cast<float>(averageRadius);

    // Shrink the radius where the total weight is small; only while the weight is below the
    // global radius value.
    if (s.radius > w) {
        double smooth;
        double span = 1.0 - s.cutoff;
        if (span == 0.0) {
            // cutoff 1 leaves no band to blend across: the factor becomes a hard step at the
            // trim weight instead of 0/0.
            smooth = (w / s.trim >= s.cutoff) ? 1.0 : 0.0;
        } else {
            double u = (w / s.trim - s.cutoff) / span;
            if (u < 0.0) {
                smooth = 0.0;
            } else if (u > 1.0) {
                smooth = 1.0;
            } else {
                smooth = (3.0 - 2.0 * u) * (u * u);
            }
        }
        rf = static_cast<float>(static_cast<double>(rf) * smooth);
    }

    float wf = static_cast<float>(w);
    float cx = weightedCentre[0] / wf;
    float cy = weightedCentre[1] / wf;
    float cz = weightedCentre[2] / wf;
    float dx = p[0] - cx;
    float dy = p[1] - cy;
    float dz = p[2] - cz;
    float dist = std::sqrt((dx * dx + dy * dy) + dz * dz);
    double value = static_cast<double>(rf - dist);

    // A weight sum that is positive but degenerate (cancelling or far below float range) can still
    // overflow the averages; such a point counts as unweighted rather than letting a NaN or an
    // infinity reach the marcher.
    if (!std::isfinite(value)) {
        return kEmptyAverageValue;
    }
    return value;
}

void averageSurfaceValue(FieldAvg& e, const AverageSettings& s) {
    e.sum = averageValueAt(e.point, e.weightedCentre, e.weightSum, e.weightedRadius, s);
}

void averageSurfaceValue(FieldMovingAvg& e, const AverageSettings& s) {
    e.sum = averageValueAt(e.point, e.weightedCentre, e.weightSum, e.weightedRadius, s);
}

void averageSurfaceValue(FieldGradAvg& e, const AverageSettings& s) {
    for (int j = 0; j < 4; ++j) {
        e.sums[j] = averageValueAt(e.points[j], e.weightedCentre[j], e.weightSum[j],
                                   e.weightedRadius[j], s);
    }
}

void averageSurfaceValue(FieldGradMovingAvg& e, const AverageSettings& s) {
    for (int j = 0; j < 4; ++j) {
        e.sums[j] = averageValueAt(e.points[j], e.weightedCentre[j], e.weightSum[j],
                                   e.weightedRadius[j], s);
    }
}

} // namespace velquin
