// The plug-in's door to the host's core services: time and values, references and undo,
// parameter blocks, class descriptors, function publishing and the macro recorder.
#pragma once

#include "platform/max/animval.h"
#include "platform/max/classdesc.h"
#include "platform/max/fp.h"
#include "platform/max/hold.h"
#include "platform/max/iparamb2.h"
#include "platform/max/macrorec.h"
#include "platform/max/maxtypes.h"
#include "platform/max/ref.h"
