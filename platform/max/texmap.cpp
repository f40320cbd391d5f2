#include "platform/max/texmap.h"

#include <cmath>

// ---- ShadeContext ----

Point3 ShadeContext::ReflectVector() {
    Point3 v = V();
    Point3 n = Normal();
    return v - n * (2.0f * DotProd(n, v));
}

Point3 ShadeContext::RefractVector(float ior) {
    Point3 v = V();
    Point3 n = Normal();
    float cosi = -DotProd(n, v);
    float eta = backFace ? ior : 1.0f / ior;
    float k = 1.0f - eta * eta * (1.0f - cosi * cosi);
    if (k < 0.0f)
        return ReflectVector();
    return v * eta + n * (eta * cosi - std::sqrt(k));
}

Point3 ShadeContext::PObjRelBox() {
    Box3 b = ObjectBox();
    Point3 p = PObj();
    if (b.IsEmpty())
        return Point3(0.0f, 0.0f, 0.0f);
    Point3 r;
    for (int i = 0; i < 3; ++i) {
        float ext = b.pmax[i] - b.pmin[i];
        // A flat box maps its one plane to the middle rather than dividing by zero.
        r[i] = ext > 0.0f ? 2.0f * (p[i] - b.pmin[i]) / ext - 1.0f : 0.0f;
    }
    return r;
}

AColor ShadeContext::EvalEnvironMap(Texmap* map, Point3 view) {
    if (!map)
        return AColor(0.0f, 0.0f, 0.0f, 0.0f);
    Point3 old = V();
    SetView(view);
    AColor c = map->EvalColor(*this);
    SetView(old);
    return c;
}

Point3 ShadeContext::VectorToNoScale(const Point3& p, RefFrame ito) {
    float len = Length(p);
    Point3 v = VectorTo(p, ito);
    float l = Length(v);
    return l > 0.0f ? v * (len / l) : v;
}

Point3 ShadeContext::VectorFromNoScale(const Point3& p, RefFrame ifrom) {
    float len = Length(p);
    Point3 v = VectorFrom(p, ifrom);
    float l = Length(v);
    return l > 0.0f ? v * (len / l) : v;
}

Color ShadeContext::DiffuseIllum() {
    Color sum(0.0f, 0.0f, 0.0f);
    Point3 n = Normal();
    for (int i = 0; i < nLights; ++i) {
        LightDesc* l = Light(i);
        if (!l)
            continue;
        Color c;
        Point3 dir;
        float dotNL = 0.0f, diff = 0.0f;
        if (!l->Illuminate(*this, n, c, dir, dotNL, diff))
            continue;
        sum.r += c.r * diff;
        sum.g += c.g * diff;
        sum.b += c.b * diff;
    }
    return sum;
}

// ---- Texmap ----

void Texmap::Update(TimeValue t, Interval& valid) {
    // The built-in maps are not animated: their result holds for every time, so `valid` is left
    // as the caller narrowed it.
    (void)valid;
    ++updateCount_;
    lastUpdate_ = t;
}

namespace {

// Clamp to [0, 1]; a NaN (0/0 of a degenerate ramp, or a NaN point) reads as 0.
inline float clamp01(float v) {
    if (!(v > 0.0f))
        return 0.0f;
    return v > 1.0f ? 1.0f : v;
}

} // namespace

float ConstantTexmap::EvalMono(ShadeContext& sc) {
    (void)sc;
    return value_;
}

ReferenceTarget* ConstantTexmap::Clone(RemapDir& remap) {
    auto* m = new ConstantTexmap(value_);
    BaseClone(this, m, remap);
    return m;
}

GradientTexmap::GradientTexmap(int axis, float from, float to)
    : axis_(axis < 0 ? 0 : (axis > 2 ? 2 : axis)), from_(from), to_(to) {}

float GradientTexmap::EvalMono(ShadeContext& sc) {
    Point3 p = sc.P();
    // Single precision throughout. With from == to the ramp degenerates into a step at `from`
    // (+inf above, -inf below, NaN on it), which the clamp turns into 1 above and 0 elsewhere.
    float v = (p[axis_] - from_) / (to_ - from_);
    return clamp01(v);
}

ReferenceTarget* GradientTexmap::Clone(RemapDir& remap) {
    auto* m = new GradientTexmap(axis_, from_, to_);
    BaseClone(this, m, remap);
    return m;
}

