#include "platform/vray/vrender.h"

// ---- VRenderObject ----

int VRenderObject::init(INode* node, VR::VRayCore* vray) {
    node_ = node;
    vray_ = vray;
    return 1;
}

void VRenderObject::renderBegin(TimeValue t, VR::VRayCore* vray) {
    vray_ = vray;
    rendering_ = true;
    frameTime_ = t;
    frames_ = 0;
}

void VRenderObject::frameBegin(TimeValue t, VR::VRayCore* vray) {
    vray_ = vray;
    frameTime_ = t;
    ++frames_;
}

void VRenderObject::frameEnd(VR::VRayCore* vray) {
    (void)vray;
}

void VRenderObject::renderEnd(VR::VRayCore* vray) {
    (void)vray;
    rendering_ = false;
}

// ---- VRenderInstance ----

void VRenderInstance::init(VRenderObject* renderObject, INode* node, VR::VRayCore* vray,
                           int renderID) {
    renderObject_ = renderObject;
    inode_ = node;
    vray_ = vray;
    renderID_ = renderID;
}

void VRenderInstance::renderBegin(TimeValue t, VR::VRayCore* vray) {
    vray_ = vray;
    frameTime_ = t;
    rendering_ = true;
}

void VRenderInstance::frameBegin(TimeValue t, VR::VRayCore* vray) {
    vray_ = vray;
    frameTime_ = t;
}

void VRenderInstance::frameEnd(VR::VRayCore* vray) {
    (void)vray;
}

void VRenderInstance::renderEnd(VR::VRayCore* vray) {
    (void)vray;
    rendering_ = false;
}

void VRenderInstance::fullShade(VR::VRayContext& rc, int flags) {
    VR::VRayCore* core = rc.vray ? rc.vray : vray_;
    if (core)
        core->shadeWithMaterial(rc, *this, flags);
}
