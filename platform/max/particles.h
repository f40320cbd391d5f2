// Particle systems of the host stand-in.
//
// Simple particles: an object that answers GetInterface(I_SIMPLEPARTICLEOBJ) with a
// SimpleParticle, whose lists (positions, velocities per tick, ages with -1 for a dead particle,
// optional radii) UpdateParticles fills for a time. Two sources: a deterministic emitter and
// loaded per-particle data.
//
// Particle flow: a system object offering the particle-object extension interface, whose
// particles each belong to an event; an event is a node holding a particle-group object (a
// dependent of the system), whose group interface hands out a particle container with ID,
// position, size-vector and colour-vector channels. Particle ids are stable over time; particles
// move linearly, are born and die at given times and may move from one event to another.
#pragma once

#include "platform/max/fp.h"
#include "platform/max/object.h"
#include "platform/max/scene.h"
#include "platform/max/tab.h"

#include <cstdint>
#include <vector>

// ---- simple particles ----

constexpr ULONG I_SIMPLEPARTICLEOBJ = 0x10F0;

// The per-particle lists, parallel by particle index.
class ParticleSys {
public:
    Tab<Point3> points;  // world positions
    Tab<Point3> vels;    // world units per tick
    Tab<TimeValue> ages; // ticks since birth; -1 for a dead particle
    Tab<float> radius;   // one per particle, or empty when the system has no sizes
    int Count() const { return points.Count(); }
};

class SimpleParticle {
public:
    virtual ~SimpleParticle() = default;
    ParticleSys parts;
    // Fills parts for time t (the node places an emitter in the world).
    virtual void UpdateParticles(TimeValue t, INode* node) = 0;
    void Update(TimeValue t, INode* node) { UpdateParticles(t, node); }
};

// One particle of a simple system: born at birth, alive while birth <= t < death, moving
// linearly from position (at birth) with velocity (per tick).
struct SimpleParticleRecord {
    TimeValue birth = 0;
    TimeValue death = TIME_PosInfinity;
    Point3 position;
    Point3 velocity;
    float radius = 0.0f;
};

// Base of the simple systems: lists the particles born up to t (dead ones with age -1, at the
// place where they died) in record order.
class SimpleParticleObject : public GeomObject, public SimpleParticle {
public:
    int IsParticleSystem() override { return TRUE; }
    void* GetInterface(ULONG id) override;
    BaseInterface* GetInterface(Interface_ID id) override { return GeomObject::GetInterface(id); }
    Interval ObjectValidity(TimeValue t) override { return Interval(t, t); }
    void UpdateParticles(TimeValue t, INode* node) override;
    int Display(TimeValue t, INode* inode, ViewExp* vpt, int flags) override;
    int HitTest(TimeValue t, INode* inode, int type, int crossing, int flags, IPoint2* p,
                ViewExp* vpt) override;

    // Whether the lists carry per-particle radii.
    bool hasRadii = true;

protected:
    // The system's particles as seen at t.
    virtual void MakeRecords(TimeValue t, INode* node, std::vector<SimpleParticleRecord>& out) = 0;
};

constexpr Class_ID EMITTER_PARTICLES_CLASS_ID(0x56510010, 0x0);
constexpr Class_ID DATA_PARTICLES_CLASS_ID(0x56510011, 0x0);

// Emits `rate` particles per second from the node's object origin between start and end: the
// k-th particle is born at start + floor(k * 4800 / rate) ticks, leaves along `direction`
// (object space, turned by the node's transform at its birth) tilted at random by up to `spread`
// degrees, at `speed` units per frame (160 ticks), and dies `life` ticks later (never when life
// is 0 or less). Radii are size scaled at random by up to +-sizeVariation. The random numbers
// come from `seed` and the particle number only, so every evaluation gives the same particles.
class EmitterParticleObject : public SimpleParticleObject {
public:
    float rate = 30.0f;
    TimeValue start = 0;
    TimeValue end = 4800;
    float speed = 10.0f;
    Point3 direction{0.0f, 0.0f, 1.0f};
    float spread = 0.0f;
    TimeValue life = 4800;
    float size = 1.0f;
    float sizeVariation = 0.0f;
    std::uint32_t seed = 12345;

    Class_ID ClassID() override { return EMITTER_PARTICLES_CLASS_ID; }
    void GetClassName(MSTR& s) override { s = "Particle Emitter"; }
    const char* GetObjectName() override { return "Particle Emitter"; }

protected:
    void MakeRecords(TimeValue t, INode* node, std::vector<SimpleParticleRecord>& out) override;
};

// Particles given one by one (world positions at birth, velocities per tick).
class DataParticleObject : public SimpleParticleObject {
public:
    std::vector<SimpleParticleRecord> particles;

    Class_ID ClassID() override { return DATA_PARTICLES_CLASS_ID; }
    void GetClassName(MSTR& s) override { s = "Particle Data"; }
    const char* GetObjectName() override { return "Particle Data"; }

protected:
    void MakeRecords(TimeValue t, INode* node, std::vector<SimpleParticleRecord>& out) override;
};

// ---- particle flow ----

