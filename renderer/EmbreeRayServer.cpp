#include "renderer/EmbreeRayServer.h"

#include <embree3/rtcore.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace velquin::renderer {
namespace {

using GeomUser = EmbreeRayServer::GeomUser;

// The intersect context of one traced ray: Embree's own record first, so that the callbacks can
// turn the context pointer they are given back into this.
struct RayCtx {
    RTCIntersectContext ctx;
    EmbreeRayServer* server;
    VR::VRayContext* rc;
    double nearest; // the nearest dynamic hit so far, in double
    float nearestF; // the tfar we set for it
    VR::GenericPrimitive* hitPrim;
    VR::GenericPrimitive* hitTop;
};

// The stored entry whose expansion is running on this thread, or -1.
thread_local int tlExpanding = -1;

void boundsFn(const RTCBoundsFunctionArguments* args) {
    auto* gu = static_cast<GeomUser*>(args->geometryUserPtr);
    const VR::StaticBox& b = gu->server->stored(gu->index).bounds;
    args->bounds_o->lower_x = b.pmin.x;
    args->bounds_o->lower_y = b.pmin.y;
    args->bounds_o->lower_z = b.pmin.z;
    args->bounds_o->upper_x = b.pmax.x;
    args->bounds_o->upper_y = b.pmax.y;
    args->bounds_o->upper_z = b.pmax.z;
}

// Tries every primitive the thread inserted for this stored entry against the ray, up to the
// nearest hit so far. Returns whether one of them reported a nearer hit (then nd is lowered).
bool tryInserted(RayCtx* c, int storedIndex, double& nd, bool anyHit) {
    VR::VRayContext& rc = *c->rc;
    EmbreeRayServer* server = c->server;
    const int thread = rc.threadIndex;
    server->ensureExpanded(thread, storedIndex);
    auto& list = server->threadState(thread).inserted[static_cast<std::size_t>(storedIndex)];
    VR::RayBase& ray = rc.ray;
    bool found = false;
    for (const auto& e : list) {
        ray.nearestDist = nd;
        ray.hitPrimitive = nullptr;
        ray.hitTopPrimitive = nullptr;
        if (!e.primitive->intersect(ray))
            continue;
        // A primitive must not report a hit beyond the nearest one; should it, it is ignored.
        if (!(ray.nearestDist <= nd) || ray.nearestDist < ray.tmin)
            continue;
        nd = ray.nearestDist;
        c->hitPrim = ray.hitPrimitive ? ray.hitPrimitive : e.primitive;
        c->hitTop = ray.hitTopPrimitive ? ray.hitTopPrimitive : e.primitive;
        found = true;
        if (anyHit)
            break;
    }
    return found;
}

void intersectFn(const RTCIntersectFunctionNArguments* args) {
    if (args->N != 1 || !args->valid[0])
        return;
    auto* gu = static_cast<GeomUser*>(args->geometryUserPtr);
    auto* c = reinterpret_cast<RayCtx*>(args->context);
    auto* rh = reinterpret_cast<RTCRayHit*>(args->rayhit);
    double nd = c->nearest;
    // A triangle found since our last dynamic hit has lowered tfar below what we set.
    if (rh->ray.tfar < c->nearestF)
        nd = static_cast<double>(rh->ray.tfar);
    if (!tryInserted(c, gu->index, nd, false))
        return;
    c->nearest = nd;
    c->nearestF = static_cast<float>(nd);
    rh->ray.tfar = c->nearestF;
    rh->hit.geomID = args->geomID;
    rh->hit.primID = args->primID;
    rh->hit.instID[0] = args->context->instID[0];
    rh->hit.Ng_x = rh->hit.Ng_y = rh->hit.Ng_z = 0.0f;
    rh->hit.u = rh->hit.v = 0.0f;
}

void occludedFn(const RTCOccludedFunctionNArguments* args) {
    if (args->N != 1 || !args->valid[0])
        return;
    auto* gu = static_cast<GeomUser*>(args->geometryUserPtr);
    auto* c = reinterpret_cast<RayCtx*>(args->context);
    auto* r = reinterpret_cast<RTCRay*>(args->ray);
    double nd = static_cast<double>(r->tfar);
    if (c->rc->ray.tmax < nd)
        nd = c->rc->ray.tmax;
    if (tryInserted(c, gu->index, nd, true))
        r->tfar = -std::numeric_limits<float>::infinity();
}

void setupRay(RTCRay& r, const VR::RayBase& ray) {
    r.org_x = static_cast<float>(ray.p[0]);
    r.org_y = static_cast<float>(ray.p[1]);
    r.org_z = static_cast<float>(ray.p[2]);
    r.dir_x = ray.dir[0];
    r.dir_y = ray.dir[1];
    r.dir_z = ray.dir[2];
    r.tnear = static_cast<float>(ray.tmin);
    r.tfar = ray.tmax < static_cast<double>(FLT_MAX) ? static_cast<float>(ray.tmax)
                                                     : std::numeric_limits<float>::infinity();
    r.time = ray.time;
    r.mask = 0xFFFFFFFFu;
    r.id = 0;
    r.flags = 0;
}

} // namespace

