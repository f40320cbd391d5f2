// Texture maps and shading contexts of the host, as the plug-in sees them.
#pragma once

#include "platform/max/texmap.h"
