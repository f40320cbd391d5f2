#include "render/RenderObject.h"

#include <new>

#include "object/ParamIds.h"
#include "render/FrameCompile.h"
#include "render/RenderInstance.h"

namespace velquin {

namespace {

template <class Instance>
VRenderInstance* makeInstance(VRenderObject* renderObject, IParamBlock2* pblock, INode* node,
                              VR::VRayCore* renderer, int renderId) {
    Instance* instance = new (std::nothrow) Instance(pblock);
    if (instance == nullptr) {
        return nullptr;
    }
    instance->init(renderObject, node, renderer, renderId);
    return instance;
}

} // namespace

VRenderInstance* createMetaballRenderInstance(VRenderObject* renderObject, IParamBlock2* pblock,
                                              INode* node, VR::VRayCore* renderer, int renderId) {
    const int mbOn = renderer != nullptr ? renderer->getSequenceData().mbOn : 0;
    const int mbSamples = pblock != nullptr ? pblock->GetInt(pb_mbSamples, 0) : 1;
    if (wantsMovingInstance(mbOn, mbSamples)) {
        return makeInstance<VelquinMetaballInstanceMoving>(renderObject, pblock, node, renderer,
                                                           renderId);
    }
    return makeInstance<VelquinMetaballInstanceStatic>(renderObject, pblock, node, renderer,
                                                       renderId);
}

void destroyMetaballRenderInstance(VRenderInstance* instance) {
    if (instance == nullptr) {
        return;
    }
    // Back to the whole instance, destroyed through its virtual destructor.
    if (auto* whole = dynamic_cast<VelquinMetaballInstance*>(instance)) {
        delete whole;
        return;
    }
    delete instance;
}

} // namespace velquin