bool EmbreeRayServer::usable(const double origin[3], const float direction[3], double tmin,
                             double tmax) {
    // Embree asserts that a ray's origin and direction are within about 1.8e18 and its range is
    // no NaN; the limit here is 1e18.
    constexpr double kLimit = 1e18;
    bool ok = tmin >= 0.0 && tmin <= kLimit && tmax >= tmin; // false for a NaN
    double length = 0.0;
    for (int i = 0; i < 3; ++i) {
        ok = ok && std::fabs(origin[i]) <= kLimit &&
             std::fabs(static_cast<double>(direction[i])) <= kLimit;
        length += std::fabs(static_cast<double>(direction[i]));
    }
    return ok && length > 0.0;
}

EmbreeRayServer::EmbreeRayServer(int numThreads)
    : threads_(static_cast<std::size_t>(numThreads > 0 ? numThreads : 1)) {
    // Embree builds on as many threads as the render has, not on every core: --threads 1
    // means one core.
    const std::string config = "threads=" + std::to_string(threads_.size());
    device_ = rtcNewDevice(config.c_str());
    if (!device_) {
        const RTCError e = rtcGetDeviceError(nullptr);
        if (e == RTC_ERROR_OUT_OF_MEMORY)
            throw std::bad_alloc();
        throw std::runtime_error("cannot start the ray server (Embree device, error " +
                                 std::to_string(static_cast<int>(e)) + ")");
    }
}

EmbreeRayServer::~EmbreeRayServer() {
    if (scene_)
        rtcReleaseScene(scene_);
    users_.clear();
    if (device_)
        rtcReleaseDevice(device_);
}

void EmbreeRayServer::beginFrame() {
    if (scene_)
        rtcReleaseScene(scene_);
    scene_ = rtcNewScene(device_);
    rtcSetSceneFlags(scene_, RTC_SCENE_FLAG_ROBUST);
    committed_ = false;
    stored_.clear();
    geomToStored_.clear();
    geomToTag_.clear();
    users_.clear();
    meshCount_ = 0;
    triangleCount_ = 0;
    for (auto& t : threads_) {
        t.expanded.clear();
        t.inserted.clear();
        t.unmatched.clear();
    }
}