constexpr Interface_ID PARTICLEOBJECTEXT_INTERFACE(0x66C2429A, 0x38D60A0B);
constexpr Interface_ID PARTICLEGROUP_INTERFACE(0x2C712D9F, 0x7BC54CB0);
constexpr Interface_ID PARTICLECHANNELIDR_INTERFACE(0x74F93B02, 0x1EB34500);
// Channel interfaces are (X, read part) for reading and (X, write part) for writing.
constexpr ULONG PARTICLECHANNEL_READ = 0x1EB34500;
constexpr ULONG PARTICLECHANNEL_WRITE = 0x1EB34501;
constexpr ULONG PARTICLECHANNELPOSITION_X = 0x74F93B06;
constexpr ULONG PARTICLECHANNELSIZEVECTOR_X = 0x74F93B0B;
constexpr ULONG PARTICLECHANNELCOLORVECTOR_X = 0x74F93B16;
// Class of the Point3 channels (positions, size vectors, colour vectors).
constexpr Class_ID ParticleChannelPoint3_Class_ID(0x74F93B07, 0x1EB34100);
// The container's channel list (the stand-in's own identifier).
constexpr Interface_ID CHANNELCONTAINER_INTERFACE(0x56510020, 0x1EB34600);

// A particle container or channel object: answers interfaces by ID.
class IObject {
public:
    virtual ~IObject() = default;
    virtual BaseInterface* GetInterface(Interface_ID id) {
        (void)id;
        return nullptr;
    }
};

struct ParticleID {
    int index = 0; // position in its container at the last update
    int born = 0;  // the particle's stable identifier
};

class IParticleChannelIDR : public BaseInterface {
public:
    Interface_ID GetID() override { return PARTICLECHANNELIDR_INTERFACE; }
    virtual int Count() const = 0;
    virtual const ParticleID& GetID(int index) const = 0;
    int GetParticleIndex(int index) const { return GetID(index).index; }
    int GetParticleBorn(int index) const { return GetID(index).born; }
};

class IParticleChannelPoint3R : public BaseInterface {
public:
    virtual int Count() const = 0;
    virtual const Point3& GetValue(int index) const = 0;
};

// The channel list of a container. A request names the channel's read interface, the channel
// class, whether the channel is transient, the read and write interfaces again, whether it is
// private, and an action node, owner and parameter that the stand-in does not use. It answers
// the read interface of an existing channel when every identifier matches, else null: the
// stand-in never adds channels (which channels exist is decided by the events) and serves no
// write access.
class IChannelContainer : public BaseInterface {
public:
    Interface_ID GetID() override { return CHANNELCONTAINER_INTERFACE; }
    virtual BaseInterface* EnsureInterface(Interface_ID id, Class_ID channelClassID,
                                           bool isTransient, Interface_ID readId,
                                           Interface_ID writeId, bool isPrivate, INode* actionNode,
                                           Object* privateOwner, void* param) = 0;
};
IChannelContainer* GetChannelContainerInterface(IObject* container);

class IParticleGroup : public BaseInterface {
public:
    Interface_ID GetID() override { return PARTICLEGROUP_INTERFACE; }
    virtual IObject* GetParticleContainer() = 0;
    // Brings the group's container to time t.
    virtual void Update(TimeValue t) = 0;
    virtual INode* GetParticleSystem() = 0;
};

class IParticleObjectExt : public BaseInterface {
public:
    Interface_ID GetID() override { return PARTICLEOBJECTEXT_INTERFACE; }
    // Brings the whole system to time t.
    virtual bool UpdateParticles(INode* node, TimeValue t) = 0;
    virtual int NumParticles() = 0;
    // The event node that particle i (of the last update) belongs to.
    virtual INode* GetParticleGroup(int index) = 0;
    virtual int GetParticleBornIndex(int index) = 0;
};

// The object that carries the particle interfaces of an object in a node: here the object itself.
Object* GetPFObject(Object* obj);

class ParticleGroupObject;

// One particle of a flow system: alive while birth <= t < death, in `event` until switchTime and
// in nextEvent from then on (when nextEvent >= 0).
struct FlowParticleRecord {
    int id = 0;
    TimeValue birth = 0;
    TimeValue death = TIME_PosInfinity;
    Point3 position; // world position at birth
    Point3 velocity; // per tick
    float size = 1.0f;
    Point3 color{1.0f, 1.0f, 1.0f};
    int event = 0;
    int nextEvent = -1;
    TimeValue switchTime = TIME_PosInfinity;
};

constexpr Class_ID PFLOW_SYSTEM_CLASS_ID(0x56510012, 0x0);
constexpr Class_ID PFLOW_GROUP_CLASS_ID(0x56510013, 0x0);

// A container's contents at one time: the particles of one event, in record order.
class ParticleContainer : public IObject {
public:
    ParticleContainer();
    BaseInterface* GetInterface(Interface_ID id) override;
    int Count() const { return static_cast<int>(ids_.size()); }
    TimeValue Time() const { return time_; }

