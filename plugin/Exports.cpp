// The module's exports with C linkage: the host finds the plug-in through these four functions
// and runs DllMain as the module entry.
#include "host/max_core.h"
#include "host/win.h"
#include "object/Module.h"
#include "object/ModuleEntry.h"

#ifndef VELQUIN_LIB_VERSION
#error "VELQUIN_LIB_VERSION must name the host SDK version the module is built for"
#endif

#define VELQUIN_EXPORT extern "C" __attribute__((visibility("default")))

VELQUIN_EXPORT const char* LibDescription() {
    return "VelquinMetaball";
}

VELQUIN_EXPORT int LibNumberClasses() {
    return 1;
}

VELQUIN_EXPORT ClassDesc* LibClassDesc(int i) {
    return i == 0 ? velquin::GetVelquinMetaballDesc() : nullptr;
}

VELQUIN_EXPORT ULONG LibVersion() {
    return VELQUIN_LIB_VERSION;
}

VELQUIN_EXPORT int DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
    return velquin::moduleEntry(instance, reason, reserved);
}