void EmbreeRayServer::addTriangles(const std::vector<float>& xyz,
                                   const std::vector<std::uint32_t>& indices, int tag) {
    if (!scene_)
        beginFrame();
    std::size_t nv = xyz.size() / 3, nt = indices.size() / 3;
    if (nv == 0 || nt == 0)
        return;
    RTCGeometry g = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
    auto* v = static_cast<float*>(rtcSetNewGeometryBuffer(
        g, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float), nv));
    auto* ix = static_cast<std::uint32_t*>(rtcSetNewGeometryBuffer(
        g, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(std::uint32_t), nt));
    std::copy(xyz.begin(), xyz.begin() + static_cast<std::ptrdiff_t>(nv * 3), v);
    std::copy(indices.begin(), indices.begin() + static_cast<std::ptrdiff_t>(nt * 3), ix);
    rtcCommitGeometry(g);
    unsigned id = rtcAttachGeometry(scene_, g);
    rtcReleaseGeometry(g);
    if (geomToStored_.size() <= id) {
        geomToStored_.resize(id + 1, -1);
        geomToTag_.resize(id + 1, -1);
    }
    geomToStored_[id] = -1;
    geomToTag_[id] = tag;
    ++meshCount_;
    triangleCount_ += static_cast<long long>(nt);
}

void EmbreeRayServer::store(VR::GeometryGenerator* gen, VR::GenericPrimitive* prim,
                            VR::GenericPrimitive* owner, int id, const VR::StaticBox& bounds) {
    if (!scene_)
        beginFrame();
    stored_.push_back(Stored{gen, prim, owner, id, ownerTag_, bounds});
    int index = static_cast<int>(stored_.size()) - 1;
    // An empty box has nothing to hit: no geometry, but the entry stays so that its expansion
    // and collapse bookkeeping is the same as for any other.
    if (bounds.isEmpty() || !std::isfinite(bounds.pmin.x) || !std::isfinite(bounds.pmax.x) ||
        !std::isfinite(bounds.pmin.y) || !std::isfinite(bounds.pmax.y) ||
        !std::isfinite(bounds.pmin.z) || !std::isfinite(bounds.pmax.z))
        return;
    users_.push_back(std::make_unique<GeomUser>(GeomUser{this, index}));
    RTCGeometry g = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_USER);
    rtcSetGeometryUserPrimitiveCount(g, 1);
    rtcSetGeometryUserData(g, users_.back().get());
    rtcSetGeometryBoundsFunction(g, boundsFn, nullptr);
    rtcSetGeometryIntersectFunction(g, intersectFn);
    rtcSetGeometryOccludedFunction(g, occludedFn);
    rtcCommitGeometry(g);
    unsigned gid = rtcAttachGeometry(scene_, g);
    rtcReleaseGeometry(g);
    if (geomToStored_.size() <= gid) {
        geomToStored_.resize(gid + 1, -1);
        geomToTag_.resize(gid + 1, -1);
    }
    geomToStored_[gid] = index;
    geomToTag_[gid] = ownerTag_;
}

void EmbreeRayServer::storeDynamicStaticPrimitive(VR::DynamicPrimitive<VR::StaticBox>* primitive,
                                                  VR::GenericPrimitive* owner, int id) {
    if (!primitive)
        return;
    VR::StaticBox b;
    primitive->getBBox(b);
    store(primitive, primitive, owner, id, b);
}

void EmbreeRayServer::storeDynamicMovingPrimitive(VR::DynamicPrimitive<VR::MovingBox>* primitive,
                                                  VR::GenericPrimitive* owner, int id) {
    if (!primitive)
        return;
    VR::MovingBox mb;
    primitive->getBBox(mb);
    // The box moves linearly from the first box to first + second, so the union of the two
    // ends bounds it over the whole shutter (a zero second box leaves the first unchanged).
    VR::StaticBox b = mb.b[0];
    if (!b.isEmpty()) {
        for (int a = 0; a < 3; ++a) {
            float lo = mb.b[0].pmin[a] + mb.b[1].pmin[a];
            float hi = mb.b[0].pmax[a] + mb.b[1].pmax[a];
            b.pmin[a] = std::min(b.pmin[a], lo);
            b.pmax[a] = std::max(b.pmax[a], hi);
        }
    }
    store(primitive, primitive, owner, id, b);
}

int EmbreeRayServer::newRenderID() {
    return nextRenderID_.fetch_add(1, std::memory_order_relaxed);
}

