// The routes by which gathering turns scene content into metaballs: the vertices of picked mesh
// nodes, simple particle systems, particle-flow systems, and the script-filled tables of the
// parameter block. Every route appends to the GatherBuffers and leaves its lists parallel.
#pragma once

#include <cstdint>

#include "host/max_core.h"
#include "host/max_scene.h"
#include "render/Gather.h"

namespace velquin {

// ---- scene nodes ----

// The node's object at t as a triangle-mesh object, or null (no object, not geometric, cannot
// convert). mustDelete tells whether the answer is a new object the caller deletes (DeleteThis).
TriObject* triMeshAt(INode* node, TimeValue t, bool& mustDelete);

// One metaball per vertex of the node's mesh at t; true when the node gave a mesh.
bool gatherNodeMesh(GatherBuffers& buffers, INode* node, TimeValue t);

// One moving metaball per vertex over [t0, t1]; true when the node gave meshes of the same
// vertex count at both ends (otherwise it contributes nothing).
bool gatherNodeMeshMoving(GatherBuffers& buffers, INode* node, TimeValue t0, TimeValue t1);

// Appends one colour per vertex of mesh, taken from its vertex-colour channel.
void appendVertexColors(GatherBuffers& buffers, const Mesh& mesh);

// ---- scripted tables ----

// The "metaballs" table with "metaballSizes" and "colors" (shorter tables pad with the base size
// and black).
void gatherScriptedMetaballs(GatherBuffers& buffers, IParamBlock2* pblock, TimeValue t);
void gatherScriptedMetaballsMoving(GatherBuffers& buffers, IParamBlock2* pblock, TimeValue t0,
                                   TimeValue t1);

// ---- particles ----

// False when the node's object lacks the simple-particle interface.
bool gatherSimpleParticles(GatherBuffers& buffers, INode* node, TimeValue t);
bool gatherSimpleParticlesMoving(GatherBuffers& buffers, INode* node, TimeValue t0, TimeValue t1);

// False when the node's object lacks the particle-object extension interface.
bool gatherFlowParticles(GatherBuffers& buffers, INode* node, IParamBlock2* pblock, TimeValue t);
bool gatherFlowParticlesMoving(GatherBuffers& buffers, INode* node, IParamBlock2* pblock,
                               TimeValue t0, TimeValue t1);

// One collected particle-flow particle.
struct FlowParticle {
    std::int32_t id = 0; // stable over time: pairs the same particle at both ends of a segment
    Point3 position;
    float size = 0.0f; // only set with useScale
    Point3 color;      // only set with useColor
};

// Collects the particles of the system (already updated to t) at time t, event by event in
// order of first appearance, skipping events not in `events` unless allPflow.
void collectFlowParticles(IParticleObjectExt* extension, const Tab<INode*>& events,
                          Tab<FlowParticle>& records, bool allPflow, bool useScale, bool useColor,
                          TimeValue t);

// Speed of a particle displaced by d over [t0, t1], in scene units per 160 ticks (single
// precision).
float flowParticleSpeed(const Point3& d, TimeValue t0, TimeValue t1);

} // namespace velquin
