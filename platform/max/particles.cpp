#include "platform/max/particles.h"

#include "platform/max/core.h"
#include "platform/max/viewport.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kGrowStep = 500;
constexpr float kPi = 3.14159265358979f;

// A well-mixed 32-bit hash of (seed, particle, stream): the emitter's random numbers depend on
// nothing else, so particles never change with the order or times of evaluation.
float unitRandom(std::uint32_t seed, std::uint32_t k, std::uint32_t stream) {
    std::uint64_t z = (static_cast<std::uint64_t>(seed) << 32) ^
                      (static_cast<std::uint64_t>(k) * 3u) ^
                      (static_cast<std::uint64_t>(stream) << 20);
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<float>(z >> 40) * (1.0f / 16777216.0f);
}

// Draws (or, while picking, hit-tests) world-space points as markers.
void drawPoints(const std::vector<Point3>& pts, ViewExp* vpt) {
    GraphicsWindow* gw = vpt->getGW();
    gw->setTransform(Matrix3());
    for (Point3 p : pts)
        gw->marker(&p, POINT_MRKR);
}

int hitPoints(const std::vector<Point3>& pts, int type, int crossing, IPoint2* p, ViewExp* vpt) {
    if (!vpt || !p)
        return FALSE;
    GraphicsWindow* gw = vpt->getGW();
    HitRegion hr;
    MakeHitRegion(hr, type, crossing, 4, p);
    DWORD saved = gw->getRndLimits();
    gw->setRndLimits((saved | GW_PICK) & ~GW_ILLUM);
    gw->setHitRegion(&hr);
    gw->clearHitCode();
    drawPoints(pts, vpt);
    gw->setRndLimits(saved);
    return gw->checkHitCode();
}

INode* firstNodeOf(ReferenceTarget* target) {
    if (!target)
        return nullptr;
    for (ReferenceMaker* m : target->Dependents())
        if (m->SuperClassID() == BASENODE_CLASS_ID)
            return static_cast<INode*>(m);
    return nullptr;
}

bool aliveAt(const FlowParticleRecord& r, TimeValue t) {
    return r.birth <= t && t < r.death;
}

int eventAt(const FlowParticleRecord& r, TimeValue t) {
    return (r.nextEvent >= 0 && t >= r.switchTime) ? r.nextEvent : r.event;
}

Point3 positionAt(const FlowParticleRecord& r, TimeValue t) {
    return r.position + r.velocity * static_cast<float>(t - r.birth);
}

} // namespace

// ---- simple particles ----

void* SimpleParticleObject::GetInterface(ULONG id) {
    if (id == I_SIMPLEPARTICLEOBJ)
        return static_cast<SimpleParticle*>(this);
    return GeomObject::GetInterface(id);
}

void SimpleParticleObject::UpdateParticles(TimeValue t, INode* node) {
    std::vector<SimpleParticleRecord> recs;
    MakeRecords(t, node, recs);
    parts.points.ZeroCount();
    parts.vels.ZeroCount();
    parts.ages.ZeroCount();
    parts.radius.ZeroCount();
    for (const SimpleParticleRecord& r : recs) {
        if (r.birth > t)
            continue;
        bool alive = t < r.death;
        TimeValue age = alive ? t - r.birth : -1;
        Point3 p = r.position + r.velocity * static_cast<float>((alive ? t : r.death) - r.birth);
        parts.points.Append(1, &p, kGrowStep);
        parts.vels.Append(1, &r.velocity, kGrowStep);
        parts.ages.Append(1, &age, kGrowStep);
        if (hasRadii)
            parts.radius.Append(1, &r.radius, kGrowStep);
    }
}

int SimpleParticleObject::Display(TimeValue t, INode* inode, ViewExp* vpt, int flags) {
    (void)flags;
    if (!vpt)
        return 0;
    UpdateParticles(t, inode);
    std::vector<Point3> pts;
    for (int i = 0; i < parts.Count(); ++i)
        if (parts.ages[i] >= 0)
            pts.push_back(parts.points[i]);
    vpt->getGW()->setColor(LINE_COLOR, ColorRefToPoint3(inode ? inode->GetWireColor() : 0xffffff));
    drawPoints(pts, vpt);
    return 0;
}

int SimpleParticleObject::HitTest(TimeValue t, INode* inode, int type, int crossing, int flags,
                                  IPoint2* p, ViewExp* vpt) {
    (void)flags;
    UpdateParticles(t, inode);
    std::vector<Point3> pts;
    for (int i = 0; i < parts.Count(); ++i)
        if (parts.ages[i] >= 0)
            pts.push_back(parts.points[i]);
    return hitPoints(pts, type, crossing, p, vpt);
}

