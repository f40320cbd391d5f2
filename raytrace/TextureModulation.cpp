#include "raytrace/TextureModulation.h"

namespace velquin {

// The base state of a context that shades nothing but a point: normal mode, maps on, no
// filtering, no shadow, front face, material 0, white ambient light, no lights, ray level 0.
VelquinShadeContext::VelquinShadeContext() {
    mode = SCMODE_NORMAL;
    doMaps = TRUE;
    filterMaps = FALSE;
    shadow = FALSE;
    backFace = FALSE;
    mtlNum = 0;
    ambientLight = Color(1.0f, 1.0f, 1.0f);
    nLights = 0;
    rayLevel = 0;
    globContext = nullptr;
    out.Reset();
}

float textureAt(const TextureModulation& m, VelquinShadeContext& context, const float p[3]) {
    context.setPoint(p);
    return m.texmap->EvalMono(context);
}

} // namespace velquin
