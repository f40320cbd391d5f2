// The host's parameter maps as the plug-in sees them: the rollouts made from a block descriptor's
// maps, their automatic bindings, user dialog procedures and the spinner control.
#pragma once

#include "platform/max/parammap.h"