void EmitterParticleObject::MakeRecords(TimeValue t, INode* node,
                                        std::vector<SimpleParticleRecord>& out) {
    if (!(rate > 0.0f))
        return;
    TimeValue limit = std::min(t, end);
    const double ticksPer = 4800.0 / static_cast<double>(rate);
    Point3 dir = Normalize(direction);
    if (dir.LengthSquared() == 0.0f)
        dir = Point3(0.0f, 0.0f, 1.0f);
    // Two axes across the direction for the random tilt.
    Point3 a = CrossProd(dir, std::fabs(dir.z) < 0.9f ? Point3(0, 0, 1) : Point3(1, 0, 0));
    a = Normalize(a);
    Point3 b = CrossProd(dir, a);
    const float spreadRad = spread * kPi / 180.0f;
    for (std::uint32_t k = 0; k < 1000000u; ++k) {
        double when = static_cast<double>(start) + std::floor(static_cast<double>(k) * ticksPer);
        if (when > static_cast<double>(limit))
            break;
        SimpleParticleRecord r;
        r.birth = static_cast<TimeValue>(when);
        r.death = life > 0 ? r.birth + life : TIME_PosInfinity;
        Matrix3 tm = node ? node->GetObjectTM(r.birth) : Matrix3();
        float theta = spreadRad * unitRandom(seed, k, 0);
        float phi = 2.0f * kPi * unitRandom(seed, k, 1);
        Point3 d =
            dir * std::cos(theta) + (a * std::cos(phi) + b * std::sin(phi)) * std::sin(theta);
        r.position = tm.GetTrans();
        r.velocity = Normalize(tm.VectorTransform(d)) * (speed / 160.0f);
        r.radius = size * (1.0f + sizeVariation * (2.0f * unitRandom(seed, k, 2) - 1.0f));
        out.push_back(r);
    }
}

void DataParticleObject::MakeRecords(TimeValue t, INode* node,
                                     std::vector<SimpleParticleRecord>& out) {
    (void)t, (void)node;
    out = particles;
}

// ---- particle flow: container ----

IChannelContainer* GetChannelContainerInterface(IObject* container) {
    if (!container)
        return nullptr;
    return dynamic_cast<IChannelContainer*>(container->GetInterface(CHANNELCONTAINER_INTERFACE));
}

Object* GetPFObject(Object* obj) {
    return obj;
}

ParticleContainer::ParticleContainer() = default;

BaseInterface* ParticleContainer::GetInterface(Interface_ID id) {
    if (id == PARTICLECHANNELIDR_INTERFACE)
        return &idChannel_;
    if (id == CHANNELCONTAINER_INTERFACE)
        return &channels_;
    return nullptr;
}

BaseInterface* ParticleContainer::Channels::EnsureInterface(
    Interface_ID id, Class_ID channelClassID, bool isTransient, Interface_ID readId,
    Interface_ID writeId, bool isPrivate, INode* actionNode, Object* privateOwner, void* param) {
    (void)isTransient, (void)isPrivate, (void)actionNode, (void)privateOwner, (void)param;
    const ULONG x = id.PartA();
    if (id.PartB() != PARTICLECHANNEL_READ || !(channelClassID == ParticleChannelPoint3_Class_ID) ||
        !(readId == id) || !(writeId == Interface_ID(x, PARTICLECHANNEL_WRITE)))
        return nullptr;
    switch (x) {
    case PARTICLECHANNELPOSITION_X:
        return &c_->position_;
    case PARTICLECHANNELSIZEVECTOR_X:
        return c_->hasSize ? &c_->size_ : nullptr;
    case PARTICLECHANNELCOLORVECTOR_X:
        return c_->hasColor ? &c_->color_ : nullptr;
    default:
        return nullptr;
    }
}

// ---- particle flow: system ----

PFlowSystemObject::~PFlowSystemObject() {
    // The groups hear of the deletion through their reference and forget the system.
    events_.clear();
}

BaseInterface* PFlowSystemObject::GetInterface(Interface_ID id) {
    if (id == PARTICLEOBJECTEXT_INTERFACE)
        return static_cast<IParticleObjectExt*>(this);
    return GeomObject::GetInterface(id);
}

bool PFlowSystemObject::UpdateParticles(INode* node, TimeValue t) {
    (void)node;
    alive_.clear();
    for (size_t i = 0; i < particles.size(); ++i)
        if (aliveAt(particles[i], t))
            alive_.push_back(static_cast<int>(i));
    aliveTime_ = t;
    return true;
}

