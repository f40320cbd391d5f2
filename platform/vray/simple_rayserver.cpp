#include "platform/vray/simple_rayserver.h"

#include <algorithm>

namespace VR {

SimpleRayServer::SimpleRayServer(int numThreads)
    : threads_(static_cast<std::size_t>(numThreads > 0 ? numThreads : 1)) {}

int SimpleRayServer::newRenderID() {
    return nextRenderID_.fetch_add(1, std::memory_order_relaxed);
}

void SimpleRayServer::storeDynamicStaticPrimitive(DynamicPrimitive<StaticBox>* primitive,
                                                  GenericPrimitive* owner, int id) {
    if (!primitive)
        return;
    Stored s{primitive, primitive, owner, id, false, StaticBox(), MovingBox()};
    // The box is read once per frame: primitives are fixed between registration and collapse.
    primitive->getBBox(s.sbox);
    stored_.push_back(s);
}

void SimpleRayServer::storeDynamicMovingPrimitive(DynamicPrimitive<MovingBox>* primitive,
                                                  GenericPrimitive* owner, int id) {
    if (!primitive)
        return;
    Stored s{primitive, primitive, owner, id, true, StaticBox(), MovingBox()};
    primitive->getBBox(s.mbox);
    stored_.push_back(s);
}

int SimpleRayServer::newPrimitiveID(int threadIndex, GenericPrimitive* primitive) {
    (void)threadIndex;
    (void)primitive;
    return nextPrimitiveID_.fetch_add(1, std::memory_order_relaxed);
}

void SimpleRayServer::insertPrimitive(int threadIndex, GenericPrimitive* primitive,
                                      GenericPrimitive* owner, int id) {
    if (threadIndex < 0 || threadIndex >= numThreads() || !primitive)
        return;
    // The box comes from the stored entry of the owner (an embedded primitive inserted by its
    // render instance) or of the primitive itself.
    int box = -1;
    for (std::size_t i = 0; i < stored_.size() && box < 0; ++i)
        if (stored_[i].primitive == owner || stored_[i].owner == owner ||
            stored_[i].primitive == primitive)
            box = static_cast<int>(i);
    threads_[static_cast<std::size_t>(threadIndex)].inserted.push_back(
        Inserted{primitive, owner, id, box});
}

void SimpleRayServer::removePrimitive(int threadIndex, GenericPrimitive* primitive) {
    if (threadIndex < 0 || threadIndex >= numThreads())
        return;
    auto& v = threads_[static_cast<std::size_t>(threadIndex)].inserted;
    v.erase(std::remove_if(v.begin(), v.end(),
                           [&](const Inserted& e) { return e.primitive == primitive; }),
            v.end());
}

int SimpleRayServer::insertedCount(int threadIndex) const {
    if (threadIndex < 0 || threadIndex >= numThreads())
        return 0;
    return static_cast<int>(threads_[static_cast<std::size_t>(threadIndex)].inserted.size());
}

int SimpleRayServer::expansionCount(int threadIndex) const {
    if (threadIndex < 0 || threadIndex >= numThreads())
        return 0;
    return threads_[static_cast<std::size_t>(threadIndex)].expansions;
}

bool SimpleRayServer::crossesBox(const RayBase& ray, const Stored& s) const {
    StaticBox b = s.moving ? s.mbox.boxAt(ray.time) : s.sbox;
    if (b.isEmpty())
        return false;
    double t0 = ray.tmin;
    double t1 = std::min(ray.tmax, ray.nearestDist);
    for (int a = 0; a < 3; ++a) {
        double o = ray.p[a];
        double d = ray.dir[a];
        double lo = b.pmin[a], hi = b.pmax[a];
        if (d == 0.0) {
            if (o < lo || o > hi)
                return false;
            continue;
        }
        double ta = (lo - o) / d;
        double tb = (hi - o) / d;
        if (ta > tb)
            std::swap(ta, tb);
        t0 = std::max(t0, ta);
        t1 = std::min(t1, tb);
        if (t0 > t1)
            return false;
    }
    return true;
}

bool SimpleRayServer::findNearestHit(VRayContext& rc) {
    RayBase& ray = rc.ray;
    ray.rc = &rc;
    if (rc.threadIndex < 0 || rc.threadIndex >= numThreads())
        return false;
    ThreadState& ts = threads_[static_cast<std::size_t>(rc.threadIndex)];
    // Expansion first (it inserts into this thread's list), then the search over the list.
    if (ts.expanded.size() < stored_.size())
        ts.expanded.resize(stored_.size(), 0);
    for (std::size_t i = 0; i < stored_.size(); ++i) {
        if (ts.expanded[i])
            continue;
        ts.expanded[i] = 1;
        ++ts.expansions;
        stored_[i].generator->expandForThread(this, rc.threadIndex);
    }

    GenericPrimitive* best = nullptr;
    GenericPrimitive* bestTop = nullptr;
    double bestDist = ray.nearestDist;
    for (const Inserted& e : ts.inserted) {
        if (e.stored >= 0 && !crossesBox(ray, stored_[static_cast<std::size_t>(e.stored)]))
            continue;
        GenericPrimitive* prevHit = ray.hitPrimitive;
        GenericPrimitive* prevTop = ray.hitTopPrimitive;
        if (!e.primitive->intersect(ray))
            continue;
        // A primitive must not report a hit behind the nearest one; should it, keep the nearest.
        if (ray.nearestDist > bestDist) {
            ray.nearestDist = bestDist;
            ray.hitPrimitive = prevHit;
            ray.hitTopPrimitive = prevTop;
            continue;
        }
        bestDist = ray.nearestDist;
        best = ray.hitPrimitive ? ray.hitPrimitive : e.primitive;
        bestTop = ray.hitTopPrimitive ? ray.hitTopPrimitive : e.primitive;
        ray.hitPrimitive = best;
        ray.hitTopPrimitive = bestTop;
    }
    if (!best)
        return false;

    RayResult& r = rc.rayresult;
    best->setIntersectionData(ray, r);
    r.isHit = 1;
    r.normal = best->getSurfaceNormal(rc);
    Vector d(ray.dir[0], ray.dir[1], ray.dir[2]);
    r.side = DotProd(r.normal, d) > 0.0f ? 1 : 0;
    return true;
}

void SimpleRayServer::clearFrame() {
    for (std::size_t t = 0; t < threads_.size(); ++t) {
        ThreadState& ts = threads_[t];
        for (std::size_t i = 0; i < ts.expanded.size() && i < stored_.size(); ++i)
            if (ts.expanded[i])
                stored_[i].generator->collapseForThread(this, static_cast<int>(t));
        ts.expanded.clear();
        ts.inserted.clear();
    }
    stored_.clear();
}

} // namespace VR