NoiseTexmap::NoiseTexmap(float size, int levels, float low, float high, std::uint32_t seed)
    : size_(size > 0.0f ? size : 1.0f), levels_(levels < 1 ? 1 : levels), low_(low), high_(high),
      seed_(seed) {
    // Fisher-Yates shuffle driven by a fixed xorshift generator, so that a seed gives the same
    // pattern on every platform (std::shuffle's use of the engine is not fixed by the library).
    unsigned char p[256];
    for (int i = 0; i < 256; ++i)
        p[i] = static_cast<unsigned char>(i);
    std::uint32_t s = seed * 2654435761u + 0x9e3779b9u;
    if (s == 0)
        s = 1;
    for (int i = 255; i > 0; --i) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        int j = static_cast<int>(s % static_cast<std::uint32_t>(i + 1));
        unsigned char tmp = p[i];
        p[i] = p[j];
        p[j] = tmp;
    }
    for (int i = 0; i < 512; ++i)
        perm_[i] = p[i & 255];
}

namespace {

inline double fade(double t) {
    return t * t * t * (t * (t * 6.0 - 15.0) + 10.0);
}
inline double lerp(double t, double a, double b) {
    return a + t * (b - a);
}
// Dot product with one of twelve cube-edge gradient directions.
inline double grad(int hash, double x, double y, double z) {
    int h = hash & 15;
    double u = h < 8 ? x : y;
    double v = h < 4 ? y : (h == 12 || h == 14 ? x : z);
    return ((h & 1) == 0 ? u : -u) + ((h & 2) == 0 ? v : -v);
}
// The lattice cell index of a whole coordinate, wrapped to the 256-entry table (f mod 256, taken
// non-negative); 0 for values that are not finite. Within 2^62 the two's-complement low byte of
// the integer is that remainder; beyond, fmod of a whole double is exact.
inline int cell(double f) {
    if (!std::isfinite(f))
        return 0;
    if (std::fabs(f) < 0x1p62)
        return static_cast<int>(static_cast<std::int64_t>(f) & 255);
    double m = std::fmod(f, 256.0);
    if (m < 0.0)
        m += 256.0;
    return static_cast<int>(m) & 255;
}

} // namespace

double NoiseTexmap::Noise(double x, double y, double z) const {
    double fx = std::floor(x), fy = std::floor(y), fz = std::floor(z);
    int X = cell(fx), Y = cell(fy), Z = cell(fz);
    x -= fx;
    y -= fy;
    z -= fz;
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z))
        return 0.0;
    double u = fade(x), v = fade(y), w = fade(z);
    const unsigned char* P = perm_;
    int A = P[X] + Y, AA = P[A] + Z, AB = P[A + 1] + Z;
    int B = P[X + 1] + Y, BA = P[B] + Z, BB = P[B + 1] + Z;
    return lerp(
        w,
        lerp(v, lerp(u, grad(P[AA], x, y, z), grad(P[BA], x - 1, y, z)),
             lerp(u, grad(P[AB], x, y - 1, z), grad(P[BB], x - 1, y - 1, z))),
        lerp(v, lerp(u, grad(P[AA + 1], x, y, z - 1), grad(P[BA + 1], x - 1, y, z - 1)),
             lerp(u, grad(P[AB + 1], x, y - 1, z - 1), grad(P[BB + 1], x - 1, y - 1, z - 1))));
}

float NoiseTexmap::EvalMono(ShadeContext& sc) {
    Point3 p = sc.P();
    double x = p.x / static_cast<double>(size_);
    double y = p.y / static_cast<double>(size_);
    double z = p.z / static_cast<double>(size_);
    double sum = 0.0, amp = 1.0, norm = 0.0, freq = 1.0;
    for (int i = 0; i < levels_; ++i) {
        sum += amp * Noise(x * freq, y * freq, z * freq);
        norm += amp;
        amp *= 0.5;
        freq *= 2.0;
    }
    double n = 0.5 + 0.5 * (sum / norm);
    double r = (n - low_) / (static_cast<double>(high_) - low_);
    return clamp01(static_cast<float>(r));
}

ReferenceTarget* NoiseTexmap::Clone(RemapDir& remap) {
    auto* m = new NoiseTexmap(size_, levels_, low_, high_, seed_);
    BaseClone(this, m, remap);
    return m;
}

CheckerTexmap::CheckerTexmap(float size, float value1, float value2)
    : size_(size > 0.0f ? size : 1.0f), value1_(value1), value2_(value2) {}