INode* PFlowSystemObject::GetParticleGroup(int index) {
    if (index < 0 || index >= NumParticles())
        return nullptr;
    int ev =
        eventAt(particles[static_cast<size_t>(alive_[static_cast<size_t>(index)])], aliveTime_);
    return ev >= 0 && ev < NumEvents() ? GetEventNode(ev) : nullptr;
}

int PFlowSystemObject::GetParticleBornIndex(int index) {
    if (index < 0 || index >= NumParticles())
        return -1;
    return particles[static_cast<size_t>(alive_[static_cast<size_t>(index)])].id;
}

INode* PFlowSystemObject::AddEvent(Scene& scene, const char* name, bool hasSize, bool hasColor) {
    auto* g = new ParticleGroupObject(this);
    g->Container().hasSize = hasSize;
    g->Container().hasColor = hasColor;
    events_.push_back(g);
    return scene.CreateNode(g, name);
}

INode* PFlowSystemObject::GetEventNode(int i) const {
    if (i < 0 || i >= NumEvents())
        return nullptr;
    return firstNodeOf(events_[static_cast<size_t>(i)]);
}

int PFlowSystemObject::eventIndex(const ParticleGroupObject* group) const {
    auto it = std::find(events_.begin(), events_.end(), group);
    return it == events_.end() ? -1 : static_cast<int>(it - events_.begin());
}

void PFlowSystemObject::removeEvent(ParticleGroupObject* group) {
    // Later events keep their numbers: a removed event leaves an empty place.
    auto it = std::find(events_.begin(), events_.end(), group);
    if (it != events_.end())
        *it = nullptr;
}

void PFlowSystemObject::FillContainer(const ParticleGroupObject* group, TimeValue t,
                                      ParticleContainer& c) const {
    int ev = eventIndex(group);
    c.ids_.clear();
    c.positions_.clear();
    c.sizes_.clear();
    c.colors_.clear();
    c.time_ = t;
    if (ev < 0)
        return;
    // Counted first so that each channel is allocated once at its final size: big systems
    // would otherwise hold up to twice their channels while the lists grow.
    std::size_t n = 0;
    for (const FlowParticleRecord& r : particles)
        n += aliveAt(r, t) && eventAt(r, t) == ev ? 1 : 0;
    c.ids_.reserve(n);
    c.positions_.reserve(n);
    c.sizes_.reserve(n);
    c.colors_.reserve(n);
    for (const FlowParticleRecord& r : particles) {
        if (!aliveAt(r, t) || eventAt(r, t) != ev)
            continue;
        c.ids_.push_back({static_cast<int>(c.ids_.size()), r.id});
        c.positions_.push_back(positionAt(r, t));
        c.sizes_.push_back(Point3(r.size, r.size, r.size));
        c.colors_.push_back(r.color);
    }
}

int PFlowSystemObject::Display(TimeValue t, INode* inode, ViewExp* vpt, int flags) {
    (void)inode, (void)flags;
    if (!vpt)
        return 0;
    std::vector<Point3> pts;
    for (const FlowParticleRecord& r : particles)
        if (aliveAt(r, t))
            pts.push_back(positionAt(r, t));
    drawPoints(pts, vpt);
    return 0;
}

// ---- particle flow: group ----

ParticleGroupObject::ParticleGroupObject(PFlowSystemObject* system) {
    if (system)
        ReplaceReference(0, system);
}

ParticleGroupObject::~ParticleGroupObject() {
    if (system_)
        system_->removeEvent(this);
    DeleteAllRefs();
}

BaseInterface* ParticleGroupObject::GetInterface(Interface_ID id) {
    if (id == PARTICLEGROUP_INTERFACE)
        return static_cast<IParticleGroup*>(this);
    return GeomObject::GetInterface(id);
}

RefTargetHandle ParticleGroupObject::GetReference(int i) {
    return i == 0 ? system_ : nullptr;
}

void ParticleGroupObject::SetReference(int i, RefTargetHandle rtarg) {
    if (i == 0)
        system_ = dynamic_cast<PFlowSystemObject*>(rtarg);
}

void ParticleGroupObject::Update(TimeValue t) {
    if (system_) {
        system_->FillContainer(this, t, container_);
    } else {
        container_.ids_.clear();
        container_.positions_.clear();
        container_.sizes_.clear();
        container_.colors_.clear();
        container_.time_ = t;
    }
}

INode* ParticleGroupObject::GetParticleSystem() {
    return firstNodeOf(system_);
}

int ParticleGroupObject::Display(TimeValue t, INode* inode, ViewExp* vpt, int flags) {
    (void)inode, (void)flags;
    if (!vpt)
        return 0;
    Update(t);
    drawPoints(container_.positions_, vpt);
    return 0;
}
