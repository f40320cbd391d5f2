// What the scene object's render-object part (VRenderObject) delegates to: choosing, creating and
// destroying the render instance of a node.
#pragma once

#include "host/max_core.h"
#include "host/max_scene.h"
#include "host/vray.h"

namespace velquin {

// The render instance for `node`: motion-blurred (VelquinMetaballInstanceMoving) when the
// renderer's motion-blur switch is on and "mbSamples" read at time 0 is not 1, otherwise still
// (VelquinMetaballInstanceStatic). The instance is bound to renderObject, node, renderer and
// renderId, and reads `pblock` (the object's parameter block, not owned) at every frame.
// Returns the instance's VRenderInstance part, or null when memory runs out.
VRenderInstance* createMetaballRenderInstance(VRenderObject* renderObject, IParamBlock2* pblock,
                                              INode* node, VR::VRayCore* renderer, int renderId);

// Destroys an instance made by createMetaballRenderInstance (null is ignored).
void destroyMetaballRenderInstance(VRenderInstance* instance);

} // namespace velquin