float CheckerTexmap::EvalMono(ShadeContext& sc) {
    Point3 p = sc.P();
    // Cell indices as whole doubles: no integer conversion, so far-away points cannot overflow.
    double s = std::floor(p.x / static_cast<double>(size_)) +
               std::floor(p.y / static_cast<double>(size_)) +
               std::floor(p.z / static_cast<double>(size_));
    return std::fmod(s, 2.0) == 0.0 ? value1_ : value2_;
}

ReferenceTarget* CheckerTexmap::Clone(RemapDir& remap) {
    auto* m = new CheckerTexmap(size_, value1_, value2_);
    BaseClone(this, m, remap);
    return m;
}

// ---- Factory ----

namespace {

struct ParamReader {
    const TexmapParams& params;
    const std::string& type;
    std::string* error;
    bool ok = true;

    void fail(const std::string& msg) {
        if (ok && error)
            *error = msg;
        ok = false;
    }
    double get(const char* name, double def) {
        auto it = params.find(name);
        if (it == params.end())
            return def;
        if (!std::isfinite(it->second))
            fail(type + " texmap: parameter \"" + name + "\" must be a finite number");
        return it->second;
    }
    bool whole(double v) { return std::floor(v) == v; }
    void onlyKnown(std::initializer_list<const char*> names) {
        for (const auto& [k, v] : params) {
            (void)v;
            bool known = false;
            for (const char* n : names)
                known = known || k == n;
            if (!known)
                fail(type + " texmap: unknown parameter \"" + k + "\"");
        }
    }
};

} // namespace

Texmap* CreateTexmap(const std::string& type, const TexmapParams& params, std::string* error) {
    ParamReader r{params, type, error};
    if (type == "constant") {
        r.onlyKnown({"value"});
        double v = r.get("value", 1.0);
        return r.ok ? new ConstantTexmap(static_cast<float>(v)) : nullptr;
    }
    if (type == "gradient") {
        r.onlyKnown({"axis", "from", "to"});
        double axis = r.get("axis", 2.0);
        float from = static_cast<float>(r.get("from", 0.0));
        float to = static_cast<float>(r.get("to", 1.0));
        if (r.ok && !(axis == 0.0 || axis == 1.0 || axis == 2.0))
            r.fail("gradient texmap: parameter \"axis\" must be 0, 1 or 2");
        if (r.ok && from == to)
            r.fail("gradient texmap: parameters \"from\" and \"to\" must differ");
        return r.ok ? new GradientTexmap(static_cast<int>(axis), from, to) : nullptr;
    }
    if (type == "noise") {
        r.onlyKnown({"size", "levels", "low", "high", "seed"});
        double size = r.get("size", 1.0);
        double levels = r.get("levels", 3.0);
        double low = r.get("low", 0.0);
        double high = r.get("high", 1.0);
        double seed = r.get("seed", 0.0);
        if (r.ok && !(static_cast<float>(size) > 0.0f))
            r.fail("noise texmap: parameter \"size\" must be above 0");
        if (r.ok && !(r.whole(levels) && levels >= 1.0 && levels <= 16.0))
            r.fail("noise texmap: parameter \"levels\" must be a whole number from 1 to 16");
        if (r.ok && !(static_cast<float>(high) > static_cast<float>(low)))
            r.fail("noise texmap: parameter \"high\" must be above \"low\"");
        if (r.ok && !(r.whole(seed) && seed >= 0.0 && seed <= 4294967295.0))
            r.fail("noise texmap: parameter \"seed\" must be a whole number from 0 to 4294967295");
        if (!r.ok)
            return nullptr;
        return new NoiseTexmap(static_cast<float>(size), static_cast<int>(levels),
                               static_cast<float>(low), static_cast<float>(high),
                               static_cast<std::uint32_t>(seed));
    }
    if (type == "checker") {
        r.onlyKnown({"size", "value1", "value2"});
        double size = r.get("size", 1.0);
        double v1 = r.get("value1", 0.0);
        double v2 = r.get("value2", 1.0);
        if (r.ok && !(static_cast<float>(size) > 0.0f))
            r.fail("checker texmap: parameter \"size\" must be above 0");
        if (!r.ok)
            return nullptr;
        return new CheckerTexmap(static_cast<float>(size), static_cast<float>(v1),
                                 static_cast<float>(v2));
    }
    if (error)
        *error = "unknown texmap type \"" + type +
                 "\" (expected \"constant\", \"gradient\", \"noise\" or \"checker\")";
    return nullptr;
}
