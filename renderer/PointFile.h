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

struct PointSet {
    std::vector<PointRecord> points;
    bool hasRadius = false, hasVelocity = false, hasColor = false, hasId = false, hasAge = false;
};

// Reads `path`; throws BadInput naming the file (and line or vertex) and what was expected.
PointSet readPly(const std::string& path);
// The same from bytes already in memory; `name` is used in messages.
PointSet parsePly(const std::string& bytes, const std::string& name);

} // namespace velquin::renderer
