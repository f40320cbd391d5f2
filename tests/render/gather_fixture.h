// Shared pieces of the gathering tests: a parameter block with the parameters gathering reads,
// a scene, a mesh source whose mesh can change (or vanish) with time, and owned output arrays.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "host/max_core.h"
#include "host/max_scene.h"
#include "object/ParamIds.h"
#include "render/Gather.h"
#include "render/GatherRoutes.h"

namespace velquin::gathertest {

// A block holding only what gathering reads, with the object's IDs and types. The scripted
// tables are animatable here so that moving segments can be given different ends.
class TestBlock {
public:
    TestBlock() : desc_(0, "gatherTest", 0, nullptr, 0) {
        desc_.AddParam(pb_nodes, "nodes", TYPE_INODE_TAB, P_VARIABLE_SIZE, 0);
        desc_.AddParam(pb_metaballs, "metaballs", TYPE_POINT3_TAB, P_VARIABLE_SIZE | P_ANIMATABLE,
                       0);
        desc_.AddParam(pb_pflow, "pflow", TYPE_INODE_TAB, P_VARIABLE_SIZE, 0);
        desc_.AddParam(pb_allPflow, "allPflow", TYPE_BOOL, 0, 0).Default(1);
        desc_.AddParam(pb_metaballSizes, "metaballSizes", TYPE_FLOAT_TAB,
                       P_VARIABLE_SIZE | P_ANIMATABLE, 0);
        desc_.AddParam(pb_colors, "colors", TYPE_POINT3_TAB, P_VARIABLE_SIZE | P_ANIMATABLE, 0);
        block_ = std::make_unique<IParamBlock2>(&desc_, nullptr);
    }
    IParamBlock2* get() { return block_.get(); }
    IParamBlock2* operator->() { return block_.get(); }

    void addNode(INode* node) {
        int n = block_->Count(pb_nodes);
        block_->SetCount(pb_nodes, n + 1);
        block_->SetValue(pb_nodes, 0, node, n);
    }
    void addEvent(INode* node) {
        int n = block_->Count(pb_pflow);
        block_->SetCount(pb_pflow, n + 1);
        block_->SetValue(pb_pflow, 0, node, n);
    }
    void setPoints(ParamID id, std::initializer_list<Point3> pts) {
        block_->SetCount(id, static_cast<int>(pts.size()));
        int i = 0;
        for (const Point3& p : pts)
            block_->SetValue(id, 0, p, i++);
    }
    void setFloats(ParamID id, std::initializer_list<float> vs) {
        block_->SetCount(id, static_cast<int>(vs.size()));
        int i = 0;
        for (float v : vs)
            block_->SetValue(id, 0, v, i++);
    }

private:
    ParamBlockDesc2 desc_;
    std::unique_ptr<IParamBlock2> block_;
};

// A geometric object that converts to a new triangle-mesh object built by `build` (false: no
// mesh at that time). The conversions it makes and the deletions of those are counted.
class MeshSource : public GeomObject {
public:
    std::function<bool(TimeValue, Mesh&)> build;
    std::shared_ptr<ConversionCounts> counts = std::make_shared<ConversionCounts>();

    Class_ID ClassID() override { return Class_ID(0x56519001, 0); }
    void GetClassName(MSTR& s) override { s = "Mesh Source"; }
    int CanConvertToType(Class_ID t) override { return t == triObjectClassID || t == ClassID(); }
    Object* ConvertToType(TimeValue t, Class_ID type) override {
        if (type == ClassID())
            return this;
        Mesh m;
        if (!build || !build(t, m))
            return nullptr;
        auto tri = std::make_unique<TriObject>(m);
        ++counts->made;
        tri->SetConversionCounts(counts);
        return tri.release();
    }
};

// A mesh of the given vertices and no faces.
inline Mesh pointsMesh(std::initializer_list<Point3> pts) {
    Mesh m;
    m.setNumVerts(static_cast<int>(pts.size()));
    int i = 0;
    for (const Point3& p : pts)
        m.setVert(i++, p);
    return m;
}

// The outputs of one gathering call, freed with the test.
struct Gathered {
    bool ok = false;
    std::int32_t count = -1;
    float* positions = nullptr;
    float* displacements = nullptr;
    double* sizes = nullptr;
    double* sizeDeltas = nullptr;
    float* colors = nullptr;
    Gathered() = default;
    Gathered(const Gathered&) = delete;
    Gathered& operator=(const Gathered&) = delete;
    ~Gathered() {
        delete[] positions;
        delete[] displacements;
        delete[] sizes;
        delete[] sizeDeltas;
        delete[] colors;
    }
    Point3 pos(int i) const {
        return {positions[3 * i], positions[3 * i + 1], positions[3 * i + 2]};
    }
    Point3 disp(int i) const {
        return {displacements[3 * i], displacements[3 * i + 1], displacements[3 * i + 2]};
    }
    Point3 col(int i) const { return {colors[3 * i], colors[3 * i + 1], colors[3 * i + 2]}; }
};

inline void gatherStill(Gathered& g, GatherBuffers& b, IParamBlock2* pb, TimeValue t, bool useScale,
                        bool useColor) {
    g.ok = gatherStatic(b, useScale, useColor, g.count, g.positions, g.sizes, g.colors, pb, t);
}

inline void gatherSegment(Gathered& g, GatherBuffers& b, IParamBlock2* pb, TimeValue t0,
                          TimeValue t1, bool useScale, bool useColor) {
    g.ok = gatherMoving(b, useScale, useColor, g.count, g.positions, g.displacements, g.sizes,
                        g.sizeDeltas, g.colors, pb, t0, t1);
}

// Every list of the buffers is empty and holds no storage.
inline void expectListsEmpty(const GatherBuffers& b) {
    EXPECT_EQ(b.positions.Count(), 0);
    EXPECT_EQ(b.positions.Capacity(), 0);
    EXPECT_EQ(b.displacements.Count(), 0);
    EXPECT_EQ(b.displacements.Capacity(), 0);
    EXPECT_EQ(b.sizes.Count(), 0);
    EXPECT_EQ(b.sizes.Capacity(), 0);
    EXPECT_EQ(b.sizeDeltas.Count(), 0);
    EXPECT_EQ(b.sizeDeltas.Capacity(), 0);
    EXPECT_EQ(b.colors.Count(), 0);
    EXPECT_EQ(b.colors.Capacity(), 0);
}

} // namespace velquin::gathertest