    // Which value channels exist (position always does).
    bool hasSize = true;
    bool hasColor = true;

private:
    friend class PFlowSystemObject;
    friend class ParticleGroupObject;
    class IDChannel : public IParticleChannelIDR {
    public:
        explicit IDChannel(ParticleContainer* c) : c_(c) {}
        int Count() const override { return c_->Count(); }
        const ParticleID& GetID(int index) const override { return c_->ids_[index]; }

    private:
        ParticleContainer* c_;
    };
    class Point3Channel : public IParticleChannelPoint3R {
    public:
        Point3Channel(ULONG x, std::vector<Point3>* data) : x_(x), data_(data) {}
        Interface_ID GetID() override { return Interface_ID(x_, PARTICLECHANNEL_READ); }
        int Count() const override { return static_cast<int>(data_->size()); }
        const Point3& GetValue(int index) const override { return (*data_)[index]; }

    private:
        ULONG x_;
        std::vector<Point3>* data_;
    };
    class Channels : public IChannelContainer {
    public:
        explicit Channels(ParticleContainer* c) : c_(c) {}
        BaseInterface* EnsureInterface(Interface_ID id, Class_ID channelClassID, bool isTransient,
                                       Interface_ID readId, Interface_ID writeId, bool isPrivate,
                                       INode* actionNode, Object* privateOwner,
                                       void* param) override;

    private:
        ParticleContainer* c_;
    };

    TimeValue time_ = TIME_NegInfinity;
    std::vector<ParticleID> ids_;
    std::vector<Point3> positions_, sizes_, colors_;
    IDChannel idChannel_{this};
    Point3Channel position_{PARTICLECHANNELPOSITION_X, &positions_};
    Point3Channel size_{PARTICLECHANNELSIZEVECTOR_X, &sizes_};
    Point3Channel color_{PARTICLECHANNELCOLORVECTOR_X, &colors_};
    Channels channels_{this};
};

// The particle-flow system: its records and its events (group objects, in event order).
class PFlowSystemObject : public GeomObject, public IParticleObjectExt {
public:
    ~PFlowSystemObject() override;

    Class_ID ClassID() override { return PFLOW_SYSTEM_CLASS_ID; }
    void GetClassName(MSTR& s) override { s = "Particle Flow"; }
    const char* GetObjectName() override { return "PF Source"; }
    int IsParticleSystem() override { return TRUE; }
    void* GetInterface(ULONG id) override { return GeomObject::GetInterface(id); }
    BaseInterface* GetInterface(Interface_ID id) override;
    Interface_ID GetID() override { return PARTICLEOBJECTEXT_INTERFACE; }
    Interval ObjectValidity(TimeValue t) override { return Interval(t, t); }
    int Display(TimeValue t, INode* inode, ViewExp* vpt, int flags) override;

    bool UpdateParticles(INode* node, TimeValue t) override;
    int NumParticles() override { return static_cast<int>(alive_.size()); }
    INode* GetParticleGroup(int index) override;
    int GetParticleBornIndex(int index) override;

    // A new event: a group object (owned by the scene) in a new node of the scene.
    INode* AddEvent(Scene& scene, const char* name, bool hasSize = true, bool hasColor = true);
    int NumEvents() const { return static_cast<int>(events_.size()); }
    ParticleGroupObject* GetEvent(int i) const { return events_[static_cast<size_t>(i)]; }
    // Event node of event i (the first node holding its group object), or null.
    INode* GetEventNode(int i) const;

    std::vector<FlowParticleRecord> particles;

private:
    friend class ParticleGroupObject;
    void FillContainer(const ParticleGroupObject* group, TimeValue t, ParticleContainer& c) const;
    int eventIndex(const ParticleGroupObject* group) const;
    void removeEvent(ParticleGroupObject* group);
    std::vector<ParticleGroupObject*> events_;
    std::vector<int> alive_; // record indices alive at the last update, in record order
    TimeValue aliveTime_ = 0;
};

// An event of a flow system. Reference 0 is the system, which makes the event's node a
// dependent of the system.
class ParticleGroupObject : public GeomObject, public IParticleGroup {
public:
    explicit ParticleGroupObject(PFlowSystemObject* system = nullptr);
    ~ParticleGroupObject() override;

    Class_ID ClassID() override { return PFLOW_GROUP_CLASS_ID; }
    void GetClassName(MSTR& s) override { s = "Particle Group"; }
    const char* GetObjectName() override { return "Event"; }
    void* GetInterface(ULONG id) override { return GeomObject::GetInterface(id); }
    BaseInterface* GetInterface(Interface_ID id) override;
    Interface_ID GetID() override { return PARTICLEGROUP_INTERFACE; }
    Interval ObjectValidity(TimeValue t) override { return Interval(t, t); }
    int Display(TimeValue t, INode* inode, ViewExp* vpt, int flags) override;

    IObject* GetParticleContainer() override { return &container_; }
    void Update(TimeValue t) override;
    INode* GetParticleSystem() override;

    PFlowSystemObject* System() const { return system_; }
    ParticleContainer& Container() { return container_; }

    int NumRefs() override { return 1; }
    RefTargetHandle GetReference(int i) override;
    void SetReference(int i, RefTargetHandle rtarg) override;

private:
    PFlowSystemObject* system_ = nullptr;
    ParticleContainer container_;
};
