// The module entry as the exported DllMain forwards it: records the instance handle at every
// call, initialises the platform's common controls on the first call, registers the module's
// resources on load and drops them on unload. Always answers success (TRUE).
#pragma once

#include "host/win.h"

namespace velquin {

int moduleEntry(HINSTANCE instance, DWORD reason, void* reserved);

} // namespace velquin
