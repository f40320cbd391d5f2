// The class descriptor through which the host learns of the one class of the module.
#pragma once

#include "host/max_core.h"
#include "host/win.h"

namespace velquin {

class VelquinMetaballClassDesc : public ClassDesc2 {
public:
    int IsPublic() override { return 1; }
    // A new object whatever the loading flag: the object saves nothing but its block.
    void* Create(BOOL loading = FALSE) override;
    const char* ClassName() override { return "VelquinMetaball"; }
    SClass_ID SuperClassID() override { return GEOMOBJECT_CLASS_ID; }
    Class_ID ClassID() override;
    const char* Category() override { return "VRay"; }
    const char* InternalName() override { return "VelquinMetaball"; }
    HINSTANCE HInstance() override;
};

} // namespace velquin
