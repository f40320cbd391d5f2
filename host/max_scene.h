// The host's scene services as the plug-in sees them: nodes and their transforms, objects,
// triangle meshes and conversion, simple particles and the particle-flow interfaces, the core
// interface with its pick modes and select-by-name dialog, viewports and graphics windows, UI
// colours and custom buttons.
#pragma once

#include "platform/max/core.h"
#include "platform/max/mesh.h"
#include "platform/max/object.h"
#include "platform/max/particles.h"
#include "platform/max/scene.h"
#include "platform/max/tab.h"
#include "platform/max/viewport.h"
