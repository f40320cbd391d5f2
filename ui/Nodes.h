// Adding metaball nodes and Particle Flow events from the user interface: the viewport pick mode,
// the "Add Particle Flow Events" dialog and the script line recorded for an added node.
#pragma once

#include "host/max_core.h"
#include "host/max_scene.h"
#include "host/win.h"

namespace velquin {

class VelquinMetaball;

// Collects the scene nodes among the dependents of a target, in enumeration order, and lets the
// enumeration go on through every other dependent (a Particle Flow system's events are found
// behind their group objects).
class MyEnumProc : public DependentEnumProc {
public:
    Tab<INode*> nodes; // not owned
    bool stopAfterFirst = false;
    int proc(ReferenceMaker* rmaker) override;
};

// Starts the node pick mode for `obj` (only while rollouts are open) or ends it when it runs;
// `nodesWindow` is the Node Parameters rollout holding the "Pick" button.
void togglePickMode(VelquinMetaball* obj, HWND nodesWindow);

// Offers the events of the Particle Flow systems in "nodes" in a modal dialog over `parent` and
// appends the chosen ones to "pflow" under one undo entry.
void addParticleFlowEvents(VelquinMetaball* obj, HWND parent);

// Records `$.VelquinMetaballOps.addMetaball <node>` so that replaying adds the same node.
void recordAddedNode(INode* node);

} // namespace velquin