int EmbreeRayServer::newPrimitiveID(int threadIndex, VR::GenericPrimitive* primitive) {
    (void)threadIndex;
    (void)primitive;
    return nextPrimitiveID_.fetch_add(1, std::memory_order_relaxed);
}

int EmbreeRayServer::matchStored(VR::GenericPrimitive* primitive,
                                 VR::GenericPrimitive* owner) const {
    for (std::size_t i = 0; i < stored_.size(); ++i)
        if (stored_[i].primitive == owner || stored_[i].owner == owner ||
            stored_[i].primitive == primitive)
            return static_cast<int>(i);
    return -1;
}

void EmbreeRayServer::insertPrimitive(int threadIndex, VR::GenericPrimitive* primitive,
                                      VR::GenericPrimitive* owner, int id) {
    if (threadIndex < 0 || threadIndex >= numThreads() || !primitive)
        return;
    ThreadState& ts = threads_[static_cast<std::size_t>(threadIndex)];
    // The entry being expanded on this thread is what the insertion belongs to; failing that, the
    // entry whose primitive or owner it names.
    int s = tlExpanding >= 0 ? tlExpanding : matchStored(primitive, owner);
    if (s < 0 || static_cast<std::size_t>(s) >= ts.inserted.size()) {
        ts.unmatched.push_back(Inserted{primitive, owner, id});
        return;
    }
    ts.inserted[static_cast<std::size_t>(s)].push_back(Inserted{primitive, owner, id});
}

void EmbreeRayServer::removePrimitive(int threadIndex, VR::GenericPrimitive* primitive) {
    if (threadIndex < 0 || threadIndex >= numThreads())
        return;
    ThreadState& ts = threads_[static_cast<std::size_t>(threadIndex)];
    auto drop = [&](std::vector<Inserted>& v) {
        v.erase(std::remove_if(v.begin(), v.end(),
                               [&](const Inserted& e) { return e.primitive == primitive; }),
                v.end());
    };
    for (auto& v : ts.inserted)
        drop(v);
    drop(ts.unmatched);
}

void EmbreeRayServer::commit() {
    if (!scene_)
        beginFrame();
    for (auto& t : threads_) {
        t.expanded.assign(stored_.size(), 0);
        t.inserted.assign(stored_.size(), {});
    }
    rtcCommitScene(scene_);
    committed_ = true;
}

void EmbreeRayServer::ensureExpanded(int threadIndex, int storedIndex) {
    ThreadState& ts = threads_[static_cast<std::size_t>(threadIndex)];
    auto si = static_cast<std::size_t>(storedIndex);
    if (ts.expanded[si])
        return;
    ts.expanded[si] = 1;
    ++ts.expansions;
    // Expansions are serialised: a primitive may keep state (its registered identifier) that
    // its first expansion on any thread fills.
    std::lock_guard<std::mutex> lock(expandMutex_);
    tlExpanding = storedIndex;
    stored_[si].generator->expandForThread(this, threadIndex);
    tlExpanding = -1;
}

void EmbreeRayServer::endFrame() {
    for (std::size_t t = 0; t < threads_.size(); ++t) {
        ThreadState& ts = threads_[t];
        for (std::size_t i = 0; i < ts.expanded.size() && i < stored_.size(); ++i)
            if (ts.expanded[i])
                stored_[i].generator->collapseForThread(this, static_cast<int>(t));
        ts.expanded.clear();
        ts.inserted.clear();
        ts.unmatched.clear();
    }
    stored_.clear();
    if (scene_) {
        rtcReleaseScene(scene_);
        scene_ = nullptr;
    }
    geomToStored_.clear();
    geomToTag_.clear();
    users_.clear();
    committed_ = false;
}

int EmbreeRayServer::expansionCount(int threadIndex) const {
    if (threadIndex < 0 || threadIndex >= numThreads())
        return 0;
    return threads_[static_cast<std::size_t>(threadIndex)].expansions;
}

