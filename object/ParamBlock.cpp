#include "object/ParamBlock.h"

#include "object/Module.h"

namespace velquin {

ParamBlockDesc2* GetVelquinMetaballParamDesc() {
    // Built on first use rather than as a namespace-scope object: a module-wide descriptor made
    // at load time could run before the class descriptor it registers with exists.
    static ParamBlockDesc2 desc(kParamBlockId, "params", 0, nullptr, kParamBlockFlags,
                                kParamBlockRef);
    static const bool defined = (defineParamBlock(desc), true);
    (void)defined;

    // Registration with the owner happens outside the static initialisers above, and is marked
    // before it starts, so the class descriptor may itself ask for this descriptor while it is
    // being made (it then gets the block before registration instead of recursing).
    static bool registering = false;
    if (desc.cd == nullptr && !registering) {
        registering = true;
        ClassDesc2* owner = GetVelquinMetaballDesc();
        if (owner != nullptr && desc.cd == nullptr) {
            desc.cd = owner;
            owner->AddParamBlockDesc(&desc);
        }
        registering = false;
    }
    return &desc;
}

} // namespace velquin
