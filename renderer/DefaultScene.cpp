#include "renderer/SceneLoader.h"

namespace velquin::renderer {

const char* defaultSceneText() {
    static const char* const text =
#include "DefaultScene.inc"
        ;
    return text;
}

} // namespace velquin::renderer
