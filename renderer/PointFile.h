// Particle points from PLY files (ASCII or binary little-endian): the "vertex" element with
// x, y, z and optional radius, vx/vy/vz, red/green/blue (uchar 0..255 or float 0..1), id, age.
#pragma once

#include "platform/max/maxtypes.h"

#include <string>
#include <vector>

namespace velquin::renderer {

struct PointRecord {
    Point3 position;
    Point3 velocity; // scene units per frame
    float radius = 0.0f;
    Color color{1.0f, 1.0f, 1.0f};
    int id = 0;
    float age = 0.0f; // frames since birth
};

// Points by column, each kept only when the source gives it: a plain cloud of a million points
// is 12 MB rather than 48.
struct PointSet {
    std::vector<Point3> positions;
    std::vector<Point3> velocities; // with hasVelocity
    std::vector<float> radii;       // with hasRadius
    std::vector<Color> colors;      // with hasColor
    std::vector<int> ids;           // with hasId
    std::vector<float> ages;        // with hasAge
    bool hasRadius = false, hasVelocity = false, hasColor = false, hasId = false, hasAge = false;

    std::size_t size() const { return positions.size(); }
    // Point i whole: what the set does not hold takes the record's defaults, and the id is i.
    PointRecord at(std::size_t i) const;
    // Appends r to the columns the flags keep.
    void push_back(const PointRecord& r);
};

// Reads `path`; throws BadInput naming the file (and line or vertex) and what was expected.
PointSet readPly(const std::string& path);
// The same from bytes already in memory; `name` is used in messages.
PointSet parsePly(const std::string& bytes, const std::string& name);

} // namespace velquin::renderer
