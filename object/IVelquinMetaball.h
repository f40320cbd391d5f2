// The scripting face of a VelquinMetaball object: the "VelquinMetaballOps" interface, which each
// object implements itself and hands out through its interface query.
#pragma once

#include "host/max_core.h"
#include "host/max_scene.h"

namespace velquin {

// The interface ID is one more in each half than the class ID.
inline constexpr Interface_ID VELQUIN_METABALL_OPS_ID(0x3d1bec1c, 0x43756d06);
inline constexpr Class_ID VELQUIN_METABALL_CLASS_ID(0x3d1bec1b, 0x43756d05);

// Function IDs of "VelquinMetaballOps", in their published order.
enum VelquinMetaballOpsFn : FunctionID {
    fn_addMetaball = 0,
    fn_removeMetaball = 1,
    fn_addPFMetaball = 2,
    fn_removePFMetaball = 3,
    fn_pick = 4,
    fn_add = 5,
    fn_addPF = 6,
};

class IVelquinMetaball : public FPMixinInterface {
public:
    virtual void addMetaball(INode* node) = 0;
    virtual void removeMetaball(INode* node) = 0;
    virtual void addPFMetaball(INode* node) = 0;
    virtual void removePFMetaball(INode* node) = 0;
    virtual void pick() = 0;
    virtual void add() = 0;
    virtual void addPF() = 0;

    FPInterfaceDesc* GetDesc() override;

protected:
    FPStatus _dispatch_fn(FunctionID fid, TimeValue t, FPValue& result, FPParams* p) override;
};

} // namespace velquin
