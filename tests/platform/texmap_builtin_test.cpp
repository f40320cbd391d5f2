#include "platform/max/texmap.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

namespace {

// A context that knows only a point.
struct PointContext : ShadeContext {
    Point3 p;
    Point3 view{0.0f, 0.0f, -1.0f};
    Point3 n{0.0f, 0.0f, 1.0f};
    Point3 P() override { return p; }
    Point3 Normal() override { return n; }
    Point3 V() override { return view; }
    void SetView(Point3 v) override { view = v; }
};

struct Deleter {
    void operator()(Texmap* m) const { m->DeleteThis(); }
};
using MapPtr = std::unique_ptr<Texmap, Deleter>;

MapPtr make(const std::string& type, const TexmapParams& params) {
    std::string err;
    MapPtr m(CreateTexmap(type, params, &err));
    EXPECT_TRUE(m) << err;
    return m;
}

float at(Texmap& m, float x, float y, float z) {
    PointContext sc;
    sc.p = Point3(x, y, z);
    return m.EvalMono(sc);
}

TEST(TexmapGradient, SinglePrecisionRampAlongAxis) {
    // (0.35f - 0.1f) / (0.9f - 0.1f) rounds to 0x1.400002p-2 in single precision; the same
    // quotient taken in double and narrowed would be exactly 0.3125.
    auto g = make("gradient", {{"axis", 2}, {"from", 0.1}, {"to", 0.9}});
    EXPECT_EQ(at(*g, 0.0f, 0.0f, 0.35f), 0x1.400002p-2f);
    auto gx = make("gradient", {{"axis", 0}, {"from", 0.33}, {"to", 0.91}});
    EXPECT_EQ(at(*gx, 0.77f, 5.0f, -5.0f), 0x1.8469eap-1f);
    // Only the chosen axis matters.
    EXPECT_EQ(at(*gx, 0.77f, -100.0f, 100.0f), 0x1.8469eap-1f);
    auto gy = make("gradient", {{"axis", 1}, {"from", 0}, {"to", 4}});
    EXPECT_EQ(at(*gy, 3.0f, 1.0f, 3.0f), 0.25f);
}

TEST(TexmapGradient, ClampsAndReversedRamp) {
    auto g = make("gradient", {{"axis", 2}, {"from", 1}, {"to", 3}});
    EXPECT_EQ(at(*g, 0, 0, 0.5f), 0.0f);
    EXPECT_EQ(at(*g, 0, 0, 1.0f), 0.0f);
    EXPECT_EQ(at(*g, 0, 0, 3.0f), 1.0f);
    EXPECT_EQ(at(*g, 0, 0, 7.0f), 1.0f);
    // A NaN point reads as 0 rather than leaking NaN into the field.
    EXPECT_EQ(at(*g, 0, 0, std::numeric_limits<float>::quiet_NaN()), 0.0f);
    auto r = make("gradient", {{"from", 2}, {"to", 0}});
    EXPECT_EQ(at(*r, 0, 0, 0.5f), 0.75f);
    EXPECT_EQ(at(*r, 0, 0, -1.0f), 1.0f);
    // A degenerate ramp made directly is a step at `from`.
    GradientTexmap step(2, 1.0f, 1.0f);
    EXPECT_EQ(at(step, 0, 0, 1.5f), 1.0f);
    EXPECT_EQ(at(step, 0, 0, 1.0f), 0.0f);
    EXPECT_EQ(at(step, 0, 0, 0.5f), 0.0f);
}

TEST(TexmapConstant, ValueEverywhereAndColour) {
    auto c = make("constant", {{"value", 0.375}});
    EXPECT_EQ(at(*c, 1e20f, -3, 0), 0.375f);
    PointContext sc;
    EXPECT_EQ(c->EvalColor(sc), AColor(0.375f, 0.375f, 0.375f, 1.0f));
    auto d = make("constant", {});
    EXPECT_EQ(at(*d, 0, 0, 0), 1.0f);
}

TEST(TexmapChecker, AlternatesByCellParity) {
    auto c = make("checker", {{"size", 2}, {"value1", 0.25}, {"value2", 0.75}});
    EXPECT_EQ(at(*c, 0.5f, 0.5f, 0.5f), 0.25f);
    EXPECT_EQ(at(*c, 2.5f, 0.5f, 0.5f), 0.75f);
    EXPECT_EQ(at(*c, 2.5f, 2.5f, 0.5f), 0.25f);
    EXPECT_EQ(at(*c, 2.5f, 2.5f, 2.5f), 0.75f);
    // Negative cells: floor(-0.25) = -1 is odd.
    EXPECT_EQ(at(*c, -0.5f, 0.5f, 0.5f), 0.75f);
    EXPECT_EQ(at(*c, -0.5f, -0.5f, 0.5f), 0.25f);
    // Cell boundaries belong to the upper cell.
    EXPECT_EQ(at(*c, 2.0f, 0.0f, 0.0f), 0.75f);
    // Far away points do not overflow an integer cell index.
    EXPECT_EQ(at(*c, 3e38f, 0.5f, 0.5f), 0.25f);
}

TEST(TexmapNoise, DeterministicAndInRange) {
    auto a = make("noise", {{"size", 0.7}, {"levels", 4}, {"seed", 17}});
    auto b = make("noise", {{"size", 0.7}, {"levels", 4}, {"seed", 17}});
    auto other = make("noise", {{"size", 0.7}, {"levels", 4}, {"seed", 18}});
    float lo = 1.0f, hi = 0.0f;
    int differ = 0;
    for (int i = 0; i < 2000; ++i) {
        float x = -5.0f + 0.0137f * i, y = 0.31f * (i % 37), z = -0.17f * (i % 53);
        float v = at(*a, x, y, z);
        EXPECT_EQ(v, at(*b, x, y, z));
        ASSERT_GE(v, 0.0f);
        ASSERT_LE(v, 1.0f);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        differ += v != at(*other, x, y, z);
    }
    EXPECT_LT(lo, 0.35f);
    EXPECT_GT(hi, 0.65f);
    EXPECT_GT(differ, 1900);
    // Continuous: a tiny step changes the value a little.
    EXPECT_NEAR(at(*a, 0.3f, 0.4f, 0.5f), at(*a, 0.3001f, 0.4f, 0.5f), 0.01f);
}

// The lattice repeats every 256 cells on every axis, on both sides of 0 and far out: the cell
// index is the coordinate's remainder taken non-negative, however it is computed.
TEST(TexmapNoise, LatticeRepeatsEvery256Cells) {
    auto n = make("noise", {{"size", 1}, {"levels", 1}, {"seed", 9}});
    auto* noise = dynamic_cast<NoiseTexmap*>(n.get());
    ASSERT_NE(noise, nullptr);
    for (double x : {-0.375, 0.625, -255.125, 3.5}) {
        for (double shift : {-256.0, 256.0, -0x1p40, 0x1p40, -0x1p44}) {
            const double a = noise->Noise(x, -x * 0.5, 1.25);
            const double b = noise->Noise(x + shift, -x * 0.5 - shift, 1.25 + shift);
            EXPECT_EQ(std::bit_cast<std::uint64_t>(a), std::bit_cast<std::uint64_t>(b))
                << "x " << x << " shift " << shift;
        }
    }
    EXPECT_NE(noise->Noise(-0.375, 0.1875, 1.25), noise->Noise(0.625, 0.1875, 1.25));
}

TEST(TexmapNoise, LatticeZeroAndThresholds) {
    // Gradient noise is 0 on the lattice, which one level maps to exactly 0.5.
    auto n = make("noise", {{"size", 2}, {"levels", 1}, {"seed", 5}});
    EXPECT_EQ(at(*n, 4.0f, -6.0f, 2.0f), 0.5f);
    auto t = make("noise", {{"size", 2}, {"levels", 1}, {"low", 0.25}, {"high", 0.75}});
    EXPECT_EQ(at(*t, 4.0f, -6.0f, 2.0f), 0.5f);
    auto above = make("noise", {{"size", 2}, {"levels", 1}, {"low", 0.5}, {"high", 1}});
    EXPECT_EQ(at(*above, 0.0f, 0.0f, 0.0f), 0.0f);
    // Non-finite points give the lattice answer instead of NaN.
    EXPECT_EQ(at(*n, std::numeric_limits<float>::infinity(), 0.0f, 0.0f), 0.5f);
}

TEST(TexmapFactory, RefusesBadInputWithAMessage) {
    struct Case {
        const char* type;
        TexmapParams params;
        const char* mentions;
    };
    const Case cases[] = {
        {"marble", {}, "marble"},
        {"constant", {{"valu", 1}}, "valu"},
        {"gradient", {{"axis", 3}}, "axis"},
        {"gradient", {{"axis", 0.5}}, "axis"},
        {"gradient", {{"from", 1}, {"to", 1}}, "from"},
        {"noise", {{"levels", 0}}, "levels"},
        {"noise", {{"levels", 2.5}}, "levels"},
        {"noise", {{"size", 0}}, "size"},
        {"noise", {{"size", 1e-50}}, "size"},
        {"noise", {{"low", 0.6}, {"high", 0.6}}, "high"},
        {"noise", {{"seed", -1}}, "seed"},
        {"checker", {{"size", -2}}, "size"},
        {"checker", {{"value1", std::nan("")}}, "value1"},
    };
    for (const Case& c : cases) {
        std::string err;
        Texmap* m = CreateTexmap(c.type, c.params, &err);
        EXPECT_EQ(m, nullptr) << c.type;
        EXPECT_NE(err.find(c.mentions), std::string::npos) << err;
        if (m)
            m->DeleteThis();
    }
    EXPECT_EQ(CreateTexmap("noise", {{"levels", 0}}), nullptr); // no error sink needed
}

TEST(TexmapBase, IdentityUpdateAndClone) {
    auto m = make("checker", {{"size", 0.5}});
    EXPECT_EQ(m->SuperClassID(), TEXMAP_CLASS_ID);
    EXPECT_EQ(m->ClassID(), CHECKER_TEXMAP_CLASS_ID);
    MSTR name;
    m->GetClassName(name);
    EXPECT_EQ(name, "checker");
    Interval valid(0, 100);
    m->Update(40, valid);
    m->Update(80);
    EXPECT_EQ(m->UpdateCount(), 2);
    EXPECT_EQ(m->LastUpdateTime(), 80);
    EXPECT_EQ(valid, Interval(0, 100));

    RemapDir remap;
    MapPtr copy(static_cast<Texmap*>(m->Clone(remap)));
    ASSERT_TRUE(copy);
    EXPECT_EQ(remap.FindMapping(m.get()), copy.get());
    for (float x = -2.0f; x < 2.0f; x += 0.3f)
        EXPECT_EQ(at(*copy, x, 0.1f, 0.2f), at(*m, x, 0.1f, 0.2f));
}

struct FixedLight : LightDesc {
    Color c;
    float coef;
    BOOL lit;
    FixedLight(Color c_, float k, BOOL l) : c(c_), coef(k), lit(l) {}
    BOOL Illuminate(ShadeContext&, Point3&, Color& color, Point3& dir, float& dotNL,
                    float& diffuseCoef) override {
        color = c;
        dir = Point3(0, 0, 1);
        dotNL = coef;
        diffuseCoef = coef;
        return lit;
    }
};

struct LitContext : PointContext {
    LightDesc* l[3] = {nullptr, nullptr, nullptr};
    LightDesc* Light(int i) override { return l[i]; }
};

TEST(ShadeContextBase, DerivedAnswers) {
    PointContext sc;
    sc.view = Point3(0.6f, 0.0f, -0.8f);
    EXPECT_EQ(sc.ReflectVector(), Point3(0.6f, 0.0f, 0.8f));
    // Head-on refraction with an IOR of 1 goes straight through.
    sc.view = Point3(0.0f, 0.0f, -1.0f);
    EXPECT_EQ(sc.RefractVector(1.0f), Point3(0.0f, 0.0f, -1.0f));
    EXPECT_EQ(sc.GNormal(), sc.Normal());
    EXPECT_EQ(sc.PObj(), sc.P());
    EXPECT_EQ(sc.RayDiam(), 0.0f);
    sc.SetGBufferID(12);
    EXPECT_EQ(sc.out.gbufId, 12);
    sc.ResetOutput();
    EXPECT_EQ(sc.out.gbufId, 0);
    EXPECT_EQ(sc.NodeID(), -1);
    EXPECT_EQ(sc.ClassID(), Class_ID(0, 0));

    // The environment is evaluated along the given direction, then the view is restored.
    struct ViewGradient : GradientTexmap {
        using GradientTexmap::GradientTexmap;
        float EvalMono(ShadeContext& c) override { return c.V().x; }
    } viewMap(0, 0.0f, 1.0f);
    EXPECT_EQ(sc.EvalEnvironMap(&viewMap, Point3(0.25f, 0.0f, 0.0f)).r, 0.25f);
    EXPECT_EQ(sc.V(), Point3(0.0f, 0.0f, -1.0f));
    EXPECT_EQ(sc.EvalEnvironMap(nullptr, Point3(1, 0, 0)), AColor(0, 0, 0, 0));

    LitContext lc;
    FixedLight a(Color(1.0f, 0.5f, 0.25f), 0.5f, TRUE), b(Color(1, 1, 1), 1.0f, FALSE);
    lc.l[0] = &a;
    lc.l[1] = &b;
    lc.l[2] = nullptr;
    lc.nLights = 3;
    EXPECT_EQ(lc.DiffuseIllum(), Color(0.5f, 0.25f, 0.125f));
}

} // namespace