VR::StaticBox EmbreeRayServer::storedBounds(int index) const {
    return stored_[static_cast<std::size_t>(index)].bounds;
}

TraceHit EmbreeRayServer::trace(VR::VRayContext& rc) {
    TraceHit out;
    if (!committed_ || rc.threadIndex < 0 || rc.threadIndex >= numThreads())
        return out;
    VR::RayBase& ray = rc.ray;
    if (!usable(ray.p, ray.dir, ray.tmin, ray.tmax)) {
        refused_.fetch_add(1, std::memory_order_relaxed);
        return out;
    }
    ray.rc = &rc;
    RayCtx c;
    rtcInitIntersectContext(&c.ctx);
    c.server = this;
    c.rc = &rc;
    c.nearest = ray.tmax;
    c.nearestF = ray.tmax < static_cast<double>(FLT_MAX) ? static_cast<float>(ray.tmax)
                                                         : std::numeric_limits<float>::infinity();
    c.hitPrim = nullptr;
    c.hitTop = nullptr;
    RTCRayHit rh;
    setupRay(rh.ray, ray);
    rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    rh.hit.primID = RTC_INVALID_GEOMETRY_ID;
    rh.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
    rtcIntersect1(scene_, &c.ctx, &rh);
    if (rh.hit.geomID == RTC_INVALID_GEOMETRY_ID)
        return out;
    unsigned gid = rh.hit.geomID;
    out.hit = true;
    out.ownerTag = gid < geomToTag_.size() ? geomToTag_[gid] : -1;
    int s = gid < geomToStored_.size() ? geomToStored_[gid] : -1;
    if (s >= 0 && c.hitPrim) {
        out.dynamic = true;
        out.dist = c.nearest;
        ray.nearestDist = c.nearest;
        ray.hitPrimitive = c.hitPrim;
        ray.hitTopPrimitive = c.hitTop;
        VR::RayResult& r = rc.rayresult;
        c.hitPrim->setIntersectionData(ray, r);
        r.isHit = 1;
        r.normal = c.hitPrim->getSurfaceNormal(rc);
        Point3 d(ray.dir[0], ray.dir[1], ray.dir[2]);
        r.side = DotProd(r.normal, d) > 0.0f ? 1 : 0;
    } else {
        out.dynamic = false;
        out.dist = static_cast<double>(rh.ray.tfar);
        out.geometricNormal = Point3(rh.hit.Ng_x, rh.hit.Ng_y, rh.hit.Ng_z);
        ray.nearestDist = out.dist;
        VR::RayResult& r = rc.rayresult;
        r.clear();
        r.isHit = 1;
        r.dist = out.dist;
        for (int i = 0; i < 3; ++i)
            r.wpoint[i] = ray.p[i] + static_cast<double>(ray.dir[i]) * out.dist;
        r.normal = Normalize(out.geometricNormal);
        Point3 d(ray.dir[0], ray.dir[1], ray.dir[2]);
        r.side = DotProd(r.normal, d) > 0.0f ? 1 : 0;
    }
    return out;
}

bool EmbreeRayServer::occluded(VR::VRayContext& rc) {
    if (!committed_ || rc.threadIndex < 0 || rc.threadIndex >= numThreads())
        return false;
    VR::RayBase& ray = rc.ray;
    if (!usable(ray.p, ray.dir, ray.tmin, ray.tmax)) {
        refused_.fetch_add(1, std::memory_order_relaxed);
        return true; // no light along a ray that cannot be traced
    }
    ray.rc = &rc;
    RayCtx c;
    rtcInitIntersectContext(&c.ctx);
    c.server = this;
    c.rc = &rc;
    c.nearest = ray.tmax;
    c.nearestF = 0.0f;
    c.hitPrim = nullptr;
    c.hitTop = nullptr;
    RTCRay r;
    setupRay(r, ray);
    rtcOccluded1(scene_, &c.ctx, &r);
    return r.tfar == -std::numeric_limits<float>::infinity();
}

} // namespace velquin::renderer
