// Module-wide descriptors: the class descriptor, the "VelquinMetaballOps" interface descriptor and
// (from ParamBlock.cpp) the block descriptor. The later two register themselves with the class
// descriptor, so they are made in that order when the module loads and go in reverse order.
#include "object/ClassDesc.h"

#include "object/IVelquinMetaball.h"
#include "object/Module.h"
#include "object/VelquinMetaball.h"

namespace velquin {

void* VelquinMetaballClassDesc::Create(BOOL loading) {
    (void)loading;
    return static_cast<GeomObject*>(new VelquinMetaball());
}

Class_ID VelquinMetaballClassDesc::ClassID() {
    return VELQUIN_METABALL_CLASS_ID;
}

HINSTANCE VelquinMetaballClassDesc::HInstance() {
    return moduleInstance();
}

ClassDesc2* GetVelquinMetaballDesc() {
    static VelquinMetaballClassDesc desc;
    return &desc;
}

namespace {

// The interface is a mixin: each object implements it and hands it out itself.
class VelquinMetaballOpsDesc : public FPInterfaceDesc {
public:
    VelquinMetaballOpsDesc()
        : FPInterfaceDesc(VELQUIN_METABALL_OPS_ID, "VelquinMetaballOps", 0,
                          GetVelquinMetaballDesc(), FP_MIXIN) {
        AppendFunction(fn_addMetaball, "addMetaball", 0, TYPE_VOID).Param("node", 0, TYPE_INODE);
        AppendFunction(fn_removeMetaball, "removeMetaball", 0, TYPE_VOID)
            .Param("node", 0, TYPE_INODE);
        AppendFunction(fn_addPFMetaball, "addPFMetaball", 0, TYPE_VOID)
            .Param("node", 0, TYPE_INODE);
        AppendFunction(fn_removePFMetaball, "removePFMetaball", 0, TYPE_VOID)
            .Param("node", 0, TYPE_INODE);
        AppendFunction(fn_pick, "pick", 0, TYPE_VOID);
        AppendFunction(fn_add, "add", 0, TYPE_VOID);
        AppendFunction(fn_addPF, "addPF", 0, TYPE_VOID);
    }
};

// Makes the three descriptors at load time, in their registration order.
struct ModuleDescriptors {
    ModuleDescriptors() {
        GetVelquinMetaballDesc();
        GetVelquinMetaballOpsDesc();
        GetVelquinMetaballParamDesc();
    }
};
const ModuleDescriptors moduleDescriptors;

} // namespace

FPInterfaceDesc* GetVelquinMetaballOpsDesc() {
    static VelquinMetaballOpsDesc desc;
    return &desc;
}

} // namespace velquin
