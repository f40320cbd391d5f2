// Metaballs from particle systems: one per living particle, through the host's simple-particle
// interface or the particle-flow interfaces (optionally only some events, and for motion blur
// only particles present at both ends of the segment and slower than "velocityThreshold").
#include "object/ParamIds.h"
#include "render/GatherRoutes.h"

namespace velquin {

namespace {

constexpr int kGrow = GatherBuffers::kGatherGrowth;

SimpleParticle* simpleParticlesOf(INode* node, TimeValue t) {
    Object* obj = node ? node->EvalWorldState(t).obj : nullptr;
    return obj ? static_cast<SimpleParticle*>(obj->GetInterface(I_SIMPLEPARTICLEOBJ)) : nullptr;
}

IParticleObjectExt* flowExtensionOf(INode* node, TimeValue t) {
    Object* obj = node ? node->EvalWorldState(t).obj : nullptr;
    return obj ? static_cast<IParticleObjectExt*>(obj->GetInterface(PARTICLEOBJECTEXT_INTERFACE))
               : nullptr;
}

// The size of particle i: its own radius, or the base size for a system without radii. A list
// that is shorter than the positions gives the base size to the particles it lacks.
float particleSize(const ParticleSys& parts, int i, float baseSize) {
    return i < parts.radius.Count() ? parts.radius[i] : baseSize;
}

// A particle without an age entry is taken as alive: only an explicit -1 marks a dead one.
bool particleAlive(const ParticleSys& parts, int i) {
    return i >= parts.ages.Count() || parts.ages[i] != -1;
}

// "allPflow" and the "pflow" event list, both read at time 0.
bool readEvents(IParamBlock2* pblock, Tab<INode*>& events) {
    if (!pblock)
        return true;
    const int n = pblock->Count(pb_pflow);
    for (int i = 0; i < n; ++i) {
        INode* e = pblock->GetINode(pb_pflow, 0, i);
        events.Append(1, &e, kGrow);
    }
    return pblock->GetInt(pb_allPflow, 0) != 0;
}

bool listsEvent(const Tab<INode*>& events, INode* node) {
    for (int i = 0; i < events.Count(); ++i)
        if (events[i] == node)
            return true;
    return false;
}

// One value channel of a container, or null when it is missing.
const IParticleChannelPoint3R* valueChannel(IChannelContainer* channels, ULONG x) {
    if (!channels)
        return nullptr;
    const Interface_ID read(x, PARTICLECHANNEL_READ);
    return static_cast<IParticleChannelPoint3R*>(channels->EnsureInterface(
        read, ParticleChannelPoint3_Class_ID, true, read, Interface_ID(x, PARTICLECHANNEL_WRITE),
        true, nullptr, nullptr, nullptr));
}

int compareById(const void* a, const void* b) {
    const std::int32_t ia = static_cast<const FlowParticle*>(a)->id;
    const std::int32_t ib = static_cast<const FlowParticle*>(b)->id;
    return ia < ib ? -1 : (ia > ib ? 1 : 0);
}

} // namespace

bool gatherSimpleParticles(GatherBuffers& b, INode* node, TimeValue t) {
    SimpleParticle* sp = simpleParticlesOf(node, t);
    if (!sp)
        return false;
    sp->UpdateParticles(t, node);
    const ParticleSys& parts = sp->parts;
    const Point3 black(0.0f, 0.0f, 0.0f);
    for (int i = 0; i < parts.points.Count(); ++i) {
        if (!particleAlive(parts, i))
            continue;
        b.positions.Append(1, parts.points.Addr(i), kGrow);
        if (b.useColor)
            b.colors.Append(1, &black, kGrow);
        if (b.useScale) {
            float s = particleSize(parts, i, b.baseSize);
            b.sizes.Append(1, &s, kGrow);
        }
    }
    return true;
}

bool gatherSimpleParticlesMoving(GatherBuffers& b, INode* node, TimeValue t0, TimeValue t1) {
    SimpleParticle* sp = simpleParticlesOf(node, t0);
    if (!sp)
        return false;
    sp->UpdateParticles(t0, node);
    const ParticleSys& parts = sp->parts;
    const Point3 black(0.0f, 0.0f, 0.0f);
    const float ticks = static_cast<float>(t1 - t0);
    for (int i = 0; i < parts.points.Count(); ++i) {
        if (!particleAlive(parts, i))
            continue;
        // A particle without a velocity entry stands still over the segment.
        Point3 d = i < parts.vels.Count() ? parts.vels[i] * ticks : Point3();
        b.positions.Append(1, parts.points.Addr(i), kGrow);
        if (b.useColor)
            b.colors.Append(1, &black, kGrow);
        b.displacements.Append(1, &d, kGrow);
        if (b.useScale) {
            float s = particleSize(parts, i, b.baseSize);
            b.sizes.Append(1, &s, kGrow);
            b.sizeDeltas.Append(1, &b.defaultSizeDelta, kGrow);
        }
    }
    return true;
}

void collectFlowParticles(IParticleObjectExt* ext, const Tab<INode*>& events,
                          Tab<FlowParticle>& records, bool allPflow, bool useScale, bool useColor,
                          TimeValue t) {
    if (!ext)
        return;
    // The distinct event nodes, in order of first appearance.
    Tab<INode*> groups;
    const int np = ext->NumParticles();
    for (int i = 0; i < np; ++i) {
        INode* g = ext->GetParticleGroup(i);
        if (g && !listsEvent(groups, g))
            groups.Append(1, &g, kGrow);
    }
    for (int gi = 0; gi < groups.Count(); ++gi) {
        INode* groupNode = groups[gi];
        if (!allPflow && !listsEvent(events, groupNode))
            continue;
        // An event node without an object (or whose object is no particle group, or has no
        // container) has no particles to give: it is skipped and the next event is collected.
        Object* obj = groupNode->GetObjectRef();
        Object* pfObj = obj ? GetPFObject(obj) : nullptr;
        IParticleGroup* group =
            pfObj ? static_cast<IParticleGroup*>(pfObj->GetInterface(PARTICLEGROUP_INTERFACE))
                  : nullptr;
        if (!group)
            continue;
        IObject* container = group->GetParticleContainer();
        if (!container)
            continue;
        group->Update(t);

        // A missing channel ends the collection; what was gathered so far stays.
        auto* ids = static_cast<IParticleChannelIDR*>(
            container->GetInterface(PARTICLECHANNELIDR_INTERFACE));
        if (!ids)
            return;
        IChannelContainer* channels = GetChannelContainerInterface(container);
        const IParticleChannelPoint3R* colors = nullptr;
        const IParticleChannelPoint3R* sizes = nullptr;
        if (useColor && !(colors = valueChannel(channels, PARTICLECHANNELCOLORVECTOR_X)))
            return;
        if (useScale && !(sizes = valueChannel(channels, PARTICLECHANNELSIZEVECTOR_X)))
            return;
        const IParticleChannelPoint3R* positions =
            valueChannel(channels, PARTICLECHANNELPOSITION_X);
        if (!positions)
            return;

        // Channels shorter than the ID channel limit the particles read, never the reads.
        int n = ids->Count();
        if (positions->Count() < n)
            n = positions->Count();
        if (sizes && sizes->Count() < n)
            n = sizes->Count();
        if (colors && colors->Count() < n)
            n = colors->Count();
        for (int j = 0; j < n; ++j) {
            FlowParticle r;
            r.id = ids->GetParticleBorn(j);
            r.position = positions->GetValue(j);
            if (sizes)
                r.size = sizes->GetValue(j).x;
            if (colors)
                r.color = colors->GetValue(j);
            records.Append(1, &r, kGrow);
        }
    }
}

bool gatherFlowParticles(GatherBuffers& b, INode* node, IParamBlock2* pblock, TimeValue t) {
    IParticleObjectExt* ext = flowExtensionOf(node, t);
    if (!ext)
        return false;
    Tab<INode*> events;
    const bool allPflow = readEvents(pblock, events);
    ext->UpdateParticles(node, t);
    Tab<FlowParticle> records;
    collectFlowParticles(ext, events, records, allPflow, b.useScale, b.useColor, t);
    for (int i = 0; i < records.Count(); ++i) {
        const FlowParticle& r = records[i];
        b.positions.Append(1, &r.position, kGrow);
        if (b.useScale)
            b.sizes.Append(1, &r.size, kGrow);
        if (b.useColor)
            b.colors.Append(1, &r.color, kGrow);
    }
    return true;
}

float flowParticleSpeed(const Point3& d, TimeValue t0, TimeValue t1) {
    return Length(d) / static_cast<float>(t1 - t0) * 160.0f;
}

bool gatherFlowParticlesMoving(GatherBuffers& b, INode* node, IParamBlock2* pblock, TimeValue t0,
                               TimeValue t1) {
    IParticleObjectExt* ext = flowExtensionOf(node, t0);
    if (!ext)
        return false;
    Tab<INode*> events;
    const bool allPflow = readEvents(pblock, events);
    Tab<FlowParticle> a, e;
    ext->UpdateParticles(node, t0);
    collectFlowParticles(ext, events, a, allPflow, b.useScale, b.useColor, t0);
    ext->UpdateParticles(node, t1);
    collectFlowParticles(ext, events, e, allPflow, b.useScale, false, t1);
    a.Sort(compareById);
    e.Sort(compareById);

    // A segment of no length has no speed to measure (0/0): like a still frame it is not
    // filtered.
    const bool filter = b.velocityThreshold >= 0.0f && t1 > t0;
    int cursor = 0;
    for (int i = 0; i < a.Count(); ++i) {
        const FlowParticle& pa = a[i];
        while (cursor < e.Count() && e[cursor].id < pa.id)
            ++cursor;
        if (cursor >= e.Count() || e[cursor].id != pa.id)
            continue; // born, died or left the collected events during the segment
        const FlowParticle& pe = e[cursor];
        Point3 d = pe.position - pa.position;
        if (filter && flowParticleSpeed(d, t0, t1) >= b.velocityThreshold)
            continue;
        b.positions.Append(1, &pa.position, kGrow);
        if (b.useColor)
            b.colors.Append(1, &pa.color, kGrow);
        b.displacements.Append(1, &d, kGrow);
        if (b.useScale) {
            float ds = pe.size - pa.size;
            b.sizes.Append(1, &pa.size, kGrow);
            b.sizeDeltas.Append(1, &ds, kGrow);
        }
    }
    return true;
}

} // namespace velquin
