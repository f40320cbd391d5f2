// The build rule both metaball hierarchies follow (still boxes, and moving boxes with time
// added): split at the middle of the longest side, force halves when one side would be empty,
// and stop at a leaf by depth, size and extent.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velquin {

// The longest side of extents e; ties go to the lower-numbered axis.
inline int longestAxis(const float e[3]) {
    int axis = std::fabs(e[1]) > std::fabs(e[0]) ? 1 : 0;
    if (std::fabs(e[2]) > std::fabs(e[axis])) {
        axis = 2;
    }
    return axis;
}

// When either side of a split is empty, the split is forced: left takes the first floor(n/2)
// entries of list in list order, right the rest. Returns whether it was forced.
inline bool forceSplitIfEmpty(const std::vector<std::int32_t>& list,
                              std::vector<std::int32_t>& left, std::vector<std::int32_t>& right) {
    if (!left.empty() && !right.empty()) {
        return false;
    }
    const auto half = static_cast<std::ptrdiff_t>(list.size() / 2);
    left.assign(list.begin(), list.begin() + half);
    right.assign(list.begin() + half, list.end());
    return true;
}

// A side of m metaballs under a node at depth d whose longest side is extent becomes a leaf at
// the depth limit, after a forced split, or when it is small (fewer than leafSize) and either
// short (extent below leafLength) or sized (per-metaball radii drop the length test).
inline bool becomesLeaf(std::int32_t maxDepth, std::int32_t d, float extent, float leafLength,
                        bool sized, std::size_t m, std::int32_t leafSize, bool forced) {
    const bool small = (extent < leafLength || sized) && static_cast<std::int64_t>(m) < leafSize;
    return maxDepth <= d || small || forced;
}

} // namespace velquin
