// The two gathering drivers and the script-filled tables: run every route into the working
// lists, then hand the caller arrays of the final size and leave the lists empty.
#include "render/Gather.h"

#include <cmath>
#include <new>

#include "object/ParamIds.h"
#include "raytrace/SideBySide.h"
#include "render/GatherRoutes.h"

namespace velquin {

namespace {

constexpr int kGrow = GatherBuffers::kGatherGrowth;

// A gathered value is usable when its square stays finite in single precision, |v| < 2^64. NaN
// and the infinities fail, and so do finite values so large that what a primitive forms from
// them (boxes p +- r, moving ends and box deltas, squared distances, weighted colour sums) could
// overflow into an infinity or a NaN. A NaN box face bounds nothing in the slab test, so one
// such metaball can stretch its leaf's interval over the whole ray and make every march step
// through all of it.
constexpr float kUsableLimit = 0x1p64f;

bool usable(float v) {
    return std::fabs(v) < kUsableLimit;
}

bool usable3(const Point3& p) {
    return usable(p.x) && usable(p.y) && usable(p.z);
}

void emptyLists(GatherBuffers& b) {
    b.positions.ZeroCount();
    b.positions.Shrink();
    b.displacements.ZeroCount();
    b.displacements.Shrink();
    b.sizes.ZeroCount();
    b.sizes.Shrink();
    b.sizeDeltas.ZeroCount();
    b.sizeDeltas.Shrink();
    b.colors.ZeroCount();
    b.colors.Shrink();
}

int tableCount(IParamBlock2* pblock, ParamID id) {
    int n = pblock->Count(id);
    return n > 0 ? n : 0;
}

// The outputs of one call, owned here until they are handed over.
struct Outputs {
    float* positions = nullptr;
    float* displacements = nullptr;
    double* sizes = nullptr;
    double* sizeDeltas = nullptr;
    float* colors = nullptr;
    void release() {
        delete[] positions;
        delete[] displacements;
        delete[] sizes;
        delete[] sizeDeltas;
        delete[] colors;
        *this = Outputs();
    }
};

// Whether metaball i reaches the outputs. Values that are not usable (above) and, with sizes, a
// size that is not above 0 at either end of the segment are left out here, in one place, for
// every route (mesh vertices, both particle routes, the scripted tables), so that a route only
// has to keep the lists parallel. Both are counted, the first as droppedNonFinite.
//
// Sizes: this is where the one rule for zero and negative sizes is decided. A metaball whose
// size is 0 or below (at the start or, moving, at the end of its segment) has no surface and is
// dropped; everything that reaches a primitive has a size above 0 throughout its segment (the
// end size is formed in double as the moving primitive forms it, and a linear size positive at
// both ends is positive between them). The evaluators see squared sizes only, so they cannot
// tell a negative size from a positive one; their skip of a squared size that is not above 0
// (field/Evaluators.cpp) guards the kernels' 0/0 for a zero size handed to them directly and
// never fires for gathered metaballs.
// What accept decided for one metaball.
enum class Verdict : std::uint8_t { Kept, NonFinite, NonPositiveSize };

Verdict accept(const GatherBuffers& b, int i, bool moving) {
    bool finite = usable3(b.positions[i]);
    if (moving)
        finite =
            finite && usable3(b.displacements[i]) && usable3(b.positions[i] + b.displacements[i]);
    double s0 = 0.0, s1 = 0.0;
    if (b.useScale) {
        s0 = static_cast<double>(b.sizes[i]);
        s1 = s0;
        finite = finite && usable(b.sizes[i]);
        if (moving) {
            finite = finite && usable(b.sizeDeltas[i]);
            s1 = s0 + static_cast<double>(b.sizeDeltas[i]);
            finite = finite && std::fabs(s1) < static_cast<double>(kUsableLimit);
        }
    }
    if (b.useColor)
        finite = finite && usable3(b.colors[i]);
    if (!finite)
        return Verdict::NonFinite;
    if (b.useScale) {
        if (!(s0 > 0.0) || !(s1 > 0.0))
            return Verdict::NonPositiveSize;
    }
    return Verdict::Kept;
}

// The verdicts on metaballs [from, to): keep[i] is 1 for the kept ones; the counts are added up.
struct Tally {
    std::int32_t kept = 0, nonFinite = 0, nonPositiveSize = 0;
};
Tally judge(const GatherBuffers& b, bool moving, int from, int to, std::uint8_t* keep) {
    Tally t;
    for (int i = from; i < to; ++i) {
        const Verdict v = accept(b, i, moving);
        keep[i] = v == Verdict::Kept ? 1 : 0;
        t.kept += keep[i];
        t.nonFinite += v == Verdict::NonFinite ? 1 : 0;
        t.nonPositiveSize += v == Verdict::NonPositiveSize ? 1 : 0;
    }
    return t;
}

// The kept metaballs among [from, to) into the outputs from place j on.
void copyKept(const GatherBuffers& b, bool moving, int from, int to, const std::uint8_t* keep,
              std::size_t j, Outputs& out) {
    for (int i = from; i < to; ++i) {
        if (!keep[i])
            continue;
        const Point3& p = b.positions[i];
        out.positions[3 * j] = p.x;
        out.positions[3 * j + 1] = p.y;
        out.positions[3 * j + 2] = p.z;
        if (moving) {
            const Point3& d = b.displacements[i];
            out.displacements[3 * j] = d.x;
            out.displacements[3 * j + 1] = d.y;
            out.displacements[3 * j + 2] = d.z;
        }
        if (b.useScale) {
            out.sizes[j] = static_cast<double>(b.sizes[i]);
            if (moving)
                out.sizeDeltas[j] = static_cast<double>(b.sizeDeltas[i]);
        }
        if (b.useColor) {
            const Point3& c = b.colors[i];
            out.colors[3 * j] = c.x;
            out.colors[3 * j + 1] = c.y;
            out.colors[3 * j + 2] = c.z;
        }
        ++j;
    }
}

// Copies the accepted metaballs into arrays of the final size. False when memory runs out (the
// outputs are then all null). With threads to spare, a large gathering is judged and copied in
// two halves at once, the second half's place following the first half's count.
bool copyOut(GatherBuffers& b, bool moving, std::int32_t& count, Outputs& out) {
    int n = b.positions.Count();
    // The lists are parallel by construction; never read past the shortest used one.
    if (moving && b.displacements.Count() < n)
        n = b.displacements.Count();
    if (b.useScale && b.sizes.Count() < n)
        n = b.sizes.Count();
    if (b.useScale && moving && b.sizeDeltas.Count() < n)
        n = b.sizeDeltas.Count();
    if (b.useColor && b.colors.Count() < n)
        n = b.colors.Count();

    // First pass: decide (the counters are bumped once per dropped metaball).
    std::uint8_t* keep = new (std::nothrow) std::uint8_t[static_cast<size_t>(n) + 1];
    if (!keep)
        return false;
    const bool halves = b.threads >= 2 && static_cast<std::size_t>(n) >= kParallelMinimum;
    const int half = n / 2;
    Tally first, second;
    if (!halves || !runSideBySide([&] { second = judge(b, moving, half, n, keep); },
                                  [&] { first = judge(b, moving, 0, half, keep); })) {
        first = judge(b, moving, 0, n, keep);
        second = Tally();
    }
    const int kept = first.kept + second.kept;
    b.droppedNonFinite += first.nonFinite + second.nonFinite;
    b.droppedNonPositiveSize += first.nonPositiveSize + second.nonPositiveSize;

    const size_t k = static_cast<size_t>(kept);
    out.positions = new (std::nothrow) float[3 * k];
    bool ok = out.positions != nullptr;
    if (moving) {
        out.displacements = new (std::nothrow) float[3 * k];
        ok = ok && out.displacements;
    }
    if (b.useScale) {
        out.sizes = new (std::nothrow) double[k];
        ok = ok && out.sizes;
        if (moving) {
            out.sizeDeltas = new (std::nothrow) double[k];
            ok = ok && out.sizeDeltas;
        }
    }
    if (b.useColor) {
        out.colors = new (std::nothrow) float[3 * k];
        ok = ok && out.colors;
    }
    if (!ok) {
        delete[] keep;
        out.release();
        return false;
    }

    const auto firstKept = static_cast<std::size_t>(first.kept);
    if (!halves || !runSideBySide([&] { copyKept(b, moving, half, n, keep, firstKept, out); },
                                  [&] { copyKept(b, moving, 0, half, keep, 0, out); }))
        copyKept(b, moving, 0, n, keep, 0, out);
    delete[] keep;
    count = kept;
    return true;
}

// The shared driver: routes, then the copy. Running out of memory anywhere (the lists grow
// through the standard library) ends the call with null outputs and empty lists.
template <class Routes>
bool runGather(GatherBuffers& b, bool useScale, bool useColor, bool moving, std::int32_t& count,
               Outputs& out, Routes&& routes) {
    b.useScale = useScale ? 1 : 0;
    b.useColor = useColor ? 1 : 0;
    b.droppedNonFinite = 0;
    b.droppedNonPositiveSize = 0;
    count = 0;
    out = Outputs();
    bool ok = false;
    try {
        routes();
        ok = copyOut(b, moving, count, out);
    } catch (const std::bad_alloc&) {
        out.release();
        ok = false;
    }
    if (!ok)
        count = 0;
    emptyLists(b);
    return ok;
}

} // namespace

void gatherScriptedMetaballs(GatherBuffers& b, IParamBlock2* pblock, TimeValue t) {
    const int m = tableCount(pblock, pb_metaballs);
    const int ns = tableCount(pblock, pb_metaballSizes);
    const int nc = tableCount(pblock, pb_colors);
    const Point3 black(0.0f, 0.0f, 0.0f);
    for (int j = 0; j < m; ++j) {
        Point3 p = pblock->GetPoint3(pb_metaballs, t, j);
        b.positions.Append(1, &p, kGrow);
        if (b.useScale) {
            float s = j < ns ? pblock->GetFloat(pb_metaballSizes, t, j) : b.baseSize;
            b.sizes.Append(1, &s, kGrow);
        }
        if (b.useColor) {
            Point3 c = j < nc ? pblock->GetPoint3(pb_colors, t, j) : black;
            b.colors.Append(1, &c, kGrow);
        }
    }
}

void gatherScriptedMetaballsMoving(GatherBuffers& b, IParamBlock2* pblock, TimeValue t0,
                                   TimeValue t1) {
    const int m = tableCount(pblock, pb_metaballs);
    const int ns = tableCount(pblock, pb_metaballSizes);
    const int nc = tableCount(pblock, pb_colors);
    const Point3 black(0.0f, 0.0f, 0.0f);
    for (int j = 0; j < m; ++j) {
        Point3 p0 = pblock->GetPoint3(pb_metaballs, t0, j);
        Point3 d = pblock->GetPoint3(pb_metaballs, t1, j) - p0;
        b.positions.Append(1, &p0, kGrow);
        b.displacements.Append(1, &d, kGrow);
        if (b.useScale) {
            float s0 = b.baseSize;
            float ds = b.defaultSizeDelta;
            if (j < ns) {
                s0 = pblock->GetFloat(pb_metaballSizes, t0, j);
                ds = pblock->GetFloat(pb_metaballSizes, t1, j) - s0;
            }
            b.sizes.Append(1, &s0, kGrow);
            b.sizeDeltas.Append(1, &ds, kGrow);
        }
        if (b.useColor) {
            Point3 c = j < nc ? pblock->GetPoint3(pb_colors, t0, j) : black;
            b.colors.Append(1, &c, kGrow);
        }
    }
}

bool gatherStatic(GatherBuffers& buffers, bool useScale, bool useColor, std::int32_t& count,
                  float*& positions, double*& sizes, float*& colors, IParamBlock2* pblock,
                  TimeValue t) {
    Outputs out;
    bool ok = runGather(buffers, useScale, useColor, false, count, out, [&] {
        if (!pblock)
            return;
        const int n = tableCount(pblock, pb_nodes);
        for (int i = 0; i < n; ++i) {
            INode* node = pblock->GetINode(pb_nodes, t, i);
            if (!node)
                continue;
            if (gatherNodeMesh(buffers, node, t))
                continue;
            Object* obj = node->EvalWorldState(t).obj;
            if (obj && obj->IsParticleSystem()) {
                if (!gatherSimpleParticles(buffers, node, t))
                    gatherFlowParticles(buffers, node, pblock, t);
            }
        }
        gatherScriptedMetaballs(buffers, pblock, t);
    });
    positions = out.positions;
    sizes = out.sizes;
    colors = out.colors;
    return ok;
}

bool gatherMoving(GatherBuffers& buffers, bool useScale, bool useColor, std::int32_t& count,
                  float*& positions, float*& displacements, double*& sizes, double*& sizeDeltas,
                  float*& colors, IParamBlock2* pblock, TimeValue t0, TimeValue t1) {
    Outputs out;
    bool ok = runGather(buffers, useScale, useColor, true, count, out, [&] {
        if (!pblock)
            return;
        const int n = tableCount(pblock, pb_nodes);
        for (int i = 0; i < n; ++i) {
            INode* node = pblock->GetINode(pb_nodes, t0, i);
            if (!node)
                continue;
            if (gatherNodeMeshMoving(buffers, node, t0, t1))
                continue;
            Object* obj = node->EvalWorldState(t0).obj;
            if (obj && obj->IsParticleSystem()) {
                if (!gatherSimpleParticlesMoving(buffers, node, t0, t1))
                    gatherFlowParticlesMoving(buffers, node, pblock, t0, t1);
            }
        }
        gatherScriptedMetaballsMoving(buffers, pblock, t0, t1);
    });
    positions = out.positions;
    displacements = out.displacements;
    sizes = out.sizes;
    sizeDeltas = out.sizeDeltas;
    colors = out.colors;
    return ok;
}

} // namespace velquin
