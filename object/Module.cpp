// The module's instance handle, its entry point and its string buffer.
#include "object/Module.h"
#include "object/ModuleEntry.h"

#include "ui/Resources.h"

namespace velquin {

namespace {
constexpr DWORD kProcessDetach = 0;

HINSTANCE instanceHandle = nullptr;
bool controlsInitialised = false;
char stringBuffer[256];
} // namespace

HINSTANCE moduleInstance() {
    return instanceHandle;
}

int moduleEntry(HINSTANCE instance, DWORD reason, void* reserved) {
    (void)reserved;
    instanceHandle = instance;
    if (!controlsInitialised) {
        controlsInitialised = true;
        InitCommonControls();
    }
    // The dialog templates and the string table live in the window system's registry under our
    // handle for as long as the module is loaded.
    if (reason == kProcessDetach)
        UnregisterModuleResources(instance);
    else
        registerUiResources(instance);
    return TRUE;
}

const char* getString(int id) {
    if (!instanceHandle)
        return nullptr;
    if (LoadStringA(instanceHandle, static_cast<UINT>(id), stringBuffer,
                    static_cast<int>(sizeof stringBuffer)) == 0)
        return nullptr;
    return stringBuffer;
}

} // namespace velquin
