// Module-wide singletons of the plug-in: the class descriptor, the parameter-block and interface
// descriptors, the module's instance handle and its string buffer. They live as long as the
// module and are touched only from the host's user-interface thread.
#pragma once

#include "host/max_core.h"
#include "host/win.h"

namespace velquin {

ClassDesc2* GetVelquinMetaballDesc();
ParamBlockDesc2* GetVelquinMetaballParamDesc();
FPInterfaceDesc* GetVelquinMetaballOpsDesc();

// The module's instance handle, recorded at every call of the module entry.
HINSTANCE moduleInstance();

// A string-table entry of the module in a 256-character buffer that the next call overwrites;
// null without an instance handle or for an unknown entry.
const char* getString(int id);

} // namespace velquin
