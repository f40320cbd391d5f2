// Shared pieces of the render-instance tests: a parameter block of the object's real layout, a
// render object that creates instances as the scene object does, a renderer core with the simple
// ray server, ray tracing on a given thread, and small scene sources.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "host/max_core.h"
#include "host/max_scene.h"
#include "host/max_texmap.h"
#include "host/vray.h"
#include "object/ParamBlock.h"
#include "render/RenderInstance.h"
#include "render/RenderObject.h"

namespace velquin::rendertest {

// A block of the object's layout (without the module's class descriptor).
class RenderBlock {
public:
    RenderBlock() : desc_(kParamBlockId, "params", 0, nullptr, kParamBlockFlags, kParamBlockRef) {
        defineParamBlock(desc_);
        block_ = std::make_unique<IParamBlock2>(&desc_, nullptr);
    }
    IParamBlock2* get() { return block_.get(); }
    IParamBlock2* operator->() { return block_.get(); }

    void addNode(INode* node) {
        const int n = block_->Count(pb_nodes);
        block_->SetCount(pb_nodes, n + 1);
        block_->SetValue(pb_nodes, 0, node, n);
    }
    void setPoints(ParamID id, std::initializer_list<Point3> pts) {
        block_->SetCount(id, static_cast<int>(pts.size()));
        int i = 0;
        for (const Point3& p : pts) {
            block_->SetValue(id, 0, p, i++);
        }
    }

private:
    ParamBlockDesc2 desc_;
    std::unique_ptr<IParamBlock2> block_;
};

// The render-object part as the scene object wires it.
class TestRenderObject : public VRenderObject {
public:
    explicit TestRenderObject(IParamBlock2* pb) : pblock(pb) {}
    VRenderInstance* createRenderInstance(INode* node, VR::VRayCore* vray, int id) override {
        return createMetaballRenderInstance(this, pblock, node, vray, id);
    }
    void destroyRenderInstance(VRenderInstance* instance) override {
        destroyMetaballRenderInstance(instance);
    }
    IParamBlock2* pblock;
};

// A renderer core with the simple ray server and `threads` render threads.
struct TestRenderer {
    explicit TestRenderer(int threads, bool motionBlur = false) : server(threads) {
        core.sequenceData.numThreads = threads;
        core.sequenceData.rayserver = &server;
        core.sequenceData.mbOn = motionBlur ? 1 : 0;
    }
    void setFrame(TimeValue t, double mbStart, double mbEnd) {
        core.frameData.t = t;
        core.frameData.mbStart = mbStart;
        core.frameData.mbEnd = mbEnd;
    }
    VR::SimpleRayServer server;
    VR::VRayCore core;
};

struct Traced {
    bool hit = false;
    VR::RayResult result;
};

// Traces one ray on a render thread through the ray server.
inline Traced trace(TestRenderer& r, int thread, Point3 origin, Point3 direction, float time = 0.5f,
                    int slot = 0) {
    VR::VRayContext rc;
    rc.vray = &r.core;
    rc.threadIndex = thread;
    rc.slot = slot;
    const double o[3] = {origin.x, origin.y, origin.z};
    const float d[3] = {direction.x, direction.y, direction.z};
    rc.beginRay(o, d, 0.0, 1e18, time, r.core.newRayTag());
    Traced out;
    out.hit = r.server.findNearestHit(rc);
    out.result = rc.rayresult;
    return out;
}

// A geometric object whose mesh at time t is one vertex at (t, 0, 0): positions gathered at a
// segment's ends name the segment's times exactly.
class TimeVertexObject : public GeomObject {
public:
    Class_ID ClassID() override { return Class_ID(0x56519101, 0); }
    void GetClassName(MSTR& s) override { s = "Time Vertex"; }
    int CanConvertToType(Class_ID t) override { return t == triObjectClassID || t == ClassID(); }
    Object* ConvertToType(TimeValue t, Class_ID type) override {
        if (type == ClassID()) {
            return this;
        }
        if (type != triObjectClassID) {
            return nullptr;
        }
        Mesh m;
        m.setNumVerts(1);
        m.setVert(0, static_cast<float>(t), 0.0f, 0.0f);
        return new TriObject(m);
    }
};

// A sphere mesh (the procedural sphere's) whose every vertex carries `colour`.
inline TriObject* colouredSphere(Point3 colour) {
    SphereObject sphere;
    Mesh m;
    Interval valid = FOREVER;
    sphere.BuildMesh(0, m, valid);
    m.setNumVertCol(1);
    m.vertCol[0] = colour;
    m.setNumVCFaces(m.numFaces);
    return new TriObject(m);
}

} // namespace velquin::rendertest
