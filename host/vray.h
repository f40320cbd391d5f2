// The renderer SDK as the plug-in sees it: render object and instances, the renderer core's
// sequence and frame data, rays and contexts, primitives and the ray-server interface, shade data
// and surface properties.
#pragma once

#include "platform/vray/primitive.h"
#include "platform/vray/simple_rayserver.h"
#include "platform/vray/vraybase.h"
#include "platform/vray/vraycontext.h"
#include "platform/vray/vraycore.h"
#include "platform/vray/vrender.h"
